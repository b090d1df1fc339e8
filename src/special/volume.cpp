#include "special/volume.h"

#include <algorithm>

#include "render/overlay.h"

namespace {

using Ext = long double;

float& Axis(TVec3& v, int axis) { return axis == 0 ? v.X : axis == 1 ? v.Y : v.Z; }
float Axis(const TVec3& v, int axis) { return axis == 0 ? v.X : axis == 1 ? v.Y : v.Z; }

} // namespace

TBGLVolume::TBGLVolume(int32_t count, float halfSize, float sizeRange)
    : Particles(size_t(std::max(count, 0))), Count(std::max(count, 0)), HalfSize{halfSize, halfSize, halfSize},
      SizeRange(sizeRange) {
    RespawnAll();
}

int32_t TBGLVolume::Active() const {
    return std::clamp(Count, 0, int32_t(std::min<size_t>(Particles.size(), INT32_MAX)));
}

void TBGLVolume::Respawn(int32_t index) {
    if (index < 0 || index >= Active()) return;
    TVolumeParticle& particle = Particles[size_t(index)];
    // Draw order: r1..r6 position offset, r7..r12 velocity, r13 size.
    const TVec3 offset = RandomVec(SpawnSpread.X, SpawnSpread.Y, SpawnSpread.Z);
    particle.Position = VecAdd(Center, offset);
    particle.Velocity = RandomVec(VelocitySpread.X, VelocitySpread.Y, VelocitySpread.Z);
    particle.Size = float(Ext(RandomValue()) * SizeRange + SizeBase);
    particle.Frozen = false;
}

void TBGLVolume::RespawnAll() {
    for (int32_t i = 0; i < Active(); ++i) Respawn(i);
}

void TBGLVolume::UpdateParticle(int32_t index, float dt) {
    if (index < 0 || index >= Active()) return;
    TVolumeParticle& particle = Particles[size_t(index)];
    if (particle.Frozen) return;

    for (int a = 0; a < 3; ++a)
        Axis(particle.Position, a) = float(Axis(particle.Position, a) + Ext(Axis(particle.Velocity, a)) * dt);

    if (Mode == VolumePull) {
        // Acceleration grows linearly with the distance from the centre,
        // reaching Pull at a face. An axis of zero extent has no face to
        // scale by and gets no pull (instead of a NaN velocity).
        for (int a = 0; a < 3; ++a) {
            const float half = Axis(HalfSize, a);
            if (half == 0) continue;
            float& velocity = Axis(particle.Velocity, a);
            velocity = float(velocity + (Ext(Axis(Center, a)) - Axis(particle.Position, a)) * Pull * dt / half);
        }
        return;
    }
    if (Mode != VolumeBounce && Mode != VolumeRespawn && Mode != VolumeFreeze) return;

    const TVec3 lo = VecSub(HalfSize, Center); // Center - HalfSize
    const TVec3 hi = VecAdd(Center, HalfSize);
    // x, y, z low faces, then x, y, z high faces; each test sees what the
    // earlier ones left (a respawned particle is tested at its new place).
    // A particle exactly on a face is inside.
    for (int test = 0; test < 6; ++test) {
        const int a = test % 3;
        const bool low = test < 3;
        const float face = low ? Axis(lo, a) : Axis(hi, a);
        float& position = Axis(particle.Position, a);
        if (!(low ? face > position : position > face)) continue;
        if (Mode == VolumeBounce) {
            position = face;
            Axis(particle.Velocity, a) = -Axis(particle.Velocity, a);
        } else if (Mode == VolumeRespawn) {
            Respawn(index);
        } else {
            particle.Frozen = true;
        }
    }
}

void TBGLVolume::UpdateParticles(float dt) {
    for (int32_t i = 0; i < Active(); ++i) UpdateParticle(i, dt);
}

void TBGLVolume::DrawParticles(float extraSize) const {
    for (int32_t i = 0; i < Active(); ++i) {
        const TVolumeParticle& particle = Particles[size_t(i)];
        DrawBillboard(particle.Position, float(Ext(particle.Size) + extraSize));
    }
}
