#include "effects/particles.h"

#include <string>

#include "base/limits.h"
#include "base/report.h"
#include "effects/effect_files.h"
#include "render/gl.h"
#include "render/material.h"
#include "render/mesh.h"

bool TParticles::CountValid() const {
    if (E < 0) {
        ShowScriptError("Effect Particles requires a particle count of 0 or more in parameter E (got " +
                        std::to_string(E) + "), Effect number " + std::to_string(SlotIndex));
        return false;
    }
    if (E > limits::MaxParticles) {
        ShowScriptError("Effect Particles allows at most " + std::to_string(limits::MaxParticles) +
                        " particles in parameter E (got " + std::to_string(E) + "), Effect number " +
                        std::to_string(SlotIndex));
        return false;
    }
    return true;
}

void TParticles::Load() {
    if (DemoCheckOnly) return; // no GL context: Check verifies instead
    if (!CountValid()) {
        DemoQuit = true;
        return;
    }
    // A missing picture is reported with the folder it was looked for in;
    // a failed load binds no texture (plain white sprites) rather than an
    // invalid texture name. No picture at all is the same white sprite.
    Texture = A.empty() ? 0u : BindableTexture(LoadEffectTexture(A));
    Volume = std::make_unique<TBGLVolume>(E, float(F), float(G / 100.0L));
    Volume->VelocitySpread = TVec3{VX, VY, VZ};
    Volume->SpawnSpread = TVec3{float(F), float(F), float(F)};
    // The constructor spawned everything at the centre at rest; this pass
    // gives the particles their spread positions and velocities.
    Volume->RespawnAll();
    Volume->Mode = VolumeBounce;
    if (B == "forceback") Volume->Mode = VolumePull;
    if (B == "respawn") Volume->Mode = VolumeRespawn;
    // D is not used otherwise; it carries the pull of "forceback".
    Volume->Pull = D;
    SizeBoost = S;
}

void TParticles::Check() {
    CountValid();
    // Without a picture the sprites are plain white squares; a script may
    // mean that, so it is only worth a warning. The picture itself is
    // checked with the files of every effect type.
    if (A.empty())
        ReportWarning("Effect Particles has no picture in parameter A; its sprites are drawn as "
                      "white squares");
}

void TParticles::SetupRenderState() {
    // On top of the baseline (render/gl_state.h), whose 45-degree
    // perspective it uses: the camera at (100, 100, 100), no lighting, the
    // sprite texture added onto the frame without the depth test.
    glLoadIdentity();
    gluLookAt(100, 100, 100, 0, 0, 0, 0, 1, 0);
    glDisable(GL_LIGHTING);
    BindTexture(int32_t(Texture));
    glDisable(GL_DEPTH_TEST);
    AdditiveBlend();
}

void TParticles::Draw(const TInputValues& inputs) {
    SetupRenderState();
    if (Volume) {
        Volume->UpdateParticles(FrameTime);
        Volume->DrawParticles(float(static_cast<long double>(inputs[0]) * SizeBoost));
    }
    glEnable(GL_DEPTH_TEST);
}
