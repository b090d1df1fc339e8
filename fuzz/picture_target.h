// The body shared by the picture decoder targets: the input is a picture
// file, decoded to pixels in memory (nothing is uploaded). A decoded picture
// must be as large as it says, and a refused one must be empty and explained.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "assets/picture.h"
#include "fuzz_support.h"

namespace fuzzsupport {

using TDecoder = bool (*)(const uint8_t*, size_t, const std::string&, TPicture&, TPictureError&);

inline void DecodePicture(TDecoder decode, const char* name, const uint8_t* data, size_t size) {
    TPicture picture;
    TPictureError error;
    if (decode(data, size, name, picture, error)) {
        if (!PictureSizeAllowed(picture.Width, picture.Height)) std::abort();
        if (picture.Pixels.size() != size_t(picture.Width) * size_t(picture.Height) * size_t(picture.Channels))
            std::abort();
    } else {
        if (!picture.Pixels.empty() || error.Text.empty()) std::abort();
    }
}

} // namespace fuzzsupport
