// Small picture files built byte by byte for the decoder and loader tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testpic {

using Bytes = std::vector<uint8_t>;

// Pixel of the 2-colour test pattern used by the builders: (x, y) with y
// counted from the bottom row, as R, G, B, A.
struct TRGBA {
    uint8_t R, G, B, A;
};
TRGBA Pattern(int x, int y);

// 24-bit BMP of Pattern with the given info header size (12, 40, 108, 124),
// `gap` bytes of junk between the headers and the pixel data, rows padded
// to 4 bytes, stored top-down when `topDown`.
Bytes MakeBMP(int width, int height, uint32_t infoSize = 40, bool topDown = false, size_t gap = 0);

// TGA of Pattern: type 2 or 10 (10 packs each row as one raw packet), 24 or
// 32 bits, an ID field of `idLength` bytes and the origin bits (0x10 right,
// 0x20 top) in the descriptor.
Bytes MakeTGA(int width, int height, int bits = 24, uint8_t type = 2, uint8_t origin = 0, uint8_t idLength = 0);
// Just the 18-byte header.
Bytes TGAHeader(uint8_t type, uint8_t colorMapType, int width, int height, int bits);

// Baseline JPEG (quality 100) of Pattern, or of grey Pattern(x, y).R levels.
Bytes MakeJPEG(int width, int height, bool grey = false);

// A fresh folder for this test program's files, and a file written in it.
std::filesystem::path Folder();
std::string WriteFile(const std::string& name, const Bytes& bytes);

} // namespace testpic
