#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/effect.h"
#include "base/report.h"
#include "effects/plain.h"
#include "render/gl.h"
#include "render/window.h"
#include "support/gl_test.h"
#include "support/temp_dir.h"

namespace {

constexpr int Width = 64, Height = 48;

// A frame of the given clear colour in a 64 x 48 window whose overlay units
// are its pixels.
void BeginFrame(float r, float g, float b) {
    CurrentWindow.Width = Width;
    CurrentWindow.Height = Height;
    glViewport(0, 0, Width, Height);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glClearColor(r, g, b, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

uint32_t Rgb(int x, int y) { return testgl::PixelAt(x, y) >> 8; }

TInputValues Input0(float value) {
    TInputValues inputs{};
    inputs[0] = value;
    return inputs;
}

// A 24-bit uncompressed TGA, bottom-left origin, from 0xRRGGBB pixels given
// top row first.
std::vector<uint8_t> Tga(int width, int height, const std::vector<uint32_t>& topFirst) {
    std::vector<uint8_t> bytes(18, 0);
    bytes[2] = 2;
    bytes[12] = uint8_t(width);
    bytes[14] = uint8_t(height);
    bytes[16] = 24;
    for (int y = height - 1; y >= 0; --y)
        for (int x = 0; x < width; ++x) {
            const uint32_t c = topFirst[size_t(y * width + x)];
            bytes.push_back(uint8_t(c));
            bytes.push_back(uint8_t(c >> 8));
            bytes.push_back(uint8_t(c >> 16));
        }
    return bytes;
}

} // namespace

TEST(PlainEffects, ColourRectangleCoversItsOverlayRectangleAndDrifts) {
    REQUIRE_GL_CONTEXT(Width, Height);
    TPlainColor rect;
    rect.X = 10;
    rect.Y = 8;
    rect.W = 20;
    rect.H = 10;
    rect.E = 255;
    rect.F = 0;
    rect.G = 0;
    BarTime = 0;
    BeginFrame(0, 0, 0);
    rect.Draw(Input0(0));
    EXPECT_EQ(Rgb(10, 8), 0xFF0000u);
    EXPECT_EQ(Rgb(29, 17), 0xFF0000u);
    EXPECT_EQ(Rgb(9, 8), 0x000000u);
    EXPECT_EQ(Rgb(30, 8), 0x000000u);
    EXPECT_EQ(Rgb(10, 18), 0x000000u);
    EXPECT_TRUE(glIsEnabled(GL_BLEND)); // left on by the base Draw

    rect.VX = 10;
    BarTime = 1;
    BeginFrame(0, 0, 0);
    rect.Draw(Input0(0));
    EXPECT_EQ(Rgb(15, 10), 0x000000u);
    EXPECT_EQ(Rgb(25, 10), 0xFF0000u);
    EXPECT_EQ(Rgb(39, 10), 0xFF0000u);

    // Without letter lines: opaque white over 800 x 600 units, so all of a
    // smaller window.
    TPlainColor plain;
    BeginFrame(0, 0, 0);
    plain.Draw(Input0(0));
    EXPECT_EQ(Rgb(0, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(Width - 1, Height - 1), 0xFFFFFFu);
    EXPECT_EQ(testgl::GLErrors(), "");
    BarTime = 0;
}

TEST(PlainEffects, FlashAddsAndInverseFlashInverts) {
    REQUIRE_GL_CONTEXT(Width, Height);
    TFlash flash;
    flash.E = 0;
    flash.F = 255;
    flash.G = 0;
    BeginFrame(0.2f, 0, 0);
    flash.Draw(Input0(0.5f));
    const uint32_t added = Rgb(30, 20);
    EXPECT_NEAR(int(added >> 16), 51, 1);
    EXPECT_NEAR(int((added >> 8) & 0xFF), 128, 1);
    BeginFrame(0.2f, 0, 0);
    flash.Draw(Input0(0));
    EXPECT_NEAR(int(Rgb(30, 20) >> 16), 51, 1);
    EXPECT_EQ(Rgb(30, 20) & 0xFFFF, 0u);

    TInverseFlash invert;
    BeginFrame(0.2f, 0.4f, 0.6f);
    invert.Draw(Input0(1));
    const uint32_t inverted = Rgb(5, 5);
    EXPECT_NEAR(int(inverted >> 16), 204, 1);
    EXPECT_NEAR(int((inverted >> 8) & 0xFF), 153, 1);
    EXPECT_NEAR(int(inverted & 0xFF), 102, 1);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLint src = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    EXPECT_EQ(src, GL_ONE_MINUS_DST_COLOR);

    // No input: no GL call at all, so the blend function stays as set here.
    glBlendFunc(GL_ONE, GL_ZERO);
    BeginFrame(0.2f, 0.4f, 0.6f);
    invert.Draw(Input0(0));
    glGetIntegerv(GL_BLEND_SRC, &src);
    EXPECT_EQ(src, GL_ONE);
    EXPECT_NEAR(int(Rgb(5, 5) >> 16), 51, 1);
}

TEST(PlainEffects, PictureLandsUprightAndNeedsAFile) {
    REQUIRE_GL_CONTEXT(Width, Height);
    testutil::TempDir dir;
    // Four 4 x 4 quadrants: red, green over blue, white.
    std::vector<uint32_t> quadrants;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            quadrants.push_back(y < 4 ? (x < 4 ? 0xFF0000 : 0x00FF00) : (x < 4 ? 0x0000FF : 0xFFFFFF));
    const std::string file = dir.Write("quad.tga", Tga(8, 8, quadrants));
    TPlainTexture picture;
    picture.A = file;
    picture.W = Width;
    picture.H = Height;
    picture.Load();
    ASSERT_NE(picture.Texture, 0u);
    BeginFrame(0, 0, 0);
    picture.Draw(Input0(0));
    // Quadrant centres, away from the filtered edges.
    EXPECT_EQ(Rgb(Width / 4, Height * 3 / 4), 0xFF0000u);     // top left
    EXPECT_EQ(Rgb(Width * 3 / 4, Height * 3 / 4), 0x00FF00u); // top right
    EXPECT_EQ(Rgb(Width / 4, Height / 4), 0x0000FFu);         // bottom left

    std::vector<std::string> reports;
    SetReportSink([&](const std::string&, const std::string& text) { reports.push_back(text); });
    TPlainTexture missing;
    missing.SlotIndex = 4;
    DemoQuit = false;
    missing.Load();
    SetReportSink(nullptr);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Effect PlainTexture requires texture filename in parameter A, Effect number 4"),
              std::string::npos);
    EXPECT_TRUE(DemoQuit);
    DemoQuit = false;
}
