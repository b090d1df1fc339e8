// Frame time of the mesh effects at 640 x 480 in a headless window (SDL's
// offscreen driver unless SDL_VIDEODRIVER says otherwise), each frame ended
// with glFinish. Counters per frame: "cpu_ms" is the main thread's CPU time
// (our code plus the driver's vertex work on this thread; the rasteriser's
// worker threads are not in it), "allocs" counts operator new calls made
// while drawing (0: nothing allocates per frame). BM_CelshadeCalcShade is
// the part of the cel-shaded frame that is ours alone. The data files are
// written into a fresh folder at start: a cylinder of 24 sides with caps
// (100 vertices) and a trefoil-knot tube of 4,097 vertices (7,680 faces),
// the size of the production's models.
#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>

#include "assets/png.h"
#include "assets/writer3ds.h"
#include "effects/effect.h"
#include "effects/celshadeobj.h"
#include "effects/cylinders.h"
#include "effects/object3d.h"
#include "render/gl.h"
#include "render/window.h"

// The counting operator new below pairs malloc with free on purpose; GCC
// sees free() meeting a pointer from "operator new" and warns.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

namespace fs = std::filesystem;
constexpr double Pi = 3.14159265358979323846;
constexpr int Width = 640, Height = 480;

void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

uint16_t AddVertex(TMesh3DS& m, double x, double y, double z, double u, double v) {
    m.Vertices.push_back({float(x), float(y), float(z)});
    m.TexVerts.push_back({float(u), float(v)});
    return uint16_t(m.Vertices.size() - 1);
}

void Finish(TMesh3DS& m, const char* name) {
    m.Name = name;
    m.VertexCount = uint16_t(m.Vertices.size());
    m.TexVertCount = uint16_t(m.TexVerts.size());
    m.FaceCount = uint16_t(m.Faces.size());
}

TMesh3DS Cylinder() {
    TMesh3DS m;
    const int sides = 24;
    for (int j = 0; j <= sides; ++j) {
        const double a = 2 * Pi * (j % sides) / sides;
        AddVertex(m, 24 * std::cos(a), 24 * std::sin(a), 0, double(j) / sides, 0);
        AddVertex(m, 24 * std::cos(a), 24 * std::sin(a), 70, double(j) / sides, 1);
    }
    for (int j = 0; j < sides; ++j) {
        const auto b0 = uint16_t(2 * j), t0 = uint16_t(2 * j + 1), b1 = uint16_t(2 * j + 2), t1 = uint16_t(2 * j + 3);
        m.Faces.push_back({b0, b1, t1, 7});
        m.Faces.push_back({b0, t1, t0, 7});
    }
    for (int cap = 0; cap < 2; ++cap) {
        const double z = cap ? 70 : 0;
        const uint16_t centre = AddVertex(m, 0, 0, z, 0.5, 0.5);
        const auto first = uint16_t(m.Vertices.size());
        for (int j = 0; j < sides; ++j) {
            const double a = 2 * Pi * j / sides;
            AddVertex(m, 24 * std::cos(a), 24 * std::sin(a), z, 0.5 + std::cos(a) / 2, 0.5 + std::sin(a) / 2);
        }
        for (int j = 0; j < sides; ++j) {
            const auto a = uint16_t(first + j), b = uint16_t(first + (j + 1) % sides);
            m.Faces.push_back(cap ? TFace3DS{centre, a, b, 7} : TFace3DS{centre, b, a, 7});
        }
    }
    Finish(m, "cylinder");
    return m;
}

// A tube of radius 30 around a trefoil knot about 330 units across: 241 x 17
// vertices with repeated seams, so welding closes it.
TMesh3DS Knot() {
    TMesh3DS m;
    const int rings = 240, sides = 16;
    auto curve = [](double t) {
        const double r = std::cos(3 * t) + 2;
        return std::array<double, 3>{r * std::cos(2 * t) * 55, r * std::sin(2 * t) * 55, -std::sin(3 * t) * 55};
    };
    for (int i = 0; i <= rings; ++i) {
        const double t = 2 * Pi * (i % rings) / rings;
        const auto c = curve(t), a = curve(t - 1e-4), b = curve(t + 1e-4);
        double tg[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const double tl = std::sqrt(tg[0] * tg[0] + tg[1] * tg[1] + tg[2] * tg[2]);
        for (double& v : tg) v /= tl;
        double n[3] = {tg[1], -tg[0], 0};
        const double nl = std::sqrt(n[0] * n[0] + n[1] * n[1]);
        for (double& v : n) v /= nl;
        const double bn[3] = {tg[1] * n[2] - tg[2] * n[1], tg[2] * n[0] - tg[0] * n[2], tg[0] * n[1] - tg[1] * n[0]};
        for (int j = 0; j <= sides; ++j) {
            const double ang = 2 * Pi * (j % sides) / sides, cs = std::cos(ang) * 30, sn = std::sin(ang) * 30;
            AddVertex(m, c[0] + n[0] * cs + bn[0] * sn, c[1] + n[1] * cs + bn[1] * sn, c[2] + n[2] * cs + bn[2] * sn,
                      12.0 * i / rings, double(j) / sides);
        }
    }
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j) {
            const auto a = uint16_t(i * (sides + 1) + j), b = uint16_t(a + sides + 1);
            m.Faces.push_back({a, uint16_t(a + 1), uint16_t(b + 1), 7});
            m.Faces.push_back({a, uint16_t(b + 1), b, 7});
        }
    Finish(m, "velmorandex");
    return m;
}

void WriteJPEG(const std::string& name, int w, int h, const std::function<uint8_t(int, int, int)>& paint) {
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    FILE* file = std::fopen(name.c_str(), "wb");
    jpeg_stdio_dest(&c, file);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(w) * 3);
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k) row[size_t(x) * 3 + size_t(k)] = paint(x, int(c.next_scanline), k);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(file);
}

// Opens the window once and writes the data files into a fresh folder,
// which becomes the working directory.
bool Setup() {
    static const bool ready = [] {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        const fs::path dir = fs::temp_directory_path() / ("corvala_bench_fx3d_" + std::to_string(getpid()));
        fs::create_directories(dir);
        fs::current_path(dir);
        WriteBytes("cyl2.3ds", Write3DSModel({Cylinder()}));
        WriteBytes("velmorandex.3ds", Write3DSModel({Knot()}));
        static const uint8_t ramp[4][3] = {{30, 20, 60}, {90, 60, 140}, {170, 130, 210}, {250, 240, 255}};
        WriteJPEG("shader.jpg", 256, 16, [](int x, int, int k) { return ramp[x / 64][k]; });
        WriteJPEG("flare.jpg", 128, 128, [](int x, int y, int) {
            const double r = std::hypot(x - 63.5, y - 63.5) / 64;
            return uint8_t(r >= 1 ? 0 : 255 * (1 - r) * (1 - r));
        });
        WriteJPEG("base.jpg", 64, 64,
                  [](int x, int y, int k) { return uint8_t(((x / 8 + y / 8) % 2) ? 200 : 40 + 40 * k); });
        WriteJPEG("env.jpg", 64, 64, [](int x, int y, int) {
            return uint8_t(std::max(0, 120 - std::abs(x - 32) * 4 - std::abs(y - 32) * 2));
        });
        try {
            BindGLLibraries();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "no video driver: %s\n", e.what());
            return false;
        }
        const TRenderWindow window = CreateRenderWindow(Width, Height, 32, false, "bench effects3d");
        if (!window.RC) return false;
        SetVerticalSync(false);
        std::printf("data in %s; GL renderer: %s\n", dir.c_str(),
                    reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
        return true;
    }();
    return ready;
}

double ThreadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Frames of `effect` at bar times stepping by 1/60 s, each cleared first
// and finished with glFinish.
void RunFrames(benchmark::State& state, const std::string& name, TCEffect& effect, const TInputValues& inputs = {}) {
    float t = 0.25f;
    long allocs = 0;
    double cpu = 0;
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        BarTime = t;
        t += 1.0f / 60;
        const double cpu0 = ThreadSeconds();
        const long before = allocations.load();
        effect.Update(inputs);
        effect.Draw(inputs);
        allocs += allocations.load() - before;
        glFinish();
        cpu += ThreadSeconds() - cpu0;
    }
    if (const char* folder = std::getenv("CORVALA_BENCH_FRAMES")) {
        // The last frame, for looking at.
        TPicture picture;
        std::vector<uint8_t> rgba;
        if (ReadBackBuffer(rgba, picture.Width, picture.Height)) {
            picture.Channels = 4;
            picture.Pixels = std::move(rgba);
            std::string error;
            WritePNG(std::string(folder) + "/" + name + ".png", picture, error);
        }
    }
    const double frames = double(state.iterations());
    state.counters["cpu_ms"] = cpu / frames * 1e3;
    state.counters["allocs"] = double(allocs) / frames;
}

#define REQUIRE_SETUP()                                                                                                \
    if (!Setup()) {                                                                                                    \
        state.SkipWithError("no headless GL window on this machine");                                                  \
        return;                                                                                                        \
    }

void BM_Cylinders(benchmark::State& state) {
    REQUIRE_SETUP();
    static TCylinderPlasma plasma;
    plasma.UseDisplayList = state.range(0) != 0;
    state.SetLabel(plasma.UseDisplayList ? "display list" : "vertex arrays");
    TInputValues inputs{};
    inputs[0] = 0.5f;
    RunFrames(state, plasma.UseDisplayList ? "cylinders_list" : "cylinders_arrays", plasma, inputs);
}
BENCHMARK(BM_Cylinders)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_CelshadeObject(benchmark::State& state) {
    REQUIRE_SETUP();
    static TCelshadeObject cel;
    RunFrames(state, "celshadeobj", cel);
}
BENCHMARK(BM_CelshadeObject)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_CelshadeCalcShade(benchmark::State& state) {
    REQUIRE_SETUP();
    static TCelshadeObject cel;
    float t = 0;
    for (auto _ : state) {
        cel.Lights[0] = TCelshadeObject::LightAt(t += 0.01f);
        cel.Brush->CalcShade(cel.Lights);
        benchmark::DoNotOptimize(cel.Brush->Shade.data());
    }
    state.SetLabel(std::to_string(cel.Brush->VertexCount) + " vertices, 1 light");
}
BENCHMARK(BM_CelshadeCalcShade)->Unit(benchmark::kMicrosecond);

void BM_Object(benchmark::State& state) {
    REQUIRE_SETUP();
    static T3DObject objects[3];
    T3DObject& object = objects[state.range(0)];
    if (!object.Brush) {
        object.A = "velmorandex.3ds";
        object.E = 200;
        object.F = 120;
        object.G = 40;
        object.VX = 20;
        object.VY = 45;
        object.S = 0.3f;
        if (state.range(0) >= 1) object.B = "base.jpg";
        if (state.range(0) == 2) object.C = "env.jpg";
        object.Load();
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45, double(Width) / Height, 1, FarPlane);
        glMatrixMode(GL_MODELVIEW);
    }
    state.SetLabel("mode " + std::to_string(state.range(0)));
    RunFrames(state, "object_mode" + std::to_string(state.range(0)), object);
}
BENCHMARK(BM_Object)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

} // namespace
