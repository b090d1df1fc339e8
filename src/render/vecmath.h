// Small value types of the renderer and the vector operations on them.
// Every operation computes in long double and narrows each stored component
// to a 32-bit float; inputs are copied first, so an output may alias an input.
#pragma once

#include <cstdint>

struct TVec3 {
    float X = 0, Y = 0, Z = 0;
};

struct TRGBAColor {
    float R = 0, G = 0, B = 0, A = 0;
};

struct TTriangle {
    TVec3 P0, P1, P2;
};

TVec3 MakeVec3(float x, float y, float z);
TRGBAColor MakeColor(float r, float g, float b, float a);
TTriangle MakeTriangle(const TVec3& p0, const TVec3& p1, const TVec3& p2);

TVec3 VecAdd(const TVec3& a, const TVec3& b);
// b - a: the first argument is subtracted from the second.
TVec3 VecSub(const TVec3& a, const TVec3& b);
float VecDot(const TVec3& a, const TVec3& b);
TVec3 VecCross(const TVec3& a, const TVec3& b);
// Divides by the 32-bit length; a zero vector becomes NaN without an error.
void VecNormalize(TVec3& v);
// Cross(P1 - P0, P2 - P0), not normalised: its length is twice the area.
TVec3 TriangleNormal(const TTriangle& t);
// v - 2(v.n) n, with n expected to be of unit length.
TVec3 VecReflect(const TVec3& v, const TVec3& n);
// ((r1 - r2) sx, (r3 - r4) sy, (r5 - r6) sz) from six consecutive draws.
TVec3 RandomVec(float sx, float sy, float sz);
// degrees / 360 * 2 pi, narrowed to 32 bits (so cos(90 degrees) is not 0).
float DegToRad(float degrees);
// Rotates p about X, then Y, then Z by the angles in degrees.
void RotatePoint(TVec3& p, const TVec3& angles);

// RotatePoint for many points by the same angles: the sines and cosines are
// worked out once, and every point gets exactly the bits RotatePoint gives.
class TPointRotation {
public:
    explicit TPointRotation(const TVec3& angles);
    void Apply(TVec3& p) const;

private:
    long double SinX, CosX, SinY, CosY, SinZ, CosZ;
};

// A point in extended precision (x, y, z, w = 1) with the engine's rotation
// signs: RotateY turns x toward z.
class TFloatVector {
public:
    TFloatVector(long double x, long double y, long double z) : V{x, y, z, 1.0L} {}
    long double X() const { return V[0]; }
    long double Y() const { return V[1]; }
    long double Z() const { return V[2]; }
    void RotateX(long double angle);
    void RotateY(long double angle);
    void RotateZ(long double angle);

private:
    long double V[4];
};

class T3DPoint : public TFloatVector {
public:
    using TFloatVector::TFloatVector;
};

// The shared generator: seed = seed * 134775813 + 1 (mod 2^32), value =
// seed * 2^-32 in [0, 1). Starts from seed 0; the first draw is 2^-32.
double RandomValue();
uint32_t RandomSeed();
void SetRandomSeed(uint32_t seed);
