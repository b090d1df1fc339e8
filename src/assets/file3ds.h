// The 3DS chunk reader. Opening reads only the chunk tree (identifiers,
// lengths, positions and the short own-data parts needed to find
// sub-chunks); mesh data is read on demand straight into TMesh3DS records.
//
// Nothing read from the file is trusted: every read is bounded by its chunk
// and the file, nesting depth and chunk count are limited (demo/limits.h),
// counts are checked against the bytes their chunk holds before anything is
// allocated, and every refusal is an E3DSError naming the file and offset.
// Damage the walk can step over (a chunk shorter than its header, or one
// reaching past its parent or the file) ends that walk at the parent's end
// and is kept as a warning in Warnings().
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class T3DSSource;
class TFile3DS;

// The reader's error. Text() is the bare message (for the two fixed cases
// exactly the texts below); what() is "FILE: offset N: TEXT" or "FILE: TEXT"
// when no offset applies.
class E3DSError : public std::runtime_error {
public:
    E3DSError(const std::string& fileName, int64_t offset, const std::string& text);
    const std::string& FileName() const { return File; }
    int64_t Offset() const { return At; } // -1 when no offset applies
    const std::string& Text() const { return Message; }

private:
    std::string File;
    int64_t At;
    std::string Message;
};

// A mesh is requested from a file whose root is not a model or project.
extern const char* const Err3DSWrongDatabase;
// The object chosen for extraction has no triangle-mesh child.
extern const char* const Err3DSWrongObject;

// Chunk identifiers the reader interprets.
namespace id3ds {
constexpr uint16_t Main = 0x4D4D, Project = 0xC23D, MaterialLibrary = 0x3DAA;
constexpr uint16_t Editor = 0x3D3D, NamedObject = 0x4000;
constexpr uint16_t ObjHidden = 0x4010, ObjLofterVisible = 0x4011, ObjShadowCasting = 0x4012, ObjMatte = 0x4013,
                   ObjFast = 0x4014, ObjProcedure = 0x4015, ObjFrozen = 0x4016, ObjShadowReceiving = 0x4017;
constexpr uint16_t TriMesh = 0x4100, VertexList = 0x4110, VertexFlags = 0x4111, FaceList = 0x4120,
                   FaceMaterial = 0x4130, MappingCoords = 0x4140, Smoothing = 0x4150, LocalMatrix = 0x4160,
                   MeshColor = 0x4165, MapInfo = 0x4170, ProcedureName = 0x4181, ProcedureData = 0x4182,
                   BoxMap = 0x4190;
constexpr uint16_t Light = 0x4600, Camera = 0x4700;
constexpr uint16_t ExtraData = 0x8001, ParentName = 0x80F0;
constexpr uint16_t KeyFramer = 0xB000, NodeAmbient = 0xB001, NodeObject = 0xB002, NodeCamera = 0xB003,
                   NodeTarget = 0xB004, NodeLight = 0xB005, NodeLightTarget = 0xB006, NodeSpot = 0xB007;
constexpr uint16_t NodeHeader = 0xB010, InstanceName = 0xB011, NodeNumber = 0xB030;
} // namespace id3ds

struct TPoint3DS {
    float X = 0, Y = 0, Z = 0;
};

struct TTexVert3DS {
    float U = 0, V = 0;
};

// Three vertex indices and the edge/visibility flags word.
struct TFace3DS {
    uint16_t V1 = 0, V2 = 0, V3 = 0, Flags = 0;
};

// One face material group.
struct TObjMat3DS {
    std::string Name;
    uint16_t FaceCount = 0;
    std::vector<uint16_t> Faces;
};

// One extracted mesh. A field whose chunk is absent keeps its start value;
// the map fields mean something only when UseMapInfo is set. Array lengths
// equal their counts.
struct TMesh3DS {
    std::string Name;
    bool Hidden = false, LofterVisible = false, Matte = false, ShadowCasting = false, FastDisplay = false,
         ShadowReceiving = false, Frozen = false;
    uint16_t VertexCount = 0;
    std::vector<TPoint3DS> Vertices;
    uint16_t VertexFlagCount = 0;
    std::vector<uint16_t> VertexFlags;
    uint16_t TexVertCount = 0;
    std::vector<TTexVert3DS> TexVerts;
    bool UseMapInfo = false;
    uint16_t MapType = 0;
    float TileU = 1, TileV = 1;
    TPoint3DS IconPosition;
    float IconScaling = 1;
    float MapMatrix[12] = {};
    float PlaneIconWidth = 1, PlaneIconHeight = 1, CylIconHeight = 1;
    float LocalMatrix[12] = {};
    uint16_t FaceCount = 0;
    std::vector<TFace3DS> Faces;
    std::vector<uint32_t> SmoothGroups; // one mask per face as stored (may be fewer)
    bool UseBoxMap = false;
    std::string BoxMap[6];
    uint8_t MeshColor = 0;
    uint16_t MaterialCount = 0;
    std::vector<TObjMat3DS> Materials;
    bool UseProc = false;
    uint32_t ProcSize = 0;
    std::string ProcName;
    std::vector<uint8_t> ProcData;
};

// One node of the chunk tree, kept in TFile3DS's arena; links are indices
// into it (-1 for none). Children keep file order.
struct TChunk3DS {
    uint16_t Id = 0;
    uint32_t Length = 0;   // from the header, header included
    uint32_t Position = 0; // file offset of the header; 0 for the root
    int32_t Next = -1;     // next sibling
    int32_t Child = -1;    // first child
    int32_t LastChild = -1;
    std::string Text; // the parent name of an in-memory 0x80F0 chunk
};

// The meshes of the file: MeshTotal counts them once; MeshAt builds a mesh
// on first request and keeps it, so a second request returns the same one.
class TObjectList {
public:
    explicit TObjectList(TFile3DS& file) : File(file) {}
    int32_t MeshTotal();
    // nullptr when the file has no meshes; an index outside 0 to
    // MeshTotal() - 1 raises "List index out of bounds (%d)".
    const TMesh3DS* MeshAt(int32_t index);

private:
    TFile3DS& File;
    bool Counted = false;
    std::vector<int32_t> MeshObjects; // named objects holding a triangle mesh
    std::vector<std::unique_ptr<TMesh3DS>> Cache;
};

// Held for the file's material and key-frame sections; this engine fills
// neither, so they stay empty and are freed with the file.
class TMaterialList {
public:
    explicit TMaterialList(TFile3DS& file) : File(file) {}

private:
    [[maybe_unused]] TFile3DS& File;
};

class TKeyFramer {
public:
    explicit TKeyFramer(TFile3DS& file) : File(file) {}

private:
    [[maybe_unused]] TFile3DS& File;
};

class TFile3DS {
public:
    // CreateFromPath: opens the file and reads its chunk tree. Raises
    // E3DSError when the file cannot be opened or the tree is refused.
    explicit TFile3DS(const std::string& fileName);
    // The same from bytes in memory; `name` is used in messages.
    TFile3DS(const std::string& name, std::vector<uint8_t> bytes);
    ~TFile3DS();
    TFile3DS(const TFile3DS&) = delete;
    TFile3DS& operator=(const TFile3DS&) = delete;

    TObjectList& Objects() { return *ObjectList; }
    TMaterialList& Materials() { return *MaterialList; }
    TKeyFramer& KeyFramer() { return *KeyFrames; }
    const std::string& FileName() const { return Name; }
    // Damage the tree walk stepped over, one line each, "FILE: offset N: ...".
    const std::vector<std::string>& Warnings() const { return WarningList; }

    // The chunk tree: index 0 is the root.
    const TChunk3DS& Chunk(int32_t index) const { return Chunks[size_t(index)]; }
    int32_t ChunkCount() const { return int32_t(Chunks.size()); }
    // Depth-first pre-order search of `from` and its subtree; -1 when absent.
    int32_t Find(int32_t from, uint16_t id) const;
    // `from` and its following siblings; -1 when absent.
    int32_t FindNext(int32_t from, uint16_t id) const;

    // The name string of a named object, node header or instance name
    // chunk, read from the file (or the parent name of a 0x80F0 chunk).
    std::string ReadName(int32_t chunk) const;

    // The named objects of the editor section, in file order.
    struct TNamedObject {
        std::string Name;
        int32_t Chunk = -1;
    };
    const std::vector<TNamedObject>& NamedObjects();

    // Builds the record of one named object (raises Err3DSWrongObject when
    // it holds no triangle mesh).
    std::unique_ptr<TMesh3DS> ExtractMesh(int32_t namedObject);
    bool IsModelDatabase() const;

private:
    friend class TObjectList;
    struct TNode;

    void Open();
    int32_t NewChunk(int32_t parent, uint32_t position);
    void BuildTree(int32_t chunk, int depth);
    void WalkExtraData(int32_t chunk, int depth);
    uint32_t SkipOwnData(int32_t chunk);
    void BuildNodeList(std::vector<TNode>& nodes);
    void AddParentNames(const std::vector<TNode>& nodes);
    void Warn(int64_t offset, const std::string& text);
    [[noreturn]] void Fail(int64_t offset, const std::string& text) const;
    uint32_t ChunkEnd(int32_t chunk) const;

    std::string Name;
    std::unique_ptr<T3DSSource> Source;
    std::vector<TChunk3DS> Chunks;
    std::vector<TNamedObject> NamedList;
    bool NamedListStale = true;
    std::vector<std::string> WarningList;
    std::unique_ptr<TMaterialList> MaterialList;
    std::unique_ptr<TObjectList> ObjectList;
    std::unique_ptr<TKeyFramer> KeyFrames;
};

// The faces of `mesh` that use a vertex past the vertices it holds: the
// loader leaves them out, and the pre-flight warns of them as the run does.
// "" when every face is whole; otherwise the warning naming `fileName` and
// the mesh.
std::string LeftOutFacesText(const std::string& fileName, const TMesh3DS& mesh);
