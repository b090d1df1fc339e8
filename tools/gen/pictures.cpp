#include "pictures.h"

#include <cmath>
#include <functional>

#include "image.h"

namespace gen {

const TRampBand ShadeRamp[4] = {
    {0, 92, 36, 104},    // shadow: plum
    {64, 184, 58, 92},   // core: raspberry
    {128, 248, 138, 72}, // lit: warm orange
    {208, 255, 236, 178} // highlight: pale gold
};

namespace {

constexpr double Pi = 3.14159265358979323846;

// Fills a picture of width x height pixels from a function of design
// coordinates: the picture covers designW x designH units, y downward, and
// each pixel is sampled at its centre.
TImage Paint(int width, int height, double designW, double designH, const std::function<TColor(double, double)>& f) {
    TImage image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.At(x, y) = f((x + 0.5) * designW / width, (y + 0.5) * designH / height);
    return image;
}

// A line of text centred on (cx, cy) with glyphs `height` units tall;
// returns the distance (design units) to its strokes.
struct TLabel {
    TText Text;
    double CenterX, CenterY, Scale;
    TLabel(const std::string& text, double cx, double cy, double height)
        : Text(LayoutText(text)), CenterX(cx), CenterY(cy), Scale(height / 6.0) {}
    double Distance(double x, double y) const {
        const double gx = (x - CenterX) / Scale + Text.Width / 2;
        const double gy = (CenterY - y) / Scale + 3.0;
        if (gx < -8 || gx > Text.Width + 8 || gy < -8 || gy > 14) return 1e9;
        return TextDistance(Text, gx, gy) * Scale;
    }
};

double Hash01(int x, int y, uint32_t seed) { return ValueNoise(x + 0.0, y + 0.0, 1 << 20, seed); }

// A sparse star field: a star in about one of `rarity` cells of 6 x 6 units.
double Stars(double x, double y, int rarity, uint32_t seed) {
    const int cx = int(std::floor(x / 6)), cy = int(std::floor(y / 6));
    const double pick = Hash01(cx, cy, seed);
    if (pick * rarity > 1.0) return 0;
    const double sx = cx * 6 + 1 + 4 * Hash01(cx, cy, seed + 1), sy = cy * 6 + 1 + 4 * Hash01(cx, cy, seed + 2);
    const double d = std::hypot(x - sx, y - sy);
    return std::exp(-d * d * 1.5) * (0.4 + 0.6 * Hash01(cx, cy, seed + 3));
}

TColor Add(TColor a, const TColor& b, double k) {
    a.R += b.R * k;
    a.G += b.G * k;
    a.B += b.B * k;
    return a;
}

// Sunset sky with a striped sun over a glowing floor grid, 800 x 600 units.
TColor LoadingScreen(double x, double y) {
    const double horizon = 400;
    static const TLabel title("KARMONT", 400, 170, 92);
    static const TLabel loading("LOADING", 400, 540, 20);
    static const TLabel engine("CORVALA DEMOSYSTEM", 400, 258, 16);
    TColor c;
    if (y < horizon) {
        const double t = y / horizon;
        c = Mix(TColor{0.02, 0.01, 0.07}, TColor{0.35, 0.06, 0.32}, t * t);
        c = Add(c, TColor{1, 1, 1}, Stars(x, y, 9, 7) * (1 - t));
        // The sun, cut by widening stripes towards its lower edge.
        const double dx = x - 400, dy = y - 330;
        const double r = std::sqrt(dx * dx + dy * dy);
        if (r < 130) {
            const double k = (y - 200) / 130.0;
            const bool cut = y > 320 && std::fmod(y - 320, 16.0) < 2 + 8 * Clamp01((y - 320) / 80);
            if (!cut) c = Mix(TColor{1.0, 0.92, 0.35}, TColor{1.0, 0.2, 0.55}, Clamp01(k));
        }
        c = Add(c, TColor{1.0, 0.3, 0.5}, 0.35 * std::exp(-std::max(0.0, r - 130) / 40));
    } else {
        // Floor: lines running to the vanishing point and lines across,
        // closer together towards the horizon.
        const double depth = (y - horizon) / (600 - horizon);
        c = Mix(TColor{0.12, 0.02, 0.16}, TColor{0.02, 0.0, 0.05}, depth);
        const double z = 1.0 / std::max(depth, 1e-3);
        const double across = std::fabs(std::fmod(z * 2.0 + 0.5, 1.0) - 0.5) / (z * 0.9);
        const double lateral = (x - 400) / std::max(depth, 1e-3) / 80.0;
        const double along = std::fabs(std::fmod(lateral + 1000.5, 1.0) - 0.5) * 80.0 * depth;
        const double line = std::max(std::exp(-across * across * 180), std::exp(-along * along * 0.6));
        c = Add(c, TColor{0.1, 0.85, 1.0}, line * (0.25 + 0.75 * depth));
        c = Add(c, TColor{1.0, 0.3, 0.6}, 0.5 * std::exp(-(y - horizon) / 12));
    }
    const double d = title.Distance(x, y);
    c = Add(c, TColor{0.1, 0.8, 1.0}, 0.9 * std::exp(-std::max(0.0, d - 6) / 10));
    if (d < 8) c = Mix(c, Mix(TColor{1, 1, 1}, TColor{0.55, 0.9, 1.0}, Clamp01((y - 130) / 90)), SmoothStep(8, 6, d));
    const double e = engine.Distance(x, y);
    c = Mix(c, TColor{1.0, 0.85, 0.95}, SmoothStep(2.2, 1.0, e));
    const double l = loading.Distance(x, y);
    c = Add(c, TColor{1.0, 0.3, 0.6}, 0.6 * std::exp(-std::max(0.0, l - 2) / 5));
    c = Mix(c, TColor{1, 1, 1}, SmoothStep(2.5, 1.2, l));
    return c;
}

// Night backdrop for the 3D scenes: deep blue to teal with soft clouds.
TColor Backdrop(double x, double y) {
    const double t = y / 600;
    TColor c = Mix(TColor{0.01, 0.02, 0.08}, TColor{0.02, 0.22, 0.3}, t * t);
    const double cloud = Fractal(x / 160, y / 90, 64, 5, 21);
    c = Add(c, TColor{0.25, 0.35, 0.55}, SmoothStep(0.45, 0.85, cloud) * 0.35 * (0.4 + t));
    c = Add(c, TColor{0.9, 0.95, 1.0}, Stars(x, y, 7, 3) * (1 - t));
    return c;
}

TColor Chrome(double y, double top, double bottom) {
    const double t = Clamp01((y - top) / (bottom - top));
    if (t < 0.5) return Mix(TColor{0.95, 0.98, 1.0}, TColor{0.35, 0.55, 0.85}, t / 0.5);
    if (t < 0.56) return Mix(TColor{0.12, 0.1, 0.25}, TColor{0.3, 0.15, 0.3}, (t - 0.5) / 0.06);
    return Mix(TColor{1.0, 0.55, 0.2}, TColor{1.0, 0.95, 0.6}, (t - 0.56) / 0.44);
}

const double TitleStroke = 8.0;

// The title's colour: chrome letters inside a cyan glow. 800 x 200 units.
TColor TitleColor(double x, double y) {
    static const TLabel title("KARMONT", 400, 100, 100);
    const double d = title.Distance(x, y);
    if (d < TitleStroke + 1.5) return Chrome(y, 50, 150);
    return TColor{0.2, 0.85, 1.0};
}

// The title's alpha picture (grey): solid letters and a soft glow.
TColor TitleAlpha(double x, double y) {
    static const TLabel title("KARMONT", 400, 100, 100);
    const double d = title.Distance(x, y);
    const double a =
        std::max(SmoothStep(TitleStroke + 1, TitleStroke - 1, d), 0.55 * std::exp(-std::max(0.0, d - TitleStroke) / 9));
    return TColor{a, a, a};
}

// White text over a magenta glow on a transparent ground, 800 x 400 units.
TColor GlowText(const std::vector<TLabel>& lines, const TColor& glow, double x, double y) {
    double d = 1e9;
    for (const TLabel& l : lines) d = std::min(d, l.Distance(x, y));
    const double core = SmoothStep(3.2, 1.8, d);
    const double halo = 0.7 * std::exp(-std::max(0.0, d - 2.5) / 6) * (d < 60 ? 1 : 0);
    const double a = std::max(core, halo);
    TColor c = Mix(glow, TColor{1, 1, 1}, core);
    // Quantised alpha keeps the fully transparent ground in long runs.
    c.A = std::floor(a * 64) / 64;
    return c;
}

TColor Credits(double x, double y) {
    static const std::vector<TLabel> lines = {
        TLabel("A CORVALA PRODUCTION", 400, 70, 34),
        TLabel("CODE  MUSIC  GRAPHICS", 400, 190, 26),
        TLabel("ALL MADE BY CODE", 400, 250, 26),
        TLabel("NOTHING DOWNLOADED", 400, 330, 22),
    };
    return GlowText(lines, TColor{0.95, 0.2, 0.7}, x, y);
}

TColor Greets(double x, double y) {
    static const std::vector<TLabel> lines = {
        TLabel("GREETINGS TO EVERY SCENER", 400, 60, 30),
        TLabel("THANKS FOR WATCHING", 400, 140, 30),
    };
    return GlowText(lines, TColor{0.2, 0.7, 1.0}, x, y);
}

// Particle sprites on black (they are added onto the frame), 64 x 64 units.
TColor Spark(double x, double y) {
    const double dx = (x - 32) / 32, dy = (y - 32) / 32;
    const double r = std::sqrt(dx * dx + dy * dy);
    const double core = std::exp(-r * r * 30);
    const double rays = std::exp(-std::fabs(dx) * 40) * std::exp(-std::fabs(dy) * 3.5) +
                        std::exp(-std::fabs(dy) * 40) * std::exp(-std::fabs(dx) * 3.5);
    const double fade = Clamp01(1 - r);
    const double v = (core + 0.6 * rays) * fade;
    return TColor{v, v * 0.85, v * 0.55};
}

TColor StarSprite(double x, double y) {
    const double dx = (x - 32) / 32, dy = (y - 32) / 32;
    const double r = std::sqrt(dx * dx + dy * dy);
    const double ring = std::exp(-std::pow((r - 0.62) / 0.08, 2.0));
    const double inner = 0.25 * std::exp(-r * r * 6);
    const double v = (ring + inner) * Clamp01((1 - r) * 8);
    return TColor{v * 0.55, v * 0.9, v};
}

TColor Dot(double x, double y) {
    const double dx = (x - 32) / 32, dy = (y - 32) / 32;
    const double r2 = dx * dx + dy * dy;
    const double v = 0.7 * std::exp(-r2 * 6) * Clamp01((1 - std::sqrt(r2)) * 5);
    return TColor{v, v * 0.45, v * 0.85};
}

// Object textures. Marble and tiles repeat seamlessly (256 x 256 units).
TColor Marble(double x, double y) {
    const double n = Fractal(x / 32, y / 32, 8, 5, 41);
    const double vein = std::fabs(std::sin((x + y) / 256 * 2 * Pi * 2 + n * 9));
    const double v = std::pow(vein, 0.3);
    TColor c = Mix(TColor{1.0, 0.8, 0.35}, TColor{0.04, 0.3, 0.28}, v);
    return Mix(c, TColor{0.02, 0.12, 0.15}, 0.45 * Fractal(x / 16, y / 16, 16, 3, 43));
}

TColor Tiles(double x, double y) {
    const int tx = int(x / 32), ty = int(y / 32);
    const double fx = std::fmod(x, 32), fy = std::fmod(y, 32);
    if (fx < 2 || fy < 2) return TColor{0.08, 0.06, 0.1};
    const bool dark = (tx + ty) % 2 == 1;
    return dark ? TColor{0.05, 0.45, 0.5} : TColor{0.95, 0.85, 0.6};
}

// A sphere-map environment: what a mirror ball shows of a sky over a dark
// ground with a low sun. Kept dim, since it is added onto the base texture.
TColor ChromeEnv(double x, double y) {
    const double nx = (x - 128) / 128, ny = (128 - y) / 128;
    const double r2 = nx * nx + ny * ny;
    const double nz = std::sqrt(std::max(0.0, 1 - r2));
    // Reflection of the view direction (0, 0, -1) about the normal.
    const double rx = 2 * nx * nz, ry = 2 * ny * nz, rz = 2 * nz * nz - 1;
    TColor c;
    if (ry >= 0)
        c = Mix(TColor{0.55, 0.45, 0.5}, TColor{0.08, 0.18, 0.45}, std::pow(ry, 0.6));
    else
        c = Mix(TColor{0.3, 0.2, 0.15}, TColor{0.05, 0.03, 0.03}, std::pow(-ry, 0.5));
    const double sun = rx * 0.5 + ry * 0.3 + rz * 0.81;
    c = Add(c, TColor{1.0, 0.8, 0.5}, 0.6 * std::pow(Clamp01(sun), 40));
    return c;
}

// The shading ramp: every row the same, hard steps between the bands; the
// steps fall on 8-pixel block edges so JPEG keeps them sharp.
TColor Ramp(double x, double) {
    const int column = int(x);
    const TRampBand* band = &ShadeRamp[0];
    for (const TRampBand& b : ShadeRamp)
        if (column >= b.FirstColumn) band = &b;
    return TColor{band->R / 255.0, band->G / 255.0, band->B / 255.0};
}

// A small warm glow with faint cross rays, black at the border. Kept dim:
// the highlight pass adds one sprite per bright vertex, and hundreds of
// them overlap along a tube.
TColor Flare(double x, double y) {
    const double dx = (x - 64) / 64, dy = (y - 64) / 64;
    const double r = std::sqrt(dx * dx + dy * dy);
    const double glow = 0.55 * std::exp(-r * r * 25) + 0.08 * std::exp(-r * 5);
    const double rays = 0.12 * (std::exp(-std::fabs(dy) * 50) + std::exp(-std::fabs(dx) * 50)) * Clamp01(1 - r);
    const double v = (glow + rays) * SmoothStep(1.0, 0.8, r);
    return TColor{v, v * 0.9, v * 0.75};
}

// Pale haze behind the cylinder field, 256 x 256 units: white in the
// middle, where the far cylinders fade into the white fog, warming towards
// the rim. Round, so that it reads the same however the camera rolls.
TColor Haze(double x, double y) {
    const double dx = (x - 128) / 128, dy = (y - 128) / 128;
    const double r2 = std::min(1.0, (dx * dx + dy * dy) / 2);
    return Mix(TColor{1.0, 1.0, 1.0}, TColor{0.96, 0.88, 0.8}, r2);
}

} // namespace

bool MakePictures(std::vector<TGenFile>& files, std::string& error) {
    auto jpeg = [&](const std::string& name, const TImage& image, int quality, bool grey) {
        TGenFile file{name, {}};
        std::string why;
        if (!EncodeJPEG(image, quality, grey, file.Bytes, why)) {
            error = name + ": " + why;
            return false;
        }
        files.push_back(std::move(file));
        return true;
    };
    auto raw = [&](const std::string& name, std::vector<uint8_t> bytes) {
        files.push_back(TGenFile{name, std::move(bytes)});
    };

    if (!jpeg("loading.jpg", Paint(512, 512, 800, 600, LoadingScreen), 92, false)) return false;
    raw("backdrop.bmp", EncodeBMP(Paint(256, 256, 800, 600, Backdrop)));
    if (!jpeg("title.jpg", Paint(512, 128, 800, 200, TitleColor), 92, false)) return false;
    if (!jpeg("title_alpha.jpg", Paint(512, 128, 800, 200, TitleAlpha), 95, true)) return false;
    raw("credits.tga", EncodeTGA(Paint(512, 256, 800, 400, Credits), true, true));
    raw("greets.tga", EncodeTGA(Paint(512, 128, 800, 200, Greets), true, false));
    raw("spark.tga", EncodeTGA(Paint(64, 64, 64, 64, Spark), false, false));
    raw("star.bmp", EncodeBMP(Paint(64, 64, 64, 64, StarSprite)));
    if (!jpeg("dot.jpg", Paint(64, 64, 64, 64, Dot), 95, false)) return false;
    if (!jpeg("marble.jpg", Paint(256, 256, 256, 256, Marble), 90, false)) return false;
    raw("tiles.tga", EncodeTGA(Paint(256, 256, 256, 256, Tiles), false, true));
    raw("chrome.bmp", EncodeBMP(Paint(256, 256, 256, 256, ChromeEnv)));
    if (!jpeg("shader.jpg", Paint(256, 16, 256, 16, Ramp), 100, false)) return false;
    if (!jpeg("flare.jpg", Paint(128, 128, 128, 128, Flare), 95, false)) return false;
    if (!jpeg("haze.jpg", Paint(128, 128, 256, 256, Haze), 90, false)) return false;
    return true;
}

} // namespace gen
