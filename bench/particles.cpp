// The particles effect at 640 x 480 on the headless GL driver: one frame's
// Update-and-Draw of TParticles for a realistic cloud, timed with glFinish so
// the driver's work is counted; the simulation step alone (our CPU time,
// outside the driver); and the C++ allocations per frame, which must be 0.
//
// Opens the window through SDL's offscreen driver unless SDL_VIDEODRIVER
// says otherwise.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "effects/effect.h"
#include "effects/particles.h"
#include "render/gl.h"
#include "render/window.h"

namespace {

std::atomic<long> newCalls{0};

const bool offscreen = setenv("SDL_VIDEODRIVER", "offscreen", 0) == 0;

// The window and a 32 x 32 round sprite, made once; false without GL.
bool OpenWindow(uint32_t& sprite) {
    static uint32_t texture = 0;
    static const bool open = [] {
        (void)offscreen;
        BindGLLibraries();
        if (!CreateRenderWindow(640, 480, 32, false, "bench particles").RC) return false;
        static uint8_t pixels[32 * 32 * 3];
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const int d2 = (x - 16) * (x - 16) + (y - 16) * (y - 16);
                const uint8_t v = d2 < 256 ? uint8_t(255 - d2) : 0;
                uint8_t* p = &pixels[(y * 32 + x) * 3];
                p[0] = v;
                p[1] = uint8_t(v / 2);
                p[2] = uint8_t(v / 4);
            }
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 32, 32, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);
        return true;
    }();
    sprite = texture;
    return open;
}

// A cloud as a production would script it: cube half-size 40, sprite
// half-sizes up to 3, velocities up to 20 units per second, respawning.
void Configure(TParticles& effect, int count) {
    effect.B = "respawn";
    effect.E = count;
    effect.F = 40;
    effect.G = 300;
    effect.VX = effect.VY = effect.VZ = 20;
    effect.S = 0.5f;
    effect.Load(); // A is empty: no picture is loaded, the sprite is set below
}

void BM_ParticlesFrame(benchmark::State& state) {
    uint32_t sprite = 0;
    if (!OpenWindow(sprite)) {
        state.SkipWithError("no OpenGL context");
        return;
    }
    TParticles effect;
    Configure(effect, int(state.range(0)));
    effect.Texture = sprite;
    TInputValues inputs{};
    FrameTime = 1.0f / 60;
    long allocations = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        inputs[0] = float(frames % 30) / 30;
        const long before = newCalls.load();
        effect.Draw(inputs);
        allocations += newCalls.load() - before;
        glFinish();
        ++frames;
    }
    state.counters["particles"] = double(state.range(0));
    state.counters["allocs_per_frame"] = double(allocations) / double(frames);
}
BENCHMARK(BM_ParticlesFrame)->Arg(500)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

// UpdateParticles alone: the simulation's share of a frame, no GL.
void BM_ParticlesStep(benchmark::State& state) {
    TParticles effect;
    Configure(effect, int(state.range(0)));
    for (auto _ : state) {
        effect.Volume->UpdateParticles(1.0f / 60);
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_particle"] = benchmark::Counter(double(state.range(0)) * double(state.iterations()),
                                                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ParticlesStep)->Arg(2000)->Arg(10000)->Unit(benchmark::kMicrosecond);

} // namespace

// Counts every C++ allocation of this program (for allocs_per_frame). All
// unaligned forms of new and delete are replaced so that each pair is
// malloc/free.
namespace {
void* Allocate(std::size_t size) {
    ++newCalls;
    return std::malloc(size ? size : 1);
}
void* AllocateOrThrow(std::size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
