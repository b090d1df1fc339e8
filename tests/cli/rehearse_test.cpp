#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/rehearse.h"
#include "render/draw_timer.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"

using testutil::RunEngine;

namespace {

// 600 BPM: a row lasts 25 ms and the 24-row tracker ends after 0.6 s. Bar
// "early" covers rows 0 to 11, "late" rows 8 to 23 (they overlap), "never"
// starts past the tracker's end.
const char* const Script = "RESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nTRACKER beat.trk\nBPM 600\n"
                           "LOAD plaincolor 0\nE 255\nW 10\nH 10\n"
                           "BAR early\nMOUNT 0\nLENGTH 0 0 3\nEFFECT 0\n"
                           "BAR late\nMOUNT 0 0 2\nLENGTH 0 1\nEFFECT 0\n"
                           "BAR never\nMOUNT 2\nLENGTH 0 1\nEFFECT 0\n";

TRehearsalReport ReportOf(const std::vector<std::vector<double>>& bars) {
    TRehearsalReport report;
    std::vector<double> all;
    for (size_t i = 0; i < bars.size(); ++i) {
        report.Bars.push_back(TBarFigures{"bar" + std::to_string(i), int32_t(10 + i), SummariseFrames(bars[i])});
        all.insert(all.end(), bars[i].begin(), bars[i].end());
    }
    report.Whole = SummariseFrames(all);
    return report;
}

} // namespace

TEST(Rehearsal, FiguresAreNearestRankAndTheVerdictListsSlowBarsWorstFirst) {
    std::vector<double> hundred;
    for (int i = 1; i <= 100; ++i) hundred.push_back(i * 0.5); // 0.5 to 50 ms, shuffled below
    std::swap(hundred[3], hundred[97]);
    const TFrameFigures f = SummariseFrames(hundred);
    EXPECT_EQ(f.Frames, 100);
    EXPECT_DOUBLE_EQ(f.MedianMs, 25.0);
    EXPECT_DOUBLE_EQ(f.P99Ms, 49.5);
    EXPECT_DOUBLE_EQ(f.WorstMs, 50.0);
    EXPECT_EQ(f.Over60Hz, 67); // 17.0 ms and up
    EXPECT_EQ(f.Over30Hz, 34); // 33.5 ms and up
    const TFrameFigures one = SummariseFrames({16.7});
    EXPECT_DOUBLE_EQ(one.MedianMs, 16.7);
    EXPECT_EQ(one.Over60Hz, 0); // exactly on the limit still holds
    EXPECT_TRUE(HoldsSixtyHz(one));
    EXPECT_EQ(SummariseFrames({}).Frames, 0);

    // 99 quick frames and one hitch still hold; a bar that never played
    // is no failure.
    std::vector<double> hitch(99, 5.0);
    hitch.push_back(80.0);
    EXPECT_EQ(RehearsalVerdict(ReportOf({hitch, {}, {2.0, 3.0}})), "all bars hold 60 Hz");
    const TRehearsalReport slow = ReportOf({{20.0, 20.0}, {5.0}, {40.0}});
    EXPECT_EQ(RehearsalVerdict(slow),
              "2 bars do not hold 60 Hz; the worst is bar2 (line 12) at 40.0 ms; whole frames: 99th percentile "
              "40.0 ms");
    // Bars that hold while their frames together do not.
    TRehearsalReport together = ReportOf({{10.0}, {10.0}});
    together.Whole = SummariseFrames({20.0});
    EXPECT_EQ(RehearsalVerdict(together),
              "no bar alone misses 60 Hz, but the frames together do (99th percentile 20.0 ms)");

    // The five costliest bars, one line each, with when their worst frame was.
    TRehearsalReport many = ReportOf({{1.0}, {7.0}, {3.0}, {6.0}, {2.0}, {5.0}, {4.0}});
    many.Bars[1].WorstAtSeconds = 12.5;
    many.Bars[1].WorstAtRow = 104;
    const std::string worst = WorstBarsText(many);
    EXPECT_EQ(std::count(worst.begin(), worst.end(), '\n'), 5);
    EXPECT_EQ(worst.rfind("  bar1 (line 11): 99th percentile 7.00 ms, worst 7.00 ms at 12.50 s (1:2:2:0)\n", 0), 0u)
        << worst;
    EXPECT_EQ(worst.find("bar0"), std::string::npos);
    EXPECT_EQ(worst.find("bar4"), std::string::npos);
    EXPECT_TRUE(SoftwareRenderer("llvmpipe (LLVM 15.0.6, 256 bits)"));
    EXPECT_TRUE(SoftwareRenderer("Mesa softpipe"));
    EXPECT_FALSE(SoftwareRenderer("NVIDIA GeForce RTX 4070/PCIe/SSE2"));
    EXPECT_EQ(RehearsalVerdict(ReportOf({{}})), "no frames were played");
    const nlohmann::json json = nlohmann::json::parse(RehearsalJson(slow));
    EXPECT_EQ(json["below_60_hz"], nlohmann::json::parse("[2, 0]"));
}

TEST(Rehearsal, SmallScriptReportsExactlyItsBarsWithPlausibleFigures) {
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 24, std::vector<uint8_t>(24, 0)));
    dir.Write("demo.cvl", Script);
    const auto result = RunEngine("--rehearse --report out/report.json demo.cvl", dir.Path().string());
    // The report file's folder does not exist: told before anything plays.
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find("out/report.json"), std::string::npos) << result.Output;
    EXPECT_EQ(result.Output.find("verdict"), std::string::npos) << result.Output;

    const auto run = RunEngine("--rehearse --report report.json demo.cvl", dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    for (const char* part : {"early (line 10)", "late (line 14)", "never (line 18)", "whole production",
                             "GL renderer: ", "start to first frame: ", "\nverdict: "})
        EXPECT_NE(run.Output.find(part), std::string::npos) << part << "\n" << run.Output;

    std::ifstream file(dir.File("report.json"));
    const nlohmann::json report = nlohmann::json::parse(file); // throws when it does not parse
    ASSERT_EQ(report["bars"].size(), 3u);
    EXPECT_EQ(report["bars"][0]["label"], "early");
    EXPECT_EQ(report["bars"][1]["line"], 14);
    EXPECT_TRUE(report["completed"].get<bool>());
    EXPECT_TRUE(report["vertical_sync_off"].get<bool>());
    EXPECT_FALSE(report["gl_renderer"].get<std::string>().empty());
    EXPECT_GT(report["start_to_first_frame_ms"].get<double>(), 0.0);
    // The tracker lasts 0.6 s of demo time, played in real time.
    EXPECT_GT(report["played_seconds"].get<double>(), 0.4);
    EXPECT_LT(report["played_seconds"].get<double>(), 30.0);

    const auto& whole = report["whole"];
    const int64_t frames = whole["frames"];
    EXPECT_GT(frames, 2);
    for (const auto* figures : {&whole, &report["bars"][0], &report["bars"][1]}) {
        const int64_t barFrames = (*figures)["frames"];
        EXPECT_GT(barFrames, 0);
        EXPECT_LE(barFrames, frames);
        EXPECT_GT((*figures)["median_ms"].get<double>(), 0.0);
        EXPECT_LE((*figures)["median_ms"].get<double>(), (*figures)["p99_ms"].get<double>());
        EXPECT_LE((*figures)["p99_ms"].get<double>(), (*figures)["worst_ms"].get<double>());
        EXPECT_LE((*figures)["over_33_3_ms"].get<int64_t>(), (*figures)["over_16_7_ms"].get<int64_t>());
    }
    EXPECT_EQ(report["bars"][2]["frames"], 0);
    EXPECT_TRUE(report["bars"][2]["median_ms"].is_null());
    EXPECT_NE(run.Output.find("verdict: " + report["verdict"].get<std::string>()), std::string::npos);

    // The report to standard output (here through a link of the test's own,
    // as /dev/stdout is one): the JSON alone there, the text on standard
    // error, the link kept. And to a named pipe whose reader waits for it.
    std::filesystem::create_symlink("/proc/self/fd/1", dir.File("stdout-link"));
    ASSERT_EQ(mkfifo(dir.File("pipe.json").c_str(), 0600), 0);
    const std::string engine = "SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null " + testutil::Quote(CORVALA_BINARY);
    const std::string command = "cd " + testutil::Quote(dir.Path().string()) + " && " + engine +
                                " --rehearse --report stdout-link demo.cvl > piped.json 2> text.txt; "
                                "timeout 30 cat pipe.json > fifo.json & " +
                                engine + " --rehearse --report pipe.json demo.cvl > /dev/null 2>&1; wait";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char* name : {"piped.json", "fifo.json"}) {
        std::ifstream json(dir.File(name));
        EXPECT_EQ(nlohmann::json::parse(json)["bars"].size(), 3u) << name; // throws when more than JSON is there
    }
    std::ifstream text(dir.File("text.txt"));
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(text), {}).find("\nverdict: "), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("stdout-link")));
}
