// The bundled production end to end: its data generated into a fresh
// folder, the script beside it, the whole demo captured headless at one
// frame per second. The frames must move, every effect type must put
// something on screen inside its bars, and the music must be heard.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "assets/png.h"
#include "gen/production.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path ScriptFile = fs::path(CORVALA_SOURCE_DIR) / "examples" / "karmont" / "karmont.cvl";
constexpr int Fps = 1;

// What the test reads from the script: the clear colour, the row length,
// and for each effect kind the first bar that shows it. Object effects count
// once per surface mode and particles once per option word.
struct TTimeline {
    int Clear[3] = {0, 0, 0};
    double RowSeconds = 0;
    std::map<std::string, std::pair<int, int>> FirstBar; // kind -> [first row, end row)
};

std::string StripComment(const std::string& line) {
    const size_t at = line.find("//");
    return at == std::string::npos ? line : line.substr(0, at);
}

int Rows(std::istringstream& words) {
    static const int scale[] = {64, 16, 4, 1};
    int rows = 0, value = 0;
    for (int k = 0; k < 4 && words >> value; ++k) rows += value * scale[k];
    return rows;
}

TTimeline ReadTimeline(const fs::path& script) {
    TTimeline t;
    std::ifstream in(script);
    std::map<int, std::string> kindOfSlot;
    std::string line, loadType;
    int loadSlot = -1;
    bool hasB = false, hasC = false;
    std::string particleWord;
    auto finishLoad = [&] {
        if (loadSlot < 0) return;
        std::string kind = loadType;
        if (loadType == "object") kind += hasC ? " chrome" : hasB ? " textured" : " flat";
        if (loadType == "particles") kind += " " + particleWord;
        kindOfSlot[loadSlot] = kind;
        loadSlot = -1;
    };
    int mount = 0, length = 0;
    auto finishBar = [&](int effect) {
        const auto kind = kindOfSlot.find(effect);
        if (kind != kindOfSlot.end() && !t.FirstBar.count(kind->second))
            t.FirstBar[kind->second] = {mount, mount + length};
    };
    while (std::getline(in, line)) {
        std::istringstream words(StripComment(line));
        std::string command;
        if (!(words >> command)) continue;
        if (command == "LOAD") {
            finishLoad();
            words >> loadType >> loadSlot;
            hasB = hasC = false;
            particleWord.clear();
        } else if (command == "B" && loadSlot >= 0) {
            hasB = true;
            words >> particleWord;
        } else if (command == "C" && loadSlot >= 0) {
            hasC = true;
        } else if (command == "BAR") {
            finishLoad();
            mount = length = 0;
        } else if (command == "MOUNT") {
            mount = Rows(words);
        } else if (command == "LENGTH") {
            length = Rows(words);
        } else if (command == "EFFECT") {
            int effect = -1;
            words >> effect;
            finishBar(effect);
        } else if (command == "BPM") {
            double bpm = 0;
            words >> bpm;
            t.RowSeconds = 15.0 / bpm;
        } else if (command == "CLEARCOLOR") {
            words >> t.Clear[0] >> t.Clear[1] >> t.Clear[2];
        }
    }
    return t;
}

fs::path FrameFile(const fs::path& dir, int frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06d.png", frame);
    return dir / name;
}

TPicture ReadFrame(const fs::path& file) {
    TPicture picture;
    std::string error;
    EXPECT_TRUE(ReadPNG(file.string(), picture, error)) << error;
    return picture;
}

// Share of pixels (0 to 1) where some channel differs by more than 24
// levels; `other` null compares against the flat colour `rgb`.
double ChangedShare(const TPicture& a, const TPicture* other, const int* rgb = nullptr) {
    if (a.Pixels.empty() || (other && other->Pixels.size() != a.Pixels.size())) return 0;
    size_t changed = 0;
    const size_t pixels = size_t(a.Width) * size_t(a.Height);
    for (size_t p = 0; p < pixels; ++p)
        for (int c = 0; c < 3; ++c) {
            const size_t at = p * size_t(a.Channels) + size_t(c);
            const int b = other ? other->Pixels[at] : rgb[c];
            if (std::abs(int(a.Pixels[at]) - b) > 24) {
                ++changed;
                break;
            }
        }
    return double(changed) / double(pixels);
}

int FrameCount(const fs::path& frames) {
    int count = 0;
    while (fs::exists(FrameFile(frames, count))) ++count;
    return count;
}

void CheckFrames(const fs::path& frames, const std::string& output) {
    // About 71 seconds: one frame a second, frame 0 at time 0.
    const int count = FrameCount(frames);
    EXPECT_GE(count, 70);
    EXPECT_LE(count, 73);
    EXPECT_EQ(output.find("rror"), std::string::npos) << output;
    EXPECT_EQ(output.find("arning"), std::string::npos) << output;

    // Every frame differs visibly from the one a second before it.
    TPicture previous = ReadFrame(FrameFile(frames, 0));
    ASSERT_EQ(previous.Width, 800);
    ASSERT_EQ(previous.Height, 600);
    for (int k = 1; k < count; ++k) {
        TPicture frame = ReadFrame(FrameFile(frames, k));
        EXPECT_GT(ChangedShare(frame, &previous), 0.01) << "frame " << k << " repeats frame " << k - 1;
        previous = std::move(frame);
    }
}

void CheckEffectKinds(const fs::path& frames) {
    const TTimeline timeline = ReadTimeline(ScriptFile);
    ASSERT_GT(timeline.RowSeconds, 0) << "no BPM in " << ScriptFile;
    for (const char* kind :
         {"template", "plaincolor", "plaintexture", "flash", "invertflash", "cylinders", "celshadeobj", "object flat",
          "object textured", "object chrome", "particles bounce", "particles forceback", "particles respawn", "shader"})
        EXPECT_TRUE(timeline.FirstBar.count(kind)) << "no bar shows " << kind;

    for (const auto& [kind, rows] : timeline.FirstBar) {
        // The first frame at least a quarter second into the bar.
        const double start = rows.first * timeline.RowSeconds, end = rows.second * timeline.RowSeconds;
        const int frame = int(std::ceil((start + 0.25) * Fps));
        ASSERT_LT(double(frame) / Fps, end) << kind << ": bar too short for " << Fps << " frame(s) a second";
        const TPicture picture = ReadFrame(FrameFile(frames, frame));
        EXPECT_GT(ChangedShare(picture, nullptr, timeline.Clear), 0.05)
            << kind << ": frame " << frame << " (" << start << " s to " << end << " s) is the clear colour";
    }
}

void CheckMusic(const fs::path& frames) {
    SF_INFO info{};
    SNDFILE* file = sf_open((frames / "audio.wav").string().c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<short> samples(size_t(info.frames) * size_t(info.channels));
    const sf_count_t read = sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    ASSERT_EQ(read, info.frames);
    ASSERT_GT(info.frames, 70 * info.samplerate);

    // Level of each whole second of the music (it ends just before 71 s).
    const size_t second = size_t(info.samplerate) * size_t(info.channels);
    double quietest = 1e9;
    int quietestAt = -1;
    for (int s = 0; s < 70; ++s) {
        double sum = 0;
        for (size_t i = size_t(s) * second; i < size_t(s + 1) * second; ++i) sum += double(samples[i]) * samples[i];
        const double dbfs = 10 * std::log10(std::max(sum / double(second), 1.0) / (32768.0 * 32768.0));
        if (dbfs < quietest) quietest = dbfs, quietestAt = s;
    }
    EXPECT_GT(quietest, -40.0) << "second " << quietestAt << " is nearly silent";
    const size_t clipped =
        size_t(std::count_if(samples.begin(), samples.end(), [](short v) { return v >= 32767 || v <= -32767; }));
    EXPECT_EQ(clipped, 0u);
}

} // namespace

// One test, so that the production is generated and captured once however
// the tests are run.
TEST(Production, GeneratedCapturedAndChecked) {
    testutil::TempDir dir;
    std::string error;
    ASSERT_TRUE(gen::GenerateProduction((dir.Path() / "data").string(), error)) << error;
    std::error_code ec;
    fs::copy_file(ScriptFile, dir.Path() / "karmont.cvl", ec);
    if (!ec) fs::copy_file(ScriptFile.parent_path() / "karmont.tracks", dir.Path() / "karmont.tracks", ec);
    if (!ec) fs::copy(ScriptFile.parent_path() / "shaders", dir.Path() / "shaders", ec);
    ASSERT_FALSE(ec) << "cannot copy " << ScriptFile << ": " << ec.message();
    // The capture folder is absolute: DATADIR moves the engine into data/.
    const fs::path frames = dir.Path() / "capture";
    const auto run = testutil::RunEngine("--capture " + testutil::Quote(frames.string()) + " --fps " +
                                             std::to_string(Fps) + " karmont.cvl",
                                         dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    {
        SCOPED_TRACE("frames");
        CheckFrames(frames, run.Output);
    }
    {
        SCOPED_TRACE("effect kinds");
        CheckEffectKinds(frames);
    }
    {
        SCOPED_TRACE("music");
        CheckMusic(frames);
    }
}
