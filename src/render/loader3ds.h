// Turns the meshes of a 3DS file into mesh data: positions, one mapping
// coordinate per vertex and faces with 32-bit indices, in file order. No
// axis change, scaling or matrix is applied here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "assets/file3ds.h"

class TMeshDataNM;

class T3DSLoader {
public:
    // Opens the file (E3DSError on failure) and counts its meshes. A file
    // opened before is released first.
    void OpenModel(const std::string& fileName);
    // A new mesh for index 0 .. MeshCount - 1, owned by the caller. Mapping
    // coordinates the file lacks are (0, 0). Faces that use a vertex past
    // the mesh's vertex count are left out, with one warning for the mesh.
    std::unique_ptr<TMeshDataNM> MakeMesh(int32_t index);
    // Releases the open file; the meshes made from it stay valid.
    void CloseModel();

    std::unique_ptr<TFile3DS> File; // the file opened last; null once closed
    int32_t MeshCount = 0;
};

// The one loader the brush uses, present between Create and Free.
extern std::unique_ptr<T3DSLoader> Shared3DSLoader;
void CreateShared3DSLoader();
void FreeShared3DSLoader();
