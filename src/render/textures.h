// Texture objects from pictures: decode (assets/picture.h), then upload with
// a full mipmap chain. Failures are reported through ReportMessage and
// return false with the caller's texture variable untouched; JPEG decoder
// errors and unreadable TGA headers are raised as EApplicationError.
#pragma once

#include <cstdint>
#include <string>

#include "assets/picture.h"
#include "render/gl.h"

// Filter for textures created from now on: 0 nearest, 1 linear, 2 linear
// with mipmaps; other values set no filter. Starts at 2.
extern uint8_t TexFilterMode;

// New texture name, left bound to GL_TEXTURE_2D. `format` is GL_RGB or
// GL_RGBA; pixels are tightly packed, bottom row first. Sizes beyond
// GL_MAX_TEXTURE_SIZE are reported and give 0 (no texture).
GLuint TexCreate(uint16_t width, uint16_t height, GLenum format, const uint8_t* pixels);

// Uploads a decoded picture (GL_RGB for 3 channels, GL_RGBA for 4). False,
// reported under `caption` with the name, when it cannot be uploaded.
bool TexCreatePicture(const std::string& name, const std::string& caption, const TPicture& picture, int32_t& texture);

// Format by the ending of the upper-cased name: ".BMP", ".JPG" or ".JPEG",
// ".PNG", ".TGA"; any other ending loads nothing and reports the formats
// that are read.
// `fromResource` asks for embedded data, which this build has none of: it
// reports the name as not found in the resources and returns false.
bool TexLoad(const std::string& name, int32_t& texture, bool fromResource = false);
bool TexLoadBMP(const std::string& name, int32_t& texture, bool fromResource = false);
bool TexLoadJPG(const std::string& name, int32_t& texture, bool fromResource = false);
bool TexLoadPNG(const std::string& name, int32_t& texture, bool fromResource = false);
bool TexLoadTGA(const std::string& name, int32_t& texture, bool fromResource = false);
// RGBA from two JPEG files: colour from the first, alpha from the second.
bool TexLoadJPGMasked(const std::string& colorName, const std::string& alphaName, int32_t& texture);
