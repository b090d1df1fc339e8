#include "image.h"

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace gen {

double Clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

double SmoothStep(double edge0, double edge1, double x) {
    const double t = Clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3 - 2 * t);
}

TColor Mix(const TColor& a, const TColor& b, double t) {
    return {a.R + (b.R - a.R) * t, a.G + (b.G - a.G) * t, a.B + (b.B - a.B) * t, a.A + (b.A - a.A) * t};
}

namespace {

uint8_t Byte(double v) { return uint8_t(std::lround(Clamp01(v) * 255.0)); }

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

uint32_t Hash(int x, int y, uint32_t seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

} // namespace

std::vector<uint8_t> EncodeBMP(const TImage& image) {
    const uint32_t rowBytes = (uint32_t(image.Width) * 3 + 3) & ~3u;
    const uint32_t dataBytes = rowBytes * uint32_t(image.Height);
    std::vector<uint8_t> out;
    out.reserve(54 + dataBytes);
    out.push_back('B');
    out.push_back('M');
    Put32(out, 54 + dataBytes);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, uint32_t(image.Width));
    Put32(out, uint32_t(image.Height));
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0); // no compression
    Put32(out, dataBytes);
    Put32(out, 2835); // 72 dpi
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = image.Height - 1; y >= 0; --y) {
        for (int x = 0; x < image.Width; ++x) {
            const TColor& c = image.At(x, y);
            out.push_back(Byte(c.B));
            out.push_back(Byte(c.G));
            out.push_back(Byte(c.R));
        }
        for (uint32_t pad = uint32_t(image.Width) * 3; pad < rowBytes; ++pad) out.push_back(0);
    }
    return out;
}

std::vector<uint8_t> EncodeTGA(const TImage& image, bool alpha, bool rle) {
    const size_t bpp = alpha ? 4 : 3;
    std::vector<uint8_t> out = {0, 0, uint8_t(rle ? 10 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Put16(out, uint32_t(image.Width));
    Put16(out, uint32_t(image.Height));
    out.push_back(uint8_t(bpp * 8));
    out.push_back(alpha ? 8 : 0); // bottom-left origin, alpha bits
    // Pixels bottom row first, B G R (A).
    std::vector<uint8_t> pixels;
    pixels.reserve(size_t(image.Width) * size_t(image.Height) * bpp);
    for (int y = image.Height - 1; y >= 0; --y)
        for (int x = 0; x < image.Width; ++x) {
            const TColor& c = image.At(x, y);
            pixels.push_back(Byte(c.B));
            pixels.push_back(Byte(c.G));
            pixels.push_back(Byte(c.R));
            if (alpha) pixels.push_back(Byte(c.A));
        }
    if (!rle) {
        out.insert(out.end(), pixels.begin(), pixels.end());
        return out;
    }
    // Run-length packets run across row ends, as the format allows; a run
    // is used for two or more equal pixels, raw packets for the rest.
    const size_t count = pixels.size() / bpp;
    auto same = [&](size_t a, size_t b) { return std::memcmp(&pixels[a * bpp], &pixels[b * bpp], bpp) == 0; };
    size_t i = 0;
    while (i < count) {
        size_t run = 1;
        while (i + run < count && run < 128 && same(i, i + run)) ++run;
        if (run >= 2) {
            out.push_back(uint8_t(127 + run));
            out.insert(out.end(), pixels.data() + i * bpp, pixels.data() + (i + 1) * bpp);
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < count && raw < 128 && !(i + raw + 1 < count && same(i + raw, i + raw + 1))) ++raw;
        out.push_back(uint8_t(raw - 1));
        out.insert(out.end(), pixels.data() + i * bpp, pixels.data() + (i + raw) * bpp);
        i += raw;
    }
    return out;
}

namespace {

struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void JpegFail(j_common_ptr info) {
    auto* e = reinterpret_cast<TJpegError*>(info->err);
    (*info->err->format_message)(info, e->Message);
    std::longjmp(e->Jump, 1);
}

} // namespace

bool EncodeJPEG(const TImage& image, int quality, bool grey, std::vector<uint8_t>& bytes, std::string& error) {
    const int components = grey ? 1 : 3;
    std::vector<uint8_t> rows(size_t(image.Width) * size_t(image.Height) * size_t(components));
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            const TColor& c = image.At(x, y);
            uint8_t* p = &rows[(size_t(y) * size_t(image.Width) + size_t(x)) * size_t(components)];
            p[0] = Byte(c.R);
            if (!grey) {
                p[1] = Byte(c.G);
                p[2] = Byte(c.B);
            }
        }

    jpeg_compress_struct info{};
    TJpegError jerr{};
    info.err = jpeg_std_error(&jerr.Manager);
    jerr.Manager.error_exit = JpegFail;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(jerr.Jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        error = std::string("the JPEG encoder failed: ") + jerr.Message;
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.Width);
    info.image_height = JDIMENSION(image.Height);
    info.input_components = components;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.optimize_coding = TRUE;
    for (int c = 0; c < info.num_components; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &rows[size_t(info.next_scanline) * size_t(image.Width) * size_t(components)];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    bytes.assign(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return true;
}

namespace {

// Stroke glyphs on a 4 x 6 grid: polylines separated by -1 markers, each
// point as x, y pairs.
struct TGlyph {
    char Ch;
    std::vector<double> Points; // x, y, x, y, ...; (-1, -1) starts a new stroke
};

const TGlyph Glyphs[] = {
    {'A', {0, 0, 0, 4, 2, 6, 4, 4, 4, 0, -1, -1, 0, 2.5, 4, 2.5}},
    {'B', {0, 0, 0, 6, 3, 6, 4, 5, 4, 4, 3, 3, 0, 3, -1, -1, 3, 3, 4, 2, 4, 1, 3, 0, 0, 0}},
    {'C', {4, 5, 3, 6, 1, 6, 0, 5, 0, 1, 1, 0, 3, 0, 4, 1}},
    {'D', {0, 0, 0, 6, 2.5, 6, 4, 4.5, 4, 1.5, 2.5, 0, 0, 0}},
    {'E', {4, 6, 0, 6, 0, 0, 4, 0, -1, -1, 0, 3, 3, 3}},
    {'F', {4, 6, 0, 6, 0, 0, -1, -1, 0, 3, 3, 3}},
    {'G', {4, 5, 3, 6, 1, 6, 0, 5, 0, 1, 1, 0, 3, 0, 4, 1, 4, 3, 2, 3}},
    {'H', {0, 0, 0, 6, -1, -1, 4, 0, 4, 6, -1, -1, 0, 3, 4, 3}},
    {'I', {1, 6, 3, 6, -1, -1, 2, 6, 2, 0, -1, -1, 1, 0, 3, 0}},
    {'J', {4, 6, 4, 1, 3, 0, 1, 0, 0, 1}},
    {'K', {0, 0, 0, 6, -1, -1, 4, 6, 0, 2, -1, -1, 1.4, 3.4, 4, 0}},
    {'L', {0, 6, 0, 0, 4, 0}},
    {'M', {0, 0, 0, 6, 2, 3, 4, 6, 4, 0}},
    {'N', {0, 0, 0, 6, 4, 0, 4, 6}},
    {'O', {1, 0, 0, 1, 0, 5, 1, 6, 3, 6, 4, 5, 4, 1, 3, 0, 1, 0}},
    {'P', {0, 0, 0, 6, 3, 6, 4, 5, 4, 4, 3, 3, 0, 3}},
    {'Q', {1, 0, 0, 1, 0, 5, 1, 6, 3, 6, 4, 5, 4, 1, 3, 0, 1, 0, -1, -1, 2.5, 1.5, 4, 0}},
    {'R', {0, 0, 0, 6, 3, 6, 4, 5, 4, 4, 3, 3, 0, 3, -1, -1, 2, 3, 4, 0}},
    {'S', {4, 5, 3, 6, 1, 6, 0, 5, 0, 4, 1, 3, 3, 3, 4, 2, 4, 1, 3, 0, 1, 0, 0, 1}},
    {'T', {0, 6, 4, 6, -1, -1, 2, 6, 2, 0}},
    {'U', {0, 6, 0, 1, 1, 0, 3, 0, 4, 1, 4, 6}},
    {'V', {0, 6, 2, 0, 4, 6}},
    {'W', {0, 6, 1, 0, 2, 3, 3, 0, 4, 6}},
    {'X', {0, 0, 4, 6, -1, -1, 0, 6, 4, 0}},
    {'Y', {0, 6, 2, 3, 4, 6, -1, -1, 2, 3, 2, 0}},
    {'Z', {0, 6, 4, 6, 0, 0, 4, 0}},
    {'0', {1, 0, 0, 1, 0, 5, 1, 6, 3, 6, 4, 5, 4, 1, 3, 0, 1, 0, -1, -1, 1, 1.5, 3, 4.5}},
    {'1', {1, 5, 2, 6, 2, 0, -1, -1, 1, 0, 3, 0}},
    {'2', {0, 5, 1, 6, 3, 6, 4, 5, 4, 4, 0, 0, 4, 0}},
    {'3', {0, 5, 1, 6, 3, 6, 4, 5, 4, 4, 3, 3, 1.5, 3, -1, -1, 3, 3, 4, 2, 4, 1, 3, 0, 1, 0, 0, 1}},
    {'4', {3, 0, 3, 6, 0, 2, 4, 2}},
    {'5', {4, 6, 0, 6, 0, 3.5, 3, 3.5, 4, 2.5, 4, 1, 3, 0, 1, 0, 0, 1}},
    {'6', {4, 5, 3, 6, 1, 6, 0, 5, 0, 1, 1, 0, 3, 0, 4, 1, 4, 2, 3, 3, 0, 3}},
    {'7', {0, 6, 4, 6, 1.5, 0}},
    {'8', {1, 3, 0, 4, 0, 5, 1, 6, 3, 6, 4, 5, 4, 4, 3, 3, 1, 3, 0, 2, 0, 1, 1, 0, 3, 0, 4, 1, 4, 2, 3, 3}},
    {'9', {4, 3, 1, 3, 0, 4, 0, 5, 1, 6, 3, 6, 4, 5, 4, 1, 3, 0, 1, 0, 0, 1}},
    {'.', {2, 0, 2, 0.01}},
    {'-', {1, 3, 3, 3}},
    {':', {2, 1, 2, 1.01, -1, -1, 2, 5, 2, 5.01}},
    {'!', {2, 6, 2, 2, -1, -1, 2, 0, 2, 0.01}},
    {'/', {0, 0, 4, 6}},
    {'\'', {2, 6, 2, 4.5}},
};

double SegmentDistance(const TText::TSegment& s, double x, double y) {
    const double dx = s.X1 - s.X0, dy = s.Y1 - s.Y0;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((x - s.X0) * dx + (y - s.Y0) * dy) / len2 : 0;
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    const double px = s.X0 + t * dx - x, py = s.Y0 + t * dy - y;
    return std::sqrt(px * px + py * py);
}

} // namespace

TText LayoutText(const std::string& text) {
    TText result;
    double pen = 0;
    for (char ch : text) {
        for (const TGlyph& g : Glyphs) {
            if (g.Ch != ch) continue;
            bool fresh = true;
            double lx = 0, ly = 0;
            for (size_t i = 0; i + 1 < g.Points.size(); i += 2) {
                const double x = g.Points[i], y = g.Points[i + 1];
                if (x < 0) {
                    fresh = true;
                    continue;
                }
                if (!fresh) result.Segments.push_back({pen + lx, ly, pen + x, y});
                lx = x;
                ly = y;
                fresh = false;
            }
        }
        pen += 6;
    }
    result.Width = text.empty() ? 0 : pen - 2;
    return result;
}

double TextDistance(const TText& text, double x, double y) {
    double best = 1e9;
    for (const TText::TSegment& s : text.Segments) {
        // Cheap rejection by the segment's bounding box.
        const double minX = std::min(s.X0, s.X1) - best, maxX = std::max(s.X0, s.X1) + best;
        const double minY = std::min(s.Y0, s.Y1) - best, maxY = std::max(s.Y0, s.Y1) + best;
        if (x < minX || x > maxX || y < minY || y > maxY) continue;
        best = std::min(best, SegmentDistance(s, x, y));
    }
    return best;
}

double ValueNoise(double x, double y, int period, uint32_t seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = int(fx), iy = int(fy);
    const double tx = x - fx, ty = y - fy;
    auto corner = [&](int cx, int cy) {
        const int px = ((cx % period) + period) % period, py = ((cy % period) + period) % period;
        return double(Hash(px, py, seed) & 0xFFFF) / 65535.0;
    };
    const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    const double a = corner(ix, iy) + (corner(ix + 1, iy) - corner(ix, iy)) * sx;
    const double b = corner(ix, iy + 1) + (corner(ix + 1, iy + 1) - corner(ix, iy + 1)) * sx;
    return a + (b - a) * sy;
}

double Fractal(double x, double y, int period, int octaves, uint32_t seed) {
    double sum = 0, weight = 0.5, total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += ValueNoise(x, y, period, seed + uint32_t(o)) * weight;
        total += weight;
        x *= 2;
        y *= 2;
        period *= 2;
        weight *= 0.5;
    }
    return sum / total;
}

} // namespace gen
