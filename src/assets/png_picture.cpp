// PNG files as textures: the PNG decoder (assets/png.h) behind the messages
// the other picture readers give, so the registry, the pre-flight and
// --inspect treat a PNG like any other picture.
#include <filesystem>

#include "assets/picture.h"
#include "assets/png.h"

bool DecodePNGPicture(const uint8_t* data, size_t size, const std::string& name, TPicture& picture,
                      TPictureError& error) {
    std::string text;
    if (DecodePNG(data, size, picture, text)) {
        error = TPictureError{};
        return true;
    }
    picture = TPicture{};
    error = TPictureError{"PNG File Error", "Couldn't load \"" + name + "\". " + text + ".", false};
    return false;
}

bool DecodePNGFile(const std::string& name, TPicture& picture, TPictureError& error) {
    std::error_code ec;
    picture = TPicture{};
    if (!std::filesystem::exists(name, ec)) {
        error = TPictureError{"PNG Texture", "File not found  - " + name, false};
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!ReadPictureFile(name, bytes)) {
        error = TPictureError{"", "I/O error opening \"" + name + "\" for reading", true};
        return false;
    }
    return DecodePNGPicture(bytes.data(), bytes.size(), name, picture, error);
}
