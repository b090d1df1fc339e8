#include "fx3d_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

#include "assets/png.h"
#include "assets/writer3ds.h"
#include "effects/effect.h"
#include "base/report.h"
#include "render/gl.h"
#include "render/material.h"
#include "render/window.h"
#include "support/gl_test.h"

namespace fx3d {

void EffectTest::SetUp() {
    REQUIRE_GL_CONTEXT(W, H);
    CurrentWindow.Width = W;
    CurrentWindow.Height = H;
    Dir = std::make_unique<testutil::TempDir>();
    cwd = std::make_unique<testutil::ScopedCwd>(Dir->Path());
    ClearTextureRegistry();
    DemoQuit = false;
    DemoCheckOnly = false;
    BarTime = 0;
    FrameTime = 0;
    SetReportSink(
        [this](const std::string& caption, const std::string& text) { ReportList.push_back(caption + ": " + text); });
    ResetFrame();
}

void EffectTest::TearDown() {
    SetReportSink(nullptr);
    DemoCheckOnly = false;
    cwd.reset();
    Dir.reset();
}

void EffectTest::ResetFrame() {
    glViewport(0, 0, W, H);
    InitRenderState();
    for (GLenum cap : {GL_FOG, GL_LIGHTING, GL_LIGHT0, GL_NORMALIZE, GL_BLEND, GL_TEXTURE_2D, GL_CULL_FACE,
                       GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T})
        glDisable(cap);
    glDepthMask(GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glLineWidth(1);
    glColor4f(1, 1, 1, 1);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45, double(W) / H, 1, 100000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    testgl::GLErrors();
}

std::vector<TRGB> EffectTest::Frame(const std::string& name) {
    const std::vector<uint8_t> rgba = testgl::ReadPixels(0, 0, W, H);
    std::vector<TRGB> frame(size_t(W) * H);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = TRGB{rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2]};
    const char* folder = std::getenv("CORVALA_TEST_FRAMES");
    if (folder && *folder && !name.empty()) {
        TPicture picture;
        picture.Width = W;
        picture.Height = H;
        picture.Channels = 3;
        for (const TRGB& p : frame) picture.Pixels.insert(picture.Pixels.end(), {p.R, p.G, p.B});
        std::string error;
        WritePNG(std::string(folder) + "/" + name + ".png", picture, error);
    }
    return frame;
}

std::string EffectTest::Reports() const {
    std::string all;
    for (const std::string& r : ReportList) all += r + "\n";
    return all;
}

namespace {

constexpr double Pi = 3.14159265358979323846;

uint16_t Vertex(TMesh3DS& mesh, double x, double y, double z, double u = 0, double v = 0) {
    mesh.Vertices.push_back(TPoint3DS{float(x), float(y), float(z)});
    mesh.TexVerts.push_back(TTexVert3DS{float(u), float(v)});
    return uint16_t(mesh.Vertices.size() - 1);
}

void Face(TMesh3DS& mesh, uint16_t a, uint16_t b, uint16_t c) { mesh.Faces.push_back(TFace3DS{a, b, c, 7}); }

void Finish(TMesh3DS& mesh, const std::string& name) {
    mesh.Name = name;
    mesh.VertexCount = uint16_t(mesh.Vertices.size());
    mesh.TexVertCount = uint16_t(mesh.TexVerts.size());
    mesh.FaceCount = uint16_t(mesh.Faces.size());
}

} // namespace

TMesh3DS BoxMesh(float h, float offsetX) {
    TMesh3DS mesh;
    // Each side: 4 own vertices (so mapping coordinates are per side).
    const int axes[6][3] = {{0, 1, 2}, {0, 1, 2}, {1, 2, 0}, {1, 2, 0}, {2, 0, 1}, {2, 0, 1}};
    for (int side = 0; side < 6; ++side) {
        const double sign = side % 2 ? -1 : 1;
        const uint16_t first = uint16_t(mesh.Vertices.size());
        const double corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            double p[3];
            p[axes[side][0]] = c[0] * h * sign;
            p[axes[side][1]] = c[1] * h;
            p[axes[side][2]] = h * sign;
            Vertex(mesh, p[0] + offsetX, p[1], p[2], (c[0] + 1) / 2, (c[1] + 1) / 2);
        }
        Face(mesh, first, uint16_t(first + 1), uint16_t(first + 2));
        Face(mesh, first, uint16_t(first + 2), uint16_t(first + 3));
    }
    Finish(mesh, "box");
    return mesh;
}

TMesh3DS SphereMesh(float radius, int rings, int sides) {
    TMesh3DS mesh;
    for (int i = 0; i <= rings; ++i) {
        const double lat = -Pi / 2 + Pi * i / rings;
        for (int j = 0; j <= sides; ++j) {
            const double lon = 2 * Pi * (j % sides) / sides;
            const double r = i == 0 || i == rings ? 0 : radius * std::cos(lat);
            const double z = i == 0 ? -radius : i == rings ? radius : radius * std::sin(lat);
            Vertex(mesh, r * std::cos(lon), r * std::sin(lon), z, double(j) / sides, double(i) / rings);
        }
    }
    auto index = [&](int i, int j) { return uint16_t(i * (sides + 1) + j); };
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j) {
            if (i > 0) Face(mesh, index(i, j), index(i, j + 1), index(i + 1, j + 1));
            if (i < rings - 1) Face(mesh, index(i, j), index(i + 1, j + 1), index(i + 1, j));
        }
    Finish(mesh, "sphere");
    return mesh;
}

TMesh3DS CylinderMesh(float radius, float height, int sides) {
    TMesh3DS mesh;
    for (int j = 0; j <= sides; ++j) {
        const double a = 2 * Pi * (j % sides) / sides;
        Vertex(mesh, radius * std::cos(a), radius * std::sin(a), 0);
        Vertex(mesh, radius * std::cos(a), radius * std::sin(a), height);
    }
    for (int j = 0; j < sides; ++j) {
        const uint16_t b0 = uint16_t(2 * j), t0 = uint16_t(2 * j + 1), b1 = uint16_t(2 * j + 2),
                       t1 = uint16_t(2 * j + 3);
        Face(mesh, b0, b1, t1);
        Face(mesh, b0, t1, t0);
    }
    const uint16_t top = Vertex(mesh, 0, 0, height);
    for (int j = 0; j < sides; ++j) Face(mesh, top, uint16_t(2 * j + 1), uint16_t(2 * j + 3));
    Finish(mesh, "cylinder");
    return mesh;
}

void WriteModel(const testutil::TempDir& dir, const std::string& name, const std::vector<TMesh3DS>& meshes) {
    dir.Write(name, Write3DSModel(meshes));
}

void WriteJPEG(const testutil::TempDir& dir, const std::string& name, int width, int height, const TPaint& paint) {
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3);
    while (c.next_scanline < c.image_height) {
        const int y = height - 1 - int(c.next_scanline);
        for (int x = 0; x < width; ++x) {
            const TRGB p = paint(x, y);
            row[size_t(x) * 3] = p.R;
            row[size_t(x) * 3 + 1] = p.G;
            row[size_t(x) * 3 + 2] = p.B;
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    dir.Write(name, std::vector<uint8_t>(out, out + size));
    std::free(out);
}

void WriteBMP(const testutil::TempDir& dir, const std::string& name, int width, int height, const TPaint& paint) {
    const uint32_t stride = uint32_t(width * 3 + 3) & ~3u;
    std::vector<uint8_t> b;
    auto u16 = [&](uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    b.insert(b.end(), {'B', 'M'});
    u32(54 + stride * uint32_t(height));
    u32(0);
    u32(54);
    u32(40);
    u32(uint32_t(width));
    u32(uint32_t(height));
    u16(1);
    u16(24);
    for (int i = 0; i < 6; ++i) u32(0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const TRGB p = paint(x, y);
            b.insert(b.end(), {p.B, p.G, p.R});
        }
        b.resize(b.size() + (stride - uint32_t(width * 3)));
    }
    dir.Write(name, b);
}

bool Near(const TRGB& a, const TRGB& b, int tolerance) {
    return std::abs(a.R - b.R) <= tolerance && std::abs(a.G - b.G) <= tolerance && std::abs(a.B - b.B) <= tolerance;
}

int CountIf(const std::vector<TRGB>& frame, const std::function<bool(const TRGB&)>& test) {
    int count = 0;
    for (const TRGB& p : frame) count += test(p);
    return count;
}

int CountNot(const std::vector<TRGB>& frame, const TRGB& colour) {
    return CountIf(frame, [&](const TRGB& p) { return !Near(p, colour); });
}

bool Enabled(unsigned cap) { return glIsEnabled(cap) == GL_TRUE; }

int GetInt(unsigned name) {
    GLint v = 0;
    glGetIntegerv(name, &v);
    return v;
}

std::vector<float> GetFloats(unsigned name, int count) {
    std::vector<float> v(16);
    glGetFloatv(name, v.data());
    v.resize(size_t(count));
    return v;
}

} // namespace fx3d
