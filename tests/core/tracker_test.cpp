#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "effects/effect.h"
#include "base/report.h"
#include "demo/tracker.h"
#include "support/temp_dir.h"

namespace {

// Collects reports instead of printing them.
struct ReportCapture {
    ReportCapture() {
        SetReportSink([this](const std::string&, const std::string& text) { texts.push_back(text); });
    }
    ~ReportCapture() { SetReportSink(nullptr); }
    std::vector<std::string> texts;
};

TDemoTracker Tracker120(std::vector<uint8_t> channel0) {
    TDemoTracker tracker;
    tracker.Rows = int32_t(channel0.size());
    tracker.Channels.push_back(std::move(channel0));
    tracker.BPM = 120;
    return tracker;
}

} // namespace

TEST(Tracker, RowsAndTimes) {
    TDemoTracker t = Tracker120({});
    EXPECT_EQ(t.RowAt(1.0f), 8);
    EXPECT_EQ(t.RowAt(0.999f), 7);
    EXPECT_EQ(t.RowAt(-0.2f), -1); // truncation toward zero
    EXPECT_FLOAT_EQ(t.RowTime(8), 1.0f);
}

// A row's start as a float lies in that row, and the float just before it in
// the row before, however the tempo rounds (0.48f is a hair below 0.48).
TEST(Tracker, RowStartsLieInTheRowTheyStart) {
    for (const float bpm : {120.0f, 125.0f, 150.0f, 166.667f, 97.3f}) {
        TDemoTracker t = Tracker120({});
        t.BPM = bpm;
        for (int32_t row = 1; row < 20000; ++row) {
            const float start = t.RowTime(row);
            ASSERT_EQ(t.RowAt(start), row) << bpm << " BPM";
            ASSERT_EQ(t.RowAt(std::nextafter(start, 0.0f)), row - 1) << bpm << " BPM";
        }
    }
    TDemoTracker t = Tracker120({});
    t.BPM = 125;
    EXPECT_EQ(t.RowAt(0.48f), 4);
    std::vector<uint8_t> notes(8, 0);
    notes[4] = 36;
    t = Tracker120(notes);
    t.BPM = 125;
    EXPECT_FLOAT_EQ(t.InputValue(0, 36, 0.01f, 0, 0.48f), 1.0f);
}

TEST(Tracker, InputEnvelopes) {
    std::vector<uint8_t> notes(32, 0);
    notes[8] = 36;
    TDemoTracker t = Tracker120(notes);
    EXPECT_FLOAT_EQ(t.InputValue(0, 36, 0.5f, 0, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(t.InputValue(0, 36, 0.5f, 0, 1.25f), 0.5f);
    EXPECT_FLOAT_EQ(t.InputValue(0, 36, 0.5f, 0, 1.5f), 0.0f);
    EXPECT_FLOAT_EQ(t.InputValue(0, 36, 0.5f, 0, 0.875f), 0.0f); // ahead, no lead
    EXPECT_FLOAT_EQ(t.InputValue(0, 36, 0.5f, 0.25f, 0.875f), 0.75f);
    EXPECT_FLOAT_EQ(t.InputValue(0, 36, 0.0f, 0, 1.0f), 0.0f); // zero fade: NaN counts 0

    // Two close notes add up; row 0 never counts.
    notes[9] = 36;
    notes[0] = 36;
    TDemoTracker two = Tracker120(notes);
    EXPECT_GT(two.InputValue(0, 36, 0.5f, 0.5f, 1.0625f), 1.0f);
    EXPECT_FLOAT_EQ(two.InputValue(0, 36, 0.5f, 0.5f, 0.0f), 0.0f);
}

TEST(Tracker, ChannelOutOfRangeReportsOnceAndStops) {
    ReportCapture reports;
    TDemoTracker t = Tracker120(std::vector<uint8_t>(8, 0));
    DemoQuit = false;
    EXPECT_EQ(t.InputValue(3, 1, 0.5f, 0, 1.0f), 0.0f);
    EXPECT_EQ(t.InputValue(3, 1, 0.5f, 0, 1.0f), 0.0f);
    EXPECT_EQ(t.InputValue(-1, 1, 0.5f, 0, 1.0f), 0.0f);
    ASSERT_EQ(reports.texts.size(), 2u);
    EXPECT_NE(reports.texts[0].find("Error reading demotrack 3"), std::string::npos);
    EXPECT_TRUE(DemoQuit);
    DemoQuit = false;
}

TEST(Tracker, FileLayoutAndMalformedFiles) {
    ReportCapture reports;
    testutil::TempDir dir;
    TDemoTracker t;
    // Two channels of three rows: 14 bytes, channel 1 at offsets 11 to 13.
    ASSERT_TRUE(t.LoadTrack(dir.Write("a.trk", testutil::TrackerBytes(2, 3, {1, 2, 3, 4, 5, 6}))));
    EXPECT_EQ(t.Note(1, 0), 4);
    EXPECT_EQ(t.Note(1, 2), 6);
    EXPECT_EQ(t.RowCount(), 3);

    // A file ending inside the grid (a full disk, a broken copy) is refused,
    // naming both lengths, instead of playing silent rows.
    EXPECT_FALSE(t.LoadTrack(dir.Write("short.trk", testutil::TrackerBytes(2, 1000000, {7, 8}))));
    ASSERT_EQ(reports.texts.size(), 1u);
    EXPECT_NE(reports.texts[0].find("short.trk is 10 bytes long, shorter than the 2000008 bytes"), std::string::npos)
        << reports.texts[0];
    reports.texts.clear();

    EXPECT_FALSE(t.LoadTrack(dir.Write("tiny.trk", std::vector<uint8_t>{1, 0, 0})));
    EXPECT_FALSE(t.LoadTrack(dir.Write("neg.trk", testutil::TrackerBytes(-1, 4, {}))));
    EXPECT_FALSE(t.LoadTrack(dir.Write("huge.trk", testutil::TrackerBytes(4096, 0x7FFFFFFF, {}))));
    ASSERT_EQ(reports.texts.size(), 3u);
    EXPECT_NE(reports.texts[0].find("shorter than its 8-byte header"), std::string::npos);
    EXPECT_NE(reports.texts[1].find("negative"), std::string::npos);
    EXPECT_THROW(t.LoadTrack(dir.File("missing.trk")), EApplicationError);
    DemoQuit = false;
}
