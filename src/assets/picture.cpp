#include "assets/picture.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "base/files.h"
#include "base/limits.h"

bool PictureSizeAllowed(int64_t width, int64_t height) {
    if (width < 1 || height < 1) return false;
    if (width > limits::MaxPictureSide || height > limits::MaxPictureSide) return false;
    return width * height <= limits::MaxPicturePixels;
}

std::string PictureSizeMessage(const std::string& name, int64_t width, int64_t height) {
    return "Couldn't load \"" + name + "\". Picture size " + std::to_string(width) + " x " + std::to_string(height) +
           " is not supported (1 to " + std::to_string(limits::MaxPictureSide) + " pixels a side, at most " +
           std::to_string(limits::MaxPicturePixels) + " pixels).";
}

TPictureFormat PictureFormatOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return TPictureFormat::Unknown;
    std::string ending = name.substr(dot);
    for (char& c : ending) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (ending == ".BMP") return TPictureFormat::BMP;
    if (ending == ".JPG" || ending == ".JPEG") return TPictureFormat::JPEG;
    if (ending == ".PNG") return TPictureFormat::PNG;
    if (ending == ".TGA") return TPictureFormat::TGA;
    return TPictureFormat::Unknown;
}

const char* const ReadablePictureFormats = "Pictures are read from .bmp, .jpg, .jpeg, .png and .tga files";

bool ReadPictureFile(const std::string& name, std::vector<uint8_t>& bytes) {
    bytes.clear();
    NoteInputFile(name);
    // A FIFO would block the open until something writes to it.
    if (!SpecialFileKind(name).empty()) return false;
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "rb"));
    if (!file) return false;
    // Read in chunks rather than trusting a reported size: devices and pipes
    // report none, and the cap bounds what a bogus file can make us hold.
    constexpr size_t Chunk = 1 << 20;
    while (bytes.size() < size_t(limits::MaxPictureFileBytes)) {
        const size_t old = bytes.size();
        const size_t want = std::min(Chunk, size_t(limits::MaxPictureFileBytes) - old);
        bytes.resize(old + want);
        const size_t got = std::fread(bytes.data() + old, 1, want, file.get());
        bytes.resize(old + got);
        if (got < want) {
            if (std::ferror(file.get())) return false;
            break;
        }
    }
    bytes.shrink_to_fit();
    return true;
}

bool CombineJPEGMask(const TPicture& color, const TPicture& alpha, TPicture& picture) {
    if (color.Channels < 3 || alpha.Channels < 3) return false;
    picture.Width = color.Width;
    picture.Height = color.Height;
    picture.Channels = 4;
    picture.Pixels.assign(size_t(color.Width) * size_t(color.Height) * 4, 255);
    // Both pictures run bottom to top, so rows are matched counted from the
    // top: row r from the top is row Height - 1 - r from the bottom.
    for (int top = 0; top < color.Height; ++top) {
        const int y = color.Height - 1 - top;
        const int alphaY = alpha.Height - 1 - top;
        for (int x = 0; x < color.Width; ++x) {
            uint8_t* out = &picture.Pixels[picture.Offset(x, y)];
            const uint8_t* in = &color.Pixels[color.Offset(x, y)];
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            if (alphaY >= 0 && x < alpha.Width) out[3] = alpha.Pixels[alpha.Offset(x, alphaY) + 2];
        }
    }
    return true;
}

bool DecodePictureFile(const std::string& name, TPicture& picture, TPictureError& error) {
    switch (PictureFormatOf(name)) {
    case TPictureFormat::BMP:
        return DecodeBMPFile(name, picture, error);
    case TPictureFormat::JPEG:
        return DecodeJPEGFile(name, picture, error);
    case TPictureFormat::PNG:
        return DecodePNGFile(name, picture, error);
    case TPictureFormat::TGA:
        return DecodeTGAFile(name, picture, error);
    case TPictureFormat::Unknown:
        break;
    }
    picture = TPicture{};
    error = TPictureError{"", "Couldn't load \"" + name + "\". " + ReadablePictureFormats + ".", false};
    return false;
}
