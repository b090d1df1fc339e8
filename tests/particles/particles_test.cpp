#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "alloc_count.h"
#include "demo/demo.h"
#include "effects/effect.h"
#include "base/limits.h"
#include "base/report.h"
#include "effects/effect_types.h"
#include "effects/particles.h"
#include "render/gl.h"
#include "render/material.h"
#include "support/gl_test.h"
#include "support/temp_dir.h"

namespace {

constexpr int N = 64;

// Takes every report of a test: (caption, text).
struct TReports {
    TReports() {
        ResetScriptErrorCount();
        SetReportSink(
            [this](const std::string& caption, const std::string& text) { Seen.emplace_back(caption, text); });
    }
    ~TReports() {
        SetReportSink(nullptr);
        ClearScriptLocation();
    }
    std::vector<std::pair<std::string, std::string>> Seen;
};

// An uncompressed 24-bit BMP of one colour, rows bottom-up, padded to 4 bytes.
std::vector<uint8_t> SolidBMP(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    const uint32_t imageBytes = uint32_t(rowBytes * height);
    std::vector<uint8_t> file;
    auto put = [&file](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) file.push_back(uint8_t(value >> (8 * i)));
    };
    file.push_back('B');
    file.push_back('M');
    put(54 + imageBytes, 4);
    put(0, 4);
    put(54, 4);
    put(40, 4);
    put(uint32_t(width), 4);
    put(uint32_t(height), 4);
    put(1, 2);
    put(24, 2);
    put(0, 4);
    put(imageBytes, 4);
    put(2835, 4);
    put(2835, 4);
    put(0, 4);
    put(0, 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            file.push_back(b);
            file.push_back(g);
            file.push_back(r);
        }
        for (int pad = width * 3; pad < rowBytes; ++pad) file.push_back(0);
    }
    return file;
}

TInputValues Inputs(float i0) {
    TInputValues inputs{};
    inputs[0] = i0;
    return inputs;
}

// The window's 45-degree projection on a square frame, cleared to `grey`.
void StartFrame(float grey) {
    glViewport(0, 0, N, N);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, 1.0, 1.0, 100000.0);
    glMatrixMode(GL_MODELVIEW);
    glClearColor(grey, grey, grey, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// Width in pixels of the span of row y whose red differs from the background.
int LitWidth(int y, uint8_t backgroundRed) {
    const auto row = testgl::ReadPixels(0, y, N, 1);
    int left = N, right = -1;
    for (int x = 0; x < N; ++x)
        if (row[size_t(x) * 4] != backgroundRed) {
            left = std::min(left, x);
            right = std::max(right, x);
        }
    return right < left ? 0 : right - left + 1;
}

void ExpectStateLeft(uint32_t texture) {
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(uint32_t(bound), texture);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    GLint src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(src, GL_ONE);
    EXPECT_EQ(dst, GL_ONE);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_EQ(testgl::GLErrors(), "");
}

// Sets up the opposite of what Draw leaves.
void ScrambleState() {
    glEnable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
}

} // namespace

TEST(Particles, NegativeCountInAScriptNamesTheLoadLineAndStopsTheDemo) {
    testutil::TempDir dir;
    dir.Write("music.trk", testutil::TrackerBytes(1, 64, std::vector<uint8_t>(64, 0)));
    dir.Write("karmont.cvl", "TRACKER music.trk\nBPM 120\n// the cloud\nLOAD particles 2\nA sprite.bmp\nE -2\n");
    testutil::ScopedCwd cwd(dir.Path());
    for (const bool checkOnly : {false, true}) {
        TReports reports;
        TDemoOptions options;
        options.CheckOnly = checkOnly;
        const TCDemo demo("karmont.cvl", options);
        EXPECT_TRUE(DemoQuit);
        ASSERT_FALSE(reports.Seen.empty());
        EXPECT_EQ(reports.Seen[0].first, "karmont.cvl:4");
        EXPECT_NE(reports.Seen[0].second.find("parameter E (got -2), Effect number 2"), std::string::npos)
            << reports.Seen[0].second;
    }
    DemoCheckOnly = false;
    DemoQuit = false;
}

TEST(Particles, OptionWordsAreComparedExactly) {
    TReports reports;
    const std::pair<const char*, uint8_t> cases[] = {
        {"forceback", VolumePull},   {"respawn", VolumeRespawn}, {"Respawn", VolumeBounce}, {"respawn ", VolumeBounce},
        {"FORCEBACK", VolumeBounce}, {"", VolumeBounce},         {"bounce", VolumeBounce},
    };
    for (const auto& [word, mode] : cases) {
        TParticles effect; // no picture: no GL needed
        effect.B = word;
        effect.E = 3;
        effect.F = 10;
        effect.D = 2.5f;
        effect.Load();
        ASSERT_NE(effect.Volume, nullptr) << word;
        EXPECT_EQ(effect.Volume->Mode, mode) << '"' << word << '"';
        EXPECT_EQ(effect.Volume->Pull, 2.5f);
    }
    EXPECT_TRUE(reports.Seen.empty());
}

TEST(Particles, CountOutsideTheRangeIsAScriptErrorAtTheLoadLine) {
    for (const int count : {-1, limits::MaxParticles + 1}) {
        TReports reports;
        SetScriptLocation("demo.cvl", 7);
        DemoQuit = false;
        TParticles effect;
        effect.A = "sprite.bmp";
        effect.E = count;
        effect.SlotIndex = 3;
        effect.Load();
        EXPECT_TRUE(DemoQuit);
        EXPECT_EQ(effect.Volume, nullptr);
        ASSERT_EQ(reports.Seen.size(), 1u); // no picture was tried either
        EXPECT_EQ(reports.Seen[0].first, "demo.cvl:7");
        EXPECT_NE(reports.Seen[0].second.find("parameter E (got " + std::to_string(count) + ")"), std::string::npos)
            << reports.Seen[0].second;
        EXPECT_NE(reports.Seen[0].second.find("Effect number 3"), std::string::npos);
    }
    DemoQuit = false;
}

TEST(Particles, CheckVerifiesThePictureAndTheCount) {
    testutil::TempDir dir;
    const std::string sprite = dir.Write("sprite.bmp", SolidBMP(4, 4, 200, 100, 0));
    struct TCase {
        std::string A;
        int E;
        int errors;
        size_t reports;
    };
    const TCase cases[] = {
        {sprite, 10, 0, 0}, {dir.File("missing.bmp"), 10, 1, 1}, {sprite, -2, 1, 1}, {"", 10, 0, 1}, // a warning only
    };
    for (const TCase& c : cases) {
        TReports reports;
        TParticles effect;
        effect.A = c.A;
        effect.E = c.E;
        CheckEffectFiles(*FindEffectType("particles"), effect);
        effect.Check();
        EXPECT_EQ(ScriptErrorCount(), c.errors) << c.A << " " << c.E;
        EXPECT_EQ(reports.Seen.size(), c.reports) << c.A << " " << c.E;
    }
}

// Draws through a real context: a sprite texture of colour (100, 50, 0).
class ParticlesDraw : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_GL_CONTEXT(N, N);
        sprite = dir.Write("sprite.bmp", SolidBMP(8, 8, 100, 50, 0));
        ClearTextureRegistry();
        FrameTime = 0;
    }
    void TearDown() override { FrameTime = 0; }

    testutil::TempDir dir;
    std::string sprite;
};

TEST_F(ParticlesDraw, SpritesAreAddedOntoTheFrameAndSwellWithInput0) {
    TParticles effect;
    effect.A = sprite;
    effect.E = 1;
    effect.F = 0; // the one particle sits at the origin
    effect.G = 0; // with no size of its own
    effect.S = 20;
    effect.Load();
    ASSERT_NE(effect.Texture, uint32_t(NoTexture));

    const uint8_t background = 50;
    StartFrame(background / 255.0f);
    ScrambleState();
    effect.Draw(Inputs(0));
    EXPECT_EQ(LitWidth(N / 2, background), 0);
    ExpectStateLeft(effect.Texture);

    // Half-size 20 at distance 173 in a 45-degree view: about 18 pixels.
    StartFrame(background / 255.0f);
    ScrambleState();
    effect.Draw(Inputs(1));
    const int full = LitWidth(N / 2, background);
    // Added, not blended: background + texture colour.
    EXPECT_EQ(testgl::PixelAt(N / 2, N / 2) & 0xFFFFFF00u, 0x96643200u);
    EXPECT_EQ(testgl::PixelAt(1, 1) & 0xFFFFFF00u, 0x32323200u);
    ExpectStateLeft(effect.Texture);

    StartFrame(background / 255.0f);
    effect.Draw(Inputs(0.5f));
    const int half = LitWidth(N / 2, background);
    EXPECT_GE(full, 16);
    EXPECT_LE(full, 20);
    EXPECT_NEAR(half * 2, full, 2);
}

TEST_F(ParticlesDraw, NoParticlesStillSetsTheState) {
    TParticles effect;
    effect.A = sprite;
    effect.Load();
    StartFrame(0);
    ScrambleState();
    effect.Draw(Inputs(1));
    EXPECT_EQ(LitWidth(N / 2, 0), 0);
    ExpectStateLeft(effect.Texture);

    // A missing picture is reported once and binds no texture.
    {
        TReports reports;
        TParticles missing;
        missing.A = dir.File("missing.bmp");
        missing.E = 1;
        missing.Load();
        EXPECT_EQ(missing.Texture, 0u);
        ASSERT_EQ(reports.Seen.size(), 1u);
        EXPECT_NE(reports.Seen[0].second.find("missing.bmp"), std::string::npos);
        missing.Draw(Inputs(1));
        ExpectStateLeft(0);
    }

    // An effect whose Load refused its count draws nothing either.
    TReports reports;
    TParticles refused;
    refused.E = -4;
    refused.Load();
    DemoQuit = false;
    refused.Draw(Inputs(1));
    EXPECT_EQ(LitWidth(N / 2, 0), 0);
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST_F(ParticlesDraw, EachDrawStepsByFrameTime) {
    TParticles effect;
    effect.A = sprite;
    effect.B = "forceback"; // with D = 0: straight flight, no faces
    effect.E = 50;
    effect.F = 10;
    effect.VX = effect.VY = effect.VZ = 40;
    effect.Load();
    const std::vector<TVolumeParticle> start = effect.Volume->Particles;

    StartFrame(0);
    FrameTime = 0.25f;
    effect.Draw(Inputs(0));
    effect.Draw(Inputs(0)); // a second bar in the same frame steps again
    for (size_t i = 0; i < start.size(); ++i) {
        const TVolumeParticle& p = effect.Volume->Particles[i];
        float x = float(start[i].Position.X + static_cast<long double>(start[i].Velocity.X) * 0.25f);
        x = float(x + static_cast<long double>(start[i].Velocity.X) * 0.25f);
        EXPECT_EQ(p.Position.X, x);
        EXPECT_EQ(p.Velocity.X, start[i].Velocity.X);
    }

    FrameTime = 0;
    const std::vector<TVolumeParticle> still = effect.Volume->Particles;
    effect.Draw(Inputs(0));
    EXPECT_EQ(effect.Volume->Particles[7].Position.Y, still[7].Position.Y);

    // D gives "forceback" its pull: velocities turn towards the centre.
    TParticles pulled;
    pulled.A = sprite;
    pulled.B = "forceback";
    pulled.E = 1;
    pulled.F = 10;
    pulled.D = 8;
    pulled.Load();
    pulled.Volume->Particles[0].Position = TVec3{10, -10, 0};
    pulled.Volume->Particles[0].Velocity = TVec3{0, 0, 0};
    FrameTime = 0.5f;
    pulled.Draw(Inputs(0));
    EXPECT_EQ(pulled.Volume->Particles[0].Velocity.X, -4.0f);
    EXPECT_EQ(pulled.Volume->Particles[0].Velocity.Y, 4.0f);
    EXPECT_EQ(pulled.Volume->Particles[0].Velocity.Z, 0.0f);
}

TEST_F(ParticlesDraw, AFrameAllocatesNothing) {
    TParticles effect;
    effect.A = sprite;
    effect.B = "respawn";
    effect.E = 2000;
    effect.F = 20;
    effect.G = 100;
    effect.S = 0.5f;
    effect.VX = effect.VY = effect.VZ = 30;
    const long beforeLoad = alloccount::NewCalls();
    effect.Load();
    EXPECT_GT(alloccount::NewCalls(), beforeLoad); // the counter sees the particle array
    StartFrame(0);
    FrameTime = 0.02f;
    // A first pass lets the driver compile what these frames need (llvmpipe
    // allocates then); only the second pass is ours to count.
    for (int frame = 0; frame < 20; ++frame) effect.Draw(Inputs(frame * 0.1f));
    glFinish();
    const long before = alloccount::NewCalls();
    for (int frame = 0; frame < 20; ++frame) effect.Draw(Inputs(frame * 0.1f));
    EXPECT_EQ(alloccount::NewCalls() - before, 0);
}
