#include "effects/effect_files.h"

#include <vector>

#include "assets/asset_check.h"
#include "assets/file3ds.h"
#include "render/loader3ds.h"
#include "render/textures.h"
#include "base/files.h"
#include "base/rebuild_cache.h"
#include "base/report.h"
#include "render/material.h"

namespace {

// Models as loaded, before any effect changed them, kept for rebuilds
// (only once dev mode rebuilds: a normal run keeps no copies). Files[0] is
// the model's absolute file name.
struct TKeptModel : TKeptEntry {
    std::unique_ptr<TBGLBrush> Model;
};
TRebuildCache<TKeptModel> keptModels;

std::unique_ptr<TBGLBrush> CopyModel(const TBGLBrush& model) {
    auto copy = std::make_unique<TBGLBrush>();
    for (const auto& mesh : model.Meshes) {
        auto meshCopy = std::make_unique<TMeshDataNM>();
        meshCopy->CopyFrom(*mesh);
        meshCopy->Name = mesh->Name;
        if (mesh->MeshMaterial) *meshCopy->MeshMaterial = *mesh->MeshMaterial;
        copy->Meshes.push_back(std::move(meshCopy));
    }
    copy->MeshCount = model.MeshCount;
    copy->Warnings = model.Warnings;
    return copy;
}

std::string TooFewMeshes(const std::string& name, int32_t meshIndex, int32_t meshCount) {
    return "The model file " + name + " holds " + std::to_string(meshCount) + " mesh" + (meshCount == 1 ? "" : "es") +
           "; mesh " + std::to_string(meshIndex) + " is needed";
}

// The decoder's reason, with the file and the folder it was read from.
std::string PictureFailure(const std::string& name, const TPictureError& error) {
    const std::string folder = LookupFolder();
    if (error.Text.empty()) return "The picture " + name + " cannot be decoded (in " + folder + ")";
    if (error.Text.find(name) == std::string::npos) return error.Text + " (" + name + " in " + folder + ")";
    return error.Text + " (in " + folder + ")";
}

std::string ModelFailure(const std::string& name, const std::string& reason) {
    const std::string folder = LookupFolder();
    if (reason.find(name) == std::string::npos) return reason + " (" + name + " in " + folder + ")";
    return reason + " (in " + folder + ")";
}

// Uploads a decoded picture; a picture the driver refuses is reported as a
// script error too, so that it counts for the exit code.
int32_t Upload(const std::string& name, const TPicture& picture) {
    int32_t texture = NoTexture;
    if (TexCreatePicture(name, "Texture", picture, texture)) return texture;
    ShowScriptError("The picture " + name + " could not be made into a texture");
    return NoTexture;
}

// CheckAssetFile with its report placed at the line naming the file.
bool CheckNamedFile(const std::string& name, const char* what) {
    const TFileReportScope about(name);
    return CheckAssetFile(name, what);
}

} // namespace

bool DecodeEffectPicture(const std::string& name, TPicture& picture) {
    const TFileReportScope about(name);
    if (!CheckAssetFile(name, "picture")) return false;
    TPictureError error;
    if (DecodePictureFile(name, picture, error)) return true;
    ShowScriptError(PictureFailure(name, error));
    return false;
}

bool DecodeEffectMaskedPicture(const std::string& colorName, const std::string& alphaName, TPicture& picture) {
    const bool haveColor = CheckNamedFile(colorName, "picture");
    const bool haveAlpha = CheckNamedFile(alphaName, "alpha picture");
    if (!haveColor || !haveAlpha) return false;
    // Each picture is decoded on its own so that a failure names its file.
    TPicture color;
    TPicture alpha;
    TPictureError error;
    bool decoded = DecodeJPEGFile(colorName, color, error);
    if (!decoded) {
        const TFileReportScope about(colorName);
        ShowScriptError(PictureFailure(colorName, error));
    }
    error = TPictureError{};
    if (!DecodeJPEGFile(alphaName, alpha, error)) {
        const TFileReportScope about(alphaName);
        ShowScriptError(PictureFailure(alphaName, error));
        decoded = false;
    }
    return decoded && CombineJPEGMask(color, alpha, picture);
}

bool CheckModelMesh(const std::string& name, int32_t meshIndex) {
    const TFileReportScope about(name);
    if (!CheckAssetFile(name, "model")) return false;
    try {
        T3DSLoader loader;
        loader.OpenModel(name);
        // What the run warns about (a file cut short) the pre-flight tells too.
        if (loader.File)
            for (const std::string& warning : loader.File->Warnings()) ReportWarning(warning);
        for (int32_t i = 0; i < loader.MeshCount; ++i) loader.MakeMesh(i);
        if (meshIndex < loader.MeshCount) return true;
        ShowScriptError(TooFewMeshes(name, meshIndex, loader.MeshCount));
    } catch (const E3DSError& error) {
        ShowScriptError(ModelFailure(name, error.what()));
    }
    return false;
}

int32_t LoadEffectTexture(const std::string& name) {
    const TFileReportScope about(name);
    const int32_t known = FindTexture(name);
    if (known != NoTexture) return known;
    TPicture picture;
    if (!DecodeEffectPicture(name, picture)) return NoTexture;
    const int32_t texture = Upload(name, picture);
    if (texture != NoTexture) RegisterTexture(name, texture);
    return texture;
}

int32_t LoadEffectMaskedTexture(const std::string& colorName, const std::string& alphaName) {
    const int32_t known = FindMaskedTexture(colorName, alphaName);
    if (known != NoTexture) return known;
    TPicture picture;
    if (!DecodeEffectMaskedPicture(colorName, alphaName, picture)) return NoTexture;
    const TFileReportScope about(colorName);
    const int32_t texture = Upload(colorName, picture);
    if (texture == NoTexture) return NoTexture;
    RegisterMaskedTexture(colorName, alphaName, texture);
    return texture;
}

std::unique_ptr<TBGLBrush> LoadEffectModel(const std::string& name, int32_t meshIndex) {
    const TFileReportScope about(name);
    if (!CheckAssetFile(name, "model")) return nullptr;
    try {
        std::unique_ptr<TBGLBrush> brush;
        if (RebuildsKept()) {
            const std::string path = AbsoluteFileName(name);
            TKeptModel* kept = keptModels.Find([&path](const TKeptModel& entry) { return entry.Files[0] == path; });
            if (!kept) {
                TKeptModel loaded;
                loaded.Files = {path};
                loaded.Model = std::make_unique<TBGLBrush>(name);
                kept = &keptModels.Add(std::move(loaded));
            }
            brush = CopyModel(*kept->Model);
        } else {
            brush = std::make_unique<TBGLBrush>(name);
        }
        if (meshIndex < brush->MeshCount) return brush;
        ShowScriptError(TooFewMeshes(name, meshIndex, brush->MeshCount));
    } catch (const E3DSError& error) {
        ShowScriptError(ModelFailure(name, error.what()));
    }
    return nullptr;
}
