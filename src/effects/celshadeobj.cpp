#include "effects/celshadeobj.h"

#include "render/textures.h"
#include "effects/effect_files.h"
#include "render/gl.h"
#include "render/material.h"
#include "render/overlay.h"
#include "render/window.h"

namespace {

using Ext = long double;

} // namespace

TCelshadeObject::TCelshadeObject() {
    // Pre-flight runs without GL: the check looks at the files instead.
    if (DemoCheckOnly) return;
    // The ramp is sampled nearest so its bands stay hard, the flare
    // mipmapped; the filter mode is put back as it was for the effects that
    // load after this one.
    const uint8_t filterMode = TexFilterMode;
    TexFilterMode = 0;
    ShadeTexture = LoadEffectTexture(ShadeFile);
    TexFilterMode = 2;
    FlareTexture = LoadEffectTexture(FlareFile);
    TexFilterMode = filterMode;
    std::unique_ptr<TBGLBrush> model = LoadEffectModel(ModelFile, 0);
    if (model) {
        Brush = std::make_unique<TBGL2CelshadeBrush>(*model->Meshes[0]);
        Brush->Weld();
    }
    Lights.resize(1);
    // A picture that fails (reported) leaves its pass untextured; without
    // the model there is nothing to draw and the demo stops.
    ShadeTexture = int32_t(BindableTexture(ShadeTexture));
    FlareTexture = int32_t(BindableTexture(FlareTexture));
    Loaded = Brush != nullptr;
    if (!Loaded) DemoQuit = true;
}

// The demo clears DemoQuit after the script has run; a failed constructor
// sets it again here, before playback would start.
void TCelshadeObject::Load() {
    if (!DemoCheckOnly && !Loaded) DemoQuit = true;
}

TVec3 TCelshadeObject::LightAt(float t) {
    TVec3 light = MakeVec3(290, 250, 50);
    RotatePoint(light, MakeVec3(float(19 * Ext(t)), float(20 * Ext(t)), float(10 * Ext(t))));
    return light;
}

TVec3 TCelshadeObject::EyeAt(float t) {
    TVec3 eye = MakeVec3(200, 500, 100);
    RotatePoint(eye, MakeVec3(0, float(80 * Ext(t)), 0));
    return eye;
}

void TCelshadeObject::SetupRenderState(const TVec3& eye) {
    // On top of the baseline (render/gl_state.h): the 45-degree camera
    // circling the logo, no fixed-function lighting (the ramp is the
    // light), the depth test with GL_LESS for the shaded pass and the
    // highlights (the outline pass switches to GL_LEQUAL for its lines).
    // Each pass binds its own texture and blending.
    SetViewAngle(45.0f);
    glDisable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    gluLookAt(eye.X, eye.Y, eye.Z, 0, 0, 0, 0, 1, 0);
}

void TCelshadeObject::Draw(const TInputValues& inputs) {
    (void)inputs;
    if (!Loaded) return;
    const float t = BarTime;

    Lights[0] = LightAt(t);
    const TVec3 eye = EyeAt(t);
    SetupRenderState(eye);

    Brush->CalcShade(Lights);
    Brush->DrawShaded(uint32_t(ShadeTexture));
    glColor4f(0, 0, 0, 1);
    Brush->DrawOutline(5.0f);
    Brush->DrawHighlights(Lights[0], eye, 50, 25, uint32_t(FlareTexture));
    // Drawn with the highlight state: flare bound, additive, depth writes on.
    DrawBillboard(Lights[0], 30);
}
