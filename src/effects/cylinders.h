// "cylinders": a 21 x 21 field of cylinders whose heights wave like a
// plasma, mirrored below its own plane, lit by a warm light at the eye and
// fading into white fog, seen from a camera on a wobbling path. Input 0 lifts
// the field (40 units per unit), input 1 widens the field of view from 80 to
// 120 degrees. No script field is read.
#pragma once

#include <memory>

#include "effects/effect.h"
#include "special/celshade.h"

// The fixed model "cyl2.3ds" (mesh 0) is loaded by the constructor, so the
// window must exist when the LOAD line runs; a missing or unreadable model
// is reported there, naming the file and the folder it was looked for in,
// Load then stops the demo and Draw draws nothing.
//
// Draw sets what it needs in SetupRenderState and leaves: fog on (linear,
// white, 400 to 500), lighting on with GL_LIGHT0 and GL_NORMALIZE,
// texturing and blending off, current colour (1.2, 0.915, 0.7, 1), depth
// function GL_LESS, the projection of its field of view. The frame loop
// puts all of it back to the baseline, so the fog reaches nothing else.
class TCylinderPlasma : public TCEffect {
public:
    TCylinderPlasma();
    // Deletes the display list (needs the context it was compiled in).
    ~TCylinderPlasma() override;
    void Load() override;
    void Draw(const TInputValues& inputs) override;

    // The fixed model, mesh 0.
    static constexpr const char* ModelFile = "cyl2.3ds";

    // Eye position at bar time t (seconds).
    static TVec3 EyeAt(float t);

    // Only its plain mesh Draw is used.
    std::unique_ptr<TBGL2CelshadeBrush> Brush;
    // Each copy calls a display list compiled from the mesh Draw on the
    // first frame (the same vertices, normals and pixels, far fewer calls
    // into the driver); false draws the vertex arrays every time.
    bool UseDisplayList = true;

private:
    uint32_t MeshList = 0; // 0 until compiled
    void SetupRenderState(float fieldOfView);
    void DrawMesh();
    // The field at the current model-view matrix: 21 x 21 copies on a
    // 65-unit grid, heights waving with t.
    void DrawField(long double t);
};
