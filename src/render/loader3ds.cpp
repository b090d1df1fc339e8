#include "render/loader3ds.h"

#include <algorithm>

#include "base/report.h"
#include "render/mesh.h"

std::unique_ptr<T3DSLoader> Shared3DSLoader;

void CreateShared3DSLoader() { Shared3DSLoader = std::make_unique<T3DSLoader>(); }

void FreeShared3DSLoader() { Shared3DSLoader.reset(); }

void T3DSLoader::OpenModel(const std::string& fileName) {
    CloseModel();
    File = std::make_unique<TFile3DS>(fileName);
    MeshCount = File->Objects().MeshTotal();
}

void T3DSLoader::CloseModel() { File.reset(); }

std::unique_ptr<TMeshDataNM> T3DSLoader::MakeMesh(int32_t index) {
    if (!File) throw E3DSError("", -1, "no 3DS file is open");
    const TMesh3DS* source = File->Objects().MeshAt(index);
    auto mesh = std::make_unique<TMeshDataNM>();
    if (!source) return mesh;

    const uint32_t vertices = uint32_t(std::min<size_t>(source->VertexCount, source->Vertices.size()));

    // Filled by appending, not zero-filled and then overwritten. Vertices
    // without a mapping coordinate get (0, 0); the normals are sized for the
    // brush's normal computation.
    mesh->Vertices.reserve(vertices);
    for (size_t i = 0; i < vertices; ++i) {
        const TPoint3DS& p = source->Vertices[i];
        mesh->Vertices.push_back(TVec3{p.X, p.Y, p.Z});
    }
    const size_t mapped = std::min<size_t>({vertices, source->TexVertCount, source->TexVerts.size()});
    mesh->TexCoords.reserve(vertices);
    for (size_t i = 0; i < mapped; ++i)
        mesh->TexCoords.push_back(TTexCoord{source->TexVerts[i].U, source->TexVerts[i].V});
    mesh->TexCoords.resize(vertices);
    mesh->Normals.resize(vertices);
    mesh->VertexCount = int32_t(vertices);
    // A face that uses a vertex the mesh does not have is left out; the rest
    // of the mesh draws as written.
    const size_t faces = std::min<size_t>(source->FaceCount, source->Faces.size());
    mesh->Faces.reserve(faces);
    for (size_t j = 0; j < faces; ++j) {
        const TFace3DS& f = source->Faces[j];
        if (std::max({f.V1, f.V2, f.V3}) < vertices) mesh->Faces.push_back(TFace{f.V1, f.V2, f.V3});
    }
    mesh->FaceCount = int32_t(mesh->Faces.size());
    if (mesh->Faces.size() < faces) ReportWarning(LeftOutFacesText(File->FileName(), *source));
    mesh->Name = source->Name;
    return mesh;
}
