#include "effects/object3d.h"

#include "effects/effect_files.h"
#include "render/gl.h"
#include "render/material.h"

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

void T3DObject::Draw(const TInputValues& inputs) {
    (void)inputs;
    if (!Brush) return;
    TMeshDataNM& mesh = *Brush->Meshes[0];
    const Ext t = BarTime;

    glLoadIdentity();
    gluLookAt(100, 100, 100, 0, 0, 0, 0, 1, 0);
    glTranslatef(Position.X, Position.Y, Position.Z);
    glRotatef(float(Spin.X * t), 1, 0, 0);
    glRotatef(float(Spin.Y * t), 0, 1, 0);
    glRotatef(float(Spin.Z * t), 0, 0, 1);
    glDisable(GL_LIGHTING);
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
