// Fill rate of the shader effect at 800 x 600 in a headless window (SDL's
// offscreen driver unless SDL_VIDEODRIVER says otherwise): a full-screen
// fragment shader against `plaincolor` over the whole window, on the same
// machine, and what the frame copies behind iChannel2 (the previous frame)
// and iChannel3 (this frame so far) add. Every frame is cleared, drawn,
// presented (the finished frame is copied there when iChannel2 is used) and
// ended with glFinish.
//
// Counters: "ms" per frame; "x_plaincolor" the frame's time over the
// plaincolor frame measured before it in the same run; "extra_ms" what a
// channel adds to the same shader without it. Karmont's own tunnel and
// colour grade are measured too. The summary line prints the ratios.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "effects/effect.h"
#include "effects/plain.h"
#include "effects/shader.h"
#include "render/gl.h"
#include "render/window.h"

namespace {

namespace fs = std::filesystem;
constexpr int Width = 800, Height = 600;

// A plasma of four sines a pixel: what a demo maker's first shader costs.
const char* const Plasma = R"(
vec3 Plasma(vec2 uv) {
    float v = sin(uv.x * 10.0 + iTime) + sin((uv.y * 10.0 + iTime) / 2.0);
    v += sin((uv.x * 10.0 + uv.y * 10.0 + iTime) / 2.0);
    vec2 c = uv * 10.0 + vec2(sin(iTime / 3.0), cos(iTime / 2.0)) * 5.0;
    v += sin(sqrt(c.x * c.x + c.y * c.y + 1.0) + iTime);
    return 0.5 + 0.5 * sin(v * 3.14159 + vec3(0.0, 2.09, 4.19));
}
)";

struct TVariant {
    const char* Name;
    const char* Uniforms;
    const char* Color; // the expression written to gl_FragColor.rgb
};
// The copies alone: one texel read a frame from the copied picture (the
// copy is made whenever the shader uses the sampler); then a read at every
// pixel, the usual post pass, which adds the filtering's cost.
const TVariant Variants[] = {
    {"plasma", "", "Plasma(uv)"},
    {"plasma+iChannel2 copy", "uniform sampler2D iChannel2;",
     "mix(Plasma(uv), texture2D(iChannel2, vec2(0.5)).rgb, 0.01)"},
    {"plasma+iChannel3 copy", "uniform sampler2D iChannel3;",
     "mix(Plasma(uv), texture2D(iChannel3, vec2(0.5)).rgb, 0.01)"},
    {"plasma+iChannel3 read", "uniform sampler2D iChannel3;", "mix(Plasma(uv), texture2D(iChannel3, uv).rgb, 0.5)"},
    {"plasma+both read", "uniform sampler2D iChannel2, iChannel3;",
     "mix(Plasma(uv), texture2D(iChannel2, uv).rgb + texture2D(iChannel3, uv).rgb, 0.5)"},
};

std::string FileName(const TVariant& v) {
    std::string name = v.Name;
    for (char& c : name)
        if (c == ' ' || c == '+') c = '_';
    return name + ".frag";
}

TRenderWindow window;
std::map<std::string, double> frameMs; // by benchmark name, for the ratios

// Opens the window once and writes the shaders into a fresh folder, which
// becomes the working directory.
bool Setup() {
    static const bool ready =
        [] {
            setenv("SDL_VIDEODRIVER", "offscreen", 0);
            const fs::path dir = fs::temp_directory_path() / ("corvala_bench_shader_" + std::to_string(getpid()));
            fs::create_directories(dir);
            fs::current_path(dir);
            for (const TVariant& v : Variants)
                std::ofstream(FileName(v))
                    << "uniform vec3 iResolution;\nuniform float iTime;\n"
                    << v.Uniforms << Plasma
                    << "void main() {\n    vec2 uv = gl_FragCoord.xy / iResolution.xy;\n    gl_FragColor = vec4("
                    << v.Color << ", 1.0);\n}\n";
            const fs::path karmont = fs::path(CORVALA_SOURCE_DIR) / "examples" / "karmont" / "shaders";
            std::error_code ec;
            fs::copy(karmont, dir, ec);
            try {
                BindGLLibraries();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "no video driver: %s\n", e.what());
                return false;
            }
            window = CreateRenderWindow(Width, Height, 32, false, "bench shader");
            if (!window.RC) return false;
            SetVerticalSync(false);
            std::printf("GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
            return true;
        }();
    return ready;
}

// Frames of `effect` stepping by 1/60 s; the time per frame goes to frameMs.
void RunFrames(benchmark::State& state, TCEffect& effect, const std::string& name) {
    TInputValues inputs{};
    float t = 1.0f;
    auto frame = [&] {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        DemoSeconds = BarTime = t;
        DemoRow = t * 8;
        FrameTime = 1.0f / 60;
        t += 1.0f / 60;
        inputs[0] = 1.0f - (t - float(int(t)));
        effect.Update(inputs);
        effect.Draw(inputs);
        PresentFrame(window);
        glFinish();
    };
    // The driver builds its code for a new program and state at the first
    // draws: those frames are left out.
    for (int i = 0; i < 5; ++i) frame();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        frame();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double ms = seconds * 1e3 / double(state.iterations());
    frameMs[name] = ms;
    state.counters["ms"] = ms;
    if (frameMs.count("plaincolor") && name != "plaincolor")
        state.counters["x_plaincolor"] = ms / frameMs["plaincolor"];
}

#define REQUIRE_SETUP()                                                                                                \
    if (!Setup()) {                                                                                                    \
        state.SkipWithError("no headless GL window on this machine");                                                  \
        return;                                                                                                        \
    }

void BM_PlainColorFullScreen(benchmark::State& state) {
    REQUIRE_SETUP();
    static TPlainColor plain;
    plain.E = 200;
    plain.F = 80;
    plain.G = 40;
    state.SetLabel("800x600");
    RunFrames(state, plain, "plaincolor");
}
BENCHMARK(BM_PlainColorFullScreen)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_ShaderFullScreen(benchmark::State& state) {
    REQUIRE_SETUP();
    static std::unique_ptr<TShaderEffect> effects[std::size(Variants)];
    const TVariant& variant = Variants[state.range(0)];
    std::unique_ptr<TShaderEffect>& effect = effects[state.range(0)];
    if (!effect) {
        effect = std::make_unique<TShaderEffect>();
        effect->A = FileName(variant);
        effect->E = 2;
        effect->Load();
    }
    if (!effect->Ready()) {
        state.SkipWithError("the shader did not compile");
        return;
    }
    state.SetLabel(variant.Name);
    RunFrames(state, *effect, variant.Name);
    if (state.range(0) > 0 && frameMs.count("plasma"))
        state.counters["extra_ms"] = frameMs[variant.Name] - frameMs["plasma"];
}
BENCHMARK(BM_ShaderFullScreen)
    ->DenseRange(0, int(std::size(Variants)) - 1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

// The bundled production's shaders: the tunnel alone, the grade over a
// plaincolor frame (its iChannel3 copy included).
void BM_KarmontShaders(benchmark::State& state) {
    REQUIRE_SETUP();
    static std::unique_ptr<TShaderEffect> effects[2];
    const char* const files[2] = {"tunnel.frag", "grade.frag"};
    std::unique_ptr<TShaderEffect>& effect = effects[state.range(0)];
    if (!effect) {
        effect = std::make_unique<TShaderEffect>();
        effect->A = files[state.range(0)];
        effect->E = 2;
        effect->Load();
    }
    if (!effect->Ready()) {
        state.SkipWithError("the shader did not compile (is examples/karmont/shaders there?)");
        return;
    }
    state.SetLabel(files[state.range(0)]);
    RunFrames(state, *effect, files[state.range(0)]);
}
BENCHMARK(BM_KarmontShaders)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The ratios of the run, on one line each.
void BM_Summary(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(frameMs.size());
    if (!frameMs.count("plaincolor") || !frameMs.count("plasma")) return;
    const double plain = frameMs["plaincolor"], plasma = frameMs["plasma"];
    std::printf("\nshader at %dx%d: plasma %.2f ms a frame, plaincolor %.2f ms: ratio %.2f\n", Width, Height, plasma,
                plain, plasma / plain);
    for (const TVariant& v : Variants)
        if (v.Name != std::string("plasma") && frameMs.count(v.Name))
            std::printf("  %-22s %.2f ms: %+.2f ms over the plasma alone\n", v.Name, frameMs[v.Name],
                        frameMs[v.Name] - plasma);
    for (const char* name : {"tunnel.frag", "grade.frag"})
        if (frameMs.count(name))
            std::printf("  karmont %-14s %.2f ms: ratio %.2f to plaincolor\n", name, frameMs[name],
                        frameMs[name] / plain);
}
BENCHMARK(BM_Summary)->Iterations(1);

} // namespace
