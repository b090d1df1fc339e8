// The bundled production at 25 frames per second, run as a user runs it:
//  - capture ratio: wall time of a PNG capture / wall time of rendering the
//    same frames with nothing written (--bench-render-only); target <= 1.15;
//  - the video-only capture (--video) against the same render-only time;
//  - the time from process start to the first frame, and to no frame at all
//    (what loading costs);
// and loading a 655,220-face 3DS model through the brush (reader, loader,
// rotation, normals) against lib3ds loading the same file plus its normals;
// target <= 1.
// CORVALA_BENCH_FRAMES=N limits the production runs to N frames.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "render/loader3ds.h"
#include "assets/writer3ds.h"
#include "media/sound_decode.h"
#include "render/mesh.h"

#ifdef CORVALA_HAVE_LIB3DS
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#endif

// Set by bench/CMakeLists.txt when the engine and the generator are built.
#ifndef CORVALA_BINARY
#define CORVALA_BINARY "corvala"
#define CORVALA_GEN "corvala-gen"
#define CORVALA_SOURCE_DIR "."
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The production's script and generated data in a scratch folder.
const fs::path& ProductionFolder() {
    static const fs::path folder = [] {
        const fs::path dir = fs::temp_directory_path() / "corvala_bench_production";
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::copy_file(fs::path(CORVALA_SOURCE_DIR) / "examples" / "karmont" / "karmont.cvl", dir / "karmont.cvl");
        fs::copy_file(fs::path(CORVALA_SOURCE_DIR) / "examples" / "karmont" / "karmont.tracks", dir / "karmont.tracks");
        fs::copy(fs::path(CORVALA_SOURCE_DIR) / "examples" / "karmont" / "shaders", dir / "shaders");
        const std::string gen = Quote(CORVALA_GEN) + " " + Quote((dir / "data").string()) + " > /dev/null";
        if (std::system(gen.c_str()) != 0) std::fprintf(stderr, "bench: generating the production failed\n");
        return dir;
    }();
    return folder;
}

std::string FramesOption() {
    const char* frames = std::getenv("CORVALA_BENCH_FRAMES");
    return frames && *frames ? std::string(" --frames ") + frames : std::string();
}

// CPU seconds (user and system) of the finished child processes so far.
double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Wall seconds of one engine run in the production folder (-1 on failure);
// `cpu` gets its CPU seconds.
double TimeEngine(const std::string& arguments, double* cpu = nullptr) {
    const double cpuBefore = ChildCpuSeconds();
    const std::string command = "cd " + Quote(ProductionFolder().string()) +
                                " && SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null " + Quote(CORVALA_BINARY) + " " +
                                arguments + " karmont.cvl > /dev/null 2>&1";
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = Seconds(start);
    if (cpu) *cpu = ChildCpuSeconds() - cpuBefore;
    if (status != 0) {
        std::fprintf(stderr, "bench: failed: %s\n", command.c_str());
        return -1;
    }
    return seconds;
}

// A 655,220-face model: ten 182 x 182 vertex grids (the most a 3DS mesh
// holds with 16-bit indices is 65,535 vertices), 65,522 faces each.
const std::string& BigModelPath() {
    static const std::string path = [] {
        std::vector<TMesh3DS> meshes;
        const int side = 182;
        for (int k = 0; k < 10; ++k) {
            TMesh3DS m;
            m.Name = "grid" + std::to_string(k);
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) {
                    m.Vertices.push_back({float(x + k * side), float(y), std::sin(x * 0.1f) * std::cos(y * 0.13f) * 9});
                    m.TexVerts.push_back({x / float(side - 1), y / float(side - 1)});
                }
            for (int y = 0; y + 1 < side; ++y)
                for (int x = 0; x + 1 < side; ++x) {
                    const auto v = uint16_t(y * side + x);
                    m.Faces.push_back({v, uint16_t(v + 1), uint16_t(v + side + 1), 7});
                    m.Faces.push_back({v, uint16_t(v + side + 1), uint16_t(v + side), 7});
                }
            m.SmoothGroups.assign(m.Faces.size(), 1);
            meshes.push_back(std::move(m));
        }
        const std::vector<uint8_t> bytes = Write3DSModel(meshes);
        const std::string name = (fs::temp_directory_path() / "corvala_bench_655k.3ds").string();
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return name;
    }();
    return path;
}

// The reference load: lib3ds reads the file and computes its normals (one
// per face corner, smoothing groups honoured).
double ReferenceLoad(const std::string& path, bool normals = true) {
    const auto start = Clock::now();
#ifdef CORVALA_HAVE_LIB3DS
    Lib3dsFile* file = lib3ds_file_load(path.c_str());
    size_t faces = 0;
    for (Lib3dsMesh* mesh = file ? file->meshes : nullptr; mesh; mesh = mesh->next) {
        if (normals) {
            std::vector<Lib3dsVector> corners(size_t(mesh->faces) * 3);
            lib3ds_mesh_calculate_normals(mesh, corners.data());
            benchmark::DoNotOptimize(corners.data());
        }
        faces += mesh->faces;
    }
    if (file) lib3ds_file_free(file);
    if (faces != 655220) std::fprintf(stderr, "bench: lib3ds read %zu faces\n", faces);
#else
    // Without lib3ds: our own reader and loader plus one normal pass.
    T3DSLoader loader;
    loader.OpenModel(path);
    for (int32_t i = 0; i < loader.MeshCount; ++i) {
        auto mesh = loader.MakeMesh(i);
        mesh->CalcNormals();
        benchmark::DoNotOptimize(mesh->Normals.data());
    }
#endif
    return Seconds(start);
}

double BrushLoad(const std::string& path) {
    const auto start = Clock::now();
    TBGLBrush brush(path);
    benchmark::DoNotOptimize(brush.Meshes.data());
    return Seconds(start);
}

} // namespace

static void BM_ProductionCapture(benchmark::State& state) {
    const fs::path out = ProductionFolder() / "out";
    const std::string frames = " --fps 25" + FramesOption();
    double render = 0, capture = 0, video = 0, renderCpu = 0, captureCpu = 0, videoCpu = 0;
    for (auto _ : state) {
        TimeEngine("--bench-render-only --frames 2"); // warms the file cache and shader cache
        render = TimeEngine("--bench-render-only" + frames, &renderCpu);
        fs::remove_all(out);
        capture = TimeEngine("--capture " + Quote(out.string()) + frames, &captureCpu);
        fs::remove_all(out);
        video = TimeEngine("--video " + Quote((out / "karmont.mp4").string()) + frames, &videoCpu);
        fs::remove_all(out);
    }
    state.counters["render_s"] = render;
    state.counters["capture_s"] = capture;
    state.counters["video_s"] = video;
    state.counters["capture_ratio"] = capture / render;
    std::printf("Production at 25 fps%s: render only %.2f s, PNG capture %.2f s, video only %.2f s\n",
                FramesOption().c_str(), render, capture, video);
    std::printf(
        "Capture ratio (PNG capture / render only): %.2f (target 1.15 or less); video only / render only: %.2f\n",
        capture / render, video / render);
    // On a machine whose cores are busy with other work the writers cannot
    // run beside the renderer, and the wall ratio tends to the CPU ratio.
    std::printf(
        "CPU time: render only %.2f s, PNG capture %.2f s (x %.2f), video only %.2f s (x %.2f, ffmpeg included); "
        "%u cores\n",
        renderCpu, captureCpu, captureCpu / renderCpu, videoCpu, videoCpu / renderCpu,
        std::thread::hardware_concurrency());
}
BENCHMARK(BM_ProductionCapture)->Unit(benchmark::kSecond)->Iterations(1);

// Start-up: process start to the first frame rendered (and the same run
// stopped before any frame), best of three.
static void BM_StartToFirstFrame(benchmark::State& state) {
    double first = 1e9, none = 1e9;
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) {
            first = std::min(first, TimeEngine("--bench-render-only --fps 25 --frames 1"));
            none = std::min(none, TimeEngine("--bench-render-only --fps 25 --frames 0"));
        }
    }
    // The largest single step of the start: the music decoded into memory.
    double decode = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        TDecodedSound sound;
        std::string error;
        DecodeSoundFile((ProductionFolder() / "data" / "music.ogg").string(), sound, error);
        decode = std::min(decode, Seconds(start));
    }
    state.counters["first_frame_s"] = first;
    std::printf("Start to first frame: %.3f s (process start, script, window, music, models and pictures: "
                "%.3f s without any frame; decoding the music alone: %.3f s)\n",
                first, none, decode);
}
BENCHMARK(BM_StartToFirstFrame)->Unit(benchmark::kSecond)->Iterations(1);

// Best of three alternating runs of each load.
static void BM_Brush655kFacesAgainstReference(benchmark::State& state) {
    const std::string& path = BigModelPath();
    double brush = 1e9, reference = 1e9, bare = 1e9;
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) {
            reference = std::min(reference, ReferenceLoad(path));
            brush = std::min(brush, BrushLoad(path));
            bare = std::min(bare, ReferenceLoad(path, false));
        }
    }
    state.counters["brush_ms"] = brush * 1e3;
    state.counters["reference_ms"] = reference * 1e3;
    state.counters["ratio"] = brush / reference;
#ifdef CORVALA_HAVE_LIB3DS
    const char* what = "lib3ds load + normals";
#else
    const char* what = "reader + loader + one normal pass";
#endif
    std::printf("3DS load of 655,220 faces: brush %.1f ms, %s %.1f ms, ratio %.2f (target 1 or less); "
                "against the load alone (%.1f ms): %.2f\n",
                brush * 1e3, what, reference * 1e3, brush / reference, bare * 1e3, brush / bare);
}
BENCHMARK(BM_Brush655kFacesAgainstReference)->Unit(benchmark::kMillisecond)->Iterations(1);
