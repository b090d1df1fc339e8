#include <gtest/gtest.h>

#include <cmath>

#include "render/vecmath.h"
#include "special/volume.h"

namespace {

// Seed of the shared generator after `draws` draws from 0.
uint32_t SeedAfter(int draws) {
    uint32_t seed = 0;
    for (int i = 0; i < draws; ++i) seed = seed * 134775813u + 1u;
    return seed;
}

// A one-particle box of half-size 10 around the origin, particle placed by hand.
TBGLVolume OneParticle(uint8_t mode, TVec3 position, TVec3 velocity) {
    TBGLVolume volume(1, 10, 0);
    volume.Mode = mode;
    volume.Particles[0].Position = position;
    volume.Particles[0].Velocity = velocity;
    return volume;
}

} // namespace

TEST(Volume, ConstructionSpawnsAtTheCentreAtRestWith13DrawsEach) {
    SetRandomSeed(0);
    TBGLVolume volume(3, 10, 2);
    EXPECT_EQ(volume.Count, 3);
    EXPECT_EQ(RandomSeed(), SeedAfter(39));
    // r13 of the first particle is 0.3294964...; size = r13 x 2.
    EXPECT_EQ(volume.Particles[0].Size, 0.141138658f);
    for (const TVolumeParticle& p : volume.Particles) {
        EXPECT_EQ(p.Position.X, 0.0f);
        EXPECT_EQ(p.Position.Y, 0.0f);
        EXPECT_EQ(p.Position.Z, 0.0f);
        EXPECT_EQ(p.Velocity.X, 0.0f);
        EXPECT_EQ(p.Velocity.Z, 0.0f);
        EXPECT_GE(p.Size, 0.0f);
        EXPECT_LT(p.Size, 2.0f);
        EXPECT_FALSE(p.Frozen);
    }
}

TEST(Volume, RespawnDrawsOffsetThenVelocityThenSize) {
    SetRandomSeed(0);
    TBGLVolume volume(1, 10, 2); // draws 1 to 13
    volume.Center = TVec3{1, 2, 3};
    volume.SpawnSpread = TVec3{4, 5, 6};
    volume.VelocitySpread = TVec3{1, 2, 3};
    volume.SizeBase = 0.5f;
    volume.Particles[0].Frozen = true;
    volume.Respawn(0); // draws 14 to 26
    const TVolumeParticle& p = volume.Particles[0];
    // Position = Center + ((r14 - r15) 4, (r16 - r17) 5, (r18 - r19) 6).
    EXPECT_EQ(p.Position.X, 4.12452078f);
    EXPECT_EQ(p.Position.Y, -1.11994076f);
    EXPECT_EQ(p.Position.Z, 0.559449434f);
    // Velocity = ((r20 - r21) 1, (r22 - r23) 2, (r24 - r25) 3).
    EXPECT_EQ(p.Velocity.X, -0.369749427f);
    EXPECT_EQ(p.Velocity.Y, 0.252376229f);
    EXPECT_EQ(p.Velocity.Z, 0.432046354f);
    // Size = r26 x 2 + 0.5.
    EXPECT_EQ(p.Size, 1.15899289f);
    EXPECT_FALSE(p.Frozen);
    EXPECT_EQ(RandomSeed(), SeedAfter(26));

    volume.Respawn(1); // outside the array: nothing, no draws
    volume.Respawn(-1);
    EXPECT_EQ(RandomSeed(), SeedAfter(26));
}

TEST(Volume, BounceReflectsOnlyParticlesPastAFace) {
    // The worked example: x = 9, velocity 5, dt 0.5 -> 11.5 -> back to 10.
    TBGLVolume volume = OneParticle(VolumeBounce, {9, 0, -9}, {5, 2, -5});
    volume.UpdateParticle(0, 0.5f);
    const TVolumeParticle& p = volume.Particles[0];
    EXPECT_EQ(p.Position.X, 10.0f);
    EXPECT_EQ(p.Velocity.X, -5.0f);
    EXPECT_EQ(p.Position.Y, 1.0f);
    EXPECT_EQ(p.Velocity.Y, 2.0f);
    EXPECT_EQ(p.Position.Z, -10.0f); // low face
    EXPECT_EQ(p.Velocity.Z, 5.0f);

    // Exactly on a face is inside: no reflection.
    TBGLVolume onFace = OneParticle(VolumeBounce, {8, 0, 0}, {4, 0, 0});
    onFace.UpdateParticle(0, 0.5f);
    EXPECT_EQ(onFace.Particles[0].Position.X, 10.0f);
    EXPECT_EQ(onFace.Particles[0].Velocity.X, 4.0f);
}

TEST(Volume, RespawnModeRestartsLeaversInsideTheBox) {
    SetRandomSeed(0);
    TBGLVolume volume(1, 10, 1);
    volume.Mode = VolumeRespawn;
    volume.SpawnSpread = TVec3{10, 10, 10};
    volume.VelocitySpread = TVec3{3, 3, 3};
    volume.Particles[0].Position = TVec3{-9.5f, 0, 0};
    volume.Particles[0].Velocity = TVec3{-2, 0, 0};

    volume.UpdateParticle(0, 1.0f);
    const TVolumeParticle& p = volume.Particles[0];
    // One respawn only (13 draws after the constructor's 13): the spread
    // equals the half-size, so the new start lies strictly inside.
    EXPECT_EQ(RandomSeed(), SeedAfter(26));
    EXPECT_LT(std::fabs(p.Position.X), 10.0f);
    EXPECT_LT(std::fabs(p.Position.Y), 10.0f);
    EXPECT_LT(std::fabs(p.Position.Z), 10.0f);
}

TEST(Volume, RespawnModeTestsTheNewPositionAgain) {
    // Spawns far outside on z: the x-low respawn is followed by a z-high or
    // z-low respawn in the same step whenever the new z lies outside.
    SetRandomSeed(0);
    TBGLVolume volume(1, 10, 1);
    volume.Mode = VolumeRespawn;
    volume.SpawnSpread = TVec3{0, 0, 1000};
    volume.Particles[0].Position = TVec3{-11, 0, 0};
    const uint32_t before = RandomSeed();
    volume.UpdateParticle(0, 0.0f);
    int draws = 0;
    for (uint32_t seed = before; seed != RandomSeed() && draws < 1000; ++draws) seed = seed * 134775813u + 1u;
    EXPECT_EQ(draws % 13, 0);
    EXPECT_GE(draws, 26);
}

TEST(Volume, FreezeStopsLeaversWhereTheyAreUntilRespawned) {
    TBGLVolume volume = OneParticle(VolumeFreeze, {9, 0, 0}, {4, 1, 0});
    volume.UpdateParticle(0, 1.0f);
    EXPECT_TRUE(volume.Particles[0].Frozen);
    EXPECT_EQ(volume.Particles[0].Position.X, 13.0f);
    volume.UpdateParticles(1.0f);
    EXPECT_EQ(volume.Particles[0].Position.X, 13.0f);
    EXPECT_EQ(volume.Particles[0].Position.Y, 1.0f);
    volume.RespawnAll();
    EXPECT_FALSE(volume.Particles[0].Frozen);
    EXPECT_EQ(volume.Particles[0].Position.X, 0.0f);
}

TEST(Volume, PullAcceleratesTowardsTheCentreWithoutFaces) {
    TBGLVolume still = OneParticle(VolumePull, {10, 10, 10}, {0, 0, 0});
    still.UpdateParticle(0, 0.5f);
    EXPECT_EQ(still.Particles[0].Velocity.X, 0.0f);

    // At Center + HalfSize the pull is Pull units/s^2 on each axis.
    TBGLVolume pulled = OneParticle(VolumePull, {10, 10, -10}, {0, 0, 0});
    pulled.Pull = 4;
    pulled.UpdateParticle(0, 0.5f);
    EXPECT_EQ(pulled.Particles[0].Velocity.X, -2.0f);
    EXPECT_EQ(pulled.Particles[0].Velocity.Y, -2.0f);
    EXPECT_EQ(pulled.Particles[0].Velocity.Z, 2.0f);

    // No face: a particle far outside is not put back.
    TBGLVolume outside = OneParticle(VolumePull, {50, 0, 0}, {1, 0, 0});
    outside.UpdateParticle(0, 1.0f);
    EXPECT_EQ(outside.Particles[0].Position.X, 51.0f);

    // A box of zero extent on an axis gives no pull there, never NaN.
    TBGLVolume flat = OneParticle(VolumePull, {3, 3, 3}, {1, 1, 1});
    flat.HalfSize = TVec3{10, 0, 10};
    flat.Pull = 1;
    flat.UpdateParticle(0, 1.0f);
    EXPECT_EQ(flat.Particles[0].Velocity.Y, 1.0f);
    EXPECT_FALSE(std::isnan(flat.Particles[0].Velocity.X));
}

TEST(Volume, EmptyAndNegativeCountsDoNothing) {
    SetRandomSeed(0);
    TBGLVolume empty(0, 10, 1);
    TBGLVolume negative(-5, 10, 1);
    EXPECT_EQ(negative.Count, 0);
    EXPECT_TRUE(negative.Particles.empty());
    empty.RespawnAll();
    empty.UpdateParticles(1.0f);
    negative.UpdateParticles(1.0f);
    EXPECT_EQ(RandomSeed(), 0u);
    // A Count raised past the array never reaches beyond it.
    negative.Count = 10;
    negative.RespawnAll();
    negative.UpdateParticles(1.0f);
    EXPECT_EQ(RandomSeed(), 0u);
}
