// "object": one model from a 3DS file, spinning in front of a fixed camera,
// in a flat colour, with a texture, or with a texture plus an additive
// sphere-mapped environment pass.
#pragma once

#include <cstdint>
#include <memory>

#include "effects/effect.h"
#include "render/mesh.h"
#include "render/vecmath.h"

// Script fields: A model file (required), B base texture, C environment
// texture, S uniform scale (0 leaves the model as it is), E, F, G colour
// (0..255) of the untextured mode, X, Y, Z position, VX, VY, VZ spin in
// degrees per second about x, y, z. Inputs are not read. Only mesh 0 of the
// model is drawn.
//
// Draw sets what it needs in SetupRenderState: the 45-degree perspective at
// the window's aspect, lighting off, the depth test with GL_LEQUAL (before,
// it took whatever projection and depth function an earlier effect left, so
// the environment pass vanished after the cel-shaded logo's GL_LESS). Mode
// 0 leaves texturing and blending off, mode 1 texturing on with the base
// texture, mode 2 texturing on with the environment texture and blending on
// with (GL_ONE, GL_ONE); the frame loop puts the baseline back.
class T3DObject : public TCEffect {
public:
    void Load() override;
    void Draw(const TInputValues& inputs) override;

    // Null when the model could not be loaded (reported; nothing is drawn).
    std::unique_ptr<TBGLBrush> Brush;
    TRGBAColor Color{};
    uint32_t BaseTexture = 0;
    uint32_t EnvTexture = 0;
    TVec3 Position{};
    TVec3 Spin{};            // degrees per second
    int32_t SurfaceMode = 0; // 0 flat colour, 1 base texture, 2 plus environment pass

private:
    void SetupRenderState();
};
