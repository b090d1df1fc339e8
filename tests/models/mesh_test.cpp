#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

#include "assets/writer3ds.h"
#include "base/sha256.h"
#include "render/gl.h"
#include "render/mesh.h"
#include "support/gl_test.h"

namespace {

// Three meshes: a wavy grid, a grid with a vertex no face uses and fewer
// mapping coordinates than vertices, and a strip with degenerate faces.
std::vector<uint8_t> HashModelBytes() {
    std::vector<TMesh3DS> meshes;
    for (int k = 0; k < 3; ++k) {
        TMesh3DS m;
        m.Name = "part" + std::to_string(k);
        const int side = 90 + 7 * k;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                m.Vertices.push_back(
                    {x * 1.37f - 40, y * 0.91f + k, std::sin(x * 0.21f + k) * std::cos(y * 0.17f) * 13.3f});
                if (k != 1 || x + y * side < side * side / 2) m.TexVerts.push_back({x / 89.0f, y / 71.0f});
            }
        if (k == 1) m.Vertices.push_back({1e-3f, -7.5f, 3e7f});
        for (int y = 0; y + 1 < side; ++y)
            for (int x = 0; x + 1 < side; ++x) {
                const auto v = uint16_t(y * side + x);
                m.Faces.push_back({v, uint16_t(v + 1), uint16_t(v + side + 1), 0});
                m.Faces.push_back({v, uint16_t(k == 2 && x % 5 == 0 ? v : v + side + 1), uint16_t(v + side), 0});
            }
        meshes.push_back(std::move(m));
    }
    return Write3DSModel(meshes);
}

// SHA-256 of each mesh's vertices, faces, normals and mapping coordinates,
// one line per mesh.
std::string BrushHashes(const std::string& path) {
    TBGLBrush brush(path);
    std::string text;
    for (const auto& mesh : brush.Meshes) {
        auto hash = [](const auto& array) {
            return Sha256Hex(reinterpret_cast<const uint8_t*>(array.data()), array.size() * sizeof(array[0]));
        };
        text += mesh->Name + " " + hash(mesh->Vertices) + " " + hash(mesh->Faces) + " " + hash(mesh->Normals) + " " +
                hash(mesh->TexCoords) + "\n";
    }
    return text;
}

// The definition Weld must match: every ordered pair (i, j), i ascending,
// moves the corners of j onto i when the positions are equal as floats.
void WeldAllPairs(TMeshData& mesh) {
    for (int32_t i = 0; i < mesh.VertexCount; ++i)
        for (int32_t j = 0; j < mesh.VertexCount; ++j) {
            if (i == j) continue;
            const TVec3& a = mesh.Vertices[size_t(i)];
            const TVec3& b = mesh.Vertices[size_t(j)];
            if (a.X != b.X || a.Y != b.Y || a.Z != b.Z) continue;
            for (TFace& f : mesh.Faces) {
                if (f.I0 == uint32_t(j)) f.I0 = uint32_t(i);
                if (f.I1 == uint32_t(j)) f.I1 = uint32_t(i);
                if (f.I2 == uint32_t(j)) f.I2 = uint32_t(i);
            }
        }
}

void AddFace(TMeshData& mesh, uint32_t a, uint32_t b, uint32_t c) {
    mesh.Faces.push_back(TFace{a, b, c});
    mesh.FaceCount = int32_t(mesh.Faces.size());
}

// A cube of side 2 around the origin stored as 24 vertices, 4 per side.
void BuildCube(TMeshDataN& cube) {
    const int axes[6][3] = {{0, 1, 2}, {0, 1, 2}, {1, 2, 0}, {1, 2, 0}, {2, 0, 1}, {2, 0, 1}};
    for (int side = 0; side < 6; ++side) {
        const float sign = side % 2 ? -1.0f : 1.0f;
        const int u = axes[side][0], v = axes[side][1], n = axes[side][2];
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        const uint32_t base = uint32_t(cube.VertexCount);
        for (const auto& c : corners) {
            float p[3];
            p[u] = c[0] * sign;
            p[v] = c[1];
            p[n] = sign;
            cube.AddVertex(MakeVec3(p[0], p[1], p[2]), TTexCoord{});
        }
        AddFace(cube, base, base + 1, base + 2);
        AddFace(cube, base, base + 2, base + 3);
    }
}

} // namespace

TEST(Mesh, CubeWeldsOntoHighestCopies) {
    TMeshDataN cube;
    BuildCube(cube);
    ASSERT_EQ(cube.VertexCount, 24);
    // Outward faces: every triangle normal points away from the centre.
    for (int32_t f = 0; f < cube.FaceCount; ++f) {
        const TTriangle t = cube.GetFaceTriangle(f);
        const TVec3 n = TriangleNormal(t);
        EXPECT_GT(VecDot(n, VecAdd(VecAdd(t.P0, t.P1), t.P2)), 0) << f;
    }
    cube.Weld();
    EXPECT_EQ(cube.VertexCount, 24);
    std::set<uint32_t> used;
    for (const TFace& f : cube.Faces)
        for (const uint32_t v : {f.I0, f.I1, f.I2}) used.insert(v);
    ASSERT_EQ(used.size(), 8u);
    for (const uint32_t v : used) {
        const TVec3 p = cube.Vertices[v];
        int copies = 0;
        for (int32_t w = 0; w < cube.VertexCount; ++w) {
            const TVec3 q = cube.Vertices[size_t(w)];
            if (q.X == p.X && q.Y == p.Y && q.Z == p.Z) {
                ++copies;
                EXPECT_LE(uint32_t(w), v);
            }
        }
        EXPECT_EQ(copies, 3);
        // Area-weighted: each triangle at the corner adds its side's outward
        // normal times 4 (twice its area of 2).
        TVec3 expected{};
        for (const TFace& f : cube.Faces) {
            if (f.I0 != v && f.I1 != v && f.I2 != v) continue;
            const TVec3 n = TriangleNormal(TTriangle{cube.Vertices[f.I0], cube.Vertices[f.I1], cube.Vertices[f.I2]});
            EXPECT_FLOAT_EQ(std::fabs(n.X) + std::fabs(n.Y) + std::fabs(n.Z), 4);
            expected = VecAdd(expected, n);
        }
        VecNormalize(expected);
        EXPECT_FLOAT_EQ(cube.Normals[v].X, expected.X);
        EXPECT_FLOAT_EQ(cube.Normals[v].Y, expected.Y);
        EXPECT_FLOAT_EQ(cube.Normals[v].Z, expected.Z);
        EXPECT_GT(cube.Normals[v].X * p.X, 0);
        EXPECT_GT(cube.Normals[v].Y * p.Y, 0);
        EXPECT_GT(cube.Normals[v].Z * p.Z, 0);
    }
}

TEST(Mesh, NormalsAreAreaWeighted) {
    TMeshDataN mesh;
    mesh.AddVertex(MakeVec3(0, 0, 0), {});
    mesh.AddVertex(MakeVec3(2, 0, 0), {});
    mesh.AddVertex(MakeVec3(0, 1, 0), {});  // triangle A: area 1, normal +z
    mesh.AddVertex(MakeVec3(0, 0, -3), {}); // triangle B: area 3, normal -y
    mesh.AddVertex(MakeVec3(9, 9, 9), {});  // used by no face
    AddFace(mesh, 0, 1, 2);
    AddFace(mesh, 1, 0, 3);
    mesh.CalcNormals();
    const float len = std::sqrt(40.0f);
    for (const int v : {0, 1}) {
        EXPECT_FLOAT_EQ(mesh.Normals[size_t(v)].X, 0);
        EXPECT_FLOAT_EQ(mesh.Normals[size_t(v)].Y, -6 / len);
        EXPECT_FLOAT_EQ(mesh.Normals[size_t(v)].Z, 2 / len);
    }
    EXPECT_EQ(mesh.Normals[2].Z, 1);
    EXPECT_EQ(mesh.Normals[3].Y, -1);
    EXPECT_TRUE(std::isnan(mesh.Normals[4].X));
    // One vertex at a time gives the same directions.
    for (int32_t v = 0; v < 4; ++v) {
        const TVec3 n = mesh.CalcVertexNormal(v);
        EXPECT_FLOAT_EQ(n.Y, mesh.Normals[size_t(v)].Y);
        EXPECT_FLOAT_EQ(n.Z, mesh.Normals[size_t(v)].Z);
    }
    // SetSize keeps what is there, zeroes the rest, and recomputes normals.
    mesh.SetSize(6, 2);
    EXPECT_EQ(mesh.Vertices[1].X, 2);
    EXPECT_EQ(mesh.Vertices[5].X, 0);
    EXPECT_FLOAT_EQ(mesh.Normals[0].Y, -6 / len);
    EXPECT_TRUE(std::isnan(mesh.Normals[5].Z));
    EXPECT_EQ(mesh.AddVertex(MakeVec3(1, 1, 1), {}), 6);
    EXPECT_EQ(mesh.Normals.size(), 7u);
}

TEST(Mesh, CopyFromIsIndependentAndScaleKeepsNormals) {
    TMeshDataN source;
    BuildCube(source);
    source.CalcNormals();
    source.Name = "src";
    TMeshDataNM copy;
    copy.CopyFrom(source);
    EXPECT_EQ(copy.VertexCount, 24);
    EXPECT_EQ(copy.FaceCount, 12);
    EXPECT_TRUE(copy.Name.empty());
    ASSERT_NE(copy.MeshMaterial, nullptr);
    const TVec3 normal = copy.Normals[0];
    ScaleMesh(copy, MakeVec3(2, 2, 2));
    copy.Faces[0].I0 = 5;
    EXPECT_EQ(copy.Vertices[0].X, 2 * source.Vertices[0].X);
    EXPECT_EQ(source.Vertices[0].X, -1);
    EXPECT_EQ(source.Faces[0].I0, 0u);
    EXPECT_EQ(copy.Normals[0].X, normal.X);
    EXPECT_EQ(copy.Normals[0].Z, normal.Z);
}

TEST(Mesh, BrushTurnsZUpIntoYUp) {
    const auto dir = std::filesystem::temp_directory_path() / "corvala_models_brush";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "axes.3ds").string();
    TMesh3DS m;
    m.Name = "axes";
    m.Vertices = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}};
    m.Faces = {{0, 1, 2, 0}};
    const std::vector<uint8_t> bytes = Write3DSModel({m});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    TBGLBrush brush(path);
    ASSERT_EQ(brush.MeshCount, 1);
    const TMeshDataNM& mesh = *brush.Meshes[0];
    EXPECT_EQ(mesh.Vertices[0].X, 0);
    EXPECT_FLOAT_EQ(mesh.Vertices[0].Y, 1);
    EXPECT_NEAR(mesh.Vertices[0].Z, 0, 1e-7);
    EXPECT_NEAR(mesh.Vertices[1].Y, 0, 1e-7);
    EXPECT_FLOAT_EQ(mesh.Vertices[1].Z, -1);
    EXPECT_EQ(mesh.Vertices[2].X, 1);
    // Normals follow the turned positions: the file's (-1, -1, -1)/sqrt 3
    // face normal becomes (-1, -1, 1)/sqrt 3.
    EXPECT_NEAR(mesh.Normals[0].X, -1 / std::sqrt(3.0), 1e-6);
    EXPECT_NEAR(mesh.Normals[0].Y, -1 / std::sqrt(3.0), 1e-6);
    EXPECT_NEAR(mesh.Normals[0].Z, 1 / std::sqrt(3.0), 1e-6);
    brush.Scale(MakeVec3(2, 2, 2));
    EXPECT_FLOAT_EQ(mesh.Vertices[0].Y, 2);
    EXPECT_NEAR(mesh.Normals[0].X, -1 / std::sqrt(3.0), 1e-6);
    std::filesystem::remove_all(dir);
}

TEST(Mesh, HashedWeldEqualsAllPairs) {
    uint32_t seed = 7;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const float specials[] = {0.0f,
                              -0.0f,
                              std::nanf(""),
                              -std::nanf("1"),
                              1.0f,
                              std::bit_cast<float>(1u),
                              std::bit_cast<float>(0x80000001u),
                              INFINITY,
                              -INFINITY};
    for (int round = 0; round < 60; ++round) {
        TMeshData a;
        const int vertices = 1 + int(next() % 200);
        const int palette = 1 + int(next() % 12); // few values: many coincidences
        for (int v = 0; v < vertices; ++v) {
            float c[3];
            for (float& x : c)
                x = round % 3 == 0 ? specials[next() % std::size(specials)] : float(next() % uint32_t(palette)) * 0.5f;
            a.AddVertex(MakeVec3(c[0], c[1], c[2]), {});
        }
        const int faces = int(next() % 300);
        for (int f = 0; f < faces; ++f) {
            // A few corners reach past the vertices: both versions leave them.
            const uint32_t range = uint32_t(vertices + (round % 5 == 0 ? 3 : 0));
            AddFace(a, next() % range, next() % range, next() % range);
        }
        TMeshData b;
        b.Vertices = a.Vertices;
        b.TexCoords = a.TexCoords;
        b.Faces = a.Faces;
        b.VertexCount = a.VertexCount;
        b.FaceCount = a.FaceCount;
        a.Weld();
        WeldAllPairs(b);
        ASSERT_EQ(a.Faces.size(), b.Faces.size());
        for (size_t f = 0; f < a.Faces.size(); ++f) {
            ASSERT_EQ(a.Faces[f].I0, b.Faces[f].I0) << "round " << round << " face " << f;
            ASSERT_EQ(a.Faces[f].I1, b.Faces[f].I1) << "round " << round << " face " << f;
            ASSERT_EQ(a.Faces[f].I2, b.Faces[f].I2) << "round " << round << " face " << f;
        }
    }
}

TEST(MeshDraw, ArraysAndImmediateModeDrawTheSamePixels) {
    REQUIRE_GL_CONTEXT(64, 64);
    TMeshDataN mesh;
    mesh.AddVertex(MakeVec3(-1, -1, 0), {});
    mesh.AddVertex(MakeVec3(1, -1, 0), {});
    mesh.AddVertex(MakeVec3(-1, 1, 0), {});
    AddFace(mesh, 0, 1, 2);
    mesh.CalcNormals();
    glViewport(0, 0, 64, 64);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glColor4f(1, 0, 0, 1);
    auto frame = [&](bool arrays) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        if (arrays)
            mesh.Draw();
        else
            mesh.DrawImmediate();
        glFinish();
        return testgl::ReadPixels(0, 0, 64, 64);
    };
    const std::vector<uint8_t> drawn = frame(true);
    EXPECT_EQ(testgl::PixelAt(4, 4), 0xFF0000FFu);
    EXPECT_EQ(testgl::PixelAt(60, 60), 0x000000FFu);
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_NORMAL_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    EXPECT_EQ(frame(false), drawn);
    mesh.FaceCount = 0;
    frame(true);
    EXPECT_EQ(testgl::PixelAt(4, 4), 0x000000FFu);
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    AdditiveBlend();
    GLint src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(src, GL_ONE);
    EXPECT_EQ(dst, GL_ONE);
    glDisable(GL_BLEND);
    EXPECT_EQ(testgl::GLErrors(), "");
}

// A brush load keeps the bits it had before the loader and the rotation were
// made faster: hashes taken from the earlier code.
TEST(BGLBrush, LoadKeepsVerticesFacesNormalsAndMappingBitForBit) {
    const std::vector<uint8_t> bytes = HashModelBytes();
    const std::string path = (std::filesystem::temp_directory_path() / "corvala_mesh_hash_test.3ds").string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    EXPECT_EQ(BrushHashes(path), "part0 a04f3d807911b60ca9e7386bdcbc00bdeed955b734f010a0424dfe2bc5ed688b "
                                 "b352328c70af36d8f9cbd03feb8271251b066eb9da462bd5253d88bcd680265f "
                                 "bbfa5a3f65efb4c90dca3f3dfe6744bc5503b30507d6d419a3b012ec8785a3da "
                                 "aba4627d324a5c5040d3555002aabc937401121bc1561b239abcb94a5ca9c7a1\n"
                                 "part1 7905b99d1d49d3af2d411ebc97afe2e2cfafb451e3369ae280b78be0da64a166 "
                                 "e42daf349d26802b852b3f0f82040f69348b49e43a0d939fba16256c7aa69e48 "
                                 "ee547d9773efa23230c1204bc5ec658a95ca5ba12201bc89c50f2c7cbabd1b60 "
                                 "6568f7fba57ba541ba764990ea1af1c5234595d0eb775a2993b66c4ac582f604\n"
                                 "part2 d6231d510fa65ead037119d47c9123f81ffffd95a8997d1d4a107f996dd441e2 "
                                 "eff2e3f345120b606ddf990362510c7122c8bf346633a74893e06275116b1d5b "
                                 "8398ed0ec858167eb7a8c175681e7947b5e5581a3154b464a38ea3191daef46d "
                                 "6ab32e6b1f6f1ecefbb3409cc1cc08eed09339b76f2dd2c54858e6b1e03eabee\n");
    std::filesystem::remove(path);
}
