#include "effects/effect_files.h"

#include "assets/file3ds.h"
#include "assets/loader3ds.h"
#include "assets/asset_check.h"
#include "base/files.h"
#include "base/report.h"
#include "render/material.h"

namespace {

std::string TooFewMeshes(const std::string& name, int32_t meshIndex, int32_t meshCount) {
    return "The model file " + name + " holds " + std::to_string(meshCount) + " mesh" +
           (meshCount == 1 ? "" : "es") + "; mesh " + std::to_string(meshIndex) + " is needed";
}

} // namespace

bool CheckModelMesh(const std::string& name, int32_t meshIndex) {
    if (!CheckModelFile(name)) return false;
    try {
        T3DSLoader loader;
        loader.OpenModel(name);
        if (meshIndex < loader.MeshCount) return true;
        ShowScriptError(TooFewMeshes(name, meshIndex, loader.MeshCount));
    } catch (const E3DSError& error) {
        ShowScriptError(error.what());
    }
    return false;
}

int32_t LoadEffectTexture(const std::string& name) {
    if (FindTexture(name) == NoTexture && !CheckAssetFile(name, "picture")) return NoTexture;
    return LoadTexture(name);
}

std::unique_ptr<TBGLBrush> LoadEffectModel(const std::string& name, int32_t meshIndex) {
    if (!CheckAssetFile(name, "model")) return nullptr;
    try {
        auto brush = std::make_unique<TBGLBrush>(name);
        if (meshIndex < brush->MeshCount) return brush;
        ShowScriptError(TooFewMeshes(name, meshIndex, brush->MeshCount));
    } catch (const E3DSError& error) {
        ShowScriptError(error.what());
    }
    return nullptr;
}
