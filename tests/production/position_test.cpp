// The picture at a position never depends on the way there: a production
// without particles (the night sky, the cel-shaded logo, the cylinder field
// with its fog, the logo again, the chrome ring, a flash on the kicks) shows
// at the start of each section, after dev-mode seeks through every other
// section (and a reload) and after --start, exactly the frame a linear
// capture shows there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "assets/png.h"
#include "gen/production.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// 125 BPM (a row lasts 0.12 s, a bar 1.92 s), 160 x 120. Sections: logo over
// the sky (rows 0-31), cylinders (32-63), the logo again (64-95), the ring
// (96-111); the flash runs throughout.
const char* const Script = "RESOLUTIONX 160\nRESOLUTIONY 120\nDATADIR data\nCLEARCOLOR 4 2 14 255\nINIT\n"
                           "LOADMUSIC music.ogg\nTRACKER music.trk\nBPM 125\n"
                           "LOAD plaintexture 0\nA backdrop.bmp\n"
                           "LOAD celshadeobj 1\n"
                           "LOAD cylinders 2\n"
                           "LOAD object 3\nA ring.3ds\nB tiles.tga\nC chrome.bmp\nVX 55\nVY 75\n"
                           "LOAD flash 4\nE 70\nF 55\nG 45\n"
                           "BAR sky\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\n"
                           "BAR logo\nMOUNT 0\nLENGTH 0 2\nEFFECT 1\n"
                           "BAR cylinders\nMOUNT 0 2\nLENGTH 0 2\nEFFECT 2\nINPUT 0 0 36 300 60\nINPUT 1 6 57 1500 0\n"
                           "BAR sky again\nMOUNT 1\nLENGTH 0 3\nEFFECT 0\n"
                           "BAR logo again\nMOUNT 1\nLENGTH 0 2\nEFFECT 1\n"
                           "BAR ring\nMOUNT 1 2\nLENGTH 0 1\nEFFECT 3\n"
                           "BAR kicks\nMOUNT 0\nLENGTH 1 3\nEFFECT 4\nINPUT 0 0 36 180 0\n"
                           "ENDTIME 1344\n";

// Four frames a second; the first frame of each section (a frame time that
// is exact in binary, so --start lands on it).
constexpr int Fps = 4;
const std::vector<std::string> SectionStarts = {"0.25", "4", "7.75", "11.75"};

TPicture ReadFrame(const fs::path& file) {
    TPicture picture;
    std::string error;
    EXPECT_TRUE(ReadPNG(file.string(), picture, error)) << error;
    return picture;
}

// Mean absolute difference per colour component; 256 when the sizes differ.
double MeanDifference(const fs::path& a, const fs::path& b) {
    const TPicture pa = ReadFrame(a), pb = ReadFrame(b);
    if (pa.Width != pb.Width || pa.Height != pb.Height || pa.Channels != pb.Channels || pa.Pixels.empty()) return 256;
    double sum = 0;
    for (size_t i = 0; i < pa.Pixels.size(); ++i) sum += std::abs(pa.Pixels[i] - pb.Pixels[i]);
    return sum / double(pa.Pixels.size());
}

fs::path LinearFrame(const fs::path& folder, const std::string& seconds) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06d.png", int(std::atof(seconds.c_str()) * Fps + 0.5));
    return folder / name;
}

} // namespace

TEST(PictureAtAPosition, EverySectionStartEqualsTheLinearRunAfterAnyWayThere) {
    testutil::TempDir dir;
    std::string error;
    ASSERT_TRUE(gen::GenerateProduction((dir.Path() / "data").string(), error)) << error;
    dir.Write("held.cvl", Script);
    const fs::path linear = dir.Path() / "linear";
    const auto run = testutil::RunEngine("--capture " + testutil::Quote(linear.string()) + " --fps " +
                                             std::to_string(Fps) + " held.cvl",
                                         dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;

    // Dev mode, paused: before each section start, a frame in every other
    // section (later ones first, so the cylinders' fog comes right before
    // the logo); then the section start itself.
    std::string commands = "pause\\n";
    int shots = 0;
    for (const std::string& target : SectionStarts) {
        std::vector<std::string> others = SectionStarts;
        std::reverse(others.begin(), others.end());
        for (const std::string& other : others) {
            if (other == target) continue;
            commands += "seek " + other + "\\nshot " +
                        (dir.Path() / ("visit" + std::to_string(shots++) + ".png")).string() + "\\n";
        }
        // A reload builds every effect anew: the picture stays the same.
        if (target == SectionStarts.back()) commands += "reload\\n";
        commands += "seek " + target + "\\nshot " + (dir.Path() / ("at_" + target + ".png")).string() + "\\n";
    }
    commands += "quit\\n";
    const std::string dev = "cd " + testutil::Quote(dir.Path().string()) + " && printf '" + commands +
                            "' | SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null CI=true timeout 120 " +
                            testutil::Quote(CORVALA_BINARY) + " --dev held.cvl > dev_output.txt 2>&1";
    const int status = std::system(dev.c_str());
    std::ifstream devOutput(dir.Path() / "dev_output.txt");
    const std::string devText{std::istreambuf_iterator<char>(devOutput), {}};
    ASSERT_EQ(status, 0) << devText;

    for (const std::string& target : SectionStarts) {
        SCOPED_TRACE("section starting at " + target + " s");
        const fs::path expected = LinearFrame(linear, target);
        EXPECT_EQ(MeanDifference(dir.Path() / ("at_" + target + ".png"), expected), 0.0) << devText;

        const fs::path started = dir.Path() / ("start_" + target);
        const auto start = testutil::RunEngine("--capture " + testutil::Quote(started.string()) + " --start " + target +
                                                   " --fps " + std::to_string(Fps) + " --frames 1 held.cvl",
                                               dir.Path().string());
        ASSERT_EQ(start.ExitCode, 0) << start.Output;
        EXPECT_EQ(MeanDifference(started / "frame_000000.png", expected), 0.0);
    }
    // The comparison can fail: the logo and the cylinders differ.
    EXPECT_GT(MeanDifference(LinearFrame(linear, "0.25"), LinearFrame(linear, "4")), 10.0);
}
