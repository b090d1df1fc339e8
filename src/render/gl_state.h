// The GL baseline: the one fixed-function state every effect starts its
// draw from, whatever ran before it in the frame or in earlier frames. It is
// the state INIT leaves:
//
//   matrices   projection: 45-degree perspective at the window's aspect
//              (RESOLUTIONX / RESOLUTIONY), near 1, far FarPlane;
//              model-view and texture: identity; matrix mode GL_MODELVIEW
//   depth      test on, function GL_LEQUAL, writes on
//   off        lighting and every light, fog, blending, 1D and 2D
//              texturing, texture coordinate generation, culling, colour
//              material, normalisation, alpha, scissor and stencil tests,
//              polygon offset, line and polygon stipple, smoothing
//   values     colour (1, 1, 1, 1), normal (0, 0, 1), texture coordinate
//              (0, 0, 0, 1); blend function (GL_ONE, GL_ZERO); no texture
//              bound, texture environment GL_MODULATE; fill mode for both
//              faces, cull face GL_BACK, front face GL_CCW; line width and
//              point size 1; smooth shading; every colour channel written
//   lighting   material, light model, GL_LIGHT0 and fog parameters at GL's
//              defaults; texture coordinate generation mode sphere map
//   arrays     no client array enabled
//
// The frame loop puts this back after every effect's draw, so nothing one
// effect switches reaches the next; an effect sets what it needs on top of
// it in one place at the top of its Draw.
#pragma once

#include <string>

// Width over height of the window as the script asked for it (RESOLUTIONX /
// RESOLUTIONY); 4:3 while no window is open.
double WindowAspect();

// Loads the projection every perspective of the engine uses: fieldOfView
// degrees vertically at WindowAspect(), near 1, far FarPlane. Leaves the
// matrix mode at GL_MODELVIEW and the model-view matrix alone.
void LoadPerspective(double fieldOfView);

// Puts the baseline back. Needs a current context; about sixty state calls,
// no queries.
void RestoreBaseline();

// Debug: what differs from the baseline, as names ("GL_FOG on", "model-view
// stack depth 2"), separated by ", "; "" at the baseline. Queries GL, so it
// is for tests and the GL check switch only.
std::string BaselineDifferences();

// Debug: pops matrices and attribute groups an effect pushed and never
// popped (RestoreBaseline cannot see them); returns what it popped in the
// words of BaselineDifferences, "" when the stacks were balanced.
std::string RebalanceStacks();

// Takes every pending GL error flag: their names ("GL_INVALID_ENUM, ...")
// or "" when there was none. At most 16 are taken, so a lost context does
// not loop.
std::string TakeGLErrors();
