// "celshadeobj": the logo model "velmorandex.3ds" in cartoon style, with a
// camera circling it and one point light tumbling around it. No script field
// and no input is read.
#pragma once

#include <cstdint>
#include <memory>

#include "effects/effect.h"
#include "special/celshade.h"

// The fixed files ("shader.jpg": the shading ramp, loaded with nearest
// filtering; "flare.jpg": the highlight sprite, mipmapped; mesh 0 of
// "velmorandex.3ds", welded) are loaded by the constructor, so the window
// must exist when the LOAD line runs. A missing or unreadable file is
// reported there, naming the file and the folder it was looked for in; Load
// then stops the demo and Draw draws nothing.
//
// Draw depends on BarTime alone and sets what it needs in SetupRenderState;
// it leaves the 45-degree projection, lighting off, texturing on with the
// flare bound, blending on with (GL_ONE, GL_ONE), depth function GL_LESS,
// culling off, fill mode for both faces, colour opaque white, which the
// frame loop puts back to the baseline.
class TCelshadeObject : public TCEffect {
public:
    TCelshadeObject();
    void Load() override;
    void Draw(const TInputValues& inputs) override;

    // The fixed files: shading ramp, highlight flare, model (mesh 0).
    static constexpr const char* ShadeFile = "shader.jpg";
    static constexpr const char* FlareFile = "flare.jpg";
    static constexpr const char* ModelFile = "velmorandex.3ds";

    std::unique_ptr<TBGL2CelshadeBrush> Brush;
    int32_t ShadeTexture = 0;
    int32_t FlareTexture = 0;
    TLights Lights; // one light: its position in the current frame

    // Light and eye positions at bar time t (seconds).
    static TVec3 LightAt(float t);
    static TVec3 EyeAt(float t);

private:
    bool Loaded = false;
    void SetupRenderState(const TVec3& eye);
};
