// The BMP decoder, through the shared picture target body.
#include "picture_target.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::QuietReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::DecodePicture(DecodeBMP, "fuzz.bmp", data, size);
    return 0;
}
