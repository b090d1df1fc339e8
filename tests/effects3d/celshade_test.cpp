#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "render/textures.h"
#include "effects/celshadeobj.h"
#include "fx3d_support.h"
#include "render/gl.h"
#include "render/material.h"
#include "special/celshade.h"
#include "support/gl_test.h"

namespace fx3d {
namespace {

// One vertex per case, all with the normal (0, 0, 2) (normalised by
// CalcShade, not stored normalised), except where noted.
TBGL2CelshadeBrush Points(const std::vector<TVec3>& positions, const std::vector<TVec3>& normals) {
    TMeshDataN mesh;
    for (const TVec3& p : positions) mesh.AddVertex(p, TTexCoord{});
    mesh.Normals = normals;
    return TBGL2CelshadeBrush(mesh);
}

TEST(CelshadeBrush, CalcShadeAgainstHandComputedValues) {
    const TVec3 up{0, 0, 2};
    TBGL2CelshadeBrush brush =
        Points({{0, 0, 0}, {10, 0, 0}, {0, 5, 0}, {1, 1, 1}, {0, 0, 7}}, {up, up, up, {0, 0, 0}, up});
    EXPECT_EQ(brush.Shade, std::vector<float>(5, 0.0f)) << "zero until the first CalcShade";

    // Light 1 straight above the origin; light 2 at (3, 0, 4) from vertex 1.
    brush.CalcShade({{0, 0, 50}, {13, 0, 4}});
    // Vertex 0: 1 (straight on) + 4/sqrt(13^2 + 4^2) from light 2.
    const float second0 = float(4 / std::sqrt(185.0L));
    EXPECT_FLOAT_EQ(brush.Shade[0], 1.0f + second0);
    // Vertex 1: 50/sqrt(100 + 2500) from light 1, 0.8 from light 2.
    EXPECT_FLOAT_EQ(brush.Shade[1], float(50 / std::sqrt(2600.0L)) + 0.8f);
    // Vertex 2: 50/sqrt(25 + 2500) + 4/sqrt(169 + 25 + 16).
    EXPECT_FLOAT_EQ(brush.Shade[2], float(50 / std::sqrt(2525.0L)) + float(4 / std::sqrt(210.0L)));
    // Vertex 3 has a zero normal: 0, not NaN.
    EXPECT_EQ(brush.Shade[3], 0.0f);
    // Vertex 4 lies above light 2's height: light 2 comes from below (0).
    EXPECT_FLOAT_EQ(brush.Shade[4], 1.0f);

    // A light behind the surface gives 0; a light on a vertex gives 0 there.
    brush.CalcShade({{0, 0, -5}});
    EXPECT_EQ(brush.Shade, std::vector<float>(5, 0.0f));
    brush.CalcShade({{0, 0, 7}});
    EXPECT_EQ(brush.Shade[4], 0.0f);
    EXPECT_EQ(brush.Shade[0], 1.0f);
    // No lights: all zero again.
    brush.CalcShade({});
    EXPECT_EQ(brush.Shade, std::vector<float>(5, 0.0f));
}

class CelshadeTest : public EffectTest {};

int TexParameter(GLenum name) {
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    return value;
}

TEST_F(CelshadeTest, OutlineAndHighlightsLeaveTheirState) {
    WriteJPEG(*Dir, "white.jpg", 8, 8, [](int, int) { return TRGB{255, 255, 255}; });
    const int32_t flare = LoadTexture("white.jpg");
    ASSERT_GT(flare, 0);
    // Eye at the origin looking down -z; the light sits at the eye. Vertex
    // 0 reflects the light straight back (s = 1, half-width 0.5 x size);
    // vertex 1 at s = 0.956 (below 0.5^(1/25)); vertex 2 faces away; vertex
    // 3 at s = 0.990 gives a small sprite; vertex 4 has a zero normal.
    const TVec3 front{0, 0, 1};
    TBGL2CelshadeBrush brush = Points({{0, 0, -200}, {-30, 0, -200}, {30, 0, -200}, {0, 20, -200}, {0, -30, -200}},
                                      {front, front, {0, 0, -1}, front, {0, 0, 0}});
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_LIGHTING);
    brush.DrawHighlights({0, 0, 0}, {0, 0, 0}, 20, 25, uint32_t(flare));
    const auto frame = Frame("highlights");
    auto at = [&](int x, int y) { return frame[size_t(y * W + x)]; };
    // 200 units away a unit covers 60 / (200 tan 22.5 deg) pixels.
    const double pixelsPerUnit = 60 / (200 * std::tan(22.5 * 3.14159265358979 / 180));
    EXPECT_TRUE(Near(at(80, 60), TRGB{255, 255, 255}));
    EXPECT_TRUE(Near(at(80 + int(9 * pixelsPerUnit), 60), TRGB{255, 255, 255}));
    EXPECT_TRUE(Near(at(80 + int(11 * pixelsPerUnit), 60), TRGB{0, 0, 0})) << "half-width 10 units";
    EXPECT_TRUE(Near(at(80 - int(30 * pixelsPerUnit), 60), TRGB{0, 0, 0})) << "s below the threshold";
    EXPECT_TRUE(Near(at(80 + int(30 * pixelsPerUnit), 60), TRGB{0, 0, 0})) << "lit from behind";
    EXPECT_TRUE(Near(at(80, 60 + int(std::lround(20 * pixelsPerUnit))), TRGB{255, 255, 255}, 8));
    EXPECT_TRUE(Near(at(80, 60 - int(std::lround(30 * pixelsPerUnit))), TRGB{0, 0, 0})) << "zero normal";
    EXPECT_TRUE(Enabled(GL_BLEND));
    EXPECT_EQ(GetInt(GL_BLEND_SRC), GL_ONE);
    EXPECT_EQ(GetInt(GL_BLEND_DST), GL_ONE);
    EXPECT_EQ(GetInt(GL_DEPTH_WRITEMASK), GL_TRUE);
    EXPECT_FALSE(Enabled(GL_LIGHTING));
    EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), flare);

    glDepthFunc(GL_LEQUAL);
    brush.DrawOutline(5);
    EXPECT_FALSE(Enabled(GL_CULL_FACE));
    EXPECT_EQ(GetInt(GL_CULL_FACE_MODE), GL_BACK);
    EXPECT_EQ(GetInt(GL_DEPTH_FUNC), GL_LESS);
    EXPECT_EQ(GetFloats(GL_POLYGON_MODE, 2), (std::vector<float>{GL_FILL, GL_FILL}));
    EXPECT_EQ(GetFloats(GL_LINE_WIDTH, 1)[0], 5.0f);
    EXPECT_EQ(testgl::GLErrors(), "");
}

// The ramp: four grey bands of 16 texels, darkest at s = 0.
const uint8_t RampLevels[4] = {40, 100, 170, 240};

void WriteCelshadeFiles(const testutil::TempDir& dir, bool whiteFlare) {
    WriteJPEG(dir, "shader.jpg", 64, 8, [](int x, int) {
        const uint8_t v = RampLevels[x / 16];
        return TRGB{v, v, v};
    });
    const uint8_t flare = whiteFlare ? 255 : 0;
    WriteJPEG(dir, "flare.jpg", 16, 16, [=](int, int) { return TRGB{flare, flare, flare}; });
    WriteModel(dir, "velmorandex.3ds", {SphereMesh(150, 16, 24)});
}

int BandOf(const TRGB& p) {
    for (int band = 0; band < 4; ++band)
        if (Near(p, TRGB{RampLevels[band], RampLevels[band], RampLevels[band]}, 4)) return band;
    return -1;
}

TEST_F(CelshadeTest, ObjectShowsHardBandsAndABlackOutline) {
    WriteCelshadeFiles(*Dir, false);
    TCelshadeObject cel;
    ASSERT_TRUE(ReportList.empty()) << Reports();
    EXPECT_FALSE(DemoQuit);
    EXPECT_EQ(TexFilterMode, 2);
    // The ramp is sampled nearest, the flare mipmapped.
    glBindTexture(GL_TEXTURE_2D, GLuint(cel.ShadeTexture));
    EXPECT_EQ(TexParameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
    EXPECT_EQ(TexParameter(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, GLuint(cel.FlareTexture));
    EXPECT_EQ(TexParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_LINEAR);
    // Welded: the faces reference one vertex per distinct position (15
    // rings of 24 and the two poles), no seam or pole copies.
    std::set<uint32_t> used;
    for (const TFace& f : cel.Brush->Faces) used.insert({f.I0, f.I1, f.I2});
    EXPECT_EQ(used.size(), 15u * 24 + 2);
    EXPECT_EQ(cel.Brush->VertexCount, 17 * 25);

    glEnable(GL_LIGHTING);
    cel.Load();
    cel.Draw(TInputValues{});
    const auto frame = Frame("celshade_t0");
    int bands[4] = {}, black = 0, other = 0, background = 0;
    for (const TRGB& p : frame) {
        if (Near(p, Background))
            ++background;
        else if (Near(p, TRGB{0, 0, 0}, 4))
            ++black;
        else if (BandOf(p) >= 0)
            ++bands[BandOf(p)];
        else
            ++other;
    }
    EXPECT_EQ(other, 0) << "every model pixel is a ramp texel or outline black";
    EXPECT_GT(black, 100);
    int bandsSeen = 0;
    for (int count : bands) bandsSeen += count > 30;
    EXPECT_GE(bandsSeen, 2) << bands[0] << " " << bands[1] << " " << bands[2] << " " << bands[3];
    // The silhouette is outlined: model pixels next to the background are black.
    int edge = 0, blackEdge = 0;
    for (int y = 1; y < H - 1; ++y)
        for (int x = 1; x < W - 1; ++x) {
            const TRGB& p = frame[size_t(y * W + x)];
            if (Near(p, Background)) continue;
            bool touches = false;
            for (int d : {-1, 1, -W, W}) touches |= Near(frame[size_t(y * W + x + d)], Background);
            if (!touches) continue;
            ++edge;
            blackEdge += Near(p, TRGB{0, 0, 0}, 4);
        }
    EXPECT_GT(edge, 50);
    EXPECT_GT(blackEdge, edge * 9 / 10);

    // State left behind.
    EXPECT_FALSE(Enabled(GL_LIGHTING));
    EXPECT_TRUE(Enabled(GL_TEXTURE_2D));
    EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), cel.FlareTexture);
    EXPECT_TRUE(Enabled(GL_BLEND));
    EXPECT_EQ(GetInt(GL_BLEND_SRC), GL_ONE);
    EXPECT_EQ(GetInt(GL_BLEND_DST), GL_ONE);
    EXPECT_EQ(GetInt(GL_DEPTH_FUNC), GL_LESS);
    EXPECT_FALSE(Enabled(GL_CULL_FACE));
    EXPECT_EQ(GetFloats(GL_POLYGON_MODE, 2), (std::vector<float>{GL_FILL, GL_FILL}));
    EXPECT_EQ(GetFloats(GL_CURRENT_COLOR, 4), (std::vector<float>{1, 1, 1, 1}));
    EXPECT_EQ(GetInt(GL_DEPTH_WRITEMASK), GL_TRUE);
    const float f = float(1 / std::tan(22.5L * 3.14159265358979323846L / 180));
    EXPECT_NEAR(GetFloats(GL_PROJECTION_MATRIX, 6)[5], f, 1e-5);
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST_F(CelshadeTest, LightAndCameraPaths) {
    const TVec3 light = TCelshadeObject::LightAt(0), eye = TCelshadeObject::EyeAt(0);
    EXPECT_EQ(light.X, 290);
    EXPECT_EQ(light.Y, 250);
    EXPECT_EQ(light.Z, 50);
    EXPECT_EQ(eye.X, 200);
    EXPECT_EQ(eye.Z, 100);
    const TVec3 around = TCelshadeObject::EyeAt(4.5f);
    EXPECT_NEAR(around.X, 200, 1e-3);
    EXPECT_EQ(around.Y, 500);
    EXPECT_NEAR(around.Z, 100, 1e-3);
    // A quarter turn (t = 1.125): x turns toward z (RotateY's sense).
    const TVec3 quarter = TCelshadeObject::EyeAt(1.125f);
    EXPECT_NEAR(quarter.X, -100, 1e-3);
    EXPECT_NEAR(quarter.Z, 200, 1e-3);

    // Highlights appear with a white flare: the frame gains bright pixels.
    WriteCelshadeFiles(*Dir, true);
    TCelshadeObject cel;
    BarTime = 2.0f;
    cel.Draw(TInputValues{});
    const auto frame = Frame("celshade_flares_t2");
    EXPECT_GT(CountIf(frame, [](const TRGB& p) { return p.R > 250 && p.G > 250 && p.B > 250; }), 20);
}

TEST_F(CelshadeTest, MissingPicturesDrawUntexturedAMissingModelStops) {
    WriteModel(*Dir, "velmorandex.3ds", {SphereMesh(150, 8, 8)});
    TCelshadeObject cel;
    EXPECT_FALSE(DemoQuit);
    EXPECT_EQ(ReportList.size(), 2u) << Reports();
    EXPECT_NE(Reports().find("shader.jpg"), std::string::npos);
    EXPECT_NE(Reports().find("flare.jpg"), std::string::npos);
    EXPECT_NE(Reports().find(Dir->Path().filename().string()), std::string::npos);
    EXPECT_EQ(cel.ShadeTexture, 0);
    EXPECT_EQ(cel.FlareTexture, 0);
    cel.Load();
    EXPECT_FALSE(DemoQuit);
    cel.Draw(TInputValues{});
    EXPECT_GT(CountNot(Frame(), Background), 0);
    EXPECT_EQ(testgl::GLErrors(), "");

    // A model file that is not a 3DS file.
    Dir->Write("velmorandex.3ds", std::string("not a model"));
    WriteCelshadeFiles(*Dir, false);
    Dir->Write("velmorandex.3ds", std::string("not a model"));
    ReportList.clear();
    DemoQuit = false;
    TCelshadeObject broken;
    EXPECT_TRUE(DemoQuit);
    EXPECT_EQ(broken.Brush, nullptr);
    EXPECT_NE(Reports().find("velmorandex.3ds"), std::string::npos) << Reports();
    // The demo clears DemoQuit after the script; Load sets it again.
    DemoQuit = false;
    broken.Load();
    EXPECT_TRUE(DemoQuit);
}

} // namespace
} // namespace fx3d
