#include <gtest/gtest.h>

#include <cmath>

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

TEST(VecMath, SharedRandomSequence) {
    SetRandomSeed(0);
    EXPECT_EQ(RandomValue(), 1.0 / 4294967296.0);
    EXPECT_EQ(RandomValue(), 134775814.0 / 4294967296.0);
    SetRandomSeed(0);
    const TVec3 v = RandomVec(1, 1, 1);
    EXPECT_GT(v.X, -1);
    EXPECT_LT(v.X, 1);
}
