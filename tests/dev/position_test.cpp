#include <gtest/gtest.h>

#include "demo/position.h"
#include "demo/tracker.h"

TEST(Position, ReadsSecondsAndTrackerPositions) {
    TDemoPosition p;
    std::string error;
    ASSERT_TRUE(ParseDemoPosition("12.5", p, error));
    EXPECT_FALSE(p.IsRow);
    EXPECT_EQ(p.Seconds, 12.5);
    ASSERT_TRUE(ParseDemoPosition("2:1", p, error));
    EXPECT_TRUE(p.IsRow);
    EXPECT_EQ(p.Row, 144);
    ASSERT_TRUE(ParseDemoPosition("2:1:3:2", p, error));
    EXPECT_EQ(p.Row, 144 + 12 + 2);
    // Parts beyond their usual range count on, as MOUNT counts them.
    ASSERT_TRUE(ParseDemoPosition("0:5", p, error));
    EXPECT_EQ(p.Row, 80);
    EXPECT_EQ(RowPositionText(158), "2:1:3:2");
    EXPECT_EQ(RowStampText(158), "2 :: 1 :: 3 :: 2");

    for (const char* bad : {"", "-1", "1:-2", "1:2:3:4:5", "2::1", "abc", "inf", "nan", "1e400", "0x10", "2:1x",
                            "99999999999:0", "12.5s"}) {
        error.clear();
        EXPECT_FALSE(ParseDemoPosition(bad, p, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(Position, ARowResolvesToATimeInsideThatRow) {
    // At 125 BPM row 144 starts at 17.28 s, which as a 32-bit float lies a
    // hair before the row; the resolved time must play row 144 itself.
    TDemoTracker tracker;
    tracker.BPM = 125;
    for (int32_t row : {1, 3, 144, 149, 1000, 4567}) {
        const float seconds = RowStartSeconds(tracker, row);
        EXPECT_EQ(tracker.RowAt(seconds), row) << row;
        EXPECT_NEAR(seconds, tracker.RowTime(row), 2e-4) << row;
    }
    TDemoPosition p;
    std::string error;
    ASSERT_TRUE(ParseDemoPosition("2:1", p, error));
    EXPECT_EQ(tracker.RowAt(PositionSeconds(p, tracker)), 144);
    ASSERT_TRUE(ParseDemoPosition("3.25", p, error));
    EXPECT_EQ(PositionSeconds(p, tracker), 3.25f);
}
