// Any resolution draws right: at 1280 x 720 the full-screen effects cover
// the whole window and a sphere drawn after 2D drawing stays round.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "assets/png.h"
#include "fx3d_support.h"
#include "support/run_engine.h"

namespace {

constexpr int Width = 1280, Height = 720;

// 150 BPM (a row lasts 0.1 s). Rows 0-3: a small square in a corner (2D
// drawing, which puts a perspective back), then a white sphere 60 units
// across; rows 4-7: a blue flash on the note at row 4; rows 8-11: a red
// plaincolor at its default rectangle.
const char* const Script = "RESOLUTIONX 1280\nRESOLUTIONY 720\nINIT\nTRACKER beat.trk\nBPM 150\nCLEARCOLOR 0 0 0 255\n"
                           "LOAD plaincolor 0\nE 0\nF 255\nG 0\nW 4\nH 4\n"
                           "LOAD object 1\nA sphere.3ds\nE 255\nF 255\nG 255\n"
                           "LOAD flash 2\nE 0\nF 0\nG 255\n"
                           "LOAD plaincolor 3\nE 255\nF 0\nG 0\n"
                           "BAR corner\nMOUNT 0\nLENGTH 0 0 1\nEFFECT 0\n"
                           "BAR sphere\nMOUNT 0\nLENGTH 0 0 1\nEFFECT 1\n"
                           "BAR flash\nMOUNT 0 0 1\nLENGTH 0 0 1\nEFFECT 2\nINPUT 0 0 36 1000 0\n"
                           "BAR red\nMOUNT 0 0 2\nLENGTH 0 0 1\nEFFECT 3\n";

TPicture Frame(const testutil::TempDir& dir, int index) {
    char name[40];
    std::snprintf(name, sizeof name, "out/frame_%06d.png", index);
    TPicture picture;
    std::string error;
    EXPECT_TRUE(ReadPNG(dir.File(name), picture, error)) << error;
    return picture;
}

// Pixels of the frame for which `test(r, g, b)` holds.
template <class Test> size_t Count(const TPicture& picture, Test test) {
    size_t count = 0;
    for (size_t i = 0; i + 2 < picture.Pixels.size(); i += size_t(picture.Channels))
        count += test(picture.Pixels[i], picture.Pixels[i + 1], picture.Pixels[i + 2]);
    return count;
}

} // namespace

TEST(AnyResolution, FullScreenEffectsCoverTheWindowAndASphereIsRound) {
    testutil::TempDir dir;
    std::vector<uint8_t> notes(16, 0);
    notes[4] = 36;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 16, notes));
    fx3d::WriteModel(dir, "sphere.3ds", {fx3d::SphereMesh(30, 48, 96)});
    dir.Write("demo.cvl", Script);
    const auto run = testutil::RunEngine("--capture out --fps 10 --frames 10 demo.cvl", dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;

    // The sphere's silhouette: as wide as it is high, within 1 %.
    const TPicture sphere = Frame(dir, 0);
    ASSERT_EQ(sphere.Width, Width);
    ASSERT_EQ(sphere.Height, Height);
    int left = Width, right = -1, bottom = Height, top = -1;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const uint8_t* p = &sphere.Pixels[(size_t(y) * Width + size_t(x)) * size_t(sphere.Channels)];
            if (p[0] > 128 && p[1] > 128 && p[2] > 128) {
                left = std::min(left, x), right = std::max(right, x);
                bottom = std::min(bottom, y), top = std::max(top, y);
            }
        }
    ASSERT_GT(right, left);
    const double width = right - left + 1, height = top - bottom + 1;
    EXPECT_GT(height, 200);
    EXPECT_NEAR(width / height, 1.0, 0.01) << width << " x " << height;
    // Centred in the window.
    EXPECT_NEAR((left + right) / 2.0, Width / 2.0, 2);
    EXPECT_NEAR((bottom + top) / 2.0, Height / 2.0, 2);

    // The flash (input 0.9 at 0.5 s) and the default rectangle cover every
    // pixel, not only the lower-left 800 x 600.
    const size_t all = size_t(Width) * Height;
    EXPECT_EQ(Count(Frame(dir, 5), [](int r, int g, int b) { return r == 0 && g == 0 && b > 200; }), all);
    EXPECT_EQ(Count(Frame(dir, 9), [](int r, int g, int b) { return r == 255 && g == 0 && b == 0; }), all);
}
