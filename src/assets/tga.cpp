// Truevision pictures: types 2 (uncompressed) and 10 (run-length encoded)
// true colour at 24 or 32 bits. The ID field is skipped by its length and
// the origin bits of the image descriptor are honoured, so every corner
// origin comes out upright and unmirrored.
#include <filesystem>

#include "assets/picture.h"

namespace {

constexpr size_t HeaderSize = 18;
constexpr uint8_t RightOrigin = 0x10;
constexpr uint8_t TopOrigin = 0x20;

uint16_t U16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

bool Fail(TPictureError& error, TPicture& picture, const std::string& caption,
          const std::string& text, bool raised = false) {
    picture = TPicture{};
    error = TPictureError{caption, text, raised};
    return false;
}

bool ReadFailure(TPictureError& error, TPicture& picture, const std::string& name) {
    return Fail(error, picture, "TGA File Error", "Couldn't read file " + Quoted(name) + ".");
}

// Expands run-length packets into `out` (pixels x bpp bytes, file order).
// False when the data ends before every pixel is produced; packets that
// would run past the last pixel are cut there.
bool Unpack(const uint8_t* data, size_t size, size_t bpp, std::vector<uint8_t>& out) {
    const size_t total = out.size();
    size_t pos = 0;
    size_t written = 0;
    while (written < total) {
        if (pos >= size)
            return false;
        const uint8_t header = data[pos++];
        const size_t count = size_t(header & 0x7F) + 1;
        const size_t bytes = std::min(count * bpp, total - written);
        if (header & 0x80) {
            if (size - pos < bpp)
                return false;
            for (size_t i = 0; i < bytes; ++i)
                out[written + i] = data[pos + i % bpp];
            pos += bpp;
        } else {
            if (size - pos < count * bpp)
                return false;
            std::copy(data + pos, data + pos + bytes, out.begin() + ptrdiff_t(written));
            pos += count * bpp;
        }
        written += bytes;
    }
    return true;
}

} // namespace

bool DecodeTGA(const uint8_t* data, size_t size, const std::string& name, TPicture& picture,
               TPictureError& error) {
    if (size < HeaderSize)
        return Fail(error, picture, "",
                    "I/O error reading " + Quoted(name) + ": shorter than the 18-byte TGA header",
                    true);
    const size_t idLength = data[0];
    const uint8_t colorMapType = data[1];
    const uint8_t imageType = data[2];
    const int64_t width = U16(data + 12);
    const int64_t height = U16(data + 14);
    const uint8_t depth = data[16];
    const uint8_t descriptor = data[17];

    const std::string prefix = "Couldn't load " + Quoted(name) + ". ";
    if (imageType != 2 && imageType != 10)
        return Fail(error, picture, "TGA File Error", prefix + "Only 24 and 32bit TGA supported.");
    if (colorMapType != 0)
        return Fail(error, picture, "TGA File Error",
                    prefix + "Colormapped TGA files not supported.");
    if (depth != 24 && depth != 32)
        return Fail(error, picture, "TGA File Error",
                    prefix + "Only 24 and 32 bit TGA files supported.");
    if (!PictureSizeAllowed(width, height))
        return Fail(error, picture, "TGA File Error", PictureSizeMessage(name, width, height));

    const size_t bpp = depth / 8;
    const size_t pixels = size_t(width) * size_t(height);
    const size_t start = HeaderSize + idLength;
    if (start > size)
        return ReadFailure(error, picture, name);
    const uint8_t* body = data + start;
    const size_t bodySize = size - start;

    // File-order pixels: B, G, R (, A), rows and columns as the origin says.
    std::vector<uint8_t> raw;
    if (imageType == 2) {
        if (bodySize < pixels * bpp)
            return ReadFailure(error, picture, name);
        raw.assign(body, body + pixels * bpp);
    } else {
        // Each packet of 1 + bpp bytes yields at most 128 pixels; data that
        // cannot possibly cover the picture is refused before allocating.
        if (bodySize / (1 + bpp) < (pixels + 127) / 128)
            return ReadFailure(error, picture, name);
        raw.resize(pixels * bpp);
        if (!Unpack(body, bodySize, bpp, raw))
            return ReadFailure(error, picture, name);
    }

    const size_t w = size_t(width);
    const size_t h = size_t(height);
    const bool top = descriptor & TopOrigin;
    const bool right = descriptor & RightOrigin;
    picture.Width = int(w);
    picture.Height = int(h);
    picture.Channels = int(bpp);
    picture.Pixels.resize(pixels * bpp);
    for (size_t y = 0; y < h; ++y) {
        const size_t fileRow = top ? h - 1 - y : y;
        for (size_t x = 0; x < w; ++x) {
            const size_t fileColumn = right ? w - 1 - x : x;
            const uint8_t* in = &raw[(fileRow * w + fileColumn) * bpp];
            uint8_t* out = &picture.Pixels[(y * w + x) * bpp];
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            if (bpp == 4)
                out[3] = in[3];
        }
    }
    error = TPictureError{};
    return true;
}

bool DecodeTGAFile(const std::string& name, TPicture& picture, TPictureError& error) {
    std::error_code ec;
    if (!std::filesystem::exists(name, ec))
        return Fail(error, picture, "TGA Texture", "File not found  - " + name);
    // Opened for reading only: a read-only picture loads like any other.
    std::vector<uint8_t> bytes;
    if (!ReadPictureFile(name, bytes))
        return Fail(error, picture, "", "I/O error opening " + Quoted(name) + " for reading", true);
    return DecodeTGA(bytes.data(), bytes.size(), name, picture, error);
}
