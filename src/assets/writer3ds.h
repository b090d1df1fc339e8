// Builds 3DS files chunk by chunk, in memory: the files of the reader's
// tests, fuzzing seeds and generated test data. Numbers are written
// little-endian; each chunk's length is filled in when it is ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "assets/file3ds.h"

class T3DSWriter {
public:
    // Opens a chunk and returns the offset of its header.
    size_t Begin(uint16_t id);
    // Closes the innermost open chunk, writing its length.
    void End();
    // A chunk of raw own data and no sub-chunks.
    void Chunk(uint16_t id, const std::vector<uint8_t>& data = {});

    void U8(uint8_t v);
    void U16(uint16_t v);
    void U32(uint32_t v);
    void F32(float v);
    // Zero-terminated.
    void String(const std::string& text);
    void Raw(const void* data, size_t count);

    size_t Size() const { return Data.size(); }
    // Overwrites the length field of the chunk whose header is at `offset`
    // (for files that lie about their lengths).
    void SetLength(size_t offset, uint32_t length);
    // The bytes written so far; every chunk must be ended.
    std::vector<uint8_t> Take();

private:
    std::vector<uint8_t> Data;
    std::vector<size_t> Open;
};

// A named object (0x4000) holding a triangle mesh with every part the
// record carries: vertices, vertex flags, mapping coordinates, local matrix,
// colour, map information, procedure, faces with their material groups,
// smoothing groups and box map, and the object flags. Parts with empty
// arrays (or start values) are left out; counts are the array lengths.
void Write3DSMesh(T3DSWriter& writer, const TMesh3DS& mesh);
// A named object holding a camera (0x4700).
void Write3DSCamera(T3DSWriter& writer, const std::string& name, const TPoint3DS& position, const TPoint3DS& target,
                    float bank = 0, float lens = 35);
// A named object holding an omni light (0x4600).
void Write3DSLight(T3DSWriter& writer, const std::string& name, const TPoint3DS& position);

// One key-frame node chunk (0xB002 object, 0xB003 camera, ...).
struct T3DSKeyFrameNode {
    uint16_t Id = id3ds::NodeObject;
    int16_t Number = 0;
    bool WithNumber = true; // write the 0xB030 chunk
    bool WithHeader = true; // write the 0xB010 chunk
    std::string ObjectName;
    int16_t Parent = -1;
    std::string InstanceName; // written as 0xB011 when not empty
};
void Write3DSKeyFrameNode(T3DSWriter& writer, const T3DSKeyFrameNode& node);

// A whole model file: main chunk, version, editor section with the meshes,
// and a key-frame section when nodes are given.
std::vector<uint8_t> Write3DSModel(const std::vector<TMesh3DS>& meshes,
                                   const std::vector<T3DSKeyFrameNode>& nodes = {});
