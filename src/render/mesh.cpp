#include "render/mesh.h"

#include <algorithm>
#include <bit>

#include "render/loader3ds.h"
#include "base/report.h"
#include "render/gl.h"

namespace {

using Ext = long double;

bool FaceInRange(const TFace& f, uint32_t vertexCount) {
    return f.I0 < vertexCount && f.I1 < vertexCount && f.I2 < vertexCount;
}

// Bits of a coordinate for exact comparison: -0.0 is folded onto 0.0 so the
// two compare equal, as they do as floats.
uint32_t CoordKey(float v) {
    const uint32_t bits = std::bit_cast<uint32_t>(v);
    return bits == 0x80000000u ? 0u : bits;
}

bool HasNaN(const TVec3& p) { return p.X != p.X || p.Y != p.Y || p.Z != p.Z; }

} // namespace

int32_t TMeshData::AddVertex(const TVec3& position, const TTexCoord& mapping) {
    Vertices.push_back(position);
    TexCoords.push_back(mapping);
    return VertexCount++;
}

void TMeshData::Clear() {
    Vertices.clear();
    Faces.clear();
    TexCoords.clear();
    VertexCount = 0;
    FaceCount = 0;
}

TTriangle TMeshData::GetFaceTriangle(int32_t face) const {
    const TFace& f = Faces[size_t(face)];
    return TTriangle{Vertices[f.I0], Vertices[f.I1], Vertices[f.I2]};
}

void TMeshData::SetSize(int32_t vertexCount, int32_t faceCount) {
    vertexCount = std::max(vertexCount, 0);
    faceCount = std::max(faceCount, 0);
    Vertices.resize(size_t(vertexCount));
    TexCoords.resize(size_t(vertexCount));
    Faces.resize(size_t(faceCount));
    VertexCount = vertexCount;
    FaceCount = faceCount;
}

void TMeshData::DrawImmediate() {
    glBegin(GL_TRIANGLES);
    for (int32_t i = 0; i < FaceCount; ++i) {
        const TFace& f = Faces[size_t(i)];
        for (const uint32_t v : {f.I0, f.I1, f.I2}) {
            glTexCoord2f(TexCoords[v].U, TexCoords[v].V);
            glVertex3f(Vertices[v].X, Vertices[v].Y, Vertices[v].Z);
        }
    }
    glEnd();
}

void TMeshData::Draw() {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, Vertices.data());
    glTexCoordPointer(2, GL_FLOAT, 0, TexCoords.data());
    glDrawElements(GL_TRIANGLES, 3 * FaceCount, GL_UNSIGNED_INT, Faces.data());
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

// Same result as comparing every ordered pair of vertices and moving the
// corners of the second onto the first, in ascending order of the first:
// coincidence is an equivalence on non-NaN positions, so each group ends on
// its highest index. Found with an open-addressing table in one pass.
void TMeshData::Weld() {
    const uint32_t count = uint32_t(std::clamp<int64_t>(VertexCount, 0, int64_t(Vertices.size())));
    if (count < 2) return;
    size_t capacity = 16;
    while (capacity < size_t(count) * 2) capacity *= 2;
    const size_t mask = capacity - 1;
    constexpr uint32_t Empty = UINT32_MAX;
    // Slot -> highest vertex index seen with that position so far.
    std::vector<uint32_t> slots(capacity, Empty);
    // Vertex -> its slot (Empty for NaN positions, which match nothing).
    std::vector<uint32_t> slotOf(count, Empty);
    for (uint32_t v = 0; v < count; ++v) {
        const TVec3& p = Vertices[v];
        if (HasNaN(p)) continue;
        const uint32_t x = CoordKey(p.X), y = CoordKey(p.Y), z = CoordKey(p.Z);
        uint64_t h = (uint64_t(x) * 0x9E3779B97F4A7C15ull) ^ (uint64_t(y) * 0xC2B2AE3D27D4EB4Full) ^
                     (uint64_t(z) * 0x165667B19E3779F9ull);
        h ^= h >> 29;
        size_t s = size_t(h) & mask;
        while (slots[s] != Empty) {
            const TVec3& q = Vertices[slots[s]];
            if (q.X == p.X && q.Y == p.Y && q.Z == p.Z) break;
            s = (s + 1) & mask;
        }
        slots[s] = v;
        slotOf[v] = uint32_t(s);
    }
    auto target = [&](uint32_t v) { return v < count && slotOf[v] != Empty ? slots[slotOf[v]] : v; };
    for (int32_t i = 0; i < FaceCount && size_t(i) < Faces.size(); ++i) {
        TFace& f = Faces[size_t(i)];
        f.I0 = target(f.I0);
        f.I1 = target(f.I1);
        f.I2 = target(f.I2);
    }
}

int32_t TMeshDataN::AddVertex(const TVec3& position, const TTexCoord& mapping) {
    Normals.push_back(TVec3{});
    return TMeshData::AddVertex(position, mapping);
}

void TMeshDataN::SetSize(int32_t vertexCount, int32_t faceCount) {
    TMeshData::SetSize(vertexCount, faceCount);
    Normals.resize(size_t(VertexCount));
    CalcNormalsPerVertex();
}

void TMeshDataN::DrawImmediate() {
    for (int32_t i = 0; i < FaceCount; ++i) {
        const TFace& f = Faces[size_t(i)];
        glBegin(GL_TRIANGLES);
        for (const uint32_t v : {f.I0, f.I1, f.I2}) {
            glTexCoord2f(TexCoords[v].U, TexCoords[v].V);
            glNormal3f(Normals[v].X, Normals[v].Y, Normals[v].Z);
            glVertex3f(Vertices[v].X, Vertices[v].Y, Vertices[v].Z);
        }
        glEnd();
    }
}

void TMeshDataN::Draw() {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, Vertices.data());
    glNormalPointer(GL_FLOAT, 0, Normals.data());
    glTexCoordPointer(2, GL_FLOAT, 0, TexCoords.data());
    glDrawElements(GL_TRIANGLES, 3 * FaceCount, GL_UNSIGNED_INT, Faces.data());
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

void TMeshDataN::Weld() {
    TMeshData::Weld();
    CalcNormals();
}

// Faces reaching past the vertices are skipped here; the loader never makes
// them, but a hand-built mesh must not write outside Normals.
void TMeshDataN::CalcNormals() {
    const uint32_t count = uint32_t(std::min<size_t>(size_t(std::max(VertexCount, 0)), Normals.size()));
    std::fill(Normals.begin(), Normals.begin() + count, TVec3{});
    for (int32_t i = 0; i < FaceCount; ++i) {
        const TFace& f = Faces[size_t(i)];
        if (!FaceInRange(f, count)) continue;
        const TVec3 n = TriangleNormal(GetFaceTriangle(i));
        Normals[f.I0] = VecAdd(Normals[f.I0], n);
        Normals[f.I1] = VecAdd(Normals[f.I1], n);
        Normals[f.I2] = VecAdd(Normals[f.I2], n);
    }
    for (uint32_t v = 0; v < count; ++v) VecNormalize(Normals[v]);
}

TVec3 TMeshDataN::CalcVertexNormal(int32_t vertex) const {
    TVec3 sum{};
    const uint32_t v = uint32_t(vertex);
    for (int32_t i = 0; i < FaceCount; ++i) {
        const TFace& f = Faces[size_t(i)];
        if (f.I0 != v && f.I1 != v && f.I2 != v) continue;
        if (!FaceInRange(f, uint32_t(Vertices.size()))) continue;
        const TVec3 n = TriangleNormal(GetFaceTriangle(i));
        if (f.I0 == v) sum = VecAdd(sum, n);
        if (f.I1 == v) sum = VecAdd(sum, n);
        if (f.I2 == v) sum = VecAdd(sum, n);
    }
    VecNormalize(sum);
    return sum;
}

void TMeshDataN::CalcNormalsPerVertex() {
    const int32_t count = int32_t(std::min<size_t>(size_t(std::max(VertexCount, 0)), Normals.size()));
    for (int32_t v = 0; v < count; ++v) Normals[size_t(v)] = CalcVertexNormal(v);
}

TMeshDataNM::TMeshDataNM() : MeshMaterial(std::make_unique<Material>()) {}

void TMeshDataNM::DrawImmediate() {
    MeshMaterial->Apply();
    TMeshDataN::DrawImmediate();
}

void TMeshDataNM::CopyFrom(const TMeshDataN& source) {
    const size_t vertices = size_t(std::max(source.VertexCount, 0));
    const size_t faces = size_t(std::max(source.FaceCount, 0));
    auto firstOf = [](const auto& array, size_t n) {
        return std::remove_cvref_t<decltype(array)>(array.begin(), array.begin() + std::min(n, array.size()));
    };
    Vertices = firstOf(source.Vertices, vertices);
    Normals = firstOf(source.Normals, vertices);
    TexCoords = firstOf(source.TexCoords, vertices);
    Faces = firstOf(source.Faces, faces);
    VertexCount = source.VertexCount;
    FaceCount = source.FaceCount;
}

void RotateMesh(TMeshData& mesh, const TVec3& angles) {
    const size_t count = std::min<size_t>(size_t(std::max(mesh.VertexCount, 0)), mesh.Vertices.size());
    const TPointRotation rotation(angles);
    for (size_t v = 0; v < count; ++v) rotation.Apply(mesh.Vertices[v]);
}

void ScaleMesh(TMeshData& mesh, const TVec3& factors) {
    const size_t count = std::min<size_t>(size_t(std::max(mesh.VertexCount, 0)), mesh.Vertices.size());
    for (size_t v = 0; v < count; ++v) {
        TVec3& p = mesh.Vertices[v];
        p = TVec3{float(Ext(p.X) * factors.X), float(Ext(p.Y) * factors.Y), float(Ext(p.Z) * factors.Z)};
    }
}

void AdditiveBlend() {
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
}

TBGLBrush::TBGLBrush(const std::string& fileName) { Load(fileName); }

void TBGLBrush::Load(const std::string& fileName) {
    // The shared loader lives for this one model, also when loading fails.
    CreateShared3DSLoader();
    struct TFreeLoader {
        ~TFreeLoader() { FreeShared3DSLoader(); }
    } freeLoader;
    // The normals LoadModel computes would be replaced by Rotate's: they
    // depend only on the positions, so the first pass is left out.
    MakeMeshes(fileName, false);
    Rotate(MakeVec3(270, 0, 0));
}

void TBGLBrush::LoadModel(const std::string& fileName) { MakeMeshes(fileName, true); }

void TBGLBrush::MakeMeshes(const std::string& fileName, bool normals) {
    T3DSLoader& loader = *Shared3DSLoader;
    loader.OpenModel(fileName);
    Warnings = loader.File->Warnings();
    for (const std::string& warning : Warnings) ReportWarning(warning);
    std::vector<std::unique_ptr<TMeshDataNM>> meshes(size_t(loader.MeshCount));
    for (int32_t i = 0; i < loader.MeshCount; ++i) {
        meshes[size_t(i)] = loader.MakeMesh(i);
        if (normals) meshes[size_t(i)]->CalcNormals();
    }
    loader.CloseModel();
    Meshes = std::move(meshes);
    MeshCount = int32_t(Meshes.size());
}

void TBGLBrush::Rotate(const TVec3& angles) {
    for (auto& mesh : Meshes) {
        RotateMesh(*mesh, angles);
        mesh->CalcNormals();
    }
}

void TBGLBrush::Scale(const TVec3& factors) {
    for (auto& mesh : Meshes) ScaleMesh(*mesh, factors);
}
