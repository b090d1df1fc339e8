// Decoded pictures, independent of OpenGL: every decoder fills a TPicture
// that tests can inspect and TexCreate can upload as it is.
//
// Decoders never throw and never allocate before the declared size has been
// checked against limits::MaxPictureSide / MaxPicturePixels and against the
// bytes actually present. A failure fills TPictureError with the report the
// texture loaders show (caption and text) and leaves the picture empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Width x Height pixels of Channels bytes each (3: R, G, B; 4: R, G, B, A),
// 8 bits per component, rows tightly packed and stored bottom row first (the
// first row in memory is texture coordinate t = 0).
struct TPicture {
    int Width = 0;
    int Height = 0;
    int Channels = 0;
    std::vector<uint8_t> Pixels;

    // Byte offset of pixel (x, y), y counted from the bottom row.
    size_t Offset(int x, int y) const { return (size_t(y) * size_t(Width) + size_t(x)) * size_t(Channels); }
};

struct TPictureError {
    // Caption and text of the message box the loader shows. Empty caption
    // with Raised set: the failure is not shown but raised to the loader's
    // caller (decoder errors of JPEG data, unreadable TGA headers).
    std::string Caption;
    std::string Text;
    bool Raised = false;
};

// True when width x height is a picture size the decoders accept: both
// sides 1 to limits::MaxPictureSide, the product within MaxPicturePixels.
bool PictureSizeAllowed(int64_t width, int64_t height);
// The text used when a declared size is refused: "Couldn't load "NAME".
// Picture size W x H is not supported."
std::string PictureSizeMessage(const std::string& name, int64_t width, int64_t height);

// Format chosen by the ending of the upper-cased name, as the texture
// loaders choose it: .BMP, .JPG or .JPEG, .PNG, .TGA.
enum class TPictureFormat { Unknown, BMP, JPEG, PNG, TGA };
TPictureFormat PictureFormatOf(const std::string& name);

// Decoders over bytes already in memory; `name` only goes into messages.
// BMP: uncompressed 24-bit, any of the usual header sizes, bottom-up or
// top-down, padded rows. Result: 3 channels.
bool DecodeBMP(const uint8_t* data, size_t size, const std::string& name, TPicture& picture, TPictureError& error);
// TGA: colour-mapped (types 1, 9) at 8 or 16 bits, true colour (2, 10) at
// 15, 16, 24 or 32 bits, grey (3, 11) at 8 bits or 16 with alpha; any origin
// corner. Result: 3 channels, or 4 where the file has alpha.
bool DecodeTGA(const uint8_t* data, size_t size, const std::string& name, TPicture& picture, TPictureError& error);
// JPEG: baseline or progressive, colour or greyscale. Result: 4 channels,
// alpha 255. Decoder errors come back Raised with "JPEG error #N".
bool DecodeJPEG(const uint8_t* data, size_t size, const std::string& name, TPicture& picture, TPictureError& error);
// PNG: every colour type and bit depth, interlaced or not (assets/png.h).
// Result: 3 channels, or 4 where the file has alpha or transparency.
bool DecodePNGPicture(const uint8_t* data, size_t size, const std::string& name, TPicture& picture,
                      TPictureError& error);
// Colour from the first JPEG, alpha from the blue component (the grey level)
// of the second at the same row and column; where the alpha picture is
// smaller, the alpha is 255. Result: 4 channels of the colour picture's size.
bool CombineJPEGMask(const TPicture& color, const TPicture& alpha, TPicture& picture);

// File readers: the same decoders over a file's bytes, with the messages the
// loaders give for files that are missing or cannot be read.
bool DecodeBMPFile(const std::string& name, TPicture& picture, TPictureError& error);
bool DecodeTGAFile(const std::string& name, TPicture& picture, TPictureError& error);
bool DecodeJPEGFile(const std::string& name, TPicture& picture, TPictureError& error);
bool DecodePNGFile(const std::string& name, TPicture& picture, TPictureError& error);
bool DecodeJPEGMaskedFiles(const std::string& colorName, const std::string& alphaName, TPicture& picture,
                           TPictureError& error);

// Picks the decoder by extension; an unknown extension fails with an empty
// caption and a text that names the formats that are read.
bool DecodePictureFile(const std::string& name, TPicture& picture, TPictureError& error);

// Whole file into memory, at most limits::MaxPictureFileBytes. False when
// the file cannot be opened or read.
// "Pictures are read from .bmp, .jpg, .jpeg, .png and .tga files": for
// messages that refuse another kind.
extern const char* const ReadablePictureFormats;

bool ReadPictureFile(const std::string& name, std::vector<uint8_t>& bytes);
