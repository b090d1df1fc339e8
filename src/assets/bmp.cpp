// Windows bitmaps: uncompressed 24-bit pictures with any of the usual info
// header sizes (12-byte core, 40-byte, V4 108-byte, V5 124-byte), bottom-up
// or top-down (negative height), rows padded to 4 bytes. Pixel data starts
// at the file header's offset. Other depths and compressions are refused.
#include <cstring>

#include "assets/picture.h"

namespace {

const char* const Caption = "BMP Unit";

constexpr size_t FileHeaderSize = 14;

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool Fail(TPictureError& error, TPicture& picture, const std::string& text) {
    picture = TPicture{};
    error = TPictureError{Caption, text, false};
    return false;
}

struct TInfo {
    int64_t Width = 0;
    int64_t Height = 0; // negative: rows stored top to bottom
    uint32_t BitCount = 0;
    uint32_t Compression = 0;
};

} // namespace

bool DecodeBMP(const uint8_t* data, size_t size, const std::string& name, TPicture& picture, TPictureError& error) {
    const std::string headerShort = "Error reading bitmap header - " + name;
    if (size < FileHeaderSize + 4) return Fail(error, picture, headerShort);
    // The "BM" signature is not looked at: the header checks below refuse
    // what cannot be decoded.
    const uint32_t pixelOffset = U32(data + 10);
    const uint32_t infoSize = U32(data + FileHeaderSize);
    if (infoSize != 12 && (infoSize < 40 || infoSize > 1024))
        return Fail(error, picture,
                    "Couldn't load \"" + name + "\". Unsupported BMP header size " + std::to_string(infoSize) + ".");
    if (size < FileHeaderSize + infoSize) return Fail(error, picture, headerShort);

    const uint8_t* info = data + FileHeaderSize;
    TInfo bmp;
    if (infoSize == 12) {
        bmp.Width = U16(info + 4);
        bmp.Height = U16(info + 6);
        bmp.BitCount = U16(info + 10);
    } else {
        bmp.Width = int32_t(U32(info + 4));
        bmp.Height = int32_t(U32(info + 8));
        bmp.BitCount = U16(info + 14);
        bmp.Compression = U32(info + 16);
    }
    if (bmp.BitCount != 24 || bmp.Compression != 0)
        return Fail(error, picture,
                    "Couldn't load \"" + name + "\". Only uncompressed 24 bit BMP files supported (this one has " +
                        std::to_string(bmp.BitCount) + " bits, compression " + std::to_string(bmp.Compression) + ").");

    const bool topDown = bmp.Height < 0;
    const int64_t height = topDown ? -bmp.Height : bmp.Height;
    if (!PictureSizeAllowed(bmp.Width, height))
        return Fail(error, picture, PictureSizeMessage(name, bmp.Width, height));

    // Pixel data begins at the file header's offset. An offset pointing into
    // the headers is taken as "right after the headers".
    const size_t headersEnd = FileHeaderSize + infoSize;
    const size_t start = pixelOffset < headersEnd ? headersEnd : size_t(pixelOffset);
    if (start > size) return Fail(error, picture, "Error reading palette");

    const size_t width = size_t(bmp.Width);
    const size_t rows = size_t(height);
    const size_t rowBytes = width * 3;
    const size_t stride = (rowBytes + 3) & ~size_t(3);
    // The last row's padding may be missing from the file.
    if (size - start < stride * (rows - 1) + rowBytes) return Fail(error, picture, "Error reading bitmap data");

    picture.Width = int(width);
    picture.Height = int(rows);
    picture.Channels = 3;
    picture.Pixels.resize(rowBytes * rows);
    for (size_t row = 0; row < rows; ++row) {
        const uint8_t* in = data + start + stride * row;
        const size_t y = topDown ? rows - 1 - row : row;
        uint8_t* out = picture.Pixels.data() + rowBytes * y;
        for (size_t x = 0; x < width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    error = TPictureError{};
    return true;
}

bool DecodeBMPFile(const std::string& name, TPicture& picture, TPictureError& error) {
    std::vector<uint8_t> bytes;
    if (!ReadPictureFile(name, bytes)) return Fail(error, picture, "Error opening " + name);
    return DecodeBMP(bytes.data(), bytes.size(), name, picture, error);
}
