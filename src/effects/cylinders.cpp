#include "effects/cylinders.h"

#include <array>
#include <cmath>

#include "effects/effect_files.h"
#include "render/gl.h"
#include "render/light.h"
#include "render/material.h"
#include "render/window.h"

namespace {

using Ext = long double;

constexpr int GridSize = 21; // copies along x and along z (indices 0 to 20)

} // namespace

TCylinderPlasma::TCylinderPlasma() {
    // Pre-flight runs without GL: the check looks at the file instead.
    if (DemoCheckOnly) return;
    std::unique_ptr<TBGLBrush> model = LoadEffectModel(ModelFile, 0);
    if (model)
        Brush = std::make_unique<TBGL2CelshadeBrush>(*model->Meshes[0]);
    else
        DemoQuit = true;
}

TCylinderPlasma::~TCylinderPlasma() {
    if (MeshList != 0) glDeleteLists(MeshList, 1);
}

// The demo clears DemoQuit after the script has run; a failed constructor
// sets it again here, before playback would start.
void TCylinderPlasma::Load() {
    if (!DemoCheckOnly && !Brush) DemoQuit = true;
}

TVec3 TCylinderPlasma::EyeAt(float t) {
    const Ext tx = t;
    TVec3 eye = MakeVec3(float(500 * std::sin(tx)), float(15 * std::sin(0.9L * tx)), float(500 * std::sin(0.54L * tx)));
    RotatePoint(eye, MakeVec3(0, float(60 * tx), 0));
    return eye;
}

void TCylinderPlasma::SetupRenderState(float fieldOfView) {
    // On top of the baseline (render/gl_state.h): its own field of view,
    // a depth buffer of its own with the test on (GL_LESS), white linear
    // fog from 400 to 500 units, the warm plain colour, and GL_LIGHT0 at
    // the eye. The frame loop switches all of it off again after the draw.
    SetViewAngle(fieldOfView);
    glClear(GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);

    static const GLfloat fogColor[] = {1, 1, 1, 1};
    glEnable(GL_FOG);
    glFogi(GL_FOG_MODE, GL_LINEAR);
    glFogfv(GL_FOG_COLOR, fogColor);
    glFogf(GL_FOG_DENSITY, 1.0f);
    glHint(GL_FOG_HINT, GL_DONT_CARE);
    glFogf(GL_FOG_START, 400.0f);
    glFogf(GL_FOG_END, 500.0f);

    SetPlainColor(MakeColor(1.2f, 0.915f, 0.7f, 1.0f));

    // The model-view matrix is still the identity from SetViewAngle, so the
    // light sits at the eye.
    SelectLight(GL_LIGHT0);
    EnableLight();
    SetupDefaultLight();
    SetLightPosition(MakeVec3(0, 0, 0));
    SetLightColors(MakeColor(1, 0.4f, 0.4f, 1), MakeColor(2, 2, 2, 2));
    glLoadIdentity();
}

void TCylinderPlasma::Draw(const TInputValues& inputs) {
    if (!Brush) return;
    const Ext t = BarTime;
    const Ext i0 = inputs[0], i1 = inputs[1];

    SetupRenderState(float(40 * i1 + 80));
    const TVec3 eye = EyeAt(BarTime);
    gluLookAt(eye.X, eye.Y, eye.Z, 0, 0, 0, float(std::sin(2.2L * t)), float(std::sin(0.8L * t)),
              float(std::sin(0.7L * t)));

    const float lift = float(40 * i0 - 80);
    glPushMatrix();
    glTranslatef(0, lift, 0);
    DrawField(t);
    glPopMatrix();

    glPushMatrix();
    glScalef(1, -1, 1);
    glTranslatef(0, lift, 0);
    DrawField(t);
    glPopMatrix();
}

void TCylinderPlasma::DrawField(Ext t) {
    // The two travelling waves, once per row and column instead of per copy.
    std::array<Ext, GridSize> waveI, waveJ;
    for (int k = 0; k < GridSize; ++k) {
        waveI[size_t(k)] = std::sin(1.3L * k + 2.2L * t);
        waveJ[size_t(k)] = std::sin(0.5L * k + 1.3L * t);
    }
    glTranslatef(-650, -10, -650);
    for (int i = 0; i < GridSize; ++i)
        for (int j = 0; j < GridSize; ++j) {
            glPushMatrix();
            glTranslatef(float(65 * i), float(50 * waveI[size_t(i)] * waveJ[size_t(j)]), float(65 * j));
            DrawMesh();
            glPopMatrix();
        }
}

void TCylinderPlasma::DrawMesh() {
    if (!UseDisplayList) {
        Brush->Draw();
        return;
    }
    if (MeshList == 0) {
        MeshList = glGenLists(1);
        if (MeshList == 0) {
            UseDisplayList = false;
            Brush->Draw();
            return;
        }
        // Compiling copies the arrays into the list; nothing is drawn.
        glNewList(MeshList, GL_COMPILE);
        Brush->Draw();
        glEndList();
    }
    glCallList(MeshList);
}
