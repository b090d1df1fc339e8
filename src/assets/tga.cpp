// Truevision pictures: colour-mapped (types 1 and 9) at 8 or 16 bits an
// index into entries of 15 to 32 bits, true colour (2 and 10) at 15, 16, 24
// or 32 bits, and grey (3 and 11) at 8 bits, or 16 with alpha; the second
// type of each pair is run-length encoded. The ID field is skipped by its length and
// the origin bits of the image descriptor are honoured, so every corner
// origin comes out upright and unmirrored.
#include <algorithm>
#include <filesystem>

#include "assets/picture.h"

namespace {

constexpr size_t HeaderSize = 18;
constexpr uint8_t RightOrigin = 0x10;
constexpr uint8_t TopOrigin = 0x20;

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

bool Fail(TPictureError& error, TPicture& picture, const std::string& caption, const std::string& text,
          bool raised = false) {
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
        if (pos >= size) return false;
        const uint8_t header = data[pos++];
        const size_t count = size_t(header & 0x7F) + 1;
        const size_t bytes = std::min(count * bpp, total - written);
        if (header & 0x80) {
            if (size - pos < bpp) return false;
            for (size_t i = 0; i < bytes; ++i) out[written + i] = data[pos + i % bpp];
            pos += bpp;
        } else {
            if (size - pos < count * bpp) return false;
            std::copy(data + pos, data + pos + bytes, out.begin() + ptrdiff_t(written));
            pos += count * bpp;
        }
        written += bytes;
    }
    return true;
}

enum class TTGAKind { Unknown, Mapped, TrueColour, Grey };

// Types 1, 2, 3 and their run-length forms 9, 10, 11.
TTGAKind KindOf(uint8_t imageType) {
    switch (imageType & ~8) {
    case 1:
        return TTGAKind::Mapped;
    case 2:
        return TTGAKind::TrueColour;
    case 3:
        return TTGAKind::Grey;
    default:
        return TTGAKind::Unknown;
    }
}

bool IsRunLength(uint8_t imageType) { return imageType & 8; }

const char* KindName(TTGAKind kind) {
    return kind == TTGAKind::Mapped ? "colour-mapped" : kind == TTGAKind::Grey ? "grey" : "true-colour";
}

bool DepthAllowed(TTGAKind kind, uint8_t depth) {
    switch (kind) {
    case TTGAKind::Mapped:
        return depth == 8 || depth == 16;
    case TTGAKind::Grey:
        return depth == 8 || depth == 16;
    case TTGAKind::TrueColour:
        return depth == 15 || depth == 16 || depth == 24 || depth == 32;
    case TTGAKind::Unknown:
        break;
    }
    return false;
}

// What the reader takes, for the messages that refuse a file.
constexpr const char* Readable =
    " (TGA pictures are read as types 1, 2, 3, 9, 10 and 11: colour-mapped at 8 or 16 bits, true "
    "colour at 15, 16, 24 or 32 bits, grey at 8 or 16 bits, with or without run-length coding).";

// One true-colour value (B, G, R [, A] little-endian; 15 and 16 bits pack
// 5 bits a component, red highest) as R, G, B, A. `alpha` tells whether the
// value carries an alpha: 32 bits, or 16 bits whose attribute bit is alpha.
void ColourOf(const uint8_t* in, int depth, bool attributeAlpha, uint8_t* rgba, bool& alpha) {
    if (depth == 15 || depth == 16) {
        const unsigned v = U16(in);
        const auto five = [](unsigned c) { return uint8_t(c << 3 | c >> 2); };
        rgba[0] = five(v >> 10 & 31);
        rgba[1] = five(v >> 5 & 31);
        rgba[2] = five(v & 31);
        alpha = depth == 16 && attributeAlpha;
        rgba[3] = alpha && !(v & 0x8000) ? 0 : 255;
        return;
    }
    rgba[0] = in[2];
    rgba[1] = in[1];
    rgba[2] = in[0];
    alpha = depth == 32;
    rgba[3] = alpha ? in[3] : 255;
}

} // namespace

bool DecodeTGA(const uint8_t* data, size_t size, const std::string& name, TPicture& picture, TPictureError& error) {
    if (size < HeaderSize)
        return Fail(error, picture, "", "I/O error reading " + Quoted(name) + ": shorter than the 18-byte TGA header",
                    true);
    const size_t idLength = data[0];
    const uint8_t colorMapType = data[1];
    const uint8_t imageType = data[2];
    const size_t mapFirst = U16(data + 3);
    const size_t mapLength = U16(data + 5);
    const uint8_t mapDepth = data[7];
    const int64_t width = U16(data + 12);
    const int64_t height = U16(data + 14);
    const uint8_t depth = data[16];
    const uint8_t descriptor = data[17];

    const std::string prefix = "Couldn't load " + Quoted(name) + ". ";
    const TTGAKind kind = KindOf(imageType);
    if (kind == TTGAKind::Unknown)
        return Fail(error, picture, "TGA File Error",
                    prefix + "TGA image type " + std::to_string(imageType) + " is not read" + Readable);
    if (colorMapType > 1 || (kind == TTGAKind::Mapped && colorMapType != 1))
        return Fail(error, picture, "TGA File Error",
                    prefix + "The colour map type " + std::to_string(colorMapType) + " does not fit TGA image type " +
                        std::to_string(imageType) + Readable);
    if (!DepthAllowed(kind, depth))
        return Fail(error, picture, "TGA File Error",
                    prefix + "A " + KindName(kind) + " TGA picture of " + std::to_string(depth) +
                        " bits a pixel is not read" + Readable);
    const size_t mapBytes = colorMapType == 1 ? mapLength * ((mapDepth + 7) / 8) : 0;
    if (kind == TTGAKind::Mapped && (mapDepth != 15 && mapDepth != 16 && mapDepth != 24 && mapDepth != 32))
        return Fail(error, picture, "TGA File Error",
                    prefix + "Colour map entries of " + std::to_string(mapDepth) + " bits are not read" + Readable);
    if (kind == TTGAKind::Mapped && mapLength == 0)
        return Fail(error, picture, "TGA File Error", prefix + "The colour map is empty.");
    if (!PictureSizeAllowed(width, height))
        return Fail(error, picture, "TGA File Error", PictureSizeMessage(name, width, height));

    const size_t bpp = (depth + 7) / 8;
    const size_t pixels = size_t(width) * size_t(height);
    const size_t mapAt = HeaderSize + idLength;
    const size_t start = mapAt + mapBytes;
    if (start > size) return ReadFailure(error, picture, name);
    const uint8_t* body = data + start;
    const size_t bodySize = size - start;

    // The colour map as R, G, B, A entries; a 16-bit entry's top bit is its
    // alpha when the descriptor counts one alpha bit.
    const bool attributeAlpha = (descriptor & 0x0F) == 1;
    std::vector<uint8_t> map;
    bool mapAlpha = false;
    if (kind == TTGAKind::Mapped) {
        const size_t entryBytes = (mapDepth + 7) / 8;
        map.resize(mapLength * 4);
        for (size_t i = 0; i < mapLength; ++i) {
            const uint8_t* in = data + mapAt + i * entryBytes;
            bool alpha = false;
            ColourOf(in, mapDepth, attributeAlpha, &map[i * 4], alpha);
            mapAlpha = mapAlpha || alpha;
        }
    }

    // File-order pixels, bpp bytes each, rows and columns as the origin says.
    std::vector<uint8_t> raw;
    if (!IsRunLength(imageType)) {
        if (bodySize / bpp < pixels) return ReadFailure(error, picture, name);
        raw.assign(body, body + pixels * bpp);
    } else {
        // Each packet of 1 + bpp bytes yields at most 128 pixels; data that
        // cannot possibly cover the picture is refused before allocating.
        if (bodySize / (1 + bpp) < (pixels + 127) / 128) return ReadFailure(error, picture, name);
        raw.resize(pixels * bpp);
        if (!Unpack(body, bodySize, bpp, raw)) return ReadFailure(error, picture, name);
    }

    size_t channels = 3;
    if (kind == TTGAKind::Mapped)
        channels = mapAlpha ? 4 : 3;
    else if (kind == TTGAKind::Grey)
        channels = depth == 16 ? 4 : 3;
    else
        channels = depth == 32 || (depth == 16 && attributeAlpha) ? 4 : 3;

    const size_t w = size_t(width);
    const size_t h = size_t(height);
    const bool top = descriptor & TopOrigin;
    const bool right = descriptor & RightOrigin;
    picture.Width = int(w);
    picture.Height = int(h);
    picture.Channels = int(channels);
    picture.Pixels.resize(pixels * channels);
    for (size_t y = 0; y < h; ++y) {
        const size_t fileRow = top ? h - 1 - y : y;
        for (size_t x = 0; x < w; ++x) {
            const size_t fileColumn = right ? w - 1 - x : x;
            const uint8_t* in = &raw[(fileRow * w + fileColumn) * bpp];
            uint8_t rgba[4] = {0, 0, 0, 255};
            if (kind == TTGAKind::Mapped) {
                const size_t index = depth == 8 ? in[0] : U16(in);
                // An index outside the map is a damaged file: black, opaque.
                if (index >= mapFirst && index - mapFirst < mapLength)
                    std::copy_n(&map[(index - mapFirst) * 4], 4, rgba);
            } else if (kind == TTGAKind::Grey) {
                rgba[0] = rgba[1] = rgba[2] = in[0];
                if (depth == 16) rgba[3] = in[1];
            } else {
                bool alpha = false;
                ColourOf(in, depth, attributeAlpha, rgba, alpha);
            }
            std::copy_n(rgba, channels, &picture.Pixels[(y * w + x) * channels]);
        }
    }
    error = TPictureError{};
    return true;
}

bool DecodeTGAFile(const std::string& name, TPicture& picture, TPictureError& error) {
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) return Fail(error, picture, "TGA Texture", "File not found  - " + name);
    // Opened for reading only: a read-only picture loads like any other.
    std::vector<uint8_t> bytes;
    if (!ReadPictureFile(name, bytes))
        return Fail(error, picture, "", "I/O error opening " + Quoted(name) + " for reading", true);
    return DecodeTGA(bytes.data(), bytes.size(), name, picture, error);
}
