#include "effects/object3d.h"

#include "effects/effect_files.h"
#include "render/gl.h"
#include "render/material.h"
#include "render/window.h"

namespace {

using Ext = long double;

float Channel(int value) { return float(value / 255.0L); }

} // namespace

void T3DObject::Load() {
    if (DemoCheckOnly) return;
    Brush = LoadEffectModel(A, 0);
    if (!Brush) {
        DemoQuit = true;
        return;
    }
    if (S != 0.0f) Brush->Scale(MakeVec3(S, S, S));
    Color = TRGBAColor{Channel(E), Channel(F), Channel(G), 0.0f};
    SurfaceMode = 0;
    if (!B.empty()) {
        BaseTexture = BindableTexture(LoadEffectTexture(B));
        SurfaceMode = 1;
    }
    if (!C.empty()) {
        EnvTexture = BindableTexture(LoadEffectTexture(C));
        SurfaceMode = 2;
    }
    Position = MakeVec3(X, Y, Z);
    Spin = MakeVec3(VX, VY, VZ);
}

void T3DObject::SetupRenderState() {
    // On top of the baseline (render/gl_state.h): its 45-degree perspective
    // at the window's aspect, the camera at (100, 100, 100), no lighting,
    // and the depth test with GL_LEQUAL, which lets the environment pass lie
    // on the base pass at the same depth. Each pass sets its own surface.
    SetViewAngle(45.0f);
    gluLookAt(100, 100, 100, 0, 0, 0, 0, 1, 0);
    glDisable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
}

void T3DObject::Draw(const TInputValues& inputs) {
    (void)inputs;
    if (!Brush) return;
    TMeshDataNM& mesh = *Brush->Meshes[0];
    const Ext t = BarTime;

    SetupRenderState();
    glTranslatef(Position.X, Position.Y, Position.Z);
    glRotatef(float(Spin.X * t), 1, 0, 0);
    glRotatef(float(Spin.Y * t), 0, 1, 0);
    glRotatef(float(Spin.Z * t), 0, 0, 1);
    if (SurfaceMode > 0)
        BindTexture(int32_t(BaseTexture));
    else
        SetPlainColor(Color);
    mesh.Draw();
    if (SurfaceMode == 2) {
        BindTexture(int32_t(EnvTexture));
        AdditiveBlend();
        SphereMapOn();
        mesh.Draw();
        SphereMapOff();
    }
}
