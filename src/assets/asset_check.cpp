#include "assets/asset_check.h"

#include "assets/file3ds.h"
#include "assets/picture.h"
#include "base/files.h"
#include "base/report.h"

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
        // Every mesh parsed as the loader would, and its left-out faces
        // warned of; nothing is built for drawing.
        TFile3DS file(name);
        const int32_t meshes = file.Objects().MeshTotal();
        for (int32_t i = 0; i < meshes; ++i)
            if (const TMesh3DS* mesh = file.Objects().MeshAt(i))
                if (std::string text = LeftOutFacesText(file.FileName(), *mesh); !text.empty()) ReportWarning(text);
        return true;
    } catch (const E3DSError& error) {
        ShowScriptError(error.what());
    }
    return false;
}
