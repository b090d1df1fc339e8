// PNG reading and writing for reference pictures, asset dumps and frame
// captures. Pictures keep the TPicture layout (bottom row first); files
// store the top row first, as PNG does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "assets/picture.h"

// Any PNG as 8-bit RGB, or RGBA when the file has alpha or transparency
// (palettes and grey are expanded, 16-bit samples narrowed). Sizes are
// checked against the picture limits before anything is allocated.
bool DecodePNG(const uint8_t* data, size_t size, TPicture& picture, std::string& error);
bool ReadPNG(const std::string& name, TPicture& picture, std::string& error);

// How hard the writer compresses. Small: libpng's default filters and zlib
// level, for pictures kept around. Fast: the Up filter on every row and
// deflate level 1 (libdeflate), for frame captures: several times faster,
// files about a third larger. Both are lossless.
enum class TPNGCompression { Small, Fast };

// 8-bit RGB (3 channels) or RGBA (4 channels). The bytes depend only on the
// picture and the compression: no time stamp or text chunk is written.
bool EncodePNG(const TPicture& picture, std::vector<uint8_t>& bytes, std::string& error,
               TPNGCompression compression = TPNGCompression::Small);
bool WritePNG(const std::string& name, const TPicture& picture, std::string& error,
              TPNGCompression compression = TPNGCompression::Small);
