// The one scene light of the fixed-function pipeline. The operations act on
// the light chosen by SelectLight (GL_LIGHT0 in practice); before any
// selection they act on enumerator 0, which GL rejects with an error flag.
#pragma once

#include <cstdint>

#include "render/vecmath.h"

// The light the operations act on (a GL light enumerator).
extern uint32_t CurrentLight;
// x, y, z and w; w stays 1, so the light is always positional.
extern float LightPosition[4];
extern TRGBAColor LightAmbient;
extern TRGBAColor LightDiffuse;

void SelectLight(uint32_t light);
void EnableLight();
// Stores the position and hands it to GL, which transforms it by the
// model-view matrix current at this call.
void SetLightPosition(const TVec3& position);
void SetLightColors(const TRGBAColor& ambient, const TRGBAColor& diffuse);
// Enables the light at (10, 10, 10) with ambient (1, 1, 1, 1) and diffuse
// (0.5, 0.5, 0.5, 0.5), and turns on lighting and normalisation of normals.
void SetupDefaultLight();
