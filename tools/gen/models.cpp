#include "models.h"

#include <cmath>
#include <functional>

#include "assets/writer3ds.h"

namespace gen {

namespace {

constexpr double Pi = 3.14159265358979323846;

struct TV {
    double X, Y, Z;
};
TV operator+(TV a, TV b) { return {a.X + b.X, a.Y + b.Y, a.Z + b.Z}; }
TV operator-(TV a, TV b) { return {a.X - b.X, a.Y - b.Y, a.Z - b.Z}; }
TV operator*(TV a, double k) { return {a.X * k, a.Y * k, a.Z * k}; }
TV Cross(TV a, TV b) { return {a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X}; }
TV Normalize(TV a) { return a * (1.0 / std::sqrt(a.X * a.X + a.Y * a.Y + a.Z * a.Z)); }

uint16_t AddVertex(TMesh3DS& mesh, TV p, double u, double v) {
    mesh.Vertices.push_back(TPoint3DS{float(p.X), float(p.Y), float(p.Z)});
    mesh.TexVerts.push_back(TTexVert3DS{float(u), float(v)});
    return uint16_t(mesh.Vertices.size() - 1);
}

void AddFace(TMesh3DS& mesh, uint16_t a, uint16_t b, uint16_t c) { mesh.Faces.push_back(TFace3DS{a, b, c, 7}); }

void Finish(TMesh3DS& mesh) {
    mesh.VertexCount = uint16_t(mesh.Vertices.size());
    mesh.TexVertCount = uint16_t(mesh.TexVerts.size());
    mesh.FaceCount = uint16_t(mesh.Faces.size());
    mesh.SmoothGroups.assign(mesh.Faces.size(), 1);
}

// A closed (rings x sides) grid: position(i, j) for i in 0..rings-1 along
// the first direction and j in 0..sides-1 around the second. The last row
// and column repeat the first ones' positions exactly, with mapping
// coordinates running on to uMax / vMax. Faces wind so that the cross
// product of (along j) x (along i) points outward.
void AddClosedGrid(TMesh3DS& mesh, int rings, int sides, double uMax, double vMax,
                   const std::function<TV(int, int)>& position) {
    std::vector<TV> grid(size_t(rings) * size_t(sides));
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j) grid[size_t(i) * size_t(sides) + size_t(j)] = position(i, j);
    const uint16_t base = uint16_t(mesh.Vertices.size());
    for (int i = 0; i <= rings; ++i)
        for (int j = 0; j <= sides; ++j)
            AddVertex(mesh, grid[size_t(i % rings) * size_t(sides) + size_t(j % sides)], uMax * i / rings,
                      vMax * j / sides);
    auto index = [&](int i, int j) { return uint16_t(base + i * (sides + 1) + j); };
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j) {
            const uint16_t a = index(i, j), b = index(i + 1, j), c = index(i + 1, j + 1), d = index(i, j + 1);
            AddFace(mesh, a, d, c);
            AddFace(mesh, a, c, b);
        }
}

// A tube of radius `radius(i)` around a closed curve given by `curve(t)`,
// t in [0, 2 pi); the cross-section frame keeps its normal horizontal.
void AddTube(TMesh3DS& mesh, int rings, int sides, double uMax, const std::function<TV(double)>& curve, double radius) {
    AddClosedGrid(mesh, rings, sides, uMax, 1.0, [&](int i, int j) {
        const double t = 2 * Pi * i / rings, h = 1e-4;
        const TV center = curve(t);
        const TV tangent = Normalize(curve(t + h) - curve(t - h));
        const TV normal = Normalize(Cross(tangent, TV{0, 0, 1}));
        const TV binormal = Cross(tangent, normal);
        const double a = 2 * Pi * j / sides;
        return center + (normal * std::cos(a) + binormal * std::sin(a)) * radius;
    });
}

std::vector<uint8_t> ModelFile(const TMesh3DS& mesh) { return Write3DSModel({mesh}); }

} // namespace

TMesh3DS MakeCylinder() {
    TMesh3DS mesh;
    mesh.Name = "cylinder";
    const int sides = 24;
    const double radius = 24, height = 160, top = -20;
    // Upright: the axis runs along y, from the bottom cap at top - height to
    // the top cap at `top`, so each copy's height offset moves its top face
    // up and down. The field is drawn with its tops at most 0 units high and
    // mirrored above, and the camera swings within 15 units of y = 0: with
    // the tops 20 units lower it never enters a cylinder.
    auto rim = [&](int j, double y) {
        const double a = 2 * Pi * (j % sides) / sides;
        return TV{radius * std::cos(a), y, -radius * std::sin(a)};
    };
    // Side: columns j = 0..sides (the last repeats the first), bottom and top.
    for (int j = 0; j <= sides; ++j) {
        AddVertex(mesh, rim(j, top - height), double(j) / sides, 0);
        AddVertex(mesh, rim(j, top), double(j) / sides, 1);
    }
    for (int j = 0; j < sides; ++j) {
        const uint16_t b0 = uint16_t(2 * j), t0 = uint16_t(2 * j + 1), b1 = uint16_t(2 * j + 2),
                       t1 = uint16_t(2 * j + 3);
        AddFace(mesh, b0, b1, t1);
        AddFace(mesh, b0, t1, t0);
    }
    // Caps: a centre and their own rim vertices.
    for (int cap = 0; cap < 2; ++cap) {
        const double y = cap == 0 ? top - height : top;
        const uint16_t center = AddVertex(mesh, TV{0, y, 0}, 0.5, 0.5);
        const uint16_t first = uint16_t(mesh.Vertices.size());
        for (int j = 0; j < sides; ++j) {
            const TV p = rim(j, y);
            AddVertex(mesh, p, 0.5 + p.X / (2 * radius), 0.5 - p.Z / (2 * radius));
        }
        for (int j = 0; j < sides; ++j) {
            const uint16_t a = uint16_t(first + j), b = uint16_t(first + (j + 1) % sides);
            if (cap == 0)
                AddFace(mesh, center, b, a); // facing down
            else
                AddFace(mesh, center, a, b); // facing up
        }
    }
    Finish(mesh);
    return mesh;
}

TMesh3DS MakeKnot() {
    TMesh3DS mesh;
    mesh.Name = "velmorandex";
    const double scale = 55;
    AddTube(
        mesh, 160, 16, 8.0,
        [&](double t) {
            const double r = std::cos(3 * t) + 2;
            return TV{r * std::cos(2 * t) * scale, r * std::sin(2 * t) * scale, -std::sin(3 * t) * scale};
        },
        30.0);
    Finish(mesh);
    return mesh;
}

TMesh3DS MakeRing() {
    TMesh3DS mesh;
    mesh.Name = "ring";
    AddTube(
        mesh, 48, 24, 3.0,
        [](double t) {
            return TV{38 * std::cos(t), 38 * std::sin(t), 0};
        },
        14.0);
    Finish(mesh);
    return mesh;
}

TMesh3DS MakeOrb() {
    TMesh3DS mesh;
    mesh.Name = "orb";
    const int rings = 16, sides = 32;
    const double radius = 42;
    // Latitude rows from the south pole to the north pole; each pole is a
    // row of vertices at one position.
    for (int i = 0; i <= rings; ++i) {
        const double lat = -Pi / 2 + Pi * i / rings;
        for (int j = 0; j <= sides; ++j) {
            const double lon = 2 * Pi * (j % sides) / sides;
            const double z = i == 0 ? -radius : i == rings ? radius : radius * std::sin(lat);
            const double r = i == 0 || i == rings ? 0 : radius * std::cos(lat);
            AddVertex(mesh, TV{r * std::cos(lon), r * std::sin(lon), z}, double(j) / sides, double(i) / rings);
        }
    }
    auto index = [&](int i, int j) { return uint16_t(i * (sides + 1) + j); };
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j) {
            const uint16_t a = index(i, j), b = index(i, j + 1), c = index(i + 1, j + 1), d = index(i + 1, j);
            if (i > 0) AddFace(mesh, a, b, c);
            if (i < rings - 1) AddFace(mesh, a, c, d);
        }
    Finish(mesh);
    return mesh;
}

void MakeModels(std::vector<TGenFile>& files) {
    files.push_back(TGenFile{"cyl2.3ds", ModelFile(MakeCylinder())});
    files.push_back(TGenFile{"velmorandex.3ds", ModelFile(MakeKnot())});
    files.push_back(TGenFile{"ring.3ds", ModelFile(MakeRing())});
    files.push_back(TGenFile{"orb.3ds", ModelFile(MakeOrb())});
}

} // namespace gen
