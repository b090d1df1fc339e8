#include "picture_files.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <unistd.h>

#include <jpeglib.h>

namespace testpic {
namespace {

void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, v);
    Put16(b, at + 2, v >> 16);
}

} // namespace

TRGBA Pattern(int x, int y) {
    return TRGBA{uint8_t(40 * x + 10), uint8_t(60 * y + 5), uint8_t(x == 0 ? 200 : 90 + y), uint8_t(100 + x + 7 * y)};
}

Bytes MakeBMP(int width, int height, uint32_t infoSize, bool topDown, size_t gap) {
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    const size_t offset = 14 + infoSize + gap;
    Bytes b(offset + stride * size_t(height), 0xEE); // padding and gap hold junk
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, uint32_t(b.size()));
    Put32(b, 10, uint32_t(offset));
    Put32(b, 14, infoSize);
    if (infoSize == 12) {
        Put16(b, 18, uint32_t(width));
        Put16(b, 20, uint32_t(height));
        Put16(b, 22, 1);
        Put16(b, 24, 24);
    } else {
        std::fill(b.begin() + 18, b.begin() + 14 + infoSize, 0);
        Put32(b, 18, uint32_t(width));
        Put32(b, 22, uint32_t(topDown ? -height : height));
        Put16(b, 26, 1);
        Put16(b, 28, 24);
    }
    for (int row = 0; row < height; ++row) {
        const int y = topDown ? height - 1 - row : row;
        for (int x = 0; x < width; ++x) {
            const TRGBA p = Pattern(x, y);
            uint8_t* out = &b[offset + stride * size_t(row) + size_t(x) * 3];
            out[0] = p.B;
            out[1] = p.G;
            out[2] = p.R;
        }
    }
    return b;
}

Bytes TGAHeader(uint8_t type, uint8_t colorMapType, int width, int height, int bits) {
    Bytes b(18, 0);
    b[1] = colorMapType;
    b[2] = type;
    Put16(b, 12, uint32_t(width));
    Put16(b, 14, uint32_t(height));
    b[16] = uint8_t(bits);
    return b;
}

Bytes MakeTGA(int width, int height, int bits, uint8_t type, uint8_t origin, uint8_t idLength) {
    Bytes b = TGAHeader(type, 0, width, height, bits);
    b[0] = idLength;
    b[17] = uint8_t(origin | (bits == 32 ? 8 : 0));
    b.insert(b.end(), idLength, 'I');
    for (int row = 0; row < height; ++row) {
        const int y = origin & 0x20 ? height - 1 - row : row;
        if (type == 10) b.push_back(uint8_t(width - 1)); // one raw packet per row
        for (int column = 0; column < width; ++column) {
            const int x = origin & 0x10 ? width - 1 - column : column;
            const TRGBA p = Pattern(x, y);
            b.insert(b.end(), {p.B, p.G, p.R});
            if (bits == 32) b.push_back(p.A);
        }
    }
    return b;
}

Bytes MakeJPEG(int width, int height, bool grey) {
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = grey ? 1 : 3;
    c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 1; // no chroma subsampling: near lossless
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3);
    while (c.next_scanline < c.image_height) {
        const int y = height - 1 - int(c.next_scanline);
        for (int x = 0; x < width; ++x) {
            const TRGBA p = Pattern(x, y);
            if (grey) {
                row[size_t(x)] = p.R;
            } else {
                row[size_t(x) * 3] = p.R;
                row[size_t(x) * 3 + 1] = p.G;
                row[size_t(x) * 3 + 2] = p.B;
            }
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes b(out, out + size);
    std::free(out);
    return b;
}

std::filesystem::path Folder() {
    // Removed with everything in it when the test program ends.
    struct TFolder {
        std::filesystem::path Path =
            std::filesystem::temp_directory_path() / ("corvala-pictures-" + std::to_string(getpid()));
        TFolder() { std::filesystem::create_directories(Path); }
        ~TFolder() {
            std::error_code ignored;
            std::filesystem::remove_all(Path, ignored);
        }
    };
    static const TFolder folder;
    return folder.Path;
}

std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = (Folder() / name).string();
    std::error_code ignored; // a test may have made the previous file read-only
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

} // namespace testpic
