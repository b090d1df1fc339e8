#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "render/font.h"
#include "render/gl.h"
#include "render/light.h"
#include "render/overlay.h"
#include "support/gl_test.h"
#include "window_fixture.h"

namespace {

constexpr int N = windowtest::Size;

void ClearTo(float r, float g, float b) {
    glClearColor(r, g, b, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// Bounding box of the pixels whose RGB differs from `background`
// (0xRRGGBB00); left < 0 when none does.
struct TBox {
    int Left = -1, Bottom = -1, Right = -1, Top = -1;
};

TBox LitBox(uint32_t background) {
    const auto pixels = testgl::ReadPixels(0, 0, N, N);
    TBox box;
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            const uint8_t* p = &pixels[size_t(y * N + x) * 4];
            const uint32_t rgb = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8;
            if (rgb == background) continue;
            if (box.Left < 0) box = {x, y, x, y};
            box.Left = std::min(box.Left, x);
            box.Right = std::max(box.Right, x);
            box.Bottom = std::min(box.Bottom, y);
            box.Top = std::max(box.Top, y);
        }
    return box;
}

int LitInRow(int y) {
    const auto row = testgl::ReadPixels(0, y, N, 1);
    int count = 0;
    for (int x = 0; x < N; ++x) count += row[size_t(x) * 4] > 128;
    return count;
}

uint32_t Rgb(int x, int y) { return testgl::PixelAt(x, y) & 0xFFFFFF00u; }

} // namespace

TEST(Overlay, BlendRectCoversItsRectangleAndRestoresState) {
    REQUIRE_WINDOW();
    ClearTo(0, 0, 0);
    glEnable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glColor4f(0.1f, 0.2f, 0.3f, 0.4f);

    DrawBlendRect(MakeColor(1, 0, 0, 1), 8, 16, 20, 10);
    const TBox box = LitBox(0);
    EXPECT_EQ(box.Left, 8);
    EXPECT_EQ(box.Right, 27);
    EXPECT_EQ(box.Bottom, 16);
    EXPECT_EQ(box.Top, 25);
    EXPECT_EQ(Rgb(8, 16), 0xFF000000u);
    EXPECT_EQ(Rgb(27, 25), 0xFF000000u);

    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    int src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(src, GL_ONE);
    EXPECT_EQ(dst, GL_ZERO);
    float color[4];
    glGetFloatv(GL_CURRENT_COLOR, color);
    EXPECT_FLOAT_EQ(color[0], 0.1f);
    EXPECT_FLOAT_EQ(color[3], 0.4f);

    // Half alpha blends with what is there.
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    DrawBlendRect(MakeColor(0, 0, 1, 0.5f), 40, 40, 4, 4);
    const uint32_t mixed = testgl::PixelAt(41, 41);
    EXPECT_NEAR(int(mixed >> 8 & 0xFF), 128, 1);
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST(Overlay, AddRectAdds) {
    REQUIRE_WINDOW();
    ClearTo(0.2f, 0.2f, 0.4f);
    DrawAddRect(MakeColor(0.5f, 0.25f, 0.0f, 1.0f), 0, 0, N, N);
    const uint32_t p = testgl::PixelAt(N / 2, N / 2);
    EXPECT_NEAR(int(p >> 24), 51 + 128, 2);
    EXPECT_NEAR(int(p >> 16 & 0xFF), 51 + 64, 2);
    EXPECT_NEAR(int(p >> 8 & 0xFF), 102, 1);
    // Alpha scales what is added.
    ClearTo(0, 0, 0);
    DrawAddRect(MakeColor(1, 1, 1, 0.5f), 0, 0, N, N);
    DrawAddRect(MakeColor(1, 1, 1, 0.5f), 0, 0, N, N);
    EXPECT_NEAR(int(testgl::PixelAt(1, 1) >> 24), 255, 1);
}

TEST(Overlay, TexturedRectTakesHeightBeforeWidth) {
    REQUIRE_WINDOW();
    ClearTo(0, 0, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glColor4f(1, 1, 1, 1);
    DrawTexturedRect(10, 20, 30, 40);
    const TBox box = LitBox(0);
    EXPECT_EQ(box.Left, 10);
    EXPECT_EQ(box.Right, 49);
    EXPECT_EQ(box.Bottom, 20);
    EXPECT_EQ(box.Top, 49);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    glEnable(GL_DEPTH_TEST);
}

TEST(Overlay, PictureLandsUpright) {
    REQUIRE_WINDOW();
    // 2 x 2 texture, bottom row first: red, green / blue, white.
    const uint8_t texels[] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    glBindTexture(GL_TEXTURE_2D, 0);

    ClearTo(0, 0, 0);
    glEnable(GL_BLEND);
    glEnable(GL_COLOR_MATERIAL);
    glDisable(GL_LIGHTING);
    DrawPicture(texture, 0, 0, N, N);
    EXPECT_EQ(Rgb(4, 4), 0xFF000000u);
    EXPECT_EQ(Rgb(N - 4, 4), 0x00FF0000u);
    EXPECT_EQ(Rgb(4, N - 4), 0x0000FF00u);
    EXPECT_EQ(Rgb(N - 4, N - 4), 0xFFFFFF00u);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDeleteTextures(1, &texture);
}

TEST(Overlay, EndOrthoRestoresThePerspectiveAtTheWindowsAspect) {
    REQUIRE_WINDOW();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(1, 2, 3);
    PushView();
    float m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ(m[14], -1.0f);
    EXPECT_EQ(m[12], 0.0f);
    BeginOrtho();
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_FLOAT_EQ(m[0], 2.0f / N);
    EXPECT_FLOAT_EQ(m[10], -2.0f / 101.0f);
    EndOrtho();
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    // The window is square: no 4:3 stretch.
    const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
    EXPECT_NEAR(m[0], f, 1e-5);
    EXPECT_NEAR(m[5], f, 1e-5);
    PopView();
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ(m[12], 1.0f);
    EXPECT_EQ(m[14], 3.0f);
    glLoadIdentity();
}

TEST(Overlay, BillboardFacesTheCamera) {
    REQUIRE_WINDOW();
    ClearTo(0, 0, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glColor4f(1, 1, 1, 1);
    BeginOrtho();
    DrawBillboard(MakeVec3(32, 32, 0), 5);
    EndOrtho();
    EXPECT_EQ(BillboardRight.X, 1.0f);
    EXPECT_EQ(BillboardUp.Y, 1.0f);
    const TBox box = LitBox(0);
    EXPECT_EQ(box.Left, 27);
    EXPECT_EQ(box.Right, 36);
    EXPECT_EQ(box.Bottom, 27);
    EXPECT_EQ(box.Top, 36);

    // Axes come from the model-view rows: a quarter turn about z.
    glLoadIdentity();
    glRotatef(90, 0, 0, 1);
    TVec3 up, right;
    GetBillboardAxes(up, right);
    EXPECT_NEAR(right.Y, -1.0f, 1e-6);
    EXPECT_NEAR(up.X, 1.0f, 1e-6);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
}

TEST(Font, MonoRowsComeOutBottomUpAndPacked) {
    // Three rows of 10 pixels, pitch 4 with padding bytes set.
    const uint8_t top[] = {0xFF, 0xC0, 0xEE, 0xEE, 0x80, 0x40, 0xEE, 0xEE, 0x01, 0xFF, 0xEE, 0xEE};
    const std::vector<uint8_t> expected = {0x01, 0xC0, 0x80, 0x40, 0xFF, 0xC0};
    EXPECT_EQ(MonoRowsBottomUp(top, 3, 10, 4), expected);
    // The same picture stored bottom row first, as a negative pitch says.
    const uint8_t bottom[] = {0x01, 0xFF, 0xEE, 0xEE, 0x80, 0x40, 0xEE, 0xEE, 0xFF, 0xC0, 0xEE, 0xEE};
    EXPECT_EQ(MonoRowsBottomUp(bottom, 3, 10, -4), expected);
    EXPECT_TRUE(MonoRowsBottomUp(nullptr, 0, 0, 0).empty());
}

TEST(Font, CodePage1252) {
    EXPECT_EQ(CodePage1252ToUnicode('A'), uint32_t('A'));
    EXPECT_EQ(CodePage1252ToUnicode(0x80), 0x20ACu);
    EXPECT_EQ(CodePage1252ToUnicode(0x9F), 0x0178u);
    EXPECT_EQ(CodePage1252ToUnicode(0x81), 0u);
    EXPECT_EQ(CodePage1252ToUnicode(0xC7), 0xC7u);
    EXPECT_EQ(CodePage1252ToUnicode(0x0A), 0u);
}

TEST(Font, GlyphsFitTheCell) {
    std::vector<TGlyphBitmap> glyphs;
    std::string error;
    if (!RenderFontGlyphs("Verdana", 14, true, 200, glyphs, error)) GTEST_SKIP() << "no font: " << error;
    ASSERT_EQ(glyphs.size(), 200u);
    const TGlyphBitmap& h = glyphs['H'];
    ASSERT_GT(h.Width, 0);
    EXPECT_EQ(h.OriginY, 0) << "H stands on the baseline";
    EXPECT_LE(h.Height, 14);
    EXPECT_GE(h.Height, 8);
    EXPECT_EQ(h.Rows.size(), size_t((h.Width + 7) / 8 * h.Height));
    EXPECT_GT(glyphs['g'].OriginY, 0) << "g descends";
    EXPECT_TRUE(glyphs[' '].Rows.empty());
    EXPECT_GT(glyphs[' '].Advance, 0);
    EXPECT_EQ(glyphs[0].Advance, 0);
    EXPECT_GT(glyphs[0x80].Width, 0) << "the euro sign";
}

TEST(Font, BuildFontAndPrintTextAtTheBaseline) {
    REQUIRE_WINDOW();
    const uint32_t base = BuildFont("Verdana", 14, true);
    ASSERT_NE(base, 0u);
    EXPECT_EQ(FontListBase, base);
    for (uint32_t i = 0; i < 200; ++i) ASSERT_TRUE(glIsList(base + i)) << i;
    EXPECT_EQ(testgl::GLErrors(), "");

    ClearTo(0, 0, 0);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_LIGHTING);
    PrintText("T", 10, 40, MakeColor(1, 1, 1, 1));
    const TBox box = LitBox(0);
    ASSERT_GE(box.Left, 0) << "no glyph pixels";
    EXPECT_EQ(box.Bottom, N - 40) << "T stands on the baseline";
    EXPECT_GE(box.Left, 10);
    EXPECT_LE(box.Left, 11);
    EXPECT_GE(box.Top - box.Bottom, 7);
    EXPECT_GT(LitInRow(box.Top), LitInRow(box.Bottom)) << "the bar of the T is on top";
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING)) << "lighting comes back as it was";
    EXPECT_EQ(TextX, 10.0f);
    EXPECT_EQ(TextY, 40.0f);

    // Codes without a glyph list draw nothing.
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    ClearTo(0, 0, 0);
    PrintText("\xC8\xFF", 10, 40, MakeColor(1, 1, 1, 1));
    EXPECT_LT(LitBox(0).Left, 0);
    PrintText(nullptr, 0, 0, MakeColor(1, 1, 1, 1));
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST(Light, DefaultLight) {
    REQUIRE_WINDOW();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    SelectLight(GL_LIGHT0);
    SetupDefaultLight();
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_NORMALIZE));
    float v[4];
    glGetLightfv(GL_LIGHT0, GL_POSITION, v);
    EXPECT_EQ(v[0], 10.0f);
    EXPECT_EQ(v[3], 1.0f);
    glGetLightfv(GL_LIGHT0, GL_AMBIENT, v);
    EXPECT_EQ(v[0], 1.0f);
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, v);
    EXPECT_EQ(v[3], 0.5f);

    // The position goes through the model-view matrix of the call.
    glTranslatef(0, 0, -5);
    SetLightPosition(MakeVec3(1, 2, 3));
    glGetLightfv(GL_LIGHT0, GL_POSITION, v);
    EXPECT_EQ(v[2], -2.0f);
    EXPECT_EQ(LightPosition[2], 3.0f);
    EXPECT_EQ(LightPosition[3], 1.0f);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_LIGHT0);
    glDisable(GL_NORMALIZE);
    EXPECT_EQ(testgl::GLErrors(), "");
}
