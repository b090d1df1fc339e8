// The rehearsal charges each bar with its own effect's time: a small
// overlay drawn beside the cylinder field is not charged with the field.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <string>
#include <vector>

#include "fx3d_support.h"
#include "support/run_engine.h"

TEST(RehearsalCost, ACheapOverlayBesideAnExpensiveEffectIsChargedItsOwnTime) {
    testutil::TempDir dir;
    // 300 BPM: a row lasts 50 ms, the 40 rows 2 s; both bars play to the
    // end (row 40 included).
    dir.Write("beat.trk", testutil::TrackerBytes(1, 40, std::vector<uint8_t>(40, 0)));
    fx3d::WriteModel(dir, "cyl2.3ds", {fx3d::CylinderMesh(24, 160, 24)});
    dir.Write("demo.cvl", "RESOLUTIONX 320\nRESOLUTIONY 240\nINIT\nTRACKER beat.trk\nBPM 300\n"
                          "LOAD cylinders 0\n"
                          "LOAD plaincolor 1\nE 255\nW 8\nH 8\n"
                          "BAR field\nMOUNT 0\nLENGTH 0 2 2 1\nEFFECT 0\n"
                          "BAR overlay\nMOUNT 0\nLENGTH 0 2 2 1\nEFFECT 1\n");
    const auto run = testutil::RunEngine("--rehearse --report report.json demo.cvl", dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    std::ifstream file(dir.File("report.json"));
    const nlohmann::json report = nlohmann::json::parse(file);
    const double field = report["bars"][0]["median_ms"].get<double>();
    const double overlay = report["bars"][1]["median_ms"].get<double>();
    const double frame = report["whole"]["median_ms"].get<double>();
    // Before, both bars were charged with the whole frame.
    EXPECT_LT(overlay * 5, field) << run.Output;
    EXPECT_LT(overlay * 5, frame) << run.Output;
    EXPECT_GT(report["bars"][1]["frames"].get<int64_t>(), 0);

    // The costliest bars, each with the time and position of its worst frame.
    EXPECT_NE(run.Output.find("costliest bars, with their worst frame:\n  field (line 11): 99th percentile"),
              std::string::npos)
        << run.Output;
    EXPECT_NE(run.Output.find("\n  overlay (line 15): "), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find(" s (0:"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("bar times: "), std::string::npos) << run.Output;
    if (run.Output.find("llvmpipe") != std::string::npos) {
        EXPECT_NE(run.Output.find("these figures are not the party machine's"), std::string::npos);
    }
}
