// Flat effects drawn in overlay units (window pixels at the creation size,
// origin bottom-left, y up): an opaque coloured rectangle, a picture, an
// additive flash and an inverting flash. X and Y start at 0 and W x H at the
// whole window (RESOLUTIONX x RESOLUTIONY, as the window was opened when the
// LOAD line ran), E, F, G at 255.
#pragma once

#include <cstdint>

#include "effects/effect.h"

// "plaincolor": a rectangle of colour (E, F, G)/255 at (X, Y) + (VX, VY) x
// BarTime, W x H overlay units, opaque. Leaves GL_BLEND enabled.
class TPlainColor : public TCEffect {
public:
    TPlainColor();
    void Draw(const TInputValues& inputs) override;
};

// "plaintexture": picture A (with the alpha of picture B when given) at the
// drifting position, shaken by S units along sin(20 i0), cos(17 i0) while
// input 0 is above 0. A is required.
class TPlainTexture : public TPlainColor {
public:
    TPlainTexture();
    void Load() override;
    void Draw(const TInputValues& inputs) override;

    uint32_t Texture = 0; // the texture registry owns it
};

// "flash": adds colour (E, F, G)/255 weighted by input 0 over the whole
// window.
class TFlash : public TCEffect {
public:
    TFlash();
    void Draw(const TInputValues& inputs) override;
};

// "invertflash": blends the rectangle X, Y, W, H towards its negative by
// input 0 (1 inverts, 0.5 gives mid-grey); no GL call while input 0 <= 0.
class TInverseFlash : public TCEffect {
public:
    TInverseFlash();
    void Draw(const TInputValues& inputs) override;
};
