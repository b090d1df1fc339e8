// JPEG pictures through the jpeg62 interface: full scale, accurate integer
// inverse DCT, block smoothing on, no progressive display. Greyscale
// pictures keep all 256 levels (R = G = B). Every result is R, G, B, 255.
//
// The integer transform is used rather than the floating-point one: it is
// as accurate, and unlike the floating-point path (whose results depend on
// the CPU and the library's SIMD build) it gives the same pixels on every
// machine. Greyscale is not quantised to a 236-entry palette: that only
// suited 8-bit desktops and adds dithering noise to every grey picture.
//
// The library's fatal errors jump back to RunDecoder through the error
// manager and come out as "JPEG error #N" with the file name; warnings and
// trace messages are dropped, but for the premature end of the data: a file
// cut short is a broken picture, not one with a grey lower part.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include "assets/picture.h"

namespace {

struct TErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
    int Code;
    bool EndedEarly; // the data ran out: the library filled the rest
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<TErrorManager*>(cinfo->err);
    manager->Code = manager->Base.msg_code;
    std::longjmp(manager->Jump, 1);
}

void DropMessage(j_common_ptr) {}

// Level -1 is a warning; the one for data that ends early is kept, and the
// picture counts as broken unless a fatal error comes first.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        reinterpret_cast<TErrorManager*>(cinfo->err)->EndedEarly = true;
}

// Everything the decoder touches across the jump lives here, outside the
// function that calls setjmp, so nothing with a destructor is skipped and no
// local changes value between setjmp and longjmp.
struct TJob {
    const uint8_t* Data;
    size_t Size;
    TPicture* Picture;
    int ErrorCode;
    bool SizeRefused;
    long Width;
    long Height;
};

void StoreRow(const jpeg_decompress_struct& cinfo, const JSAMPLE* row, uint8_t* out) {
    const JDIMENSION width = cinfo.output_width;
    if (cinfo.output_components == 1) {
        for (JDIMENSION x = 0; x < width; ++x, out += 4) {
            out[0] = out[1] = out[2] = row[x];
            out[3] = 255;
        }
    } else {
        for (JDIMENSION x = 0; x < width; ++x, out += 4, row += 3) {
            out[0] = row[0];
            out[1] = row[1];
            out[2] = row[2];
            out[3] = 255;
        }
    }
}

bool RunDecoder(TJob* job) {
    jpeg_decompress_struct cinfo;
    TErrorManager errors;
    cinfo.err = jpeg_std_error(&errors.Base);
    errors.Base.error_exit = ErrorExit;
    errors.Base.output_message = DropMessage;
    errors.Base.emit_message = EmitMessage;
    errors.Code = 0;
    errors.EndedEarly = false;
    if (setjmp(errors.Jump)) {
        jpeg_destroy_decompress(&cinfo);
        job->ErrorCode = errors.Code;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, job->Data, static_cast<unsigned long>(job->Size));
    jpeg_read_header(&cinfo, TRUE);
    if (!PictureSizeAllowed(cinfo.image_width, cinfo.image_height)) {
        job->SizeRefused = true;
        job->Width = long(cinfo.image_width);
        job->Height = long(cinfo.image_height);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_block_smoothing = TRUE;
    cinfo.buffered_image = FALSE;
    cinfo.quantize_colors = FALSE;
    cinfo.out_color_space = cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&cinfo);

    const JDIMENSION width = cinfo.output_width;
    const JDIMENSION height = cinfo.output_height;
    TPicture& picture = *job->Picture;
    picture.Width = int(width);
    picture.Height = int(height);
    picture.Channels = 4;
    picture.Pixels.resize(size_t(width) * size_t(height) * 4);
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                width * JDIMENSION(cinfo.output_components), 1);
    while (cinfo.output_scanline < height) {
        // Scanline r from the top becomes row height - 1 - r from the bottom.
        const JDIMENSION top = cinfo.output_scanline;
        if (jpeg_read_scanlines(&cinfo, row, 1) != 1) break; // cannot happen with a memory source
        StoreRow(cinfo, row[0], picture.Pixels.data() + size_t(height - 1 - top) * width * 4);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (errors.EndedEarly) {
        job->ErrorCode = JWRN_JPEG_EOF;
        return false;
    }
    return true;
}

} // namespace

bool DecodeJPEG(const uint8_t* data, size_t size, const std::string& name, TPicture& picture, TPictureError& error) {
    picture = TPicture{};
    TJob job{data, size, &picture, 0, false, 0, 0};
    if (RunDecoder(&job)) {
        error = TPictureError{};
        return true;
    }
    picture = TPicture{};
    if (job.SizeRefused)
        error = TPictureError{"BMP Unit", PictureSizeMessage(name, job.Width, job.Height), false};
    else
        error = TPictureError{"",
                              "JPEG error #" + std::to_string(job.ErrorCode) + " in \"" + name + "\"" +
                                  (job.ErrorCode == JWRN_JPEG_EOF ? ": the file ends early (cut short)" : ""),
                              true};
    return false;
}

bool DecodeJPEGFile(const std::string& name, TPicture& picture, TPictureError& error) {
    std::vector<uint8_t> bytes;
    if (!ReadPictureFile(name, bytes)) {
        picture = TPicture{};
        error = TPictureError{"BMP Unit", "Couldn't load JPG - \"" + name + "\"", false};
        return false;
    }
    return DecodeJPEG(bytes.data(), bytes.size(), name, picture, error);
}

bool DecodeJPEGMaskedFiles(const std::string& colorName, const std::string& alphaName, TPicture& picture,
                           TPictureError& error) {
    TPicture color;
    TPicture alpha;
    if (!DecodeJPEGFile(colorName, color, error) || !DecodeJPEGFile(alphaName, alpha, error)) {
        picture = TPicture{};
        return false;
    }
    CombineJPEGMask(color, alpha, picture);
    error = TPictureError{};
    return true;
}
