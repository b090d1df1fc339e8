#include "effects/effect_files.h"

#include "assets/asset_check.h"
#include "assets/file3ds.h"
#include "assets/loader3ds.h"
#include "assets/textures.h"
#include "base/files.h"
#include "base/report.h"
#include "render/material.h"

namespace {

std::string TooFewMeshes(const std::string& name, int32_t meshIndex, int32_t meshCount) {
    return "The model file " + name + " holds " + std::to_string(meshCount) + " mesh" +
           (meshCount == 1 ? "" : "es") + "; mesh " + std::to_string(meshIndex) + " is needed";
}

// The decoder's reason, with the file and the folder it was read from.
std::string PictureFailure(const std::string& name, const TPictureError& error) {
    const std::string folder = LookupFolder();
    if (error.Text.empty()) return "The picture " + name + " cannot be decoded (in " + folder + ")";
    if (error.Text.find(name) == std::string::npos)
        return error.Text + " (" + name + " in " + folder + ")";
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

} // namespace

bool DecodeEffectPicture(const std::string& name, TPicture& picture) {
    if (!CheckAssetFile(name, "picture")) return false;
    TPictureError error;
    if (DecodePictureFile(name, picture, error)) return true;
    ShowScriptError(PictureFailure(name, error));
    return false;
}

bool DecodeEffectMaskedPicture(const std::string& colorName, const std::string& alphaName,
                               TPicture& picture) {
    const bool haveColor = CheckAssetFile(colorName, "picture");
    const bool haveAlpha = CheckAssetFile(alphaName, "alpha picture");
    if (!haveColor || !haveAlpha) return false;
    // Each picture is decoded on its own so that a failure names its file.
    TPicture color;
    TPicture alpha;
    TPictureError error;
    bool decoded = DecodeJPEGFile(colorName, color, error);
    if (!decoded) ShowScriptError(PictureFailure(colorName, error));
    error = TPictureError{};
    if (!DecodeJPEGFile(alphaName, alpha, error)) {
        ShowScriptError(PictureFailure(alphaName, error));
        decoded = false;
    }
    return decoded && CombineJPEGMask(color, alpha, picture);
}

bool CheckModelMesh(const std::string& name, int32_t meshIndex) {
    if (!CheckAssetFile(name, "model")) return false;
    try {
        T3DSLoader loader;
        loader.OpenModel(name);
        for (int32_t i = 0; i < loader.MeshCount; ++i) loader.MakeMesh(i);
        if (meshIndex < loader.MeshCount) return true;
        ShowScriptError(TooFewMeshes(name, meshIndex, loader.MeshCount));
    } catch (const E3DSError& error) {
        ShowScriptError(ModelFailure(name, error.what()));
    }
    return false;
}

int32_t LoadEffectTexture(const std::string& name) {
    const int32_t known = FindTexture(name);
    if (known != NoTexture) return known;
    TPicture picture;
    if (!DecodeEffectPicture(name, picture)) return NoTexture;
    const int32_t texture = Upload(name, picture);
    if (texture != NoTexture) RegisterTexture(name, texture);
    return texture;
}

int32_t LoadEffectMaskedTexture(const std::string& colorName, const std::string& alphaName) {
    TPicture picture;
    if (!DecodeEffectMaskedPicture(colorName, alphaName, picture)) return NoTexture;
    return Upload(colorName, picture);
}

std::unique_ptr<TBGLBrush> LoadEffectModel(const std::string& name, int32_t meshIndex) {
    if (!CheckAssetFile(name, "model")) return nullptr;
    try {
        auto brush = std::make_unique<TBGLBrush>(name);
        if (meshIndex < brush->MeshCount) return brush;
        ShowScriptError(TooFewMeshes(name, meshIndex, brush->MeshCount));
    } catch (const E3DSError& error) {
        ShowScriptError(ModelFailure(name, error.what()));
    }
    return nullptr;
}
