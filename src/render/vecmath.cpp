#include "render/vecmath.h"

#include <cmath>

namespace {

uint32_t randSeed = 0;

using Ext = long double;

} // namespace

TVec3 MakeVec3(float x, float y, float z) { return TVec3{x, y, z}; }

TRGBAColor MakeColor(float r, float g, float b, float a) { return TRGBAColor{r, g, b, a}; }

TTriangle MakeTriangle(const TVec3& p0, const TVec3& p1, const TVec3& p2) { return TTriangle{p0, p1, p2}; }

TVec3 VecAdd(const TVec3& a, const TVec3& b) {
    return TVec3{float(Ext(a.X) + b.X), float(Ext(a.Y) + b.Y), float(Ext(a.Z) + b.Z)};
}

TVec3 VecSub(const TVec3& a, const TVec3& b) {
    return TVec3{float(Ext(b.X) - a.X), float(Ext(b.Y) - a.Y), float(Ext(b.Z) - a.Z)};
}

float VecDot(const TVec3& a, const TVec3& b) { return float(Ext(a.X) * b.X + Ext(a.Y) * b.Y + Ext(a.Z) * b.Z); }

TVec3 VecCross(const TVec3& a, const TVec3& b) {
    return TVec3{float(Ext(a.Y) * b.Z - Ext(a.Z) * b.Y), float(Ext(a.Z) * b.X - Ext(a.X) * b.Z),
                 float(Ext(a.X) * b.Y - Ext(a.Y) * b.X)};
}

void VecNormalize(TVec3& v) {
    const float length = float(std::sqrt(Ext(v.X) * v.X + Ext(v.Y) * v.Y + Ext(v.Z) * v.Z));
    v.X = float(Ext(v.X) / length);
    v.Y = float(Ext(v.Y) / length);
    v.Z = float(Ext(v.Z) / length);
}

TVec3 TriangleNormal(const TTriangle& t) { return VecCross(VecSub(t.P0, t.P1), VecSub(t.P0, t.P2)); }

TVec3 VecReflect(const TVec3& v, const TVec3& n) {
    const float d = float(2 * (Ext(v.X) * n.X + Ext(v.Y) * n.Y + Ext(v.Z) * n.Z));
    return TVec3{float(v.X - Ext(d) * n.X), float(v.Y - Ext(d) * n.Y), float(v.Z - Ext(d) * n.Z)};
}

TVec3 RandomVec(float sx, float sy, float sz) {
    const Ext r1 = RandomValue(), r2 = RandomValue();
    const Ext r3 = RandomValue(), r4 = RandomValue();
    const Ext r5 = RandomValue(), r6 = RandomValue();
    return TVec3{float((r1 - r2) * sx), float((r3 - r4) * sy), float((r5 - r6) * sz)};
}

float DegToRad(float degrees) { return float(Ext(degrees) / 360 * 2 * 3.14159265358979323846264338327950288L); }

void RotatePoint(TVec3& p, const TVec3& angles) {
    T3DPoint point(p.X, p.Y, p.Z);
    point.RotateX(DegToRad(angles.X));
    point.RotateY(DegToRad(angles.Y));
    point.RotateZ(DegToRad(angles.Z));
    p = TVec3{float(point.X()), float(point.Y()), float(point.Z())};
}

TPointRotation::TPointRotation(const TVec3& angles) {
    const Ext x = DegToRad(angles.X), y = DegToRad(angles.Y), z = DegToRad(angles.Z);
    SinX = std::sin(x);
    CosX = std::cos(x);
    SinY = std::sin(y);
    CosY = std::cos(y);
    SinZ = std::sin(z);
    CosZ = std::cos(z);
}

// The steps of TFloatVector's RotateX, RotateY and RotateZ, with the point
// held in extended precision throughout and narrowed once at the end.
void TPointRotation::Apply(TVec3& p) const {
    const Ext x = p.X, y = p.Y, z = p.Z;
    const Ext y1 = CosX * y - SinX * z, z1 = SinX * y + CosX * z;
    const Ext x2 = CosY * x - SinY * z1, z2 = SinY * x + CosY * z1;
    const Ext x3 = CosZ * x2 - SinZ * y1, y3 = SinZ * x2 + CosZ * y1;
    p = TVec3{float(x3), float(y3), float(z2)};
}

void TFloatVector::RotateX(long double angle) {
    const Ext s = std::sin(angle), c = std::cos(angle);
    const Ext y = V[1], z = V[2];
    V[1] = c * y - s * z;
    V[2] = s * y + c * z;
}

void TFloatVector::RotateY(long double angle) {
    const Ext s = std::sin(angle), c = std::cos(angle);
    const Ext x = V[0], z = V[2];
    V[0] = c * x - s * z;
    V[2] = s * x + c * z;
}

void TFloatVector::RotateZ(long double angle) {
    const Ext s = std::sin(angle), c = std::cos(angle);
    const Ext x = V[0], y = V[1];
    V[0] = c * x - s * y;
    V[1] = s * x + c * y;
}

double RandomValue() {
    randSeed = randSeed * 134775813u + 1u;
    return double(randSeed) / 4294967296.0;
}

uint32_t RandomSeed() { return randSeed; }

void SetRandomSeed(uint32_t seed) { randSeed = seed; }
