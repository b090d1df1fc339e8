// A box-bounded particle system: point particles with position, velocity and
// half-size, spawned around the box centre, moved by explicit Euler steps and
// kept in (or removed from) the box by one of four boundary modes. Drawn as
// camera-facing squares; all other GL state belongs to the owner.
#pragma once

#include <cstdint>
#include <vector>

#include "render/vecmath.h"

struct TVolumeParticle {
    TVec3 Position;
    TVec3 Velocity;      // units per second
    float Size = 0;      // half the side of the particle's square
    bool Frozen = false; // a frozen particle is no longer moved (still drawn)
};

// Boundary modes (TBGLVolume::Mode).
constexpr uint8_t VolumeBounce = 1;  // reflect off the faces
constexpr uint8_t VolumePull = 2;    // accelerate towards the centre, no faces
constexpr uint8_t VolumeRespawn = 3; // respawn particles that leave
constexpr uint8_t VolumeFreeze = 4;  // stop particles that leave

class TBGLVolume {
public:
    // `count` particles (a negative count gives none) in a box of half-size
    // (h, h, h) around the origin, sizes in [0, sizeRange); every particle
    // is spawned once (at the centre, at rest, since the spreads start 0).
    TBGLVolume(int32_t count, float halfSize, float sizeRange);

    // A new start for one particle, from 13 draws of the shared generator in
    // this order: 6 for the position offset, 6 for the velocity, 1 for the
    // size. An index outside the array does nothing and draws nothing.
    void Respawn(int32_t index);
    void RespawnAll();
    // One Euler step of dt seconds, then the boundary test of Mode.
    void UpdateParticle(int32_t index, float dt);
    void UpdateParticles(float dt);
    // Every particle, frozen or not, in index order, as a billboard of
    // half-size Size + extraSize. Sets no GL state.
    void DrawParticles(float extraSize) const;

    // The particle array is sized once by the constructor; nothing here
    // allocates afterwards. Count equals Particles.size().
    std::vector<TVolumeParticle> Particles;
    int32_t Count = 0;
    TVec3 Center;
    TVec3 HalfSize;
    // Spawn positions lie within +-SpawnSpread of Center per axis.
    TVec3 SpawnSpread;
    uint8_t Mode = VolumeBounce;
    // Strength of VolumePull: a particle on a face is accelerated towards
    // the centre by Pull units per second squared along that axis.
    float Pull = 0;
    // Spawn velocities lie within +-VelocitySpread per axis.
    TVec3 VelocitySpread;
    // Spawn sizes lie in [SizeBase, SizeBase + SizeRange).
    float SizeRange = 0;
    float SizeBase = 0;

private:
    // Number of valid indices: Count, bounded by the array actually held.
    int32_t Active() const;
};
