// "particles": a cloud of textured, camera-facing sprites moving in a cube
// around the origin, added onto the frame. Input 0 swells every sprite.
#pragma once

#include <cstdint>
#include <memory>

#include "effects/effect.h"
#include "special/volume.h"

// Script fields, read by Load:
//   A        sprite picture (none, or one that fails to load: white squares)
//   B        "forceback" (pull towards the centre) or "respawn" (respawn what
//            leaves the cube), compared exactly; anything else bounces
//   E        particle count, 0 to limits::MaxParticles (a negative count or
//            one above the limit is a script error and stops the demo)
//   F        half the cube's edge and the spawn spread (world units)
//   G        sprite half-sizes are drawn from [0, G / 100)
//   VX VY VZ start velocities lie within +-V per axis (units per second)
//   S        half-size added per unit of input 0
//   D        "forceback" only: the pull, in units per second squared felt at
//            a face of the cube (0, the default, leaves every particle flying
//            straight, as the mode did before D was read)
// The cloud keeps its state between frames and advances by FrameTime once
// per Draw, so two bars drawing the slot in one frame advance it twice.
class TParticles : public TCEffect {
public:
    TParticles() = default;
    void Load() override;
    // Camera at (100, 100, 100) looking at the origin, in the projection it
    // finds (the frame loop gives every effect the baseline's). Leaves
    // lighting off, texturing on with Texture bound, blending on with
    // (GL_ONE, GL_ONE), depth test on, current colour opaque white; the
    // frame loop puts the baseline back. The cloud's positions are the one
    // thing of a bar's picture that depends on the frames before it.
    void Draw(const TInputValues& inputs) override;
    // Pre-flight: E is within range; no picture in A is a warning.
    void Check() override;

    uint32_t Texture = 0;
    std::unique_ptr<TBGLVolume> Volume; // null until Load succeeded
    float SizeBoost = 0;

private:
    // Reports an E outside 0 to limits::MaxParticles as a script error.
    bool CountValid() const;
    void SetupRenderState();
};
