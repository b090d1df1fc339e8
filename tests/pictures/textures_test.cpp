// Texture creation, the loaders' dispatch and reports, the registry and the
// material state operations, checked through glGet and drawn pixels.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "assets/png.h"
#include "render/textures.h"
#include "base/report.h"
#include "picture_files.h"
#include "render/material.h"
#include "support/gl_test.h"

namespace {

struct TReports {
    std::vector<std::pair<std::string, std::string>> Seen;
    TReports() {
        SetReportSink(
            [this](const std::string& caption, const std::string& text) { Seen.emplace_back(caption, text); });
    }
    ~TReports() { SetReportSink(nullptr); }
};

GLint TexParameter(GLenum name) {
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    return value;
}

GLint LevelParameter(GLint level, GLenum name) {
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, name, &value);
    return value;
}

std::array<GLfloat, 4> Floats(GLenum name) {
    std::array<GLfloat, 4> v{};
    glGetFloatv(name, v.data());
    return v;
}

std::array<GLfloat, 4> MaterialColor(GLenum name) {
    std::array<GLfloat, 4> v{};
    glGetMaterialfv(GL_FRONT, name, v.data());
    return v;
}

using Color4 = std::array<GLfloat, 4>;

} // namespace

TEST(TexCreate, FilterModesAndFullMipmapChain) {
    REQUIRE_GL_CONTEXT(64, 64);
    const std::vector<uint8_t> pixels(4 * 4 * 4, 128);
    const std::pair<GLint, GLint> expected[] = {{GL_NEAREST, GL_NEAREST},
                                                {GL_LINEAR, GL_LINEAR},
                                                {GL_LINEAR, GL_LINEAR_MIPMAP_LINEAR},
                                                {GL_LINEAR, GL_NEAREST_MIPMAP_LINEAR}}; // mode 7: GL defaults
    GLuint nearest = 0;
    for (uint8_t mode : {0, 1, 2, 7}) {
        TexFilterMode = mode;
        const GLuint name = TexCreate(4, 4, GL_RGBA, pixels.data());
        if (mode == 0) nearest = name;
        ASSERT_NE(name, 0u);
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(GLuint(bound), name);
        const auto& [mag, min] = expected[mode == 7 ? 3 : mode];
        EXPECT_EQ(TexParameter(GL_TEXTURE_MAG_FILTER), mag) << int(mode);
        EXPECT_EQ(TexParameter(GL_TEXTURE_MIN_FILTER), min) << int(mode);
        EXPECT_EQ(TexParameter(GL_TEXTURE_WRAP_S), GL_REPEAT);
        EXPECT_EQ(TexParameter(GL_TEXTURE_WRAP_T), GL_REPEAT);
        EXPECT_EQ(LevelParameter(2, GL_TEXTURE_WIDTH), 1) << "mipmap chain, mode " << int(mode);
    }
    TexFilterMode = 2;
    glBindTexture(GL_TEXTURE_2D, nearest);
    EXPECT_EQ(TexParameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
    GLint env = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
    EXPECT_EQ(env, GL_MODULATE);
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST(TexCreate, RGBRowsAreTightlyPacked) {
    REQUIRE_GL_CONTEXT(64, 64);
    // 2 x 2 RGB: 6 bytes a row, not a multiple of the default alignment.
    const std::vector<uint8_t> pixels = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    const GLuint name = TexCreate(2, 2, GL_RGB, pixels.data());
    ASSERT_NE(name, 0u);
    EXPECT_EQ(LevelParameter(0, GL_TEXTURE_INTERNAL_FORMAT), 3); // three components, as requested
    std::vector<uint8_t> back(12);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, back.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    EXPECT_EQ(back, pixels);
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 4) << "unpack alignment restored";
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (maxSize < 0xFFFF) {
        TReports reports;
        EXPECT_EQ(TexCreate(uint16_t(maxSize + 1), 1, GL_RGB, pixels.data()), 0u);
        ASSERT_EQ(reports.Seen.size(), 1u);
    }
}

TEST(TexLoad, DispatchFormatsAndReports) {
    REQUIRE_GL_CONTEXT(64, 64);
    TReports reports;
    int32_t texture = 77;
    EXPECT_TRUE(TexLoad(testpic::WriteFile("a.Bmp", testpic::MakeBMP(3, 3)), texture));
    EXPECT_EQ(LevelParameter(0, GL_TEXTURE_INTERNAL_FORMAT), 3); // three components, as requested
    EXPECT_TRUE(TexLoad(testpic::WriteFile("b.TGA", testpic::MakeTGA(2, 2, 32)), texture));
    EXPECT_EQ(LevelParameter(0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA);
    EXPECT_TRUE(TexLoad(testpic::WriteFile("c.jpg", testpic::MakeJPEG(8, 8, true)), texture));
    EXPECT_EQ(LevelParameter(0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA);
    EXPECT_TRUE(reports.Seen.empty());

    EXPECT_TRUE(TexLoad(testpic::WriteFile("d.jpeg", testpic::MakeJPEG(8, 8)), texture));
    TPicture png;
    png.Width = png.Height = 2;
    png.Channels = 4;
    png.Pixels.assign(16, 128);
    std::string pngError;
    ASSERT_TRUE(WritePNG((testpic::Folder() / "e.png").string(), png, pngError)) << pngError;
    EXPECT_TRUE(TexLoad((testpic::Folder() / "e.png").string(), texture));
    EXPECT_EQ(LevelParameter(0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA);
    EXPECT_TRUE(reports.Seen.empty());

    texture = 77;
    EXPECT_FALSE(TexLoad("f.gif", texture));
    ASSERT_EQ(reports.Seen.size(), 1u);
    EXPECT_EQ(reports.Seen[0].second,
              "Couldn't load \"f.gif\". Pictures are read from .bmp, .jpg, .jpeg, .png and .tga files.");
    reports.Seen.clear();
    const std::string missing = (testpic::Folder() / "none.tga").string();
    EXPECT_FALSE(TexLoad(missing, texture));
    EXPECT_FALSE(TexLoad("logo.bmp", texture, true));
    EXPECT_FALSE(TexLoadJPG((testpic::Folder() / "none.jpg").string(), texture));
    EXPECT_EQ(texture, 77);
    ASSERT_EQ(reports.Seen.size(), 3u);
    EXPECT_EQ(reports.Seen[0], std::make_pair(std::string("TGA Texture"), "File not found  - " + missing));
    EXPECT_EQ(reports.Seen[1],
              std::make_pair(std::string("BMP Texture"), std::string("File not found in resource - logo.bmp")));
    EXPECT_EQ(reports.Seen[2].second, "Couldn't load JPG - \"" + (testpic::Folder() / "none.jpg").string() + "\"");

    const std::string broken = testpic::WriteFile("broken.jpg", testpic::Bytes(40, 1));
    EXPECT_THROW(TexLoad(broken, texture), EApplicationError);
    EXPECT_EQ(texture, 77);
}

TEST(TexLoad, PictureLandsUpright) {
    REQUIRE_GL_CONTEXT(64, 64);
    int32_t texture = NoTexture;
    TexFilterMode = 0;
    ASSERT_TRUE(TexLoadBMP(testpic::WriteFile("upright.bmp", testpic::MakeBMP(2, 2)), texture));
    TexFilterMode = 2;
    glViewport(0, 0, 64, 64);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    BindTexture(texture);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0), glVertex2f(-1, -1);
    glTexCoord2f(1, 0), glVertex2f(1, -1);
    glTexCoord2f(1, 1), glVertex2f(1, 1);
    glTexCoord2f(0, 1), glVertex2f(-1, 1);
    glEnd();
    ResetRenderState();
    for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
        const testpic::TRGBA e = testpic::Pattern(x, y);
        EXPECT_EQ(testgl::PixelAt(16 + 32 * x, 16 + 32 * y), uint32_t(e.R) << 24 | e.G << 16 | e.B << 8 | 0xFF)
            << x << "," << y;
    }
}

TEST(TextureRegistry, LoadsOnceByExactNameAndRetriesFailures) {
    REQUIRE_GL_CONTEXT(64, 64);
    ClearTextureRegistry();
    TReports reports;
    const std::string flare = testpic::WriteFile("flare.jpg", testpic::MakeJPEG(8, 8));
    const std::string upper = testpic::WriteFile("FLARE.jpg", testpic::MakeJPEG(8, 8));
    const int32_t first = LoadTexture(flare);
    ASSERT_NE(first, NoTexture);
    std::filesystem::remove(flare); // a second request must not read the file again
    EXPECT_EQ(LoadTexture(flare), first);
    const int32_t other = LoadTexture(upper);
    EXPECT_NE(other, first);
    EXPECT_NE(other, NoTexture);
    EXPECT_EQ(TextureRegistry().size(), 2u);

    const std::string missing = (testpic::Folder() / "gone.bmp").string();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(LoadTexture(missing), NoTexture);
    EXPECT_EQ(reports.Seen.size(), 3u);
    ASSERT_EQ(TextureRegistry().size(), 5u);
    for (size_t i = 2; i < 5; ++i) EXPECT_EQ(TextureRegistry()[i].Texture, NoTexture);

    RegisterTexture("dup", 5);
    RegisterTexture("dup", 9);
    EXPECT_EQ(FindTexture("dup"), 9);
    EXPECT_EQ(FindTexture("DUP"), NoTexture);

    EXPECT_EQ(LoadMaskedTexture(upper, missing), NoTexture);
    EXPECT_EQ(TextureRegistry().size(), 7u) << "masked textures are not registered";
    ClearTextureRegistry();
    EXPECT_EQ(FindTexture(upper), NoTexture);
}

TEST(MaterialState, OperationsLeaveTheirState) {
    REQUIRE_GL_CONTEXT(64, 64);
    const Color4 white{1, 1, 1, 1}, black{0, 0, 0, 1}, red{1, 0, 0, 1};
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    SphereMapOn();
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_GEN_S) && glIsEnabled(GL_TEXTURE_GEN_T));
    SetPlainColor(TRGBAColor{1, 0, 0, 1});
    for (GLenum cap : {GL_TEXTURE_2D, GL_BLEND, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T}) EXPECT_FALSE(glIsEnabled(cap));
    EXPECT_EQ(MaterialColor(GL_DIFFUSE), red);
    EXPECT_EQ(MaterialColor(GL_AMBIENT), black);
    EXPECT_EQ(Floats(GL_CURRENT_COLOR), red);

    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 50);
    ResetRenderState();
    EXPECT_EQ(MaterialColor(GL_AMBIENT), (Color4{0.2f, 0.2f, 0.2f, 1}));
    EXPECT_EQ(MaterialColor(GL_DIFFUSE), (Color4{0.8f, 0.8f, 0.8f, 1}));
    EXPECT_EQ(MaterialColor(GL_SPECULAR), black);
    EXPECT_EQ(MaterialColor(GL_EMISSION), black);
    EXPECT_EQ(MaterialColor(GL_SHININESS)[0], 0);
    EXPECT_EQ(Floats(GL_CURRENT_COLOR), white);
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));

    GLuint name = 0;
    glGenTextures(1, &name);
    BindTexture(int32_t(name));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), name);
    SphereMapOn();
    SphereMapOff();
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_GEN_S) || glIsEnabled(GL_TEXTURE_GEN_T));
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST(MaterialState, ApplyByMode) {
    REQUIRE_GL_CONTEXT(64, 64);
    Material m;
    glEnable(GL_BLEND);
    m.Apply();
    EXPECT_EQ(Floats(GL_CURRENT_COLOR), (Color4{0, 0, 0, 0}));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

    m.Blend = true;
    m.Color = TRGBAColor{1, 0, 0, 1};
    m.BlendColor = TRGBAColor{0, 1, 0, 0.5f};
    m.Apply();
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(Floats(GL_CURRENT_COLOR), (Color4{0, 1, 0, 0.5f}));
    GLint src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(std::make_pair(src, dst), std::make_pair(GL_ONE, GL_ONE));

    GLuint name = 0;
    glGenTextures(1, &name);
    m.Mode = 1;
    m.Texture = int32_t(name);
    m.SphereMap = true;
    m.AlphaBlend = true;
    m.Apply();
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D) && glIsEnabled(GL_TEXTURE_GEN_S) && glIsEnabled(GL_BLEND));
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(std::make_pair(src, dst), std::make_pair(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA));
    m.AlphaBlend = false;
    m.Apply();
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(std::make_pair(src, dst), std::make_pair(GL_SRC_COLOR, GL_DST_COLOR));
    m.Blend = false;
    m.Apply();
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(Floats(GL_CURRENT_COLOR), (Color4{1, 1, 1, 1}));

    m.Mode = 2; // changes nothing
    glEnable(GL_BLEND);
    m.Apply();
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    ResetRenderState();
    EXPECT_EQ(testgl::GLErrors(), "");
}
