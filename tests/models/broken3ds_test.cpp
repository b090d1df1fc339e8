// Damaged and real-world 3DS files: every one loads with the right counts or
// is refused with a message naming the file; none crashes or hangs.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "assets/file3ds.h"
#include "render/loader3ds.h"
#include "assets/writer3ds.h"
#include "base/report.h"
#include "render/mesh.h"

namespace {

TMesh3DS Quad(const std::string& name) {
    TMesh3DS m;
    m.Name = name;
    m.Vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    m.TexVerts = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    m.Faces = {{0, 1, 2, 7}, {0, 2, 3, 7}};
    m.Materials = {{"MAT", 2, {0, 1}}};
    m.SmoothGroups = {1, 1};
    return m;
}

std::vector<uint8_t> SampleModel() {
    return Write3DSModel({Quad("A"), Quad("B")}, {{id3ds::NodeObject, 0, true, true, "A", -1, "i"},
                                                  {id3ds::NodeObject, 1, true, true, "B", 0, ""}});
}

enum class TOutcome { Loaded, Warned, Refused };

// Loads every mesh the way the loader does, from memory.
TOutcome LoadAll(const std::vector<uint8_t>& bytes, std::string* message = nullptr) {
    try {
        TFile3DS file("broken.3ds", bytes);
        const int32_t total = file.Objects().MeshTotal();
        for (int32_t i = 0; i < total; ++i) {
            const TMesh3DS* mesh = file.Objects().MeshAt(i);
            for (const TFace3DS& f : mesh->Faces)
                if (f.V1 >= mesh->VertexCount || f.V2 >= mesh->VertexCount || f.V3 >= mesh->VertexCount)
                    throw E3DSError("broken.3ds", -1, "face past the vertices");
        }
        if (file.Warnings().empty()) return TOutcome::Loaded;
        if (message) *message = file.Warnings().front();
        return TOutcome::Warned;
    } catch (const E3DSError& e) {
        if (message) *message = e.what();
        return TOutcome::Refused;
    }
}

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(v >> (8 * i));
}

int32_t ChunkAt(const std::vector<uint8_t>& bytes, uint16_t id) {
    TFile3DS f("probe.3ds", bytes);
    const int32_t c = f.Find(0, id);
    return c < 0 ? -1 : int32_t(f.Chunk(c).Position);
}

} // namespace

TEST(Broken3DS, EveryTruncationGivesAMessage) {
    const std::vector<uint8_t> model = SampleModel();
    ASSERT_EQ(LoadAll(model), TOutcome::Loaded);
    for (size_t size = 0; size < model.size(); ++size) {
        const std::vector<uint8_t> cut(model.begin(), model.begin() + long(size));
        std::string message;
        const TOutcome outcome = LoadAll(cut, &message);
        EXPECT_NE(outcome, TOutcome::Loaded) << "cut at " << size;
        EXPECT_EQ(message.rfind("broken.3ds: ", 0), 0u) << message;
    }
}

TEST(Broken3DS, ZeroAndHugeChunkLengths) {
    const std::vector<uint8_t> model = SampleModel();
    for (const uint16_t id : {id3ds::Editor, id3ds::NamedObject, id3ds::VertexList, id3ds::FaceList,
                              id3ds::FaceMaterial, id3ds::Smoothing, id3ds::NodeHeader, id3ds::KeyFramer}) {
        const int32_t at = ChunkAt(model, id);
        ASSERT_GE(at, 0);
        for (const uint32_t length : {0u, 1u, 5u, 6u, 7u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
            std::vector<uint8_t> bytes = model;
            PutU32(bytes, size_t(at) + 2, length);
            std::string message;
            const TOutcome outcome = LoadAll(bytes, &message);
            if (outcome != TOutcome::Loaded) {
                EXPECT_EQ(message.rfind("broken.3ds: ", 0), 0u) << message;
            }
            if (length < 6 || length > 1000) {
                EXPECT_NE(outcome, TOutcome::Loaded) << std::hex << id << " " << length;
            }
        }
    }
    std::vector<uint8_t> root = model;
    PutU32(root, 2, 0xFFFFFFFFu);
    std::string message;
    EXPECT_EQ(LoadAll(root, &message), TOutcome::Warned);
    EXPECT_NE(message.find("end of the file"), std::string::npos) << message;
}

TEST(Broken3DS, CountsPastTheirChunkAreRefused) {
    const std::vector<uint8_t> model = SampleModel();
    struct TCase {
        uint16_t id;
        size_t countAt; // bytes after the header
    };
    for (const TCase c : {TCase{id3ds::VertexList, 0}, TCase{id3ds::MappingCoords, 0}, TCase{id3ds::FaceList, 0},
                          TCase{id3ds::FaceMaterial, 4}}) {
        std::vector<uint8_t> bytes = model;
        const int32_t at = ChunkAt(bytes, c.id);
        bytes[size_t(at) + 6 + c.countAt] = 0xFF;
        bytes[size_t(at) + 7 + c.countAt] = 0xFF;
        std::string message;
        EXPECT_EQ(LoadAll(bytes, &message), TOutcome::Refused) << std::hex << c.id;
        EXPECT_NE(message.find("offset"), std::string::npos) << message;
    }
    // A local matrix chunk too short for its twelve floats.
    TMesh3DS m = Quad("m");
    m.LocalMatrix[0] = 1;
    std::vector<uint8_t> bytes = Write3DSModel({m});
    const int32_t at = ChunkAt(bytes, id3ds::LocalMatrix);
    PutU32(bytes, size_t(at) + 2, 6 + 40);
    // The 8 bytes left over now read as one chunk inside the triangle mesh.
    EXPECT_EQ(LoadAll(bytes), TOutcome::Refused);
}

TEST(Broken3DS, FacesPastTheVerticesAreLeftOutWithOneWarning) {
    TMesh3DS m = Quad("bad");
    m.Faces[1].V3 = 4;
    m.Faces.push_back(m.Faces[1]);
    m.Faces.push_back(m.Faces[0]);
    m.SmoothGroups = {1, 1, 1, 1};
    const auto dir = std::filesystem::temp_directory_path() / "corvala_models_broken";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "bad.3ds").string();
    const std::vector<uint8_t> bytes = Write3DSModel({Quad("good"), m});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    std::vector<std::string> reports;
    SetReportSink([&](const std::string&, const std::string& text) { reports.push_back(text); });
    {
        TBGLBrush brush(path);
        ASSERT_EQ(brush.MeshCount, 2);
        EXPECT_EQ(brush.Meshes[0]->FaceCount, 2);
        ASSERT_EQ(brush.Meshes[1]->FaceCount, 2); // faces 0 and 3 of four
        EXPECT_EQ(brush.Meshes[1]->Faces[1].I2, 2u);
    }
    SetReportSink(nullptr);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(path), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("mesh \"bad\": 2 faces use vertices past its 4 vertices and are left out"),
              std::string::npos)
        << reports[0];
    try {
        TBGLBrush brush((dir / "missing.3ds").string());
        FAIL() << "missing file accepted";
    } catch (const E3DSError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.3ds: cannot open file"), std::string::npos) << e.what();
    }
    std::filesystem::remove_all(dir);
}

TEST(Broken3DS, DeepNestingIsRefused) {
    std::vector<uint8_t> bytes;
    const int depth = 100000;
    for (int i = 0; i < depth; ++i) {
        const uint16_t id = i == 0 ? id3ds::Main : id3ds::Editor;
        const uint32_t length = uint32_t(6 * (depth - i));
        bytes.push_back(uint8_t(id));
        bytes.push_back(uint8_t(id >> 8));
        for (int b = 0; b < 4; ++b) bytes.push_back(uint8_t(length >> (8 * b)));
    }
    std::string message;
    EXPECT_EQ(LoadAll(bytes, &message), TOutcome::Refused);
    EXPECT_NE(message.find("nested deeper"), std::string::npos) << message;
}

TEST(Broken3DS, RandomDamageNeverCrashes) {
    const std::vector<uint8_t> model = SampleModel();
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    int outcomes[3] = {};
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = model;
        const int flips = 1 + int(next() % 4);
        for (int i = 0; i < flips; ++i) bytes[next() % bytes.size()] = uint8_t(next());
        ++outcomes[int(LoadAll(bytes))];
    }
    EXPECT_GT(outcomes[int(TOutcome::Refused)] + outcomes[int(TOutcome::Warned)], 0);
}

// ../shared/testdata/3ds/reference.tsv lists every named object of the real
// models with the counts an independent reader gives.
TEST(Real3DS, CountsMatchTheReference) {
    const std::filesystem::path dir = std::filesystem::path(CORVALA_SHARED_TESTDATA) / "3ds";
    std::ifstream tsv(dir / "reference.tsv");
    if (!tsv) GTEST_SKIP() << "no real-world test data at " << dir.string();
    struct TRow {
        std::string name, kind, verts, faces, texverts;
    };
    std::map<std::string, std::vector<TRow>> files;
    std::string line;
    std::getline(tsv, line); // header
    while (std::getline(tsv, line)) {
        std::vector<std::string> cols;
        std::stringstream in(line);
        std::string col;
        while (std::getline(in, col, '\t')) cols.push_back(col);
        cols.resize(15);
        files[cols[0]].push_back(TRow{cols[7], cols[8], cols[9], cols[10], cols[11]});
    }
    ASSERT_FALSE(files.empty());
    for (const auto& [fileName, rows] : files) {
        SCOPED_TRACE(fileName);
        const std::string path = (dir / fileName).string();
        TFile3DS file(path);
        EXPECT_TRUE(file.Warnings().empty()) << file.Warnings().front();
        ASSERT_EQ(file.NamedObjects().size(), rows.size());
        TBGLBrush brush(path);
        int32_t mesh = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(file.NamedObjects()[i].Name, rows[i].name);
            if (rows[i].kind != "trimesh") continue;
            ASSERT_LT(mesh, file.Objects().MeshTotal());
            const TMesh3DS* record = file.Objects().MeshAt(mesh);
            EXPECT_EQ(record->Name, rows[i].name);
            EXPECT_EQ(record->VertexCount, std::stoi(rows[i].verts));
            EXPECT_EQ(record->FaceCount, std::stoi(rows[i].faces));
            EXPECT_EQ(record->TexVertCount, rows[i].texverts.empty() ? 0 : std::stoi(rows[i].texverts));
            ASSERT_LT(mesh, brush.MeshCount);
            const TMeshDataNM& made = *brush.Meshes[size_t(mesh)];
            EXPECT_EQ(made.Name, rows[i].name);
            EXPECT_EQ(made.VertexCount, std::stoi(rows[i].verts));
            EXPECT_EQ(made.FaceCount, std::stoi(rows[i].faces));
            ++mesh;
        }
        EXPECT_EQ(file.Objects().MeshTotal(), mesh);
        EXPECT_EQ(brush.MeshCount, mesh);
    }
}
