#include "special/celshade.h"

#include <algorithm>
#include <cmath>

#include "assets/file3ds.h"
#include "render/gl.h"
#include "render/material.h"
#include "render/overlay.h"

namespace {

using Ext = long double;

// VecNormalize's arithmetic (32-bit length, each component divided in
// extended precision), but a zero or non-finite length leaves the vector
// alone and returns false instead of producing NaN.
bool Normalized(TVec3& v) {
    const float length = float(std::sqrt(Ext(v.X) * v.X + Ext(v.Y) * v.Y + Ext(v.Z) * v.Z));
    if (!(length > 0) || !std::isfinite(length)) return false;
    v.X = float(Ext(v.X) / length);
    v.Y = float(Ext(v.Y) / length);
    v.Z = float(Ext(v.Z) / length);
    return true;
}

} // namespace

TBGL2CelshadeBrush::TBGL2CelshadeBrush(const std::string& fileName, int32_t meshIndex) {
    TBGLBrush brush(fileName);
    if (meshIndex < 0 || meshIndex >= brush.MeshCount)
        throw E3DSError(fileName, -1,
                        "holds " + std::to_string(brush.MeshCount) + " meshes; mesh " + std::to_string(meshIndex) +
                            " is needed");
    CopyFrom(*brush.Meshes[size_t(meshIndex)]);
    Shade.assign(size_t(std::max(VertexCount, 0)), 0.0f);
}

TBGL2CelshadeBrush::TBGL2CelshadeBrush(const TMeshDataN& mesh) {
    CopyFrom(mesh);
    Shade.assign(size_t(std::max(VertexCount, 0)), 0.0f);
}

void TBGL2CelshadeBrush::CalcShade(const TLights& lights) {
    const size_t count = Shade.size();
    for (size_t i = 0; i < count; ++i) {
        float shade = 0;
        // The normal's unit copy is the same for every light.
        TVec3 n = Normals[i];
        if (Normalized(n)) {
            const TVec3& p = Vertices[i];
            for (const TVec3& light : lights) {
                TVec3 d = VecSub(p, light);
                if (!Normalized(d)) continue;
                float k = VecDot(d, n);
                if (!(k >= 0)) k = 0;
                if (k > 1) k = 1;
                shade = float(Ext(shade) + k);
            }
        }
        Shade[i] = shade;
    }
}

void TBGL2CelshadeBrush::DrawShaded(uint32_t shadeTexture) {
    BindTexture(int32_t(shadeTexture));
    glBegin(GL_TRIANGLES);
    for (int32_t f = 0; f < FaceCount; ++f) {
        const TFace& face = Faces[size_t(f)];
        for (const uint32_t v : {face.I0, face.I1, face.I2}) {
            glTexCoord1f(Shade[v]);
            glVertex3fv(&Vertices[v].X);
        }
    }
    glEnd();
}

void TBGL2CelshadeBrush::DrawOutline(float width) {
    glEnable(GL_CULL_FACE);
    glPolygonMode(GL_BACK, GL_LINE);
    glLineWidth(width);
    glCullFace(GL_FRONT);
    glDepthFunc(GL_LEQUAL);
    Draw();
    glDepthFunc(GL_LESS);
    glCullFace(GL_BACK);
    glDisable(GL_CULL_FACE);
    glPolygonMode(GL_BACK, GL_FILL);
}

void TBGL2CelshadeBrush::DrawHighlights(const TVec3& light, const TVec3& eye, float size, float exponent,
                                        uint32_t flareTexture) {
    BindTexture(int32_t(flareTexture));
    AdditiveBlend();
    glDepthMask(GL_FALSE);
    glDisable(GL_LIGHTING);
    const size_t count = std::min(Vertices.size(), Normals.size());
    for (size_t i = 0; i < count; ++i) {
        const TVec3& p = Vertices[i];
        const TVec3& n = Normals[i];
        TVec3 v = VecSub(p, eye);   // towards the eye
        TVec3 l = VecSub(light, p); // from the light towards the vertex
        if (!Normalized(v) || !Normalized(l)) continue;
        // Facing away from the light (or a NaN normal): no highlight.
        if (!(VecDot(l, n) < 0)) continue;
        const TVec3 r = VecReflect(l, n);
        float s = VecDot(r, v);
        if (s < 0) s = 0;
        const Ext m = std::pow(Ext(s), Ext(exponent)) - 0.5L;
        if (m > 0) DrawBillboard(p, float(size * m));
    }
    glDepthMask(GL_TRUE);
}
