// GL 1.5/3.0 entry points for the primitive counter.
#define GL_GLEXT_PROTOTYPES 1
#include <gtest/gtest.h>

#include <cmath>

#include "effects/cylinders.h"
#include "fx3d_support.h"
#include "render/gl.h"
#include "support/gl_test.h"

namespace fx3d {
namespace {

class CylindersTest : public EffectTest {};

constexpr int Sides = 12;
// Faces of CylinderMesh: two per side and the top cap.
constexpr int CylinderFaces = 3 * Sides;

float Projection5() { return GetFloats(GL_PROJECTION_MATRIX, 6)[5]; }
float CotHalf(long double degrees) { return float(1 / std::tan(degrees / 2 * 3.14159265358979323846L / 180)); }

TEST_F(CylindersTest, FogsTheFieldTowardsWhiteAndLeavesItsState) {
    WriteModel(*Dir, "cyl2.3ds", {CylinderMesh(24, 70, Sides)});
    TCylinderPlasma plasma;
    ASSERT_TRUE(ReportList.empty()) << Reports();
    plasma.Load();
    EXPECT_FALSE(DemoQuit);

    BarTime = 1.3f;
    GLuint query = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_PRIMITIVES_GENERATED, query);
    plasma.Draw(TInputValues{});
    glEndQuery(GL_PRIMITIVES_GENERATED);
    GLuint primitives = 0;
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &primitives);
    glDeleteQueries(1, &query);
    EXPECT_EQ(primitives, 2u * 21 * 21 * CylinderFaces) << "21 x 21 copies, twice";

    const auto frame = Frame("cylinders_t1.3");
    // Far copies fade into the white fog; near ones keep the warm tint.
    const int white = CountIf(frame, [](const TRGB& p) { return p.R > 245 && p.G > 245 && p.B > 245; });
    const int warm = CountIf(frame, [](const TRGB& p) { return p.R > p.G + 20 && p.G > p.B + 10; });
    EXPECT_GT(white, W * H / 20);
    EXPECT_GT(warm, 100);

    EXPECT_TRUE(Enabled(GL_FOG));
    EXPECT_EQ(GetInt(GL_FOG_MODE), GL_LINEAR);
    EXPECT_EQ(GetFloats(GL_FOG_COLOR, 4), (std::vector<float>{1, 1, 1, 1}));
    EXPECT_EQ(GetFloats(GL_FOG_START, 1)[0], 400.0f);
    EXPECT_EQ(GetFloats(GL_FOG_END, 1)[0], 500.0f);
    EXPECT_TRUE(Enabled(GL_LIGHTING));
    EXPECT_TRUE(Enabled(GL_LIGHT0));
    EXPECT_TRUE(Enabled(GL_NORMALIZE));
    EXPECT_FALSE(Enabled(GL_TEXTURE_2D));
    EXPECT_FALSE(Enabled(GL_BLEND));
    const auto colour = GetFloats(GL_CURRENT_COLOR, 4);
    EXPECT_FLOAT_EQ(colour[1], 0.915f);
    EXPECT_FLOAT_EQ(colour[2], 0.7f);
    EXPECT_GT(colour[0], 1.0f) << "the red above 1 is passed on";
    GLfloat v[4];
    glGetLightfv(GL_LIGHT0, GL_POSITION, v);
    EXPECT_EQ(std::vector<float>(v, v + 4), (std::vector<float>{0, 0, 0, 1})) << "at the eye";
    glGetLightfv(GL_LIGHT0, GL_AMBIENT, v);
    EXPECT_EQ(std::vector<float>(v, v + 4), (std::vector<float>{1, 0.4f, 0.4f, 1}));
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, v);
    EXPECT_EQ(std::vector<float>(v, v + 4), (std::vector<float>{2, 2, 2, 2}));
    EXPECT_FLOAT_EQ(Projection5(), CotHalf(80));
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST_F(CylindersTest, InputsLiftTheFieldAndWidenTheView) {
    WriteModel(*Dir, "cyl2.3ds", {CylinderMesh(24, 70, Sides)});
    TCylinderPlasma plasma;
    BarTime = 2.0f;
    plasma.Draw(TInputValues{});
    const auto low = Frame("cylinders_t2");
    ResetFrame();
    TInputValues inputs{};
    inputs[1] = 1;
    plasma.Draw(inputs);
    EXPECT_FLOAT_EQ(Projection5(), CotHalf(120));
    const auto wide = Frame("cylinders_t2_wide");
    EXPECT_NE(wide, low);
    ResetFrame();
    inputs = TInputValues{};
    inputs[0] = 1;
    plasma.Draw(inputs);
    EXPECT_NE(Frame("cylinders_t2_lifted"), low);

    // The eye path: (0, 0, 0) at t = 0, a degenerate view for that instant
    // that draws without errors; later on a wobbling circle of radius 500.
    const TVec3 start = TCylinderPlasma::EyeAt(0);
    EXPECT_EQ(start.X, 0);
    EXPECT_EQ(start.Y, 0);
    EXPECT_EQ(start.Z, 0);
    const TVec3 later = TCylinderPlasma::EyeAt(0.5f);
    // sin(0.5) x 500 rotated by 30 degrees about y (x turns toward z).
    const double x = 500 * std::sin(0.5), z = 500 * std::sin(0.27), a = 30 * 3.14159265358979 / 180;
    EXPECT_NEAR(later.X, x * std::cos(a) - z * std::sin(a), 1e-3);
    EXPECT_NEAR(later.Y, 15 * std::sin(0.45), 1e-4);
    EXPECT_NEAR(later.Z, x * std::sin(a) + z * std::cos(a), 1e-3);
    ResetFrame();
    BarTime = 0;
    plasma.Draw(TInputValues{});
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST_F(CylindersTest, DisplayListDrawsTheSamePixels) {
    WriteModel(*Dir, "cyl2.3ds", {CylinderMesh(24, 70, Sides)});
    TCylinderPlasma plasma;
    TInputValues inputs{};
    inputs[0] = 0.7f;
    for (const float t : {0.8f, 2.9f}) {
        BarTime = t;
        ResetFrame();
        plasma.UseDisplayList = false;
        plasma.Draw(inputs);
        const auto arrays = Frame();
        ResetFrame();
        plasma.UseDisplayList = true;
        plasma.Draw(inputs);
        EXPECT_EQ(Frame(), arrays) << "t = " << t;
    }
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST_F(CylindersTest, MissingModelIsNamedWithItsFolderAndNothingIsDrawn) {
    TCylinderPlasma plasma;
    EXPECT_TRUE(DemoQuit);
    ASSERT_EQ(ReportList.size(), 1u) << Reports();
    EXPECT_NE(ReportList[0].find("cyl2.3ds"), std::string::npos);
    EXPECT_NE(ReportList[0].find(Dir->Path().string()), std::string::npos) << ReportList[0];
    DemoQuit = false;
    plasma.Load();
    EXPECT_TRUE(DemoQuit);
    BarTime = 1;
    plasma.Draw(TInputValues{});
    EXPECT_EQ(CountNot(Frame(), Background), 0);
    EXPECT_FALSE(Enabled(GL_FOG));
}

} // namespace
} // namespace fx3d
