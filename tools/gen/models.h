// The production's models, built as 3DS meshes (z up, as 3DS files are;
// the engine turns them to y up when it loads them). Every face winds
// counter-clockwise seen from outside, and every vertex has a mapping
// coordinate. Seams repeat their vertices at bit-identical positions (with
// different mapping coordinates), so welding by position closes them.
#pragma once

#include <vector>

#include "assets/file3ds.h"
#include "production.h"

namespace gen {

// A capped cylinder hanging from z = 0 down to z = -160, radius 24, with
// hard edges at the caps (their rims are separate vertices). The cylinder
// field sets copies on a wavy plane and mirrors them: the top caps make the
// wavy surface, the long sides reach away from the camera between them.
TMesh3DS MakeCylinder();
// The logo: a trefoil knot of a round tube, about 330 units across, 2737
// vertices with seams along the tube and around it.
TMesh3DS MakeKnot();
// A torus (outer radius 52) mapped three times around.
TMesh3DS MakeRing();
// A sphere of radius 42 with latitude-longitude mapping.
TMesh3DS MakeOrb();

// The model files: "cyl2.3ds", "velmorandex.3ds", "ring.3ds", "orb.3ds".
void MakeModels(std::vector<TGenFile>& files);

} // namespace gen
