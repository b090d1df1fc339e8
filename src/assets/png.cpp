// Through libpng's simplified interface, which handles its own error
// recovery and takes a negative row stride for bottom-up buffers.
#include "assets/png.h"

#include "base/output.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include <png.h>
#include <libdeflate.h>

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

std::string Message(const png_image& image) { return image.message[0] ? image.message : "PNG error"; }

void PutBig32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

// Appends one chunk: length, type, data, CRC over type and data.
void PutChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    PutBig32(out, uint32_t(size));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    PutBig32(out, libdeflate_crc32(0, out.data() + typeAt, 4 + size));
}

struct TCompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// The Fast encoding: every row filtered with Up (each byte minus the byte
// above it), the whole image compressed by libdeflate at level 1 in one
// call. Rows go into the file top row first.
bool EncodeFast(const TPicture& picture, std::vector<uint8_t>& bytes, std::string& error) {
    const size_t rowBytes = size_t(picture.Width) * size_t(picture.Channels);
    const size_t height = size_t(picture.Height);
    // Scratch space kept per thread: a steady capture allocates nothing here.
    thread_local std::vector<uint8_t> filtered;
    filtered.resize((rowBytes + 1) * height);
    for (size_t row = 0; row < height; ++row) {
        const uint8_t* in = picture.Pixels.data() + (height - 1 - row) * rowBytes;
        uint8_t* out = filtered.data() + row * (rowBytes + 1);
        *out++ = 2; // filter type Up
        if (row == 0) {
            std::memcpy(out, in, rowBytes);
        } else {
            const uint8_t* above = in + rowBytes; // the row above on screen
            for (size_t i = 0; i < rowBytes; ++i) out[i] = uint8_t(in[i] - above[i]);
        }
    }

    // One compressor per writer thread, kept between frames.
    thread_local std::unique_ptr<libdeflate_compressor, TCompressorFree> compressor(libdeflate_alloc_compressor(1));
    if (!compressor) {
        error = "PNG writer: out of memory for the compressor";
        return false;
    }
    thread_local std::vector<uint8_t> idat;
    idat.resize(libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
    const size_t packed =
        libdeflate_zlib_compress(compressor.get(), filtered.data(), filtered.size(), idat.data(), idat.size());
    if (packed == 0) {
        error = "PNG writer: the picture could not be compressed";
        return false;
    }

    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    bytes.assign(signature, signature + 8);
    std::vector<uint8_t> header;
    PutBig32(header, uint32_t(picture.Width));
    PutBig32(header, uint32_t(picture.Height));
    // 8 bits per sample; colour type 2 (RGB) or 6 (RGBA); deflate; adaptive
    // filtering; no interlace.
    header.insert(header.end(), {8, uint8_t(picture.Channels == 4 ? 6 : 2), 0, 0, 0});
    bytes.reserve(8 + 25 + packed + 12 + 12);
    PutChunk(bytes, "IHDR", header.data(), header.size());
    PutChunk(bytes, "IDAT", idat.data(), packed);
    PutChunk(bytes, "IEND", nullptr, 0);
    error.clear();
    return true;
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
        error = "PNG picture size " + std::to_string(png.Image.width) + " x " + std::to_string(png.Image.height) +
                " is not supported";
        return false;
    }
    const bool alpha = png.Image.format & PNG_FORMAT_FLAG_ALPHA;
    png.Image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    picture.Width = int(png.Image.width);
    picture.Height = int(png.Image.height);
    picture.Channels = alpha ? 4 : 3;
    picture.Pixels.resize(size_t(picture.Width) * size_t(picture.Height) * size_t(picture.Channels));
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

bool EncodePNG(const TPicture& picture, std::vector<uint8_t>& bytes, std::string& error, TPNGCompression compression) {
    bytes.clear();
    if ((picture.Channels != 3 && picture.Channels != 4) || picture.Width < 1 || picture.Height < 1 ||
        picture.Pixels.size() != size_t(picture.Width) * size_t(picture.Height) * size_t(picture.Channels)) {
        error = "PNG writer needs a non-empty RGB or RGBA picture";
        return false;
    }
    if (compression == TPNGCompression::Fast) {
        // One IDAT chunk holds the whole image: its length field has 31 bits.
        if (!PictureSizeAllowed(picture.Width, picture.Height)) {
            error = "PNG writer: picture size " + std::to_string(picture.Width) + " x " +
                    std::to_string(picture.Height) + " is not supported";
            return false;
        }
        return EncodeFast(picture, bytes, error);
    }
    TImage png;
    png.Image.width = png_uint_32(picture.Width);
    png.Image.height = png_uint_32(picture.Height);
    png.Image.format = picture.Channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    const png_int_32 stride = -png_int_32(picture.Width * picture.Channels);
    png_alloc_size_t length = 0;
    if (!png_image_write_get_memory_size(png.Image, length, 0, picture.Pixels.data(), stride, nullptr)) {
        error = Message(png.Image);
        return false;
    }
    bytes.resize(length);
    if (!png_image_write_to_memory(&png.Image, bytes.data(), &length, 0, picture.Pixels.data(), stride, nullptr)) {
        error = Message(png.Image);
        bytes.clear();
        return false;
    }
    bytes.resize(length);
    error.clear();
    return true;
}

bool WritePNG(const std::string& name, const TPicture& picture, std::string& error, TPNGCompression compression) {
    std::vector<uint8_t> bytes;
    if (!EncodePNG(picture, bytes, error, compression)) return false;
    // The one writer: a failed write leaves an earlier file of this name as it was.
    if (!WriteFileWhole(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error))
        return false;
    error.clear();
    return true;
}
