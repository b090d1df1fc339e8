#include "assets/file3ds.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/files.h"
#include "base/limits.h"

const char* const Err3DSWrongDatabase =
    "The database passed as an argument is the wrong kind of\rdatabase for this function.";
const char* const Err3DSWrongObject =
    "The Name passed to the functions exists but is not the type of object asked for.\r"
    "For example asking for a mesh object with the GetCameraByName3DS function.";

namespace {

constexpr uint32_t HeaderSize = 6;
constexpr size_t MaxStringChars = 255;

// The system's error beep before a reader error. A terminal bell would land
// in the middle of the message on stderr, so on this platform it is silent.
void Beep3DS() {}

std::string Hex(uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(id));
    return text;
}

std::string WhatText(const std::string& file, int64_t offset, const std::string& text) {
    std::string flat = text;
    std::replace(flat.begin(), flat.end(), '\r', ' ');
    std::string what = file.empty() ? std::string() : file + ": ";
    if (offset >= 0) what += "offset " + std::to_string(offset) + ": ";
    return what + flat;
}

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
float LeFloat(const uint8_t* p) { return std::bit_cast<float>(Le32(p)); }

// Arrays are read straight into their records; on a big-endian host every
// 16- or 32-bit element is turned round afterwards.
template <size_t Width> void FixByteOrder(void* data, size_t bytes) {
    if constexpr (std::endian::native == std::endian::big) {
        auto* p = static_cast<uint8_t*>(data);
        for (size_t i = 0; i + Width <= bytes; i += Width) std::reverse(p + i, p + i + Width);
    } else {
        (void)data;
        (void)bytes;
    }
}

} // namespace

E3DSError::E3DSError(const std::string& fileName, int64_t offset, const std::string& text)
    : std::runtime_error(WhatText(fileName, offset, text)), File(fileName), At(offset), Message(text) {}

// Random-access bytes of a 3DS file: the open file, or a buffer in memory.
class T3DSSource {
public:
    virtual ~T3DSSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `count` bytes at `offset`; false when they are not there.
    virtual bool ReadAt(uint64_t offset, void* dst, size_t count) = 0;
};

namespace {

class TFileSource : public T3DSSource {
public:
    explicit TFileSource(std::FILE* f) : File(f) {
        if (std::fseek(File, 0, SEEK_END) == 0) {
            const long end = std::ftell(File);
            if (end > 0) Bytes = uint64_t(end);
        }
    }
    ~TFileSource() override { std::fclose(File); }
    uint64_t Size() const override { return Bytes; }
    bool ReadAt(uint64_t offset, void* dst, size_t count) override {
        if (count == 0) return true;
        if (offset > Bytes || count > Bytes - offset) return false;
        if (std::fseek(File, long(offset), SEEK_SET) != 0) return false;
        return std::fread(dst, 1, count, File) == count;
    }

private:
    std::FILE* File;
    uint64_t Bytes = 0;
};

class TMemorySource : public T3DSSource {
public:
    explicit TMemorySource(std::vector<uint8_t> bytes) : Data(std::move(bytes)) {}
    uint64_t Size() const override { return Data.size(); }
    bool ReadAt(uint64_t offset, void* dst, size_t count) override {
        if (count == 0) return true;
        if (offset > Data.size() || count > Data.size() - offset) return false;
        std::memcpy(dst, Data.data() + offset, count);
        return true;
    }

private:
    std::vector<uint8_t> Data;
};

} // namespace

// Reads the data of one chunk front to back, never past the chunk's end.
class TChunkCursor {
public:
    TChunkCursor(const TFile3DS& file, T3DSSource& source, const TChunk3DS& chunk, uint32_t end)
        : File(file), Source(source), Id(chunk.Id), Start(chunk.Position), Pos(uint64_t(chunk.Position) + HeaderSize),
          End(end) {}

    uint64_t Position() const { return Pos; }
    uint64_t Left() const { return Pos < End ? End - Pos : 0; }

    void Read(void* dst, uint64_t count, const char* what) {
        if (count > Left())
            Fail("chunk " + Hex(Id) + " at offset " + std::to_string(Start) + " ends before its " + what + " (" +
                 std::to_string(count) + " bytes needed, " + std::to_string(Left()) + " left)");
        if (!Source.ReadAt(Pos, dst, size_t(count))) Fail("read error");
        Pos += count;
    }
    uint8_t U8(const char* what) {
        uint8_t b;
        Read(&b, 1, what);
        return b;
    }
    uint16_t U16(const char* what) {
        uint8_t b[2];
        Read(b, 2, what);
        return Le16(b);
    }
    float F32(const char* what) {
        uint8_t b[4];
        Read(b, 4, what);
        return LeFloat(b);
    }
    void Floats(float* dst, int count, const char* what) {
        for (int i = 0; i < count; ++i) dst[i] = F32(what);
    }
    // A zero-terminated string; the chunk's end also ends it. Characters
    // past the 255th are consumed but not kept.
    std::string String() {
        std::string text;
        uint8_t block[64];
        while (Left() > 0) {
            const size_t n = size_t(std::min<uint64_t>(sizeof block, Left()));
            if (!Source.ReadAt(Pos, block, n)) Fail("read error");
            const auto* zero = static_cast<const uint8_t*>(std::memchr(block, 0, n));
            const size_t used = zero ? size_t(zero - block) : n;
            if (text.size() < MaxStringChars)
                text.append(reinterpret_cast<const char*>(block), std::min(used, MaxStringChars - text.size()));
            Pos += used;
            if (zero) {
                ++Pos;
                break;
            }
        }
        return text;
    }
    // Checks that `count` elements of `width` bytes fit before allocating.
    void NeedArray(uint64_t count, uint64_t width, const char* what) {
        if (count * width > Left())
            Fail(std::string(what) + " of chunk " + Hex(Id) + " at offset " + std::to_string(Start) + ": " +
                 std::to_string(count) + " entries need " + std::to_string(count * width) +
                 " bytes but the chunk holds " + std::to_string(Left()));
    }

    [[noreturn]] void Fail(const std::string& text) const {
        Beep3DS();
        throw E3DSError(File.FileName(), int64_t(Pos), text);
    }

private:
    const TFile3DS& File;
    T3DSSource& Source;
    uint16_t Id;
    uint32_t Start;
    uint64_t Pos;
    uint64_t End;
};

// One key-frame node, alive only while the file opens.
struct TFile3DS::TNode {
    int16_t Number = 0;
    uint16_t Id = 0;
    std::string ObjectName;
    std::string InstanceName;
    int16_t Parent = 0;
};

TFile3DS::TFile3DS(const std::string& fileName) : Name(fileName) {
    MaterialList = std::make_unique<TMaterialList>(*this);
    ObjectList = std::make_unique<TObjectList>(*this);
    KeyFrames = std::make_unique<TKeyFramer>(*this);
    NoteInputFile(fileName);
    if (const std::string kind = SpecialFileKind(fileName); !kind.empty()) {
        Beep3DS();
        throw E3DSError(fileName, -1, "is " + kind + ", not a file");
    }
    std::FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f) {
        const int err = errno;
        Beep3DS();
        throw E3DSError(fileName, -1, std::string("cannot open file (") + std::strerror(err) + ")");
    }
    Source = std::make_unique<TFileSource>(f);
    Open();
}

TFile3DS::TFile3DS(const std::string& name, std::vector<uint8_t> bytes) : Name(name) {
    MaterialList = std::make_unique<TMaterialList>(*this);
    ObjectList = std::make_unique<TObjectList>(*this);
    KeyFrames = std::make_unique<TKeyFramer>(*this);
    Source = std::make_unique<TMemorySource>(std::move(bytes));
    Open();
}

TFile3DS::~TFile3DS() = default;

void TFile3DS::Warn(int64_t offset, const std::string& text) { WarningList.push_back(WhatText(Name, offset, text)); }

void TFile3DS::Fail(int64_t offset, const std::string& text) const {
    Beep3DS();
    throw E3DSError(Name, offset, text);
}

uint32_t TFile3DS::ChunkEnd(int32_t chunk) const {
    const TChunk3DS& c = Chunks[size_t(chunk)];
    return uint32_t(std::min<uint64_t>(uint64_t(c.Position) + c.Length, Source->Size()));
}

int32_t TFile3DS::NewChunk(int32_t parent, uint32_t position) {
    if (int64_t(Chunks.size()) >= limits::Max3DSChunks)
        Fail(position, "more than " + std::to_string(limits::Max3DSChunks) + " chunks in one file");
    Chunks.push_back(TChunk3DS{});
    const int32_t index = int32_t(Chunks.size() - 1);
    Chunks.back().Position = position;
    if (parent >= 0) {
        TChunk3DS& p = Chunks[size_t(parent)];
        if (p.LastChild >= 0)
            Chunks[size_t(p.LastChild)].Next = index;
        else
            p.Child = index;
        p.LastChild = index;
    }
    return index;
}

// Where the sub-chunks of a chunk start: after its own data, by identifier.
uint32_t TFile3DS::SkipOwnData(int32_t chunk) {
    const TChunk3DS& c = Chunks[size_t(chunk)];
    const uint32_t end = ChunkEnd(chunk);
    const uint64_t data = uint64_t(c.Position) + HeaderSize;
    uint64_t skip;
    switch (c.Id) {
    case 0x1200:
    case 0x2100:
    case 0x2D2D:
    case 0x2D3D:
    case 0x3000:
    case 0x3D3D:
    case 0x3DAA:
    case 0x3DFF:
    case 0x4100:
    case 0x4D4D:
    case 0x8000:
    case 0x8001:
    case 0xA010:
    case 0xA020:
    case 0xA030:
    case 0xA040:
    case 0xA041:
    case 0xA042:
    case 0xA050:
    case 0xA052:
    case 0xA053:
    case 0xA084:
    case 0xA200:
    case 0xA204:
    case 0xA210:
    case 0xA220:
    case 0xA230:
    case 0xA33A:
    case 0xA33C:
    case 0xA33D:
    case 0xA33E:
    case 0xA340:
    case 0xA342:
    case 0xA344:
    case 0xA346:
    case 0xA348:
    case 0xA34A:
    case 0xA34C:
    case 0xAFFF:
    case 0xB000:
    case 0xB001:
    case 0xB002:
    case 0xB003:
    case 0xB004:
    case 0xB005:
    case 0xB006:
    case 0xB007:
    case 0xC23D:
        skip = 0;
        break;
    case 0x1100:
    case 0x3080:
    case 0x4000:
    case 0x4181:
    case 0xA000:
    case 0xA300:
    case 0xB011:
    case 0xB010:
    case 0xB00A: {
        TChunkCursor cursor(*this, *Source, c, end);
        if (c.Id == 0xB00A) {
            if (cursor.Left() < 2) return end;
            cursor.U16("value");
        }
        cursor.String();
        skip = cursor.Position() - data;
        if (c.Id == 0xB010) skip += 6;
        if (c.Id == 0xB00A) skip += 4;
        break;
    }
    case 0x0030:
    case 0x1420:
    case 0x1430:
    case 0xB030:
        skip = 2;
        break;
    case 0x0011:
        skip = 3;
        break;
    case 0x0002:
    case 0x0031:
    case 0x0100:
    case 0x1300:
    case 0x1400:
    case 0x1410:
    case 0x3D3E:
    case 0xB009:
    case 0xB015:
    case 0xD000:
        skip = 4;
        break;
    case 0xB008:
        skip = 8;
        break;
    case 0x4641:
        skip = 10;
        break;
    case 0x0010:
    case 0x1500:
    case 0x4600:
    case 0xA310:
    case 0xB013:
        skip = 12;
        break;
    case 0x7001:
        skip = 14;
        break;
    case 0x2200:
    case 0x2300:
    case 0x2302:
    case 0x3010:
    case 0x3020:
    case 0x3030:
    case 0x3040:
    case 0x3050:
    case 0x3060:
        skip = 16;
        break;
    case 0x4610:
        skip = 20;
        break;
    case 0xB014:
        skip = 24;
        break;
    case 0x3070:
        skip = 28;
        break;
    case 0x4700:
        skip = 32;
        break;
    case 0x4160:
        skip = 48;
        break;
    case 0x4120: {
        uint8_t count[2];
        if (data + 2 > end || !Source->ReadAt(data, count, 2)) return end;
        skip = 2 + uint64_t(Le16(count)) * 8;
        break;
    }
    default:
        return end;
    }
    return uint32_t(std::min<uint64_t>(data + skip, end));
}

void TFile3DS::BuildTree(int32_t chunk, int depth) {
    if (depth > limits::Max3DSDepth)
        Fail(Chunks[size_t(chunk)].Position,
             "chunks nested deeper than " + std::to_string(limits::Max3DSDepth) + " levels");
    const uint32_t end = ChunkEnd(chunk);
    uint32_t pos = SkipOwnData(chunk);
    while (pos < end) {
        uint8_t header[HeaderSize];
        std::string damage;
        uint16_t id = 0;
        uint32_t length = 0;
        if (uint64_t(pos) + HeaderSize > end || !Source->ReadAt(pos, header, HeaderSize)) {
            damage = "chunk header cut off at " + std::to_string(end);
        } else {
            id = Le16(header);
            length = Le32(header + 2);
            if (length < HeaderSize)
                damage = "chunk " + Hex(id) + " is " + std::to_string(length) + " bytes long, shorter than its header";
            else if (uint64_t(pos) + length > end)
                damage = "chunk " + Hex(id) + " of " + std::to_string(length) + " bytes reaches past " +
                         (uint64_t(pos) + length > Source->Size() ? "the end of the file" : "its parent's end") +
                         " at " + std::to_string(end);
        }
        if (!damage.empty()) {
            Warn(pos, damage + "; the rest of chunk " + Hex(Chunks[size_t(chunk)].Id) + " is skipped");
            return;
        }
        const int32_t child = NewChunk(chunk, pos);
        Chunks[size_t(child)].Id = id;
        Chunks[size_t(child)].Length = length;
        if (id == id3ds::ExtraData)
            WalkExtraData(child, depth + 1);
        else
            BuildTree(child, depth + 1);
        pos += length;
    }
}

// Extra data: only 0x8002 to 0x800F belong inside; another identifier ends
// the walk, and a chunk reaching past the section is stepped over.
void TFile3DS::WalkExtraData(int32_t chunk, int depth) {
    if (depth > limits::Max3DSDepth)
        Fail(Chunks[size_t(chunk)].Position,
             "chunks nested deeper than " + std::to_string(limits::Max3DSDepth) + " levels");
    const uint32_t end = ChunkEnd(chunk);
    uint32_t pos = SkipOwnData(chunk);
    while (pos < end) {
        TChunk3DS probe;
        probe.Position = pos;
        uint8_t header[HeaderSize];
        if (uint64_t(pos) + HeaderSize > end || !Source->ReadAt(pos, header, HeaderSize)) return;
        probe.Id = Le16(header);
        probe.Length = Le32(header + 2);
        if (probe.Id < 0x8002 || probe.Id > 0x800F) return;
        if (probe.Length < HeaderSize || uint64_t(pos) + probe.Length > end) {
            pos += HeaderSize;
            continue;
        }
        const int32_t child = NewChunk(chunk, pos);
        Chunks[size_t(child)].Id = probe.Id;
        Chunks[size_t(child)].Length = probe.Length;
        WalkExtraData(child, depth + 1);
        pos += probe.Length;
    }
}

void TFile3DS::Open() {
    NewChunk(-1, 0);
    uint8_t header[HeaderSize];
    if (!Source->ReadAt(0, header, HeaderSize)) {
        // Under 6 bytes: no chunks, so no meshes; opening still succeeds.
        Warn(-1, Source->Size() == 0
                     ? std::string("the file is empty")
                     : "the file's " + std::to_string(Source->Size()) + " bytes are shorter than a chunk header");
        return;
    }
    Chunks[0].Id = Le16(header);
    Chunks[0].Length = Le32(header + 2);
    const uint16_t root = Chunks[0].Id;
    if (root != id3ds::MaterialLibrary && root != id3ds::Main && root != id3ds::Project) {
        Warn(0, "the first chunk " + Hex(root) + " is not the main chunk of a 3DS model; no meshes are read");
        return;
    }
    if (Chunks[0].Length < HeaderSize) {
        Warn(0, "main chunk is " + std::to_string(Chunks[0].Length) + " bytes long, shorter than its header");
        return;
    }
    if (Chunks[0].Length > Source->Size())
        Warn(0, "main chunk of " + std::to_string(Chunks[0].Length) + " bytes reaches past the end of the file at " +
                    std::to_string(Source->Size()) + "; the file is cut short");
    BuildTree(0, 0);
    std::vector<TNode> nodes;
    BuildNodeList(nodes);
    AddParentNames(nodes);
}

int32_t TFile3DS::Find(int32_t from, uint16_t id) const {
    if (from < 0) return -1;
    if (Chunks[size_t(from)].Id == id) return from;
    for (int32_t c = Chunks[size_t(from)].Child; c >= 0; c = Chunks[size_t(c)].Next) {
        const int32_t found = Find(c, id);
        if (found >= 0) return found;
    }
    return -1;
}

int32_t TFile3DS::FindNext(int32_t from, uint16_t id) const {
    for (int32_t c = from; c >= 0; c = Chunks[size_t(c)].Next)
        if (Chunks[size_t(c)].Id == id) return c;
    return -1;
}

std::string TFile3DS::ReadName(int32_t chunk) const {
    const TChunk3DS& c = Chunks[size_t(chunk)];
    if (c.Id == id3ds::ParentName) return c.Text;
    TChunkCursor cursor(*this, *Source, c, ChunkEnd(chunk));
    if (c.Id == 0xB00A && cursor.Left() >= 2) cursor.U16("value");
    return cursor.String();
}

void TFile3DS::BuildNodeList(std::vector<TNode>& nodes) {
    const int32_t keyFramer = Find(0, id3ds::KeyFramer);
    if (keyFramer < 0) return;
    bool renumber = false;
    for (int32_t c = Chunks[size_t(keyFramer)].Child; c >= 0; c = Chunks[size_t(c)].Next) {
        const uint16_t id = Chunks[size_t(c)].Id;
        if (id < id3ds::NodeObject || id > id3ds::NodeSpot) continue;
        TNode node;
        const int32_t header = Find(c, id3ds::NodeHeader);
        if (header >= 0) {
            const int32_t number = Find(c, id3ds::NodeNumber);
            if (number >= 0) {
                TChunkCursor cursor(*this, *Source, Chunks[size_t(number)], ChunkEnd(number));
                node.Number = int16_t(cursor.U16("node number"));
            } else {
                node.Number = -1;
            }
            node.Id = id;
            TChunkCursor cursor(*this, *Source, Chunks[size_t(header)], ChunkEnd(header));
            node.ObjectName = cursor.String();
            cursor.U16("node flags");
            cursor.U16("node flags");
            node.Parent = int16_t(cursor.U16("parent node number"));
            if (id == id3ds::NodeObject) {
                const int32_t instance = Find(c, id3ds::InstanceName);
                if (instance >= 0) node.InstanceName = ReadName(instance);
            }
            if (node.Number == -1) renumber = true;
        }
        nodes.push_back(std::move(node));
    }
    if (renumber)
        for (size_t i = 0; i < nodes.size(); ++i) nodes[i].Number = int16_t(i);
}

void TFile3DS::AddParentNames(const std::vector<TNode>& nodes) {
    const int32_t keyFramer = Find(0, id3ds::KeyFramer);
    if (keyFramer < 0) return;
    // The first node with each number (node numbers are 16-bit), so a file
    // with many nodes costs one pass, not one per pair.
    std::vector<int32_t> firstWithNumber(65536, -1);
    for (size_t i = nodes.size(); i-- > 0;) firstWithNumber[uint16_t(nodes[i].Number)] = int32_t(i);
    auto lookUp = [&](int16_t number) -> const TNode* {
        const int32_t i = firstWithNumber[uint16_t(number)];
        return i < 0 ? nullptr : &nodes[size_t(i)];
    };
    const uint16_t order[] = {id3ds::NodeTarget, id3ds::NodeObject,      id3ds::NodeCamera,
                              id3ds::NodeLight,  id3ds::NodeLightTarget, id3ds::NodeSpot};
    for (const uint16_t id : order) {
        for (int32_t c = Find(keyFramer, id); c >= 0; c = FindNext(Chunks[size_t(c)].Next, id)) {
            const int32_t header = Find(c, id3ds::NodeHeader);
            const int32_t numberChunk = Find(c, id3ds::NodeNumber);
            if (header < 0 || numberChunk < 0) continue;
            TChunkCursor cursor(*this, *Source, Chunks[size_t(numberChunk)], ChunkEnd(numberChunk));
            const TNode* node = lookUp(int16_t(cursor.U16("node number")));
            if (!node || node->Parent == -1) continue;
            const TNode* parent = lookUp(node->Parent);
            if (!parent) continue;
            std::string fullName = parent->ObjectName;
            if (!parent->InstanceName.empty()) fullName += "." + parent->InstanceName;
            if (fullName.empty()) continue;
            if (FindNext(Chunks[size_t(header)].Child, id3ds::ParentName) >= 0) continue;
            const int32_t made = NewChunk(header, 0);
            Chunks[size_t(made)].Id = id3ds::ParentName;
            Chunks[size_t(made)].Length = uint32_t(HeaderSize + fullName.size() + 1);
            Chunks[size_t(made)].Text = std::move(fullName);
        }
    }
}

const std::vector<TFile3DS::TNamedObject>& TFile3DS::NamedObjects() {
    if (!NamedListStale) return NamedList;
    NamedList.clear();
    const int32_t editor = Find(0, id3ds::Editor);
    if (editor >= 0)
        for (int32_t c = Find(editor, id3ds::NamedObject); c >= 0;
             c = FindNext(Chunks[size_t(c)].Next, id3ds::NamedObject))
            NamedList.push_back(TNamedObject{ReadName(c), c});
    NamedListStale = false;
    return NamedList;
}

bool TFile3DS::IsModelDatabase() const { return Chunks[0].Id == id3ds::Main || Chunks[0].Id == id3ds::Project; }

namespace {

template <typename T, size_t Width>
void ReadArray(TChunkCursor& cursor, uint16_t& count, std::vector<T>& out, const char* what) {
    count = cursor.U16(what);
    cursor.NeedArray(count, sizeof(T), what);
    out.resize(count);
    cursor.Read(out.data(), uint64_t(count) * sizeof(T), what);
    FixByteOrder<Width>(out.data(), out.size() * sizeof(T));
}

static_assert(sizeof(TPoint3DS) == 12 && sizeof(TTexVert3DS) == 8 && sizeof(TFace3DS) == 8,
              "3DS records are read straight from the file and must be packed");

} // namespace

std::unique_ptr<TMesh3DS> TFile3DS::ExtractMesh(int32_t namedObject) {
    const TChunk3DS& object = Chunks[size_t(namedObject)];
    const int32_t triMesh = FindNext(object.Child, id3ds::TriMesh);
    if (triMesh < 0) Fail(object.Position, Err3DSWrongObject);

    auto mesh = std::make_unique<TMesh3DS>();
    mesh->Name = ReadName(namedObject);
    for (int32_t c = Chunks[size_t(triMesh)].Child; c >= 0; c = Chunks[size_t(c)].Next) {
        const TChunk3DS& chunk = Chunks[size_t(c)];
        TChunkCursor cursor(*this, *Source, chunk, ChunkEnd(c));
        switch (chunk.Id) {
        case id3ds::VertexList:
            ReadArray<TPoint3DS, 4>(cursor, mesh->VertexCount, mesh->Vertices, "vertex list");
            break;
        case id3ds::VertexFlags:
            ReadArray<uint16_t, 2>(cursor, mesh->VertexFlagCount, mesh->VertexFlags, "vertex flags");
            break;
        case id3ds::MappingCoords:
            ReadArray<TTexVert3DS, 4>(cursor, mesh->TexVertCount, mesh->TexVerts, "mapping coordinates");
            break;
        case id3ds::LocalMatrix:
            cursor.Floats(mesh->LocalMatrix, 12, "local matrix");
            break;
        case id3ds::MeshColor:
            mesh->MeshColor = cursor.U8("mesh colour");
            break;
        case id3ds::MapInfo:
            mesh->MapType = cursor.U16("map type");
            mesh->TileU = cursor.F32("map tiling");
            mesh->TileV = cursor.F32("map tiling");
            mesh->IconPosition.X = cursor.F32("icon position");
            mesh->IconPosition.Y = cursor.F32("icon position");
            mesh->IconPosition.Z = cursor.F32("icon position");
            mesh->IconScaling = cursor.F32("icon scaling");
            cursor.Floats(mesh->MapMatrix, 12, "map matrix");
            mesh->PlaneIconWidth = cursor.F32("icon size");
            mesh->PlaneIconHeight = cursor.F32("icon size");
            mesh->CylIconHeight = cursor.F32("icon size");
            mesh->UseMapInfo = true;
            break;
        case id3ds::ProcedureName:
            mesh->ProcName = cursor.String();
            break;
        case id3ds::ProcedureData: {
            const uint64_t size = cursor.Left();
            cursor.NeedArray(size, 1, "procedure data");
            if (int64_t(size) > limits::Max3DSCount)
                cursor.Fail("procedure data of " + std::to_string(size) + " bytes is over the limit of " +
                            std::to_string(limits::Max3DSCount));
            mesh->ProcData.resize(size_t(size));
            cursor.Read(mesh->ProcData.data(), size, "procedure data");
            mesh->ProcSize = uint32_t(size);
            break;
        }
        case id3ds::FaceList: {
            ReadArray<TFace3DS, 2>(cursor, mesh->FaceCount, mesh->Faces, "face list");
            mesh->Materials.clear();
            for (int32_t m = Find(c, id3ds::FaceMaterial); m >= 0;
                 m = FindNext(Chunks[size_t(m)].Next, id3ds::FaceMaterial)) {
                TChunkCursor group(*this, *Source, Chunks[size_t(m)], ChunkEnd(m));
                TObjMat3DS material;
                material.Name = group.String();
                ReadArray<uint16_t, 2>(group, material.FaceCount, material.Faces, "material group");
                mesh->Materials.push_back(std::move(material));
            }
            mesh->MaterialCount = uint16_t(std::min<size_t>(mesh->Materials.size(), 0xFFFF));
            mesh->Materials.resize(mesh->MaterialCount);
            const int32_t smoothing = FindNext(chunk.Child, id3ds::Smoothing);
            if (smoothing >= 0) {
                TChunkCursor masks(*this, *Source, Chunks[size_t(smoothing)], ChunkEnd(smoothing));
                const uint64_t count = masks.Left() / 4;
                if (int64_t(count) > limits::Max3DSCount)
                    masks.Fail(std::to_string(count) + " smoothing groups are over the limit of " +
                               std::to_string(limits::Max3DSCount));
                mesh->SmoothGroups.resize(size_t(count));
                masks.Read(mesh->SmoothGroups.data(), count * 4, "smoothing groups");
                FixByteOrder<4>(mesh->SmoothGroups.data(), size_t(count) * 4);
            }
            const int32_t boxMap = FindNext(chunk.Child, id3ds::BoxMap);
            if (boxMap >= 0) {
                TChunkCursor names(*this, *Source, Chunks[size_t(boxMap)], ChunkEnd(boxMap));
                for (std::string& name : mesh->BoxMap) name = names.String();
                mesh->UseBoxMap = true;
            }
            break;
        }
        default:
            break;
        }
    }
    mesh->Hidden = FindNext(object.Child, id3ds::ObjHidden) >= 0;
    mesh->LofterVisible = FindNext(object.Child, id3ds::ObjLofterVisible) >= 0;
    mesh->Matte = FindNext(object.Child, id3ds::ObjMatte) >= 0;
    mesh->ShadowCasting = FindNext(object.Child, id3ds::ObjShadowCasting) >= 0;
    mesh->FastDisplay = FindNext(object.Child, id3ds::ObjFast) >= 0;
    mesh->ShadowReceiving = FindNext(object.Child, id3ds::ObjShadowReceiving) >= 0;
    mesh->Frozen = FindNext(object.Child, id3ds::ObjFrozen) >= 0;
    mesh->UseProc = FindNext(object.Child, id3ds::ObjProcedure) >= 0;
    return mesh;
}

int32_t TObjectList::MeshTotal() {
    if (!Counted) {
        MeshObjects.clear();
        for (const auto& object : File.NamedObjects())
            if (File.Find(object.Chunk, id3ds::TriMesh) >= 0) MeshObjects.push_back(object.Chunk);
        Cache.clear();
        Cache.resize(MeshObjects.size());
        Counted = true;
    }
    return int32_t(Cache.size());
}

const TMesh3DS* TObjectList::MeshAt(int32_t index) {
    const int32_t total = MeshTotal();
    if (total == 0) return nullptr;
    if (index < 0 || index >= total) {
        char text[64];
        std::snprintf(text, sizeof text, "List index out of bounds (%d)", int(index));
        throw E3DSError(File.FileName(), -1, text);
    }
    auto& slot = Cache[size_t(index)];
    if (!slot) {
        if (!File.IsModelDatabase()) File.Fail(0, Err3DSWrongDatabase);
        slot = File.ExtractMesh(MeshObjects[size_t(index)]);
    }
    return slot.get();
}

std::string LeftOutFacesText(const std::string& fileName, const TMesh3DS& mesh) {
    const uint32_t vertices = uint32_t(std::min<size_t>(mesh.VertexCount, mesh.Vertices.size()));
    const size_t faces = std::min<size_t>(mesh.FaceCount, mesh.Faces.size());
    size_t left = 0;
    for (size_t j = 0; j < faces; ++j) {
        const TFace3DS& f = mesh.Faces[j];
        if (std::max({f.V1, f.V2, f.V3}) >= vertices) ++left;
    }
    if (left == 0) return "";
    return "The model file " + fileName + ", mesh \"" + mesh.Name + "\": " + std::to_string(left) +
           (left == 1 ? " face uses" : " faces use") + " vertices past its " + std::to_string(vertices) +
           " vertices and " + (left == 1 ? "is" : "are") + " left out";
}
