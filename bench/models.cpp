// Model loading and mesh operations. Targets: loading a 65,000-face model
// (reader, loader and normals) at most 0.2 us per face; Weld in
// milliseconds on 100,000 vertices.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "render/loader3ds.h"
#include "assets/writer3ds.h"
#include "render/mesh.h"

namespace {

constexpr int ModelFaces = 65000;

// A wavy 3DS grid with ModelFaces faces and one mapping coordinate per vertex.
const std::string& BigModelPath() {
    static const std::string path = [] {
        TMesh3DS m;
        m.Name = "grid";
        const int side = 181; // 181 x 181 vertices: 64,800 faces, topped up below
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                m.Vertices.push_back({float(x), float(y), std::sin(x * 0.1f) * std::cos(y * 0.1f)});
                m.TexVerts.push_back({x / float(side - 1), y / float(side - 1)});
            }
        for (int y = 0; y + 1 < side && m.Faces.size() < ModelFaces; ++y)
            for (int x = 0; x + 1 < side; ++x) {
                const auto v = uint16_t(y * side + x);
                m.Faces.push_back({v, uint16_t(v + 1), uint16_t(v + side + 1), 7});
                m.Faces.push_back({v, uint16_t(v + side + 1), uint16_t(v + side), 7});
            }
        while (m.Faces.size() < ModelFaces) m.Faces.push_back(m.Faces[m.Faces.size() % 1000]);
        m.SmoothGroups.assign(m.Faces.size(), 1);
        const std::vector<uint8_t> bytes = Write3DSModel({m});
        const std::string name = (std::filesystem::temp_directory_path() / "corvala_bench_65k.3ds").string();
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return name;
    }();
    return path;
}

// Quads that each keep their own 4 vertices, as exporters write seams:
// most positions are stored 4 times.
void BuildSplitGrid(TMeshDataN& mesh, int quads) {
    const int side = int(std::ceil(std::sqrt(double(quads))));
    for (int q = 0; q < quads; ++q) {
        const float x = float(q % side), y = float(q / side);
        const auto base = uint32_t(mesh.VertexCount);
        mesh.AddVertex(MakeVec3(x, y, 0), {});
        mesh.AddVertex(MakeVec3(x + 1, y, 0), {});
        mesh.AddVertex(MakeVec3(x + 1, y + 1, 0), {});
        mesh.AddVertex(MakeVec3(x, y + 1, 0), {});
        mesh.Faces.push_back({base, base + 1, base + 2});
        mesh.Faces.push_back({base, base + 2, base + 3});
    }
    mesh.FaceCount = int32_t(mesh.Faces.size());
}

void WeldAllPairs(TMeshData& mesh) {
    for (int32_t i = 0; i < mesh.VertexCount; ++i)
        for (int32_t j = 0; j < mesh.VertexCount; ++j) {
            if (i == j) continue;
            const TVec3& a = mesh.Vertices[size_t(i)];
            const TVec3& b = mesh.Vertices[size_t(j)];
            if (a.X != b.X || a.Y != b.Y || a.Z != b.Z) continue;
            for (TFace& f : mesh.Faces) {
                if (f.I0 == uint32_t(j)) f.I0 = uint32_t(i);
                if (f.I1 == uint32_t(j)) f.I1 = uint32_t(i);
                if (f.I2 == uint32_t(j)) f.I2 = uint32_t(i);
            }
        }
}

void PerFace(benchmark::State& state, int64_t faces) {
    state.counters["us_per_face"] = benchmark::Counter(
        double(faces) * 1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

// Reader, loader and normals, from the file on disk.
static void BM_Load65kFaces(benchmark::State& state) {
    const std::string& path = BigModelPath();
    for (auto _ : state) {
        T3DSLoader loader;
        loader.OpenModel(path);
        auto mesh = loader.MakeMesh(0);
        mesh->CalcNormals();
        benchmark::DoNotOptimize(mesh->Normals.data());
    }
    PerFace(state, ModelFaces);
}
BENCHMARK(BM_Load65kFaces)->Unit(benchmark::kMillisecond);

// The whole brush load: the above plus the turn to y-up and normals again.
static void BM_BrushLoad65kFaces(benchmark::State& state) {
    const std::string& path = BigModelPath();
    for (auto _ : state) {
        TBGLBrush brush(path);
        benchmark::DoNotOptimize(brush.Meshes[0]->Normals.data());
    }
    PerFace(state, ModelFaces);
}
BENCHMARK(BM_BrushLoad65kFaces)->Unit(benchmark::kMillisecond);

static void BM_CalcNormals(benchmark::State& state) {
    T3DSLoader loader;
    loader.OpenModel(BigModelPath());
    auto mesh = loader.MakeMesh(0);
    for (auto _ : state) {
        mesh->CalcNormals();
        benchmark::DoNotOptimize(mesh->Normals.data());
    }
    PerFace(state, mesh->FaceCount);
}
BENCHMARK(BM_CalcNormals)->Unit(benchmark::kMillisecond);

// Hashed Weld against comparing all pairs on 10,000 vertices; the counter
// "speedup" is the ratio of the two times.
static void BM_WeldVsAllPairs10k(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    TMeshDataN source;
    BuildSplitGrid(source, 2500);
    auto fresh = [&source](TMeshData& mesh) {
        mesh.Vertices = source.Vertices;
        mesh.TexCoords = source.TexCoords;
        mesh.Faces = source.Faces;
        mesh.VertexCount = source.VertexCount;
        mesh.FaceCount = source.FaceCount;
    };
    TMeshData reference;
    fresh(reference);
    const auto start = Clock::now();
    WeldAllPairs(reference);
    const double allPairs = std::chrono::duration<double>(Clock::now() - start).count();
    double hashed = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        TMeshData mesh;
        fresh(mesh);
        const auto t0 = Clock::now();
        mesh.Weld();
        hashed += std::chrono::duration<double>(Clock::now() - t0).count();
        ++runs;
        benchmark::DoNotOptimize(mesh.Faces.data());
    }
    state.counters["vertices"] = double(source.VertexCount);
    state.counters["allpairs_ms"] = allPairs * 1e3;
    state.counters["hashed_ms"] = hashed / double(runs) * 1e3;
    state.counters["speedup"] = allPairs / (hashed / double(runs));
    std::printf("Weld on %d vertices: all pairs %.1f ms, hashed %.3f ms, ratio %.0f\n", source.VertexCount,
                allPairs * 1e3, hashed / double(runs) * 1e3, allPairs / (hashed / double(runs)));
}
BENCHMARK(BM_WeldVsAllPairs10k)->Unit(benchmark::kMillisecond)->Iterations(50);

static void BM_Weld100k(benchmark::State& state) {
    TMeshDataN source;
    BuildSplitGrid(source, 25000);
    for (auto _ : state) {
        state.PauseTiming();
        TMeshData mesh;
        mesh.Vertices = source.Vertices;
        mesh.Faces = source.Faces;
        mesh.VertexCount = source.VertexCount;
        mesh.FaceCount = source.FaceCount;
        state.ResumeTiming();
        mesh.Weld();
        benchmark::DoNotOptimize(mesh.Faces.data());
    }
    state.counters["vertices"] = double(source.VertexCount);
}
BENCHMARK(BM_Weld100k)->Unit(benchmark::kMillisecond);
