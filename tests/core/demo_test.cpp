#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "demo/demo.h"
#include "base/report.h"
#include "support/temp_dir.h"

namespace {

struct ReportCapture {
    ReportCapture() {
        SetReportSink([this](const std::string& caption, const std::string& text) {
            captions.push_back(caption);
            texts.push_back(text);
        });
    }
    ~ReportCapture() { SetReportSink(nullptr); }
    std::string All() const {
        std::string all;
        for (size_t i = 0; i < texts.size(); ++i) all += captions[i] + " | " + texts[i] + "\n";
        return all;
    }
    std::vector<std::string> captions, texts;
};

// A demo folder with a 2-channel, 256-row tracker.
struct DemoFolder {
    DemoFolder() {
        std::vector<uint8_t> grid(512, 0);
        grid[8] = 36;
        dir.Write("music.trk", testutil::TrackerBytes(2, 256, grid));
    }
    std::unique_ptr<TCDemo> Load(const std::string& script) {
        dir.Write("karmont.cvl", script);
        testutil::ScopedCwd cwd(dir.Path());
        return std::make_unique<TCDemo>("karmont.cvl");
    }
    testutil::TempDir dir;
};

const char* const Header = "TRACKER music.trk\nBPM 120\n";

} // namespace

TEST(DemoScript, SettingsAndCredits) {
    ReportCapture reports;
    DemoFolder folder;
    auto demo = folder.Load(std::string(Header) + "REGISTER $w 800\n"
                                                  "RESOLUTIONX $w\n"
                                                  "UNREGISTER $w\n"
                                                  "DEMO $w  Title // comment\n"
                                                  "GROUP The Group\n"
                                                  "SPEED 50\n"
                                                  "ENDTIME 12345\n"
                                                  "STARTTIME 1.5\n"
                                                  "CLEARCOLOR 255 128 0 255\n"
                                                  "FULLSCREEN True\n"
                                                  "SHOWTIMER true\n"
                                                  "UNKNOWNCOMMAND 1 2 3\n");
    EXPECT_EQ(demo->ResolutionX, 800);
    EXPECT_EQ(demo->ResolutionY, 480);
    EXPECT_EQ(demo->ColorDepth, 16);
    EXPECT_EQ(demo->DemoName, "$w Title ");
    EXPECT_EQ(demo->GroupName, "The Group");
    EXPECT_EQ(demo->PartyName, "<party>");
    EXPECT_FLOAT_EQ(demo->Speed, 0.5f);
    EXPECT_FLOAT_EQ(demo->EndTime, 123.45f);
    EXPECT_FLOAT_EQ(demo->StartTime, 1.5f);
    EXPECT_FLOAT_EQ(demo->ClearColor.G, 128 / 255.0f);
    EXPECT_EQ(demo->ClearColor.R, 1.0f);
    EXPECT_TRUE(demo->Fullscreen);
    EXPECT_TRUE(demo->ShowTimer);
    EXPECT_FALSE(DemoQuit);
    EXPECT_EQ(demo->ExitCode(), 0);
    EXPECT_TRUE(reports.texts.empty()) << reports.All();
}

TEST(DemoScript, EffectsSlotsAndParameterTarget) {
    ReportCapture reports;
    DemoFolder folder;
    auto demo = folder.Load(std::string(Header) + "LOAD template 3\n"
                                                  "LOAD template 0\n"
                                                  "X 5\n"
                                                  "S 250\n"
                                                  "A some file.jpg\n"
                                                  "E $FF\n"
                                                  "LOAD template 0\n");
    ASSERT_EQ(demo->Effects.size(), 4u);
    EXPECT_EQ(demo->Effects[1], nullptr);
    // Parameters go to the highest slot installed so far.
    EXPECT_EQ(demo->Effects[3]->X, 5.0f);
    EXPECT_FLOAT_EQ(demo->Effects[3]->S, 2.5f);
    EXPECT_EQ(demo->Effects[3]->A, "some file.jpg");
    EXPECT_EQ(demo->Effects[3]->E, 255);
    EXPECT_EQ(demo->Effects[3]->SlotIndex, 3);
    EXPECT_EQ(demo->Effects[0]->X, 0.0f);
    EXPECT_TRUE(reports.texts.empty()) << reports.All();
}

TEST(DemoScript, TimelineCommands) {
    DemoFolder folder;
    auto demo = folder.Load(std::string(Header) + "LOAD template 0\n"
                                                  "BAR intro part\n"
                                                  "MOUNT 1 2 3 1\n"
                                                  "LENGTH 0 1\n"
                                                  "EFFECT 0\n"
                                                  "INPUT 3 0 36 250 100\n"
                                                  ">>COLOR 255 0 0 255\n"
                                                  ">>SINGLE 0.5\n"
                                                  ">>OFSET 2\n"
                                                  "BAR\n"
                                                  "MOUNT 2\n"
                                                  "LENGTH 0 0 0 17 99\n");
    ASSERT_EQ(demo->Bars.size(), 2u);
    const TScriptBar& bar = demo->Bars[0];
    EXPECT_EQ(bar.Label, "intro part");
    EXPECT_EQ(bar.StartRow, 109);
    EXPECT_EQ(bar.LengthRows, 16);
    const TBarInput& in = bar.Inputs[3];
    EXPECT_TRUE(in.Enabled);
    EXPECT_EQ(in.Channel, 0);
    EXPECT_EQ(in.Note, 36);
    EXPECT_FLOAT_EQ(in.FadeTime, 0.25f);
    EXPECT_FLOAT_EQ(in.LeadTime, 0.1f);
    EXPECT_FALSE(bar.Inputs[0].Enabled);
    EXPECT_EQ(bar.Color.R, 1.0f);
    EXPECT_EQ(bar.SingleValue, 0.5f);
    EXPECT_EQ(bar.Offset, 2.0f);
    EXPECT_EQ(demo->Bars[1].StartRow, 128);
    EXPECT_EQ(demo->Bars[1].LengthRows, 17);
}

TEST(DemoScript, ScriptErrorsNameTheLineAndStopPlayback) {
    struct Case {
        std::string script, message;
    };
    const std::vector<Case> cases = {
        {"LOAD nothing 0\n", "No such effect in demo: nothing"},
        {"X 5\n", "needs a LOAD line"},
        {"MOUNT 1\n", "needs a BAR line"},
        {"BAR\nINPUT 10 0 36 250 100\n", "INPUT index 10"},
        {"LOAD template -1\n", "outside 0 to"},
        {"LOAD template 99999999\n", "outside 0 to"},
        {"REGISTER\n", "REGISTER needs a key"},
    };
    for (const Case& c : cases) {
        ReportCapture reports;
        DemoFolder folder;
        auto demo = folder.Load(std::string(Header) + c.script);
        ASSERT_EQ(reports.texts.size(), 1u) << c.script << reports.All();
        EXPECT_NE(reports.texts[0].find("Error in demoscript. Demo will now crash\nDescription: "), std::string::npos);
        EXPECT_NE(reports.texts[0].find(c.message), std::string::npos) << reports.All();
        // The error names the last line of the case (the header has two).
        const auto lines = std::count(c.script.begin(), c.script.end(), '\n');
        EXPECT_EQ(reports.captions[0], "karmont.cvl:" + std::to_string(2 + lines)) << c.script;
        EXPECT_TRUE(DemoQuit) << c.script;
        EXPECT_EQ(demo->ExitCode(), 1);
    }
    DemoQuit = false;
}

TEST(DemoScript, TrackerAndTempoAreRequired) {
    for (const std::string script :
         {"LOAD template 0\n", "BPM 120\n", "TRACKER music.trk\n", "TRACKER music.trk\nBPM 0\n"}) {
        ReportCapture reports;
        DemoFolder folder;
        auto demo = folder.Load(script);
        EXPECT_EQ(reports.texts.size(), 1u) << script << reports.All();
        EXPECT_TRUE(DemoQuit);
        EXPECT_EQ(demo->ExitCode(), 1);
    }
    DemoQuit = false;
}

TEST(DemoScript, FatalErrorsCarryFileAndLine) {
    DemoFolder folder;
    try {
        folder.Load(std::string(Header) + "RESOLUTIONX 800 \n");
        FAIL();
    } catch (const EApplicationError& e) {
        EXPECT_STREQ(e.what(), "karmont.cvl:3: '800 ' is not a valid integer value");
    }
    try {
        folder.Load("TRACKER nothere.trk\n");
        FAIL();
    } catch (const EApplicationError& e) {
        EXPECT_STREQ(e.what(), "karmont.cvl:1: Cannot open file nothere.trk");
    }
    testutil::ScopedCwd cwd(folder.dir.Path());
    EXPECT_THROW(TCDemo("missing.cvl"), EApplicationError);
}

namespace {

// Records the calls the playback loop makes.
struct ProbeEffect : TCEffect {
    void Update(const TInputValues& inputs) override {
        calls.push_back("U" + std::to_string(SlotIndex));
        lastInput = inputs[0];
        barTimes.push_back(BarTime);
    }
    void Draw(const TInputValues&) override { calls.push_back("D" + std::to_string(SlotIndex)); }
    static inline std::vector<std::string> calls;
    static inline std::vector<float> barTimes;
    static inline float lastInput = 0;
};

int64_t clockNow = 0;
int64_t TestClock() { return clockNow; }

} // namespace

TEST(DemoPlayback, BarsPlayInOrderWithInputsAndEndAtTrackerEnd) {
    ReportCapture reports;
    DemoFolder folder;
    folder.dir.Write("karmont.cvl", std::string(Header) +
                                        "BAR a\nMOUNT 0 0 2\nLENGTH 0 1\nEFFECT 1\nINPUT 0 0 36 500 0\n"
                                        "BAR b\nMOUNT 0 0 0 8\nLENGTH 0 0 0 2\nEFFECT 1\n");
    testutil::ScopedCwd cwd(folder.dir.Path());
    TDemoOptions options;
    options.Clock = TClockSource{TestClock, 1000000000};
    clockNow = 0;
    TCDemo demo("karmont.cvl", options);
    demo.InstallEffect(std::make_unique<ProbeEffect>(), 1);
    ProbeEffect::calls.clear();
    ProbeEffect::barTimes.clear();

    clockNow = 1'000'000'000; // 1.0 s: row 8, both bars active
    demo.RenderFrame();
    EXPECT_EQ(demo.CurrentRow, 8);
    EXPECT_EQ(ProbeEffect::calls, (std::vector<std::string>{"U1", "D1", "U1", "D1"}));
    ASSERT_EQ(ProbeEffect::barTimes.size(), 2u);
    EXPECT_FLOAT_EQ(ProbeEffect::barTimes[0], 0.0f);
    EXPECT_FLOAT_EQ(ProbeEffect::barTimes[1], 0.0f);

    clockNow = 1'250'000'000; // row 10: only bar a, the note at row 8 half faded
    ProbeEffect::calls.clear();
    demo.RenderFrame();
    EXPECT_EQ(ProbeEffect::calls.size(), 2u);
    EXPECT_FLOAT_EQ(ProbeEffect::lastInput, 0.5f);
    EXPECT_FALSE(DemoQuit);

    clockNow = 32'000'000'000; // row 256: still plays
    demo.RenderFrame();
    EXPECT_FALSE(DemoQuit);
    clockNow = 32'125'000'000; // row 257: ends
    demo.RenderFrame();
    EXPECT_TRUE(DemoQuit);
    EXPECT_EQ(demo.ExitCode(), 0);
    EXPECT_TRUE(reports.texts.empty()) << reports.All();
    DemoQuit = false;
}

TEST(DemoPlayback, MissingEffectIsReportedOnceAndStops) {
    ReportCapture reports;
    DemoFolder folder;
    folder.dir.Write("karmont.cvl", std::string(Header) + "BAR\nMOUNT 0\nLENGTH 1\nEFFECT 4\n");
    testutil::ScopedCwd cwd(folder.dir.Path());
    TDemoOptions options;
    options.Clock = TClockSource{TestClock, 1000000000};
    TCDemo demo("karmont.cvl", options);
    demo.RenderFrame();
    demo.RenderFrame();
    ASSERT_EQ(reports.texts.size(), 1u);
    EXPECT_NE(reports.texts[0].find("Effect not installed: 4"), std::string::npos);
    EXPECT_EQ(reports.captions[0], "karmont.cvl:3");
    EXPECT_TRUE(DemoQuit);
    EXPECT_EQ(demo.ExitCode(), 1);
    DemoQuit = false;
}

TEST(DemoPlayback, EndTimeAndSpeed) {
    DemoFolder folder;
    folder.dir.Write("karmont.cvl", std::string(Header) + "SPEED 200\nSTARTTIME 1\nENDTIME 300\n");
    testutil::ScopedCwd cwd(folder.dir.Path());
    TDemoOptions options;
    options.Clock = TClockSource{TestClock, 1000000000};
    clockNow = 0;
    TCDemo demo("karmont.cvl", options);
    clockNow = 1'000'000'000;
    demo.RenderFrame();
    EXPECT_FLOAT_EQ(demo.DemoTime, 3.0f);
    EXPECT_FALSE(DemoQuit);
    clockNow = 1'100'000'000;
    demo.RenderFrame();
    EXPECT_TRUE(DemoQuit);
    DemoQuit = false;
}
