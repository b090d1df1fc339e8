#include "assets/writer3ds.h"

#include <bit>
#include <stdexcept>

size_t T3DSWriter::Begin(uint16_t id) {
    const size_t at = Data.size();
    U16(id);
    U32(0);
    Open.push_back(at);
    return at;
}

void T3DSWriter::End() {
    if (Open.empty()) throw std::logic_error("3DS writer: End without Begin");
    const size_t at = Open.back();
    Open.pop_back();
    SetLength(at, uint32_t(Data.size() - at));
}

void T3DSWriter::Chunk(uint16_t id, const std::vector<uint8_t>& data) {
    Begin(id);
    Raw(data.data(), data.size());
    End();
}

void T3DSWriter::U8(uint8_t v) { Data.push_back(v); }

void T3DSWriter::U16(uint16_t v) {
    Data.push_back(uint8_t(v));
    Data.push_back(uint8_t(v >> 8));
}

void T3DSWriter::U32(uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) Data.push_back(uint8_t(v >> shift));
}

void T3DSWriter::F32(float v) { U32(std::bit_cast<uint32_t>(v)); }

void T3DSWriter::String(const std::string& text) {
    Raw(text.data(), text.size());
    U8(0);
}

void T3DSWriter::Raw(const void* data, size_t count) {
    const auto* p = static_cast<const uint8_t*>(data);
    Data.insert(Data.end(), p, p + count);
}

void T3DSWriter::SetLength(size_t offset, uint32_t length) {
    for (int i = 0; i < 4; ++i) Data.at(offset + 2 + size_t(i)) = uint8_t(length >> (8 * i));
}

std::vector<uint8_t> T3DSWriter::Take() {
    if (!Open.empty()) throw std::logic_error("3DS writer: chunk left open");
    return std::move(Data);
}

namespace {

void Point(T3DSWriter& w, const TPoint3DS& p) {
    w.F32(p.X);
    w.F32(p.Y);
    w.F32(p.Z);
}

void Floats(T3DSWriter& w, const float* values, int count) {
    for (int i = 0; i < count; ++i) w.F32(values[i]);
}

bool AnyNonZero(const float* values, int count) {
    for (int i = 0; i < count; ++i)
        if (values[i] != 0) return true;
    return false;
}

void Flag(T3DSWriter& w, bool on, uint16_t id) {
    if (on) w.Chunk(id);
}

} // namespace

void Write3DSMesh(T3DSWriter& w, const TMesh3DS& mesh) {
    w.Begin(id3ds::NamedObject);
    w.String(mesh.Name);
    w.Begin(id3ds::TriMesh);
    if (!mesh.Vertices.empty()) {
        w.Begin(id3ds::VertexList);
        w.U16(uint16_t(mesh.Vertices.size()));
        for (const TPoint3DS& p : mesh.Vertices) Point(w, p);
        w.End();
    }
    if (!mesh.VertexFlags.empty()) {
        w.Begin(id3ds::VertexFlags);
        w.U16(uint16_t(mesh.VertexFlags.size()));
        for (const uint16_t f : mesh.VertexFlags) w.U16(f);
        w.End();
    }
    if (!mesh.TexVerts.empty()) {
        w.Begin(id3ds::MappingCoords);
        w.U16(uint16_t(mesh.TexVerts.size()));
        for (const TTexVert3DS& t : mesh.TexVerts) {
            w.F32(t.U);
            w.F32(t.V);
        }
        w.End();
    }
    if (AnyNonZero(mesh.LocalMatrix, 12)) {
        w.Begin(id3ds::LocalMatrix);
        Floats(w, mesh.LocalMatrix, 12);
        w.End();
    }
    if (mesh.MeshColor != 0) {
        w.Begin(id3ds::MeshColor);
        w.U8(mesh.MeshColor);
        w.End();
    }
    if (mesh.UseMapInfo) {
        w.Begin(id3ds::MapInfo);
        w.U16(mesh.MapType);
        w.F32(mesh.TileU);
        w.F32(mesh.TileV);
        Point(w, mesh.IconPosition);
        w.F32(mesh.IconScaling);
        Floats(w, mesh.MapMatrix, 12);
        w.F32(mesh.PlaneIconWidth);
        w.F32(mesh.PlaneIconHeight);
        w.F32(mesh.CylIconHeight);
        w.End();
    }
    if (!mesh.ProcName.empty()) {
        w.Begin(id3ds::ProcedureName);
        w.String(mesh.ProcName);
        w.End();
    }
    if (!mesh.ProcData.empty()) w.Chunk(id3ds::ProcedureData, mesh.ProcData);
    if (!mesh.Faces.empty()) {
        w.Begin(id3ds::FaceList);
        w.U16(uint16_t(mesh.Faces.size()));
        for (const TFace3DS& f : mesh.Faces) {
            w.U16(f.V1);
            w.U16(f.V2);
            w.U16(f.V3);
            w.U16(f.Flags);
        }
        for (const TObjMat3DS& m : mesh.Materials) {
            w.Begin(id3ds::FaceMaterial);
            w.String(m.Name);
            w.U16(uint16_t(m.Faces.size()));
            for (const uint16_t f : m.Faces) w.U16(f);
            w.End();
        }
        if (!mesh.SmoothGroups.empty()) {
            w.Begin(id3ds::Smoothing);
            for (const uint32_t s : mesh.SmoothGroups) w.U32(s);
            w.End();
        }
        if (mesh.UseBoxMap) {
            w.Begin(id3ds::BoxMap);
            for (const std::string& name : mesh.BoxMap) w.String(name);
            w.End();
        }
        w.End();
    }
    w.End(); // triangle mesh
    Flag(w, mesh.Hidden, id3ds::ObjHidden);
    Flag(w, mesh.LofterVisible, id3ds::ObjLofterVisible);
    Flag(w, mesh.ShadowCasting, id3ds::ObjShadowCasting);
    Flag(w, mesh.Matte, id3ds::ObjMatte);
    Flag(w, mesh.FastDisplay, id3ds::ObjFast);
    Flag(w, mesh.UseProc, id3ds::ObjProcedure);
    Flag(w, mesh.Frozen, id3ds::ObjFrozen);
    Flag(w, mesh.ShadowReceiving, id3ds::ObjShadowReceiving);
    w.End();
}

void Write3DSCamera(T3DSWriter& w, const std::string& name, const TPoint3DS& position, const TPoint3DS& target,
                    float bank, float lens) {
    w.Begin(id3ds::NamedObject);
    w.String(name);
    w.Begin(id3ds::Camera);
    Point(w, position);
    Point(w, target);
    w.F32(bank);
    w.F32(lens);
    w.End();
    w.End();
}

void Write3DSLight(T3DSWriter& w, const std::string& name, const TPoint3DS& position) {
    w.Begin(id3ds::NamedObject);
    w.String(name);
    w.Begin(id3ds::Light);
    Point(w, position);
    w.Begin(0x0010); // colour as three floats
    Point(w, TPoint3DS{1, 1, 1});
    w.End();
    w.End();
    w.End();
}

void Write3DSKeyFrameNode(T3DSWriter& w, const T3DSKeyFrameNode& node) {
    w.Begin(node.Id);
    if (node.WithNumber) {
        w.Begin(id3ds::NodeNumber);
        w.U16(uint16_t(node.Number));
        w.End();
    }
    if (node.WithHeader) {
        w.Begin(id3ds::NodeHeader);
        w.String(node.ObjectName);
        w.U16(0);
        w.U16(0);
        w.U16(uint16_t(node.Parent));
        w.End();
    }
    if (!node.InstanceName.empty()) {
        w.Begin(id3ds::InstanceName);
        w.String(node.InstanceName);
        w.End();
    }
    w.End();
}

std::vector<uint8_t> Write3DSModel(const std::vector<TMesh3DS>& meshes, const std::vector<T3DSKeyFrameNode>& nodes) {
    T3DSWriter w;
    w.Begin(id3ds::Main);
    w.Begin(0x0002); // file version
    w.U32(3);
    w.End();
    w.Begin(id3ds::Editor);
    w.Begin(0x3D3E); // mesh version
    w.U32(3);
    w.End();
    for (const TMesh3DS& mesh : meshes) Write3DSMesh(w, mesh);
    w.End();
    if (!nodes.empty()) {
        w.Begin(id3ds::KeyFramer);
        for (const T3DSKeyFrameNode& node : nodes) Write3DSKeyFrameNode(w, node);
        w.End();
    }
    w.End();
    return w.Take();
}
