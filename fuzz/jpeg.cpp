// The JPEG decoder: the input is a picture file, decoded to pixels in memory
// (nothing is uploaded). A decoded picture must be as large as it says, and
// a refused one must be empty and explained.
#include <cstdint>
#include <cstdlib>

#include "assets/picture.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::QuietReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TPicture picture;
    TPictureError error;
    if (DecodeJPEG(data, size, "fuzz.jpeg", picture, error)) {
        if (!PictureSizeAllowed(picture.Width, picture.Height)) std::abort();
        if (picture.Pixels.size() != size_t(picture.Width) * size_t(picture.Height) * size_t(picture.Channels))
            std::abort();
    } else {
        if (!picture.Pixels.empty() || error.Text.empty()) std::abort();
    }
    return 0;
}
