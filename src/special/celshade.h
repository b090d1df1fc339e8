// Cartoon rendering of one mesh: a shaded pass that turns the light falling
// on each vertex into a coordinate into a shading ramp, an outline pass that
// draws the back faces as thick lines, and a highlight pass that puts flare
// sprites where the specular reflection is strong.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/mesh.h"
#include "render/vecmath.h"

// Point light positions in the mesh's coordinate space; owned by the caller.
using TLights = std::vector<TVec3>;

class TBGL2CelshadeBrush : public TMeshDataNM {
public:
    // Mesh `meshIndex` of a 3DS model, loaded as TBGLBrush loads it (y up,
    // smooth normals). A file that cannot be read, or that holds no such
    // mesh, raises E3DSError naming the file.
    TBGL2CelshadeBrush(const std::string& fileName, int32_t meshIndex);
    // A copy of a mesh already in memory.
    explicit TBGL2CelshadeBrush(const TMeshDataN& mesh);

    // Shade[i] = sum over the lights of clamp(dot(unit(L - P_i), unit(N_i)),
    // 0, 1). A light on the vertex or a zero normal contributes 0. No
    // allocation.
    void CalcShade(const TLights& lights);
    // Binds the ramp texture (texturing on, blending off, colour white) and
    // draws the faces with Shade as a one-component texture coordinate; the
    // ramp is the picture's row at t = 0. No normals are sent; the caller
    // turns lighting off.
    void DrawShaded(uint32_t shadeTexture);
    // Back faces as lines `width` pixels wide in the current colour, depth
    // function GL_LEQUAL while drawing. Leaves culling off (cull face back),
    // fill mode for both faces and depth function GL_LESS.
    void DrawOutline(float width);
    // A flare billboard of half-width size x (s^exponent - 0.5) on every
    // vertex lit from the front whose reflection towards the eye s gives a
    // positive size. Leaves the flare texture bound, blending on with
    // (GL_ONE, GL_ONE), lighting off and depth writes on.
    void DrawHighlights(const TVec3& light, const TVec3& eye, float size, float exponent, uint32_t flareTexture);

    // Shading coordinate per vertex (VertexCount entries); zero until the
    // first CalcShade.
    std::vector<float> Shade;
};
