// The 3DS reader and model loader: the input is a 3DS file; every mesh is
// extracted, turned into mesh data, given normals and welded, as the effects
// load their models.
#include <cstdint>
#include <memory>
#include <vector>

#include "assets/file3ds.h"
#include "render/loader3ds.h"
#include "fuzz_support.h"
#include "render/mesh.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::QuietReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        T3DSLoader loader;
        loader.File = std::make_unique<TFile3DS>("fuzz.3ds", std::vector<uint8_t>(data, data + size));
        loader.MeshCount = loader.File->Objects().MeshTotal();
        for (int32_t i = 0; i < loader.MeshCount; ++i) {
            try {
                std::unique_ptr<TMeshDataNM> mesh = loader.MakeMesh(i);
                mesh->CalcNormals();
                mesh->Weld();
            } catch (const E3DSError&) {
                // One refused mesh; the others still load.
            }
        }
        // Out of range on purpose: must raise, not read.
        try {
            (void)loader.File->Objects().MeshAt(loader.MeshCount);
        } catch (const E3DSError&) {
        }
        (void)loader.File->NamedObjects();
    } catch (const E3DSError&) {
    }
    return 0;
}
