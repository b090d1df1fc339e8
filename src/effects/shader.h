// "shader": a fragment shader of the demo maker's over the whole window.
//
// A: the fragment shader file (GLSL with void main(), or the web sites'
// mainImage form); B, C: optional pictures, sampled as iChannel0 and
// iChannel1; E: how the output meets the frame: 0 blends by its alpha,
// 1 adds, 2 replaces. The uniforms the shader declares are set every draw
// (docs/shaders.md has the table): the window size, demo and bar time, the
// row and beat, the bar's ten inputs, the effect's fields, the two pictures,
// the previous frame (iChannel2) and this frame so far (iChannel3), the last
// two copied only when declared. A `uniform float` named as a named track
// gets the track's value at the frame's row.
//
// A shader that fails to compile is reported once at its own file and line
// (naming the LOAD line); the effect then draws nothing and the demo plays
// on. Draw starts from the GL baseline (render/gl_state.h) and leaves what
// the baseline does not cover as the next effect expects it: program 0 in
// use, texture unit 0 active, no texture bound on units 0 to 3.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "effects/effect.h"

struct TShaderEffectState;

class TShaderEffect : public TCEffect {
public:
    TShaderEffect();
    ~TShaderEffect() override;
    void Load() override;
    void Check() override;
    void Draw(const TInputValues& inputs) override;

    // A program is ready to draw (false after a failed compile).
    bool Ready() const;

private:
    std::unique_ptr<TShaderEffectState> state;
};
