// Dev-mode reload through TDevReloader: a demo in a real (offscreen) window,
// its files rewritten on disk, the frame read back before the swap.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/reload.h"
#include "base/report.h"
#include "gen/production.h"
#include "media/sound.h"
#include "render/gl.h"
#include "render/material.h"
#include "render/window.h"
#include "support/temp_dir.h"
#include "tracker/song_builders.h"

namespace {

namespace fs = std::filesystem;

// An uncompressed 24-bit TGA of one colour.
std::vector<uint8_t> SolidTga(uint8_t r, uint8_t g, uint8_t b) {
    constexpr int Side = 8;
    std::vector<uint8_t> bytes(18, 0);
    bytes[2] = 2;
    bytes[12] = bytes[14] = Side;
    bytes[16] = 24;
    for (int i = 0; i < Side * Side; ++i) bytes.insert(bytes.end(), {b, g, r});
    return bytes;
}

// Writes a file and moves its modification time on, so that a rewrite
// within one clock tick still counts as a change.
void Rewrite(const testutil::TempDir& dir, const std::string& name, const auto& content) {
    static int tick = 0;
    dir.Write(name, content);
    fs::last_write_time(dir.File(name), fs::file_time_type::clock::now() + std::chrono::seconds(++tick));
}

// Renders one frame and returns the centre pixel as 0xRRGGBB.
uint32_t CentrePixel(TCDemo& demo) {
    uint32_t pixel = 0xDEAD;
    SetBeforeSwapHook([&] {
        std::vector<uint8_t> rgba;
        int w = 0, h = 0;
        if (!ReadBackBuffer(rgba, w, h)) return;
        const size_t at = (size_t(h / 2) * size_t(w) + size_t(w / 2)) * 4;
        pixel = uint32_t(rgba[at]) << 16 | uint32_t(rgba[at + 1]) << 8 | rgba[at + 2];
    });
    demo.RenderFrame();
    SetBeforeSwapHook({});
    return pixel;
}

bool WaitForChange(TDevReloader& reloader) {
    for (int i = 0; i < 40; ++i) {
        if (reloader.FilesChanged()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

// GL texture names alive among the first few thousand.
int LiveTextureNames() {
    int count = 0;
    for (GLuint name = 1; name < 4096; ++name) count += glIsTexture(name) ? 1 : 0;
    return count;
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4;
}

// A 64 x 64 window filled by one picture for 256 rows.
std::string PictureScript(const std::string& extra = "") {
    return "TRACKER music.trk\n"   // 1
           "BPM 120\n"             // 2
           "RESOLUTIONX 64\n"      // 3
           "RESOLUTIONY 64\n"      // 4
           "INIT\n"                // 5
           "LOAD plaintexture 0\n" // 6
           "A pic.tga\n"           // 7
           + extra +               // 8...
           "BAR\nMOUNT 0\nLENGTH 4\nEFFECT 0\n";
}

struct PictureDemo {
    PictureDemo() {
        // Names registered by an earlier test belong to another window.
        ClearTextureRegistry();
        dir.Write("music.trk", testutil::TrackerBytes(2, 256, std::vector<uint8_t>(512, 0)));
        dir.Write("pic.tga", SolidTga(255, 0, 0));
        dir.Write("karmont.cvl", PictureScript());
    }
    testutil::TempDir dir;
    testutil::ScopedCwd cwd{dir.Path()};
};

constexpr uint32_t Red = 0xFF0000, Blue = 0x0000FF;

} // namespace

TEST(Reload, ChangedPictureLoadsAgainUnchangedComesFromMemory) {
    PictureDemo folder;
    TDevReloader reloader("karmont.cvl");
    ASSERT_FALSE(DemoQuit) << "the demo did not start";
    EXPECT_EQ(CentrePixel(reloader.Demo()), Red);
    const int32_t first = FindTexture("pic.tga");
    ASSERT_GT(first, 0);
    EXPECT_FALSE(reloader.FilesChanged()) << "nothing changed yet";

    // Only the script changes: the picture is the same texture.
    Rewrite(folder.dir, "karmont.cvl", PictureScript("X 0\n"));
    ASSERT_TRUE(WaitForChange(reloader));
    ASSERT_TRUE(reloader.Reload()) << reloader.Error();
    EXPECT_FALSE(reloader.FilesChanged());
    EXPECT_EQ(FindTexture("pic.tga"), first);
    EXPECT_EQ(CentrePixel(reloader.Demo()), Red);

    // The picture changes: it loads again and the old texture is freed.
    Rewrite(folder.dir, "pic.tga", SolidTga(0, 0, 255));
    ASSERT_TRUE(WaitForChange(reloader));
    ASSERT_TRUE(reloader.Reload()) << reloader.Error();
    EXPECT_EQ(CentrePixel(reloader.Demo()), Blue);
    EXPECT_FALSE(glIsTexture(GLuint(first))) << "the replaced texture is still alive";
    EXPECT_EQ(std::count_if(TextureRegistry().begin(), TextureRegistry().end(),
                            [](const TTexRegItem& item) { return item.Name == "pic.tga"; }),
              1);
}

// Every kind of error the pre-flight finds refuses the reload: the old
// version plays on and the answer names the line to fix.
TEST(Reload, EveryPreflightErrorKeepsThePreviousDemoAndNamesTheLine) {
    PictureDemo folder;
    TDevReloader reloader("karmont.cvl");
    ASSERT_EQ(CentrePixel(reloader.Demo()), Red);
    TCDemo* playing = &reloader.Demo();
    const std::vector<uint8_t> tracker = testutil::TrackerBytes(2, 256, std::vector<uint8_t>(512, 0));
    const std::string listening = "BAR in\nLENGTH 1\nEFFECT 0\nINPUT 0 1 36 250 0\n";

    const struct {
        std::string Extra; // line 8 of the script on
        std::string File;  // a file rewritten with the script ("" none)
        std::vector<uint8_t> Content;
        std::string Expected; // the start of Error()
    } broken[] = {
        {"X 1o0\n", "", {}, "karmont.cvl:8: "},
        {"LOAD plaintextur 1\n",
         "",
         {},
         "karmont.cvl:8: No such effect in demo: plaintextur (did you mean plaintexture?)"},
        {"LOAD plaintexture 1\nA missing.tga\n", "", {}, "karmont.cvl:9: The picture file missing.tga is missing"},
        {"", "pic.tga", {1, 2, 3}, "karmont.cvl:7: "},
        {"BAR\nLENGTH 1\nEFFECT 7\n",
         "",
         {},
         "karmont.cvl:10: The bar plays effect slot 7, which holds no effect: no LOAD line loads slot 7"},
        // The musician's new export has one channel: the input on channel 1
        // would end the session at that bar.
        {listening, "music.trk", testutil::TrackerBytes(1, 256, std::vector<uint8_t>(256, 0)),
         "karmont.cvl:11: The bar 'in': INPUT 0 listens to channel 1, but the tracker has 1 channels"},
        {"", "music.trk", {1, 2, 3}, "karmont.cvl:1: "},
    };
    for (const auto& entry : broken) {
        SCOPED_TRACE(entry.Extra + entry.File);
        // The picture changes with the broken version: the old one stays.
        if (entry.File != "pic.tga") Rewrite(folder.dir, "pic.tga", SolidTga(0, 0, 255));
        if (!entry.File.empty()) Rewrite(folder.dir, entry.File, entry.Content);
        Rewrite(folder.dir, "karmont.cvl", PictureScript(entry.Extra));
        ASSERT_TRUE(WaitForChange(reloader));
        EXPECT_FALSE(reloader.Reload());
        EXPECT_EQ(reloader.Error().rfind(entry.Expected, 0), 0u) << reloader.Error();
        ASSERT_TRUE(reloader.Refusal());
        EXPECT_EQ(reloader.Refusal()->Kind, TReportKind::Error);
        EXPECT_EQ(reloader.Refusal()->File, "karmont.cvl");
        EXPECT_EQ(&reloader.Demo(), playing);
        EXPECT_FALSE(DemoQuit);
        // The refused version's errors are not the playing demo's.
        EXPECT_EQ(reloader.Demo().ExitCode(), 0);
        EXPECT_EQ(CentrePixel(reloader.Demo()), Red);
        // A failed reload is not tried again until something changes.
        std::this_thread::sleep_for(TDevReloader::PollInterval * 2);
        EXPECT_FALSE(reloader.FilesChanged());
        Rewrite(folder.dir, "pic.tga", SolidTga(255, 0, 0));
        Rewrite(folder.dir, "music.trk", tracker);
    }

    // A good save replaces it and clears the error.
    Rewrite(folder.dir, "pic.tga", SolidTga(0, 0, 255));
    Rewrite(folder.dir, "karmont.cvl", PictureScript(listening));
    ASSERT_TRUE(WaitForChange(reloader));
    EXPECT_TRUE(reloader.Reload()) << reloader.Error();
    EXPECT_EQ(reloader.Error(), "");
    EXPECT_FALSE(reloader.Refusal());
    EXPECT_EQ(CentrePixel(reloader.Demo()), Blue);
}

// A module that is music and tracker at once, replaced by one with fewer
// channels than an input listens to: refused, the old music plays on.
TEST(Reload, ReplacedModuleWithFewerChannelsIsRefused) {
    ClearTextureRegistry();
    testutil::TempDir dir;
    auto pattern = songs::EmptyPattern();
    for (int row = 0; row < 64; row += 8) pattern[size_t(row)][0] = {songs::PeriodC1, 1};
    dir.Write("song.mod", songs::Mod({pattern, pattern}, 6));
    const std::string script = "TRACKER song.mod\nBPM 125\nLOADMUSIC song.mod\nRESOLUTIONX 64\nRESOLUTIONY 64\n"
                               "INIT\nLOAD plaincolor 0\nBAR\nMOUNT 0\nLENGTH 2\nEFFECT 0\n"
                               "INPUT 0 5 49 250 0\n"; // 12
    dir.Write("demo.cvl", script);
    testutil::ScopedCwd cwd(dir.Path());
    TDevReloader reloader("demo.cvl");
    ASSERT_FALSE(DemoQuit);
    ASSERT_TRUE(reloader.Demo().MusicLoaded);
    const int sample = reloader.Demo().MusicSample;
    EXPECT_EQ(reloader.Demo().Tracker->ChannelCount(), 6);

    Rewrite(dir, "song.mod", songs::Mod({pattern, pattern}));
    ASSERT_TRUE(WaitForChange(reloader));
    EXPECT_FALSE(reloader.Reload());
    EXPECT_EQ(reloader.Error().rfind("demo.cvl:12: The bar: INPUT 0 listens to channel 5, but the tracker has 4", 0),
              0u)
        << reloader.Error();
    EXPECT_EQ(reloader.Demo().MusicSample, sample);
    EXPECT_TRUE(SampleSeconds(sample) > 0);
    EXPECT_EQ(reloader.Demo().Tracker->ChannelCount(), 6);
}

// The bundled production: each reload while it plays keeps the music, and a
// hundred of them leave texture names and resident memory where they were.
TEST(Reload, HundredReloadsOfTheProductionStayFlat) {
    testutil::TempDir dir;
    std::string error;
    ASSERT_TRUE(gen::GenerateProduction((dir.Path() / "data").string(), error)) << error;
    fs::copy_file(fs::path(CORVALA_SOURCE_DIR) / "examples/karmont/karmont.cvl", dir.File("karmont.cvl"));
    fs::copy_file(fs::path(CORVALA_SOURCE_DIR) / "examples/karmont/karmont.tracks", dir.File("karmont.tracks"));
    fs::copy(fs::path(CORVALA_SOURCE_DIR) / "examples/karmont/shaders", dir.File("shaders"));
    testutil::ScopedCwd cwd(dir.Path());
    TDevReloader reloader("karmont.cvl");
    ASSERT_FALSE(DemoQuit);
    const std::vector<std::string> watched = reloader.WatchedFiles();
    for (const char* name : {"karmont.cvl", "data/music.trk", "data/music.ogg", "data/title_alpha.jpg", "data/cyl2.3ds",
                             "data/velmorandex.3ds", "data/loading.jpg", "shaders/tunnel.frag", "shaders/grade.frag"})
        EXPECT_NE(std::find(watched.begin(), watched.end(), dir.File(name)), watched.end()) << name;

    const int sample = reloader.Demo().MusicSample;
    const uint32_t channel = reloader.Demo().MusicChannel;
    // Frames at fixed moments: the logo in sparks, now and then the
    // cylinder field (a frame at a new moment may make the GL driver build
    // new state). The offscreen driver's swap does not wait for the
    // renderer, so glFinish keeps queued frames out of the measurement.
    auto reloadSome = [&](int count) {
        for (int i = 0; i < count; ++i) {
            SetChannelSeconds(reloader.Demo().MusicChannel, i % 10 == 0 ? 40.0f : 9.0f);
            reloader.Demo().RenderFrame();
            glFinish();
            ASSERT_TRUE(reloader.Reload()) << reloader.Error();
        }
    };
    reloadSome(30);
    const int textures = LiveTextureNames();
    const long resident = ResidentKiB();
    reloadSome(100);
    EXPECT_EQ(LiveTextureNames(), textures);
    // Measured here: under 1 MiB, allocator noise; one leaked picture or
    // model per reload would be far more. AddressSanitizer holds freed
    // memory in quarantine, so resident memory grows there by design; its
    // own leak and use-after-free checks cover that build.
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(ResidentKiB() - resident, 4096) << "KiB grown over 100 reloads";
#else
    (void)resident;
#endif
    EXPECT_EQ(reloader.Demo().MusicSample, sample);
    EXPECT_EQ(reloader.Demo().MusicChannel, channel);
    EXPECT_FALSE(reloader.MusicReplaced());
}
