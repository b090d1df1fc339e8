#include "effects/plain.h"

#include <cmath>
#include <string>

#include "base/report.h"
#include "effects/effect_files.h"
#include "render/gl.h"
#include "render/material.h"
#include "render/overlay.h"

namespace {

// The defaults the four flat effects share: the whole window in white. The
// window is the one INIT opened (RESOLUTIONX x RESOLUTIONY overlay units);
// a fixed 800 x 600 here left the rest of a larger window uncovered.
void SetFlatDefaults(TCEffect& effect) {
    effect.H = float(OverlayHeight());
    effect.W = float(OverlayWidth());
    effect.E = effect.F = effect.G = 255;
}

float Channel(int value) { return float(value / 255.0L); }

// Position of the lower-left corner after drifting for BarTime seconds.
void DriftedCorner(const TCEffect& effect, float& x, float& y) {
    x = float(effect.X + static_cast<long double>(effect.VX) * BarTime);
    y = float(effect.Y + static_cast<long double>(effect.VY) * BarTime);
}

} // namespace

TPlainColor::TPlainColor() { SetFlatDefaults(*this); }

void TPlainColor::Draw(const TInputValues& inputs) {
    TCEffect::Draw(inputs);
    PushView();
    float x, y;
    DriftedCorner(*this, x, y);
    DrawBlendRect(TRGBAColor{Channel(E), Channel(F), Channel(G), 1.0f}, x, y, W, H);
    PopView();
}

TPlainTexture::TPlainTexture() = default;

void TPlainTexture::Load() {
    if (A.empty()) {
        ShowScriptError("Effect PlainTexture requires texture filename in parameter A, Effect number " +
                        std::to_string(SlotIndex));
        DemoQuit = true;
        return;
    }
    // A picture that fails is reported with this LOAD line; the effect then
    // draws untextured and the demo plays on.
    Texture = BindableTexture(B.empty() ? LoadEffectTexture(A) : LoadEffectMaskedTexture(A, B));
}

void TPlainTexture::Draw(const TInputValues& inputs) {
    PushView();
    float x, y;
    DriftedCorner(*this, x, y);
    const float i0 = inputs[0];
    if (i0 > 0) {
        x = float(x + static_cast<long double>(S) * std::sin(20.0L * i0));
        y = float(y + static_cast<long double>(S) * std::cos(17.0L * i0));
    }
    DrawPicture(Texture, x, y, W, H);
    PopView();
}

TFlash::TFlash() { SetFlatDefaults(*this); }

void TFlash::Draw(const TInputValues& inputs) {
    PushView();
    DrawAddRect(TRGBAColor{Channel(E), Channel(F), Channel(G), inputs[0]}, 0, 0, float(OverlayWidth()),
                float(OverlayHeight()));
    PopView();
}

TInverseFlash::TInverseFlash() { SetFlatDefaults(*this); }

void TInverseFlash::Draw(const TInputValues& inputs) {
    const float i0 = inputs[0];
    if (!(i0 > 0)) return;
    PushView();
    SetPlainColor(TRGBAColor{i0, i0, i0, 1.0f});
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE_MINUS_DST_COLOR, GL_ONE_MINUS_SRC_COLOR);
    DrawTexturedRect(X, Y, H, W);
    PopView();
}
