// Triangle meshes as the renderer draws them: positions, per-vertex mapping
// coordinates and normals, and faces as index triples, in tightly packed
// arrays handed to OpenGL as client-side vertex arrays (12, 8 and 12 bytes
// per element, 32-bit indices).
//
// Invariant kept by every operation here and by the 3DS loader: Vertices,
// TexCoords and (TMeshDataN) Normals hold VertexCount entries, Faces holds
// FaceCount, and every face index lies in 0 .. VertexCount - 1.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "render/material.h"
#include "render/vecmath.h"

using TVertexArray = std::vector<TVec3>;

struct TFace {
    uint32_t I0 = 0, I1 = 0, I2 = 0;
};

struct TTexCoord {
    float U = 0, V = 0;
};

static_assert(sizeof(TVec3) == 12 && sizeof(TFace) == 12 && sizeof(TTexCoord) == 8,
              "mesh arrays are handed to OpenGL with stride 0");

// Positions, mapping coordinates and faces.
class TMeshData {
public:
    TMeshData() = default;
    virtual ~TMeshData() = default;
    TMeshData(const TMeshData&) = delete;
    TMeshData& operator=(const TMeshData&) = delete;

    // Appends a vertex; returns its index (the old VertexCount).
    virtual int32_t AddVertex(const TVec3& position, const TTexCoord& mapping);
    // One glBegin(GL_TRIANGLES) around all faces; texture coordinate and
    // vertex per corner.
    virtual void DrawImmediate();
    // Sets the array lengths and counts; kept entries stay, new ones are zero.
    virtual void SetSize(int32_t vertexCount, int32_t faceCount);
    // Vertex-array draw of FaceCount faces; sets no surface state.
    virtual void Draw();
    // Every corner of a group of vertices at exactly the same position (as
    // 32-bit floats: 0.0 equals -0.0, NaN equals nothing) ends on the
    // group's highest index. Vertices are not compacted.
    virtual void Weld();

    void Clear();
    TTriangle GetFaceTriangle(int32_t face) const;

    TVertexArray Vertices;
    std::vector<TFace> Faces;
    std::vector<TTexCoord> TexCoords;
    int32_t VertexCount = 0;
    int32_t FaceCount = 0;
    std::string Name;
};

// Adds one normal per vertex.
class TMeshDataN : public TMeshData {
public:
    int32_t AddVertex(const TVec3& position, const TTexCoord& mapping) override;
    // One glBegin/glEnd per face; texture coordinate, normal and vertex per corner.
    void DrawImmediate() override;
    // Also sizes Normals, then CalcNormalsPerVertex.
    void SetSize(int32_t vertexCount, int32_t faceCount) override;
    void Draw() override;
    // Welds, then CalcNormals, so normals are smooth across former seams.
    void Weld() override;

    // Smooth, area-weighted vertex normals in one pass over the faces.
    // A vertex used by no face (or only by degenerate ones) gets NaN.
    void CalcNormals();
    // The same normal for one vertex, from a pass over all faces.
    TVec3 CalcVertexNormal(int32_t vertex) const;
    // CalcVertexNormal for every vertex: vertices x faces.
    void CalcNormalsPerVertex();

    TVertexArray Normals;
};

// Adds a material, created with the mesh and owned by it.
class TMeshDataNM : public TMeshDataN {
public:
    TMeshDataNM();
    // Applies the material, then the TMeshDataN drawing.
    void DrawImmediate() override;
    // Independent copies of the first VertexCount vertices, normals and
    // mapping coordinates and the first FaceCount faces, and both counts;
    // Name and material are not copied.
    void CopyFrom(const TMeshDataN& source);

    std::unique_ptr<Material> MeshMaterial;
};

// RotatePoint (degrees, about X then Y then Z) on every position; normals
// are not touched.
void RotateMesh(TMeshData& mesh, const TVec3& angles);
// Every position multiplied component-wise; normals are not touched.
void ScaleMesh(TMeshData& mesh, const TVec3& factors);
// Enables GL_BLEND with blend function (GL_ONE, GL_ONE).
void AdditiveBlend();

// Every mesh of a 3DS model, turned from the file's z-up axes to y-up, with
// smooth normals. Loading errors arrive as E3DSError (assets/file3ds.h).
class TBGLBrush {
public:
    TBGLBrush() = default;
    explicit TBGLBrush(const std::string& fileName);
    virtual ~TBGLBrush() = default;

    // LoadModel, then Rotate by (270, 0, 0), through the shared 3DS loader.
    void Load(const std::string& fileName);
    // Makes every mesh of the file and computes its normals.
    void LoadModel(const std::string& fileName);
    // RotateMesh, then CalcNormals, on every mesh (degrees).
    void Rotate(const TVec3& angles);
    // ScaleMesh on every mesh; normals keep their directions.
    void Scale(const TVec3& factors);

    std::vector<std::unique_ptr<TMeshDataNM>> Meshes;
    int32_t MeshCount = 0;
    // Damage in the file that loading stepped over (a chunk cut short or
    // reaching past its parent), one message each; already reported as
    // warnings when LoadModel ran.
    std::vector<std::string> Warnings;

private:
    // LoadModel without the normals (Load computes them after the turn).
    void MakeMeshes(const std::string& fileName, bool normals);
};
