#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "render/vecmath.h"
#include "support/gl_test.h"

TEST(VecMath, ProductsAndOrder) {
    const TVec3 c = VecCross(MakeVec3(1, 0, 0), MakeVec3(0, 1, 0));
    EXPECT_EQ(c.X, 0);
    EXPECT_EQ(c.Y, 0);
    EXPECT_EQ(c.Z, 1);
    const TVec3 d = VecSub(MakeVec3(1, 1, 1), MakeVec3(3, 2, 1));
    EXPECT_EQ(d.X, 2);
    EXPECT_EQ(d.Y, 1);
    EXPECT_EQ(d.Z, 0);
    const TVec3 n = TriangleNormal(MakeTriangle(MakeVec3(0, 0, 0), MakeVec3(2, 0, 0), MakeVec3(0, 2, 0)));
    EXPECT_EQ(n.Z, 4);
    const TVec3 r = VecReflect(MakeVec3(1, -1, 0), MakeVec3(0, 1, 0));
    EXPECT_EQ(r.X, 1);
    EXPECT_EQ(r.Y, 1);
    TVec3 zero{};
    VecNormalize(zero);
    EXPECT_TRUE(std::isnan(zero.X));
}

TEST(VecMath, RotationSignsUse32BitRadians) {
    TVec3 p = MakeVec3(0, 1, 0);
    RotatePoint(p, MakeVec3(90, 0, 0));
    EXPECT_NEAR(p.Y, 0, 1e-7);
    EXPECT_NE(p.Y, 0); // cos of the 32-bit 90 degrees is not exactly 0
    EXPECT_FLOAT_EQ(p.Z, 1);
    p = MakeVec3(1, 0, 0);
    RotatePoint(p, MakeVec3(0, 90, 0));
    EXPECT_FLOAT_EQ(p.Z, 1); // RotateY turns x toward z
    p = MakeVec3(0, 1, 0);
    RotatePoint(p, MakeVec3(270, 0, 0));
    EXPECT_FLOAT_EQ(p.Z, -1);
}

// Meshes turn every vertex with one TPointRotation: the bits must be those
// of RotatePoint point by point, for odd positions as well.
TEST(VecMath, PointRotationGivesRotatePointBits) {
    const float inf = std::numeric_limits<float>::infinity();
    const TVec3 angles[] = {MakeVec3(270, 0, 0), MakeVec3(0, 0, 0), MakeVec3(19.3f, -20.7f, 1000.1f),
                            MakeVec3(90, 180, 270), MakeVec3(1e-6f, 359.99f, -45)};
    std::vector<TVec3> points = {MakeVec3(0, 0, 1),         MakeVec3(inf, 0, 0),
                                 MakeVec3(0, -inf, 1),      MakeVec3(std::nanf(""), 1, 2),
                                 MakeVec3(-0.0f, 0, -0.0f), MakeVec3(3e38f, -3e38f, 1e-40f)};
    uint32_t seed = 7;
    for (int i = 0; i < 2000; ++i) {
        auto next = [&] {
            seed = seed * 1664525u + 1013904223u;
            return (float(seed >> 8) / 16777216.0f - 0.5f) * float(1 << (seed % 20));
        };
        points.push_back(MakeVec3(next(), next(), next()));
    }
    for (const TVec3& a : angles) {
        const TPointRotation rotation(a);
        for (const TVec3& p : points) {
            TVec3 once = p, each = p;
            rotation.Apply(once);
            RotatePoint(each, a);
            ASSERT_EQ(std::memcmp(&once, &each, sizeof once), 0)
                << "point " << p.X << " " << p.Y << " " << p.Z << " angles " << a.X << " " << a.Y << " " << a.Z;
        }
    }
}

TEST(VecMath, SharedRandomSequence) {
    SetRandomSeed(0);
    EXPECT_EQ(RandomValue(), 1.0 / 4294967296.0);
    EXPECT_EQ(RandomValue(), 134775814.0 / 4294967296.0);
    SetRandomSeed(0);
    const TVec3 v = RandomVec(1, 1, 1);
    EXPECT_GT(v.X, -1);
    EXPECT_LT(v.X, 1);
}
