// Pictures as float RGBA, and the encoders that write them in the formats
// the engine reads: 24-bit BMP, TGA (types 2 and 10, 24 or 32 bits) and
// JPEG through libjpeg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gen {

struct TColor {
    double R = 0, G = 0, B = 0, A = 1;
};

// Width x Height pixels, row 0 at the top; components 0 .. 1 (clamped when
// encoded).
struct TImage {
    int Width = 0;
    int Height = 0;
    std::vector<TColor> Pixels;

    TImage(int width, int height) : Width(width), Height(height), Pixels(size_t(width) * size_t(height)) {}
    TColor& At(int x, int y) { return Pixels[size_t(y) * size_t(Width) + size_t(x)]; }
    const TColor& At(int x, int y) const { return Pixels[size_t(y) * size_t(Width) + size_t(x)]; }
};

// Uncompressed 24-bit BMP, bottom-up, rows padded to 4 bytes.
std::vector<uint8_t> EncodeBMP(const TImage& image);
// TGA with a bottom-left origin; 32 bits keep the alpha, `rle` selects type 10.
std::vector<uint8_t> EncodeTGA(const TImage& image, bool alpha, bool rle);
// Baseline JPEG, no chroma subsampling (hard colour edges stay sharp).
// `grey` writes one component from the red channel.
bool EncodeJPEG(const TImage& image, int quality, bool grey, std::vector<uint8_t>& bytes, std::string& error);

// Vector text drawn with round strokes: upper-case letters, digits, space
// and . - : ! / '. Units: one glyph is 4 wide and 6 tall with a pen
// advance of 6; other characters are skipped.
struct TText {
    struct TSegment {
        double X0, Y0, X1, Y1;
    };
    std::vector<TSegment> Segments; // in glyph units, y up, baseline at 0
    double Width = 0;               // advance of the whole line
};
TText LayoutText(const std::string& text);
// Distance from (x, y) (glyph units) to the nearest stroke centre line.
double TextDistance(const TText& text, double x, double y);

double Clamp01(double v);
double SmoothStep(double edge0, double edge1, double x);
TColor Mix(const TColor& a, const TColor& b, double t);

// Smooth value noise in [0, 1], periodic with `period` cells in x and y.
double ValueNoise(double x, double y, int period, uint32_t seed);
// Sum of octaves of ValueNoise, each twice the frequency at half the weight.
double Fractal(double x, double y, int period, int octaves, uint32_t seed);

} // namespace gen
