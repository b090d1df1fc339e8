#include "assets/asset_check.h"

#include "assets/loader3ds.h"
#include "assets/picture.h"
#include "base/files.h"
#include "base/report.h"
#include "render/mesh.h"

bool CheckPictureFile(const std::string& name) {
    if (!CheckAssetFile(name, "picture")) return false;
    TPicture picture;
    TPictureError error;
    if (DecodePictureFile(name, picture, error)) return true;
    if (error.Text.empty())
        ShowScriptError("The picture " + name + " cannot be decoded");
    else if (error.Text.find(name) == std::string::npos)
        ShowScriptError(error.Text + " (" + name + ")");
    else
        ShowScriptError(error.Text);
    return false;
}

bool CheckModelFile(const std::string& name) {
    if (!CheckAssetFile(name, "model")) return false;
    try {
        T3DSLoader loader;
        loader.OpenModel(name);
        for (int32_t i = 0; i < loader.MeshCount; ++i) loader.MakeMesh(i);
        return true;
    } catch (const E3DSError& error) {
        ShowScriptError(error.what());
    }
    return false;
}
