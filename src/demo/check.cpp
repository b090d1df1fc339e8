#include "demo/check.h"

#include <algorithm>
#include <filesystem>

#include "assets/loader3ds.h"
#include "assets/picture.h"
#include "demo/report.h"
#include "media/sound_decode.h"
#include "render/mesh.h"

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// A file in the same folder whose name equals `name` but for letter case.
std::string OtherCase(const fs::path& path) {
    std::error_code ec;
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string wanted = Lower(path.filename().string());
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (Lower(entry.path().filename().string()) == wanted)
            return (path.has_parent_path() ? (path.parent_path() / entry.path().filename())
                                           : entry.path().filename())
                .string();
    }
    return {};
}

} // namespace

bool CheckAssetFile(const std::string& name, const std::string& what) {
    std::error_code ec;
    if (name.empty()) {
        ShowScriptError("No " + what + " file named");
        return false;
    }
    if (fs::is_regular_file(name, ec)) return true;
    const std::string other = OtherCase(fs::path(name));
    if (!other.empty())
        ShowScriptError("The " + what + " file " + name + " is missing, but " + other +
                        " exists: names are case-sensitive on Linux");
    else
        ShowScriptError("The " + what + " file " + name + " is missing (looked in " +
                        fs::current_path(ec).string() + ")");
    return false;
}

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

bool CheckSoundFile(const std::string& name) {
    if (!CheckAssetFile(name, "music")) return false;
    TDecodedSound sound;
    std::string error;
    if (DecodeSoundFile(name, sound, error)) return true;
    ShowScriptError("The music file " + name + " cannot be decoded: " + error);
    return false;
}
