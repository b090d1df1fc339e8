// Through libpng's simplified interface, which handles its own error
// recovery and takes a negative row stride for bottom-up buffers.
#include "assets/png.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include <png.h>

namespace {

struct TImage {
    png_image Image;
    TImage() {
        std::memset(&Image, 0, sizeof Image);
        Image.version = PNG_IMAGE_VERSION;
    }
    ~TImage() { png_image_free(&Image); }
    TImage(const TImage&) = delete;
    TImage& operator=(const TImage&) = delete;
};

std::string Message(const png_image& image) {
    return image.message[0] ? image.message : "PNG error";
}

} // namespace

bool DecodePNG(const uint8_t* data, size_t size, TPicture& picture, std::string& error) {
    picture = TPicture{};
    TImage png;
    if (!png_image_begin_read_from_memory(&png.Image, data, size)) {
        error = Message(png.Image);
        return false;
    }
    if (!PictureSizeAllowed(png.Image.width, png.Image.height)) {
        error = "PNG picture size " + std::to_string(png.Image.width) + " x " +
                std::to_string(png.Image.height) + " is not supported";
        return false;
    }
    const bool alpha = png.Image.format & PNG_FORMAT_FLAG_ALPHA;
    png.Image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    picture.Width = int(png.Image.width);
    picture.Height = int(png.Image.height);
    picture.Channels = alpha ? 4 : 3;
    picture.Pixels.resize(size_t(picture.Width) * size_t(picture.Height) *
                          size_t(picture.Channels));
    // A negative stride makes libpng start at the last row of the buffer:
    // the file's top row lands at the end, as TPicture wants.
    const png_int_32 stride = -png_int_32(picture.Width * picture.Channels);
    if (!png_image_finish_read(&png.Image, nullptr, picture.Pixels.data(), stride, nullptr)) {
        error = Message(png.Image);
        picture = TPicture{};
        return false;
    }
    error.clear();
    return true;
}

bool ReadPNG(const std::string& name, TPicture& picture, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadPictureFile(name, bytes)) {
        picture = TPicture{};
        error = "Couldn't read \"" + name + "\"";
        return false;
    }
    if (!DecodePNG(bytes.data(), bytes.size(), picture, error)) {
        error = "\"" + name + "\": " + error;
        return false;
    }
    return true;
}

bool EncodePNG(const TPicture& picture, std::vector<uint8_t>& bytes, std::string& error) {
    bytes.clear();
    if ((picture.Channels != 3 && picture.Channels != 4) || picture.Width < 1 ||
        picture.Height < 1 ||
        picture.Pixels.size() !=
            size_t(picture.Width) * size_t(picture.Height) * size_t(picture.Channels)) {
        error = "PNG writer needs a non-empty RGB or RGBA picture";
        return false;
    }
    TImage png;
    png.Image.width = png_uint_32(picture.Width);
    png.Image.height = png_uint_32(picture.Height);
    png.Image.format = picture.Channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    const png_int_32 stride = -png_int_32(picture.Width * picture.Channels);
    png_alloc_size_t length = 0;
    if (!png_image_write_get_memory_size(png.Image, length, 0, picture.Pixels.data(), stride,
                                         nullptr)) {
        error = Message(png.Image);
        return false;
    }
    bytes.resize(length);
    if (!png_image_write_to_memory(&png.Image, bytes.data(), &length, 0, picture.Pixels.data(),
                                   stride, nullptr)) {
        error = Message(png.Image);
        bytes.clear();
        return false;
    }
    bytes.resize(length);
    error.clear();
    return true;
}

bool WritePNG(const std::string& name, const TPicture& picture, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!EncodePNG(picture, bytes, error))
        return false;
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "wb"));
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fclose(file.release()) != 0) {
        error = "Couldn't write \"" + name + "\"";
        return false;
    }
    error.clear();
    return true;
}
