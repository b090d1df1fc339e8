// Shared pieces of the 3D effect tests: a fixture with a small GL frame and
// a fresh data folder as working directory, model and picture writers, and
// pixel helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "assets/file3ds.h"
#include "support/temp_dir.h"

namespace fx3d {

constexpr int W = 160, H = 120;

struct TRGB {
    uint8_t R = 0, G = 0, B = 0;
    bool operator==(const TRGB&) const = default;
};

// Colour of the cleared frame: the engine's start-up clear colour.
constexpr TRGB Background{51, 51, 102};

class EffectTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Clears colour and depth to the background and resets the GL state the
    // effects touch to the start-up state of the engine.
    void ResetFrame();
    // The frame as RGB, bottom row first. Also written as NAME.png into
    // $CORVALA_TEST_FRAMES when that is set, for looking at.
    std::vector<TRGB> Frame(const std::string& name = "");
    // Reports received so far, one string each ("caption: text").
    std::string Reports() const;

    std::unique_ptr<testutil::TempDir> Dir;
    std::vector<std::string> ReportList;

private:
    std::unique_ptr<testutil::ScopedCwd> cwd;
};

// Meshes in the file's z-up axes; faces wind counter-clockwise from outside.
TMesh3DS BoxMesh(float halfSize, float offsetX = 0);
TMesh3DS SphereMesh(float radius, int rings, int sides);
TMesh3DS CylinderMesh(float radius, float height, int sides);
void WriteModel(const testutil::TempDir& dir, const std::string& name, const std::vector<TMesh3DS>& meshes);

// Pictures filled by colour(x, y), y counted from the bottom row.
using TPaint = std::function<TRGB(int x, int y)>;
void WriteJPEG(const testutil::TempDir& dir, const std::string& name, int width, int height, const TPaint& paint);
void WriteBMP(const testutil::TempDir& dir, const std::string& name, int width, int height, const TPaint& paint);

bool Near(const TRGB& a, const TRGB& b, int tolerance = 3);
int CountIf(const std::vector<TRGB>& frame, const std::function<bool(const TRGB&)>& test);
int CountNot(const std::vector<TRGB>& frame, const TRGB& colour);

// GL state queries.
bool Enabled(unsigned cap);
int GetInt(unsigned name);
std::vector<float> GetFloats(unsigned name, int count);

} // namespace fx3d
