#include <gtest/gtest.h>

#include "demo/demo.h"
#include "effects/celshadeobj.h"
#include "effects/cylinders.h"
#include "effects/effect_types.h"
#include "effects/object3d.h"
#include "fx3d_support.h"
#include "render/gl.h"
#include "support/gl_test.h"

namespace fx3d {
namespace {

class ObjectTest : public EffectTest {
protected:
    // Loads an "object" from the fields set by `setup` and draws it once at
    // bar time t on a cleared frame.
    std::vector<TRGB> DrawObject(T3DObject& object, float t, const std::string& frameName) {
        object.Load();
        ResetFrame();
        BarTime = t;
        object.Draw(TInputValues{});
        return Frame(frameName);
    }
};

const TRGB Base{200, 40, 40}, Env{0, 30, 100};

TEST_F(ObjectTest, ThreeSurfaceModesDrawAndLeaveTheirState) {
    WriteModel(*Dir, "box.3ds", {BoxMesh(30)});
    WriteBMP(*Dir, "base.bmp", 8, 8, [](int, int) { return Base; });
    WriteBMP(*Dir, "env.bmp", 8, 8, [](int, int) { return Env; });

    // Mode 0: flat colour (E, F, G), texturing and blending off.
    T3DObject flat;
    flat.A = "box.3ds";
    flat.E = 0, flat.F = 0, flat.G = 255;
    auto frame = DrawObject(flat, 0, "object_flat");
    EXPECT_EQ(flat.SurfaceMode, 0);
    const int covered = CountNot(frame, Background);
    EXPECT_GT(covered, W * H / 10);
    EXPECT_EQ(CountIf(frame, [](const TRGB& p) { return Near(p, TRGB{0, 0, 255}); }), covered);
    EXPECT_FALSE(Enabled(GL_LIGHTING));
    EXPECT_FALSE(Enabled(GL_TEXTURE_2D));
    EXPECT_FALSE(Enabled(GL_BLEND));

    // Mode 1: the base texture, unblended.
    T3DObject textured;
    textured.A = "box.3ds";
    textured.B = "base.bmp";
    frame = DrawObject(textured, 0, "object_textured");
    EXPECT_EQ(textured.SurfaceMode, 1);
    EXPECT_EQ(CountIf(frame, [](const TRGB& p) { return Near(p, Base); }), covered);
    EXPECT_TRUE(Enabled(GL_TEXTURE_2D));
    EXPECT_FALSE(Enabled(GL_BLEND));
    EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), int(textured.BaseTexture));

    // Mode 2: plus the additive sphere-mapped pass.
    T3DObject env;
    env.A = "box.3ds";
    env.B = "base.bmp";
    env.C = "env.bmp";
    frame = DrawObject(env, 0, "object_env");
    EXPECT_EQ(env.SurfaceMode, 2);
    const TRGB sum{Base.R, uint8_t(Base.G + Env.G), uint8_t(Base.B + Env.B)};
    EXPECT_EQ(CountIf(frame, [&](const TRGB& p) { return Near(p, sum); }), covered);
    EXPECT_TRUE(Enabled(GL_TEXTURE_2D));
    EXPECT_TRUE(Enabled(GL_BLEND));
    EXPECT_EQ(GetInt(GL_BLEND_SRC), GL_ONE);
    EXPECT_EQ(GetInt(GL_BLEND_DST), GL_ONE);
    EXPECT_FALSE(Enabled(GL_TEXTURE_GEN_S));
    EXPECT_FALSE(Enabled(GL_TEXTURE_GEN_T));
    EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), int(env.EnvTexture));
    EXPECT_EQ(testgl::GLErrors(), "");

    // C alone: mode 2 with no base texture.
    T3DObject envOnly;
    envOnly.A = "box.3ds";
    envOnly.C = "env.bmp";
    envOnly.Load();
    EXPECT_EQ(envOnly.SurfaceMode, 2);
    EXPECT_EQ(envOnly.BaseTexture, 0u);
    EXPECT_EQ(ReportList, std::vector<std::string>{});
}

TEST_F(ObjectTest, ScaleSpinAndPositionAndOnlyTheFirstMesh) {
    WriteModel(*Dir, "box.3ds", {BoxMesh(20)});
    WriteModel(*Dir, "two.3ds", {BoxMesh(20), BoxMesh(20, 50)});
    auto draw = [&](const std::string& file, float s, float vy, float x, float t) {
        T3DObject object;
        object.A = file;
        object.E = 255;
        object.S = s;
        object.VY = vy;
        object.X = x;
        return DrawObject(object, t, "");
    };
    const auto plain = draw("box.3ds", 0, 0, 0, 0);
    const int area = CountNot(plain, Background);
    EXPECT_EQ(draw("two.3ds", 0, 0, 0, 0), plain) << "only mesh 0 is drawn";
    EXPECT_EQ(draw("box.3ds", 1, 0, 0, 0), plain) << "S 100 scales by 1";
    EXPECT_GT(CountNot(draw("box.3ds", 2, 0, 0, 0), Background), 3 * area) << "S 200 doubles the size";
    EXPECT_EQ(draw("box.3ds", 0, 90, 0, 0), plain) << "no turn at bar time 0";
    EXPECT_NE(draw("box.3ds", 0, 45, 0, 0.5f), plain) << "turned 22.5 degrees about y";
    EXPECT_NE(draw("box.3ds", 0, 0, 20, 0), plain) << "moved along x";
}

TEST_F(ObjectTest, MissingModelIsReportedAndNothingIsDrawn) {
    T3DObject object;
    object.A = "nothere.3ds";
    const auto frame = DrawObject(object, 1, "");
    EXPECT_TRUE(DemoQuit);
    EXPECT_NE(Reports().find("nothere.3ds"), std::string::npos) << Reports();
    EXPECT_NE(Reports().find(Dir->Path().filename().string()), std::string::npos) << Reports();
    EXPECT_EQ(CountNot(frame, Background), 0);

    ReportList.clear();
    DemoQuit = false;
    T3DObject unnamed;
    unnamed.Load();
    EXPECT_TRUE(DemoQuit);
    EXPECT_EQ(ReportList.size(), 1u) << Reports();

    // A file holding no mesh at all.
    WriteModel(*Dir, "empty.3ds", {});
    ReportList.clear();
    DemoQuit = false;
    T3DObject empty;
    empty.A = "empty.3ds";
    empty.Load();
    EXPECT_TRUE(DemoQuit);
    EXPECT_NE(Reports().find("empty.3ds"), std::string::npos) << Reports();
}

TEST_F(ObjectTest, PreflightChecksFilesWithoutLoading) {
    WriteModel(*Dir, "box.3ds", {BoxMesh(20)});
    DemoCheckOnly = true;
    T3DObject object;
    object.A = "box.3ds";
    object.B = "missing.bmp";
    object.C = "missing.jpg";
    object.Load();
    EXPECT_EQ(object.Brush, nullptr);
    CheckEffectFiles(*FindEffectType("object"), object);
    EXPECT_EQ(ReportList.size(), 2u) << Reports();

    // The fixed-file effects touch nothing in their constructors.
    ReportList.clear();
    TCelshadeObject cel;
    TCylinderPlasma cylinders;
    EXPECT_TRUE(ReportList.empty()) << Reports();
    EXPECT_TRUE(TextureRegistry().empty());
    CheckEffectFiles(*FindEffectType("celshadeobj"), cel);
    EXPECT_EQ(ReportList.size(), 3u) << Reports();
    CheckEffectFiles(*FindEffectType("cylinders"), cylinders);
    EXPECT_EQ(ReportList.size(), 4u) << Reports();
    EXPECT_NE(ReportList.back().find("cyl2.3ds"), std::string::npos);
}

TEST(EffectTypes, MeshEffectsAreRegistered) {
    EXPECT_NE(dynamic_cast<T3DObject*>(CreateEffect("object").get()), nullptr);
    DemoCheckOnly = true; // constructors of these load files
    EXPECT_NE(dynamic_cast<TCelshadeObject*>(CreateEffect("celshadeobj").get()), nullptr);
    EXPECT_NE(dynamic_cast<TCylinderPlasma*>(CreateEffect("cylinders").get()), nullptr);
    DemoCheckOnly = false;
}

} // namespace
} // namespace fx3d
