#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "assets/file3ds.h"
#include "render/loader3ds.h"
#include "assets/writer3ds.h"
#include "render/mesh.h"

namespace {

TMesh3DS Quad(const std::string& name, bool mapped = true) {
    TMesh3DS m;
    m.Name = name;
    m.Vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    if (mapped) m.TexVerts = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    m.Faces = {{0, 1, 2, 7}, {0, 2, 3, 7}};
    return m;
}

TFile3DS Open(const std::vector<uint8_t>& bytes) { return TFile3DS("test.3ds", bytes); }

// Children identifiers of a chunk, in order.
std::vector<uint16_t> ChildIds(const TFile3DS& f, int32_t chunk) {
    std::vector<uint16_t> ids;
    for (int32_t c = f.Chunk(chunk).Child; c >= 0; c = f.Chunk(c).Next) ids.push_back(f.Chunk(c).Id);
    return ids;
}

} // namespace

TEST(File3DS, EveryFieldOfAMeshReadsBack) {
    TMesh3DS m = Quad("Box01");
    m.VertexFlags = {1, 2, 3, 4};
    m.Faces.push_back({1, 2, 3, 0});
    m.SmoothGroups = {1, 2, 0x80000000u};
    m.Materials = {{"RED", 2, {0, 2}}, {"BLUE", 1, {1}}};
    m.UseBoxMap = true;
    for (int i = 0; i < 6; ++i) m.BoxMap[i] = "side" + std::to_string(i);
    m.MeshColor = 5;
    for (int i = 0; i < 12; ++i) m.LocalMatrix[i] = float(i + 1);
    m.UseMapInfo = true;
    m.MapType = 2;
    m.TileU = 3;
    m.IconScaling = 0.5f;
    m.MapMatrix[11] = 9;
    m.CylIconHeight = 4;
    m.ProcName = "proc";
    m.ProcData = {9, 8, 7};
    m.Hidden = m.Frozen = m.ShadowCasting = m.UseProc = true;

    TFile3DS f = Open(Write3DSModel({m}));
    EXPECT_TRUE(f.Warnings().empty());
    ASSERT_EQ(f.Objects().MeshTotal(), 1);
    const TMesh3DS* r = f.Objects().MeshAt(0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Name, "Box01");
    EXPECT_EQ(r->VertexCount, 4);
    EXPECT_EQ(r->Vertices[2].X, 1);
    EXPECT_EQ(r->Vertices[2].Y, 1);
    EXPECT_EQ(r->VertexFlagCount, 4);
    EXPECT_EQ(r->VertexFlags[3], 4);
    EXPECT_EQ(r->TexVertCount, 4);
    EXPECT_EQ(r->TexVerts[3].V, 1);
    ASSERT_EQ(r->FaceCount, 3);
    EXPECT_EQ(r->Faces[2].V3, 3);
    EXPECT_EQ(r->Faces[0].Flags, 7);
    EXPECT_EQ(r->SmoothGroups, m.SmoothGroups);
    ASSERT_EQ(r->MaterialCount, 2);
    EXPECT_EQ(r->Materials[0].Name, "RED");
    EXPECT_EQ(r->Materials[0].Faces, (std::vector<uint16_t>{0, 2}));
    EXPECT_EQ(r->Materials[1].FaceCount, 1);
    EXPECT_TRUE(r->UseBoxMap);
    EXPECT_EQ(r->BoxMap[5], "side5");
    EXPECT_EQ(r->MeshColor, 5);
    EXPECT_EQ(r->LocalMatrix[11], 12);
    EXPECT_TRUE(r->UseMapInfo);
    EXPECT_EQ(r->MapType, 2);
    EXPECT_EQ(r->TileU, 3);
    EXPECT_EQ(r->TileV, 1);
    EXPECT_EQ(r->IconScaling, 0.5f);
    EXPECT_EQ(r->MapMatrix[11], 9);
    EXPECT_EQ(r->PlaneIconWidth, 1);
    EXPECT_EQ(r->CylIconHeight, 4);
    EXPECT_EQ(r->ProcName, "proc");
    EXPECT_EQ(r->ProcSize, 3u);
    EXPECT_EQ(r->ProcData, m.ProcData);
    EXPECT_TRUE(r->Hidden && r->Frozen && r->ShadowCasting && r->UseProc);
    EXPECT_FALSE(r->Matte || r->LofterVisible || r->FastDisplay || r->ShadowReceiving);
    // The record is cached: the same one comes back.
    EXPECT_EQ(f.Objects().MeshAt(0), r);
}

TEST(File3DS, AbsentChunksKeepStartValues) {
    TFile3DS f = Open(Write3DSModel({Quad("plain", false)}));
    const TMesh3DS* r = f.Objects().MeshAt(0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->TexVertCount, 0);
    EXPECT_TRUE(r->TexVerts.empty());
    EXPECT_FALSE(r->UseMapInfo);
    EXPECT_EQ(r->TileU, 1);
    EXPECT_EQ(r->IconScaling, 1);
    EXPECT_EQ(r->PlaneIconHeight, 1);
    for (const float v : r->LocalMatrix) EXPECT_EQ(v, 0);
    EXPECT_TRUE(r->SmoothGroups.empty());
    EXPECT_EQ(r->MaterialCount, 0);
}

TEST(File3DS, OwnDataIsSkippedByIdentifier) {
    T3DSWriter w;
    w.Begin(id3ds::Main);
    w.Begin(id3ds::Editor);
    // An unknown chunk whose data looks like a named object: not a child.
    {
        T3DSWriter inner;
        Write3DSMesh(inner, Quad("hidden"));
        w.Chunk(0x1234, inner.Take());
    }
    // A light (12 bytes of own data) with a sub-chunk after them.
    Write3DSLight(w, "Omni01", {1, 2, 3});
    // A name of 300 characters: 255 are kept, the sub-chunks still found.
    TMesh3DS longName = Quad(std::string(300, 'n'));
    Write3DSMesh(w, longName);
    Write3DSMesh(w, Quad(std::string(255, 'm')));
    w.End();
    w.End();
    TFile3DS f = Open(w.Take());
    EXPECT_TRUE(f.Warnings().empty());
    const int32_t light = f.Find(0, id3ds::Light);
    ASSERT_GE(light, 0);
    EXPECT_EQ(ChildIds(f, light), (std::vector<uint16_t>{0x0010}));
    EXPECT_TRUE(ChildIds(f, f.Find(0, 0x1234)).empty());
    ASSERT_EQ(f.Objects().MeshTotal(), 2);
    EXPECT_EQ(f.Objects().MeshAt(0)->Name, std::string(255, 'n'));
    EXPECT_EQ(f.Objects().MeshAt(0)->FaceCount, 2);
    EXPECT_EQ(f.Objects().MeshAt(1)->Name, std::string(255, 'm'));
    // The face list's sub-chunks start after count x 8 bytes of faces.
    TMesh3DS grouped = Quad("g");
    grouped.Materials = {{"M", 1, {1}}};
    grouped.SmoothGroups = {1, 1};
    TFile3DS g = Open(Write3DSModel({grouped}));
    EXPECT_EQ(ChildIds(g, g.Find(0, id3ds::FaceList)), (std::vector<uint16_t>{id3ds::FaceMaterial, id3ds::Smoothing}));
}

TEST(File3DS, ExtraDataWalk) {
    T3DSWriter w;
    w.Begin(id3ds::Main);
    w.Begin(id3ds::ExtraData);
    w.Chunk(0x8002, {1, 2});
    const size_t liar = w.Begin(0x8003); // claims more than the section holds
    w.U32(0);
    w.End();
    w.SetLength(liar, 1000);
    w.Chunk(0x8004);
    w.Chunk(0x4000, {'x', 0}); // outside 0x8002..0x800F: ends the walk
    w.Chunk(0x8005);
    w.End();
    Write3DSMesh(w, Quad("after")); // not under the editor: no mesh, but a chunk
    w.End();
    TFile3DS f = Open(w.Take());
    // The lying 0x8003 is stepped over header by header; its 4 data bytes
    // are not a chunk header the walk accepts (id 0), so the walk ends.
    const int32_t extra = f.Find(0, id3ds::ExtraData);
    EXPECT_EQ(ChildIds(f, extra), (std::vector<uint16_t>{0x8002}));
    EXPECT_EQ(ChildIds(f, 0), (std::vector<uint16_t>{id3ds::ExtraData, id3ds::NamedObject}));
    EXPECT_EQ(f.Objects().MeshTotal(), 0);
}

TEST(File3DS, KeyFrameParentNames) {
    std::vector<T3DSKeyFrameNode> nodes = {
        {id3ds::NodeObject, 0, true, true, "Body", -1, "main"},
        {id3ds::NodeObject, 1, true, true, "Wheel", 0, ""},
        {id3ds::NodeCamera, 2, true, true, "Camera01", 1, ""},
        {id3ds::NodeLight, 3, true, true, "Light", 7, ""}, // parent not found
    };
    TFile3DS f = Open(Write3DSModel({Quad("Body"), Quad("Wheel")}, nodes));
    auto parentNameOf = [&f](const std::string& object) -> std::string {
        const int32_t kf = f.Find(0, id3ds::KeyFramer);
        for (int32_t c = f.Chunk(kf).Child; c >= 0; c = f.Chunk(c).Next) {
            const int32_t header = f.Find(c, id3ds::NodeHeader);
            if (header < 0 || f.ReadName(header) != object) continue;
            const int32_t parent = f.FindNext(f.Chunk(header).Child, id3ds::ParentName);
            return parent < 0 ? "<none>" : f.ReadName(parent);
        }
        return "<no node>";
    };
    EXPECT_EQ(parentNameOf("Body"), "<none>");
    EXPECT_EQ(parentNameOf("Wheel"), "Body.main");
    EXPECT_EQ(parentNameOf("Camera01"), "Wheel");
    EXPECT_EQ(parentNameOf("Light"), "<none>");

    // One node without a number chunk: all are renumbered 0, 1, 2 in list
    // order, so parent numbers now point at list positions.
    nodes[0].WithNumber = false;
    TFile3DS g = Open(Write3DSModel({Quad("Body")}, nodes));
    const int32_t kf = g.Find(0, id3ds::KeyFramer);
    int32_t wheel = g.Chunk(kf).Child;
    wheel = g.Chunk(wheel).Next;
    const int32_t header = g.Find(wheel, id3ds::NodeHeader);
    EXPECT_GE(g.FindNext(g.Chunk(header).Child, id3ds::ParentName), 0);
    // A key-frame section with no nodes opens as well.
    T3DSWriter w;
    w.Begin(id3ds::Main);
    w.Chunk(id3ds::KeyFramer);
    w.End();
    EXPECT_TRUE(Open(w.Take()).Warnings().empty());
}

TEST(File3DS, MeshIndicesSkipCamerasAndLights) {
    T3DSWriter w;
    w.Begin(id3ds::Main);
    w.Begin(id3ds::Editor);
    Write3DSMesh(w, Quad("A"));
    Write3DSCamera(w, "Camera01", {0, 0, 10}, {0, 0, 0});
    Write3DSMesh(w, Quad("A")); // duplicate names stay separate
    Write3DSLight(w, "Light01", {1, 1, 1});
    Write3DSMesh(w, Quad("C \xE9 "));
    w.End();
    w.End();
    TFile3DS f = Open(w.Take());
    EXPECT_EQ(f.NamedObjects().size(), 5u);
    ASSERT_EQ(f.Objects().MeshTotal(), 3);
    EXPECT_EQ(f.Objects().MeshAt(1)->Name, "A");
    EXPECT_NE(f.Objects().MeshAt(1), f.Objects().MeshAt(0));
    EXPECT_EQ(f.Objects().MeshAt(2)->Name, "C \xE9 ");
    try {
        f.Objects().MeshAt(3);
        FAIL() << "index past the meshes accepted";
    } catch (const E3DSError& e) {
        EXPECT_EQ(e.Text(), "List index out of bounds (3)");
    }
}

TEST(File3DS, RootKindsAndTinyFiles) {
    for (size_t size = 0; size <= 6; ++size) {
        std::vector<uint8_t> bytes = {0x4D, 0x4D, 6, 0, 0, 0};
        bytes.resize(size);
        TFile3DS f = Open(bytes);
        EXPECT_EQ(f.Objects().MeshTotal(), 0);
        EXPECT_EQ(f.Objects().MeshAt(0), nullptr);
    }
    // Not a 3DS root: opens, no meshes.
    std::vector<uint8_t> other = Write3DSModel({Quad("x")});
    other[0] = 0x34;
    TFile3DS notModel = Open(other);
    EXPECT_EQ(notModel.Objects().MeshTotal(), 0);
    ASSERT_EQ(notModel.Warnings().size(), 1u);
    EXPECT_NE(notModel.Warnings()[0].find("0x4D34"), std::string::npos);
    // A material library counts its meshes but refuses to give them out.
    std::vector<uint8_t> library = Write3DSModel({Quad("x")});
    library[0] = 0xAA;
    library[1] = 0x3D;
    TFile3DS f = Open(library);
    EXPECT_EQ(f.Objects().MeshTotal(), 1);
    try {
        f.Objects().MeshAt(0);
        FAIL() << "mesh from a material library";
    } catch (const E3DSError& e) {
        EXPECT_EQ(e.Text(), Err3DSWrongDatabase);
        EXPECT_EQ(std::string(e.what()).find('\r'), std::string::npos);
    }
    // A project file gives them out.
    std::vector<uint8_t> project = Write3DSModel({Quad("x")});
    project[0] = 0x3D;
    project[1] = 0xC2;
    EXPECT_EQ(Open(project).Objects().MeshAt(0)->Name, "x");
}

TEST(File3DS, TriMeshMustBeADirectChild) {
    // A 0x4100 below a container of the named object: counted, not extracted.
    T3DSWriter v;
    v.Begin(id3ds::Main);
    v.Begin(id3ds::Editor);
    v.Begin(id3ds::NamedObject);
    v.String("deep");
    v.Begin(0x3D3D);
    v.Begin(id3ds::TriMesh);
    v.End();
    v.End();
    v.End();
    v.End();
    v.End();
    TFile3DS g = Open(v.Take());
    ASSERT_EQ(g.Objects().MeshTotal(), 1);
    try {
        g.Objects().MeshAt(0);
        FAIL() << "nested triangle mesh extracted";
    } catch (const E3DSError& e) {
        EXPECT_EQ(e.Text(), Err3DSWrongObject);
        EXPECT_NE(std::string(e.what()).find("test.3ds"), std::string::npos);
    }
}

TEST(File3DS, SmoothingCountComesFromTheLength) {
    for (const int extra : {0, 2}) {
        TMesh3DS m = Quad("s");
        m.SmoothGroups = {1, 2, 3};
        std::vector<uint8_t> bytes = Write3DSModel({m});
        TFile3DS probe = Open(bytes);
        const int32_t smoothing = probe.Find(0, id3ds::Smoothing);
        const uint32_t at = probe.Chunk(smoothing).Position;
        // Grow the chunk (and every chunk around it) by `extra` bytes.
        bytes.insert(bytes.begin() + at + 6 + 12, size_t(extra), uint8_t(0xAB));
        for (int32_t c = 0; c < probe.ChunkCount(); ++c) {
            const TChunk3DS& k = probe.Chunk(c);
            if (k.Position <= at && at < k.Position + k.Length) {
                const uint32_t length = k.Length + uint32_t(extra);
                std::memcpy(&bytes[k.Position + 2], &length, 4);
            }
        }
        TFile3DS f = Open(bytes);
        EXPECT_TRUE(f.Warnings().empty());
        EXPECT_EQ(f.Objects().MeshAt(0)->SmoothGroups, m.SmoothGroups) << "extra " << extra;
    }
}

TEST(Loader3DS, MakesMeshesInFileOrder) {
    const auto dir = std::filesystem::temp_directory_path() / "corvala_models_loader";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "three.3ds").string();
    TMesh3DS big;
    big.Name = "two";
    big.Vertices.resize(40001);
    big.Vertices[40000] = {5, 6, 7};
    big.TexVerts.resize(3, TTexVert3DS{0.5f, 0.25f}); // fewer than the vertices
    big.Faces = {{40000, 0, 1, 7}};
    T3DSWriter w;
    w.Begin(id3ds::Main);
    w.Begin(id3ds::Editor);
    Write3DSMesh(w, Quad("one"));
    Write3DSCamera(w, "Camera01", {0, 0, 10}, {0, 0, 0});
    Write3DSMesh(w, big);
    Write3DSMesh(w, Quad("three", false));
    w.End();
    w.End();
    const std::vector<uint8_t> bytes = w.Take();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

    T3DSLoader loader;
    loader.OpenModel(path);
    ASSERT_EQ(loader.MeshCount, 3);
    std::unique_ptr<TMeshDataNM> two = loader.MakeMesh(1);
    EXPECT_EQ(two->Name, "two");
    ASSERT_EQ(two->VertexCount, 40001);
    ASSERT_EQ(two->TexCoords.size(), 40001u);
    ASSERT_EQ(two->Normals.size(), 40001u);
    EXPECT_EQ(two->Faces[0].I0, 40000u); // widened without sign
    EXPECT_EQ(two->Vertices[40000].Z, 7);
    EXPECT_EQ(two->TexCoords[2].U, 0.5f);
    EXPECT_EQ(two->TexCoords[3].U, 0); // missing mapping coordinates are (0, 0)
    EXPECT_EQ(two->TexCoords[40000].V, 0);
    std::unique_ptr<TMeshDataNM> three = loader.MakeMesh(2);
    EXPECT_EQ(three->Name, "three");
    EXPECT_EQ(three->TexCoords.size(), 4u);
    loader.CloseModel();
    EXPECT_EQ(three->FaceCount, 2); // meshes outlive the file
    std::filesystem::remove_all(dir);
}
