// The dev session in-process: what the effects see of time around jumps.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/dev.h"
#include "effects/effect.h"
#include "render/gl.h"
#include "render/window.h"
#include "support/temp_dir.h"

namespace {

const bool offscreen = setenv("SDL_VIDEODRIVER", "offscreen", 0) == 0;

// A 10-second timeline without music: the session's own clock drives it.
void WriteDemo(const testutil::TempDir& dir) {
    dir.Write("beat.trk", testutil::TrackerBytes(1, 100, std::vector<uint8_t>(100, 0)));
    dir.Write("demo.cvl", "RESOLUTIONX 32\nRESOLUTIONY 24\nINIT\nTRACKER beat.trk\nBPM 150\n"
                          "LOAD plaincolor 0\nBAR all\nMOUNT 0\nLENGTH 1 2\nEFFECT 0\n");
}

// Dev mode on dir/demo.cvl, driven by the test instead of a control channel.
TDevOptions InProcess(const testutil::TempDir& dir) {
    TDevOptions options;
    options.Script = "demo.cvl";
    options.ScriptFolder = options.LaunchFolder = dir.Path().string();
    options.ControlChannel = false;
    return options;
}

} // namespace

TEST(DevSession, JumpsAndPausesNeverReachFrameTime) {
    (void)offscreen;
    testutil::TempDir dir;
    WriteDemo(dir);
    testutil::ScopedCwd cwd(dir.Path());
    TDevSession session(InProcess(dir));
    ASSERT_TRUE(session.Started());

    session.Frame();
    EXPECT_EQ(FrameTime, 0.0f); // the first frame
    session.Frame();
    session.Frame();
    EXPECT_GT(FrameTime, 0.0f);
    EXPECT_LT(FrameTime, 1.0f);

    // A jump of seconds, either way, is never a frame time.
    for (float target : {6.0f, 1.0f}) {
        session.Seek(target);
        session.Frame();
        EXPECT_EQ(FrameTime, 0.0f) << target;
        EXPECT_NEAR(session.Demo().DemoTime, target, 0.1f) << target;
    }
    session.Frame();
    EXPECT_GT(FrameTime, 0.0f);

    // Paused: the time holds and nothing advances, frame after frame.
    session.SetPaused(true);
    const float held = session.Demo().DemoTime;
    for (int i = 0; i < 3; ++i) {
        session.Frame();
        EXPECT_EQ(FrameTime, 0.0f);
        EXPECT_EQ(session.Demo().DemoTime, session.Now());
    }
    EXPECT_NEAR(session.Demo().DemoTime, held, 0.1f);

    // A loop wraps to its start and the wrapping frame has FrameTime 0.
    session.SetPaused(false);
    ASSERT_TRUE(session.SetLoop(2.0f, 2.05f));
    EXPECT_FALSE(session.SetLoop(3.0f, 3.0f));
    session.Seek(2.04f);
    bool wrapped = false;
    for (int i = 0; i < 20 && !wrapped; ++i) {
        session.Frame();
        const float time = session.Demo().DemoTime;
        EXPECT_GE(time, 2.0f);
        EXPECT_LT(time, 2.05f);
        if (time < 2.04f) {
            wrapped = true;
            EXPECT_EQ(FrameTime, 0.0f);
        }
    }
    EXPECT_TRUE(wrapped);

    // The end of the production pauses dev mode instead of ending it.
    session.ClearLoop();
    session.Seek(9.95f);
    for (int i = 0; i < 30 && !session.Paused(); ++i) session.Frame();
    EXPECT_TRUE(session.Paused());
    EXPECT_FALSE(session.Finished());
    EXPECT_FALSE(DemoQuit);
}

TEST(DevSession, TheHudStaysInsideItsBox) {
    (void)offscreen;
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 100, std::vector<uint8_t>(100, 0)));
    // Wide letters in a long label, an effect that draws nothing visible.
    dir.Write("demo.cvl", "RESOLUTIONX 320\nRESOLUTIONY 240\nINIT\nTRACKER beat.trk\nBPM 150\n"
                          "LOAD flash 0\nBAR " +
                              std::string(40, 'W') +
                              "\nMOUNT 0\nLENGTH 1 2\nEFFECT 0\n"
                              "INPUT 0 0 36 100 0\nINPUT 1 0 36 100 0\n");
    testutil::ScopedCwd cwd(dir.Path());
    TDevSession session(InProcess(dir));
    ASSERT_TRUE(session.Started());
    session.Frame();

    glClearColor(0.0f, 0.5f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const TDevSession::TBox box = session.DrawHud();
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    ASSERT_TRUE(ReadBackBuffer(rgba, width, height));
    ASSERT_EQ(width, 320);
    ASSERT_EQ(height, 240);
    EXPECT_GT(box.Width, 100);
    EXPECT_LE(box.X + box.Width, 320);
    int outsideChanged = 0, insideChanged = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
            const bool clear = p[0] == 0 && p[1] >= 127 && p[1] <= 128 && p[2] == 0;
            const bool inside = x >= box.X && x < box.X + box.Width && y >= box.Y && y < box.Y + box.Height;
            if (!clear) ++(inside ? insideChanged : outsideChanged);
        }
    EXPECT_EQ(outsideChanged, 0);
    EXPECT_GT(insideChanged, box.Width * box.Height / 2);
}

TEST(DevSession, LongMessagesWrapInsideTheWindow) {
    // Lines break between words, never past the width, and lose no word.
    const std::string text = "karmont.cvl:165: unknown command 'LAOD' (did you mean LOAD?); the line is ignored " +
                             std::string(70, 'x') + " end";
    const std::vector<std::string> lines = WrapHudText(text, 30);
    std::string joined;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 32u) << line; // two of indent on continuation lines
        joined += (joined.empty() ? "" : " ") + line.substr(line.rfind("  ", 0) == 0 ? 2 : 0);
    }
    EXPECT_EQ(joined.substr(0, 40), text.substr(0, 40));
    EXPECT_NE(joined.find(" end"), std::string::npos);
    EXPECT_EQ(WrapHudText("", 10), std::vector<std::string>{""});

    // A refused reload with a long error in a small window: the HUD stays
    // inside the window, and the playing version goes on.
    (void)offscreen;
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 100, std::vector<uint8_t>(100, 0)));
    const std::string script = "RESOLUTIONX 160\nRESOLUTIONY 120\nINIT\nTRACKER beat.trk\nBPM 150\n"
                               "LOAD flash 0\nBAR " +
                               std::string(60, 'W') +
                               "\nMOUNT 0\nLENGTH 1 2\nEFFECT 0\n"
                               "INPUT 0 0 36 100 0\nINPUT 1 0 36 100 0\nINPUT 2 0 36 100 0\n";
    dir.Write("demo.cvl", script);
    testutil::ScopedCwd cwd(dir.Path());
    TDevSession session(InProcess(dir));
    ASSERT_TRUE(session.Started());
    dir.Write("demo.cvl", script + "LAOD plaincolor 1\nLOAD plaincolr 1\n");
    std::string error;
    EXPECT_FALSE(session.Reload(error));
    EXPECT_EQ(error, "demo.cvl:14: unknown command 'LAOD' (did you mean LOAD?); the line is ignored, and then "
                     "demo.cvl:15: No such effect in demo: plaincolr (did you mean plaincolor?)");
    session.Frame();

    glClearColor(0.0f, 0.5f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const TDevSession::TBox box = session.DrawHud();
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    ASSERT_TRUE(ReadBackBuffer(rgba, width, height));
    ASSERT_EQ(width, 160);
    EXPECT_GE(box.X, 0);
    EXPECT_GE(box.Y, 0);
    EXPECT_LE(box.X + box.Width, 160);
    EXPECT_LE(box.Y + box.Height, 120);
    int outsideChanged = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
            const bool clear = p[0] == 0 && p[1] >= 127 && p[1] <= 128 && p[2] == 0;
            const bool inside = x >= box.X && x < box.X + box.Width && y >= box.Y && y < box.Y + box.Height;
            if (!clear && !inside) ++outsideChanged;
        }
    EXPECT_EQ(outsideChanged, 0);
}

namespace {

// Pixels of the HUD's box drawn in the HUD's red (errors) over a green frame.
int RedHudPixels(TDevSession& session) {
    glClearColor(0.0f, 0.5f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const TDevSession::TBox box = session.DrawHud();
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    if (!ReadBackBuffer(rgba, width, height)) return -1;
    int red = 0;
    for (int y = box.Y; y < box.Y + box.Height && y < height; ++y)
        for (int x = box.X; x < box.X + box.Width && x < width; ++x) {
            const uint8_t* p = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
            if (p[0] > 150 && p[1] < 110 && p[2] < 110) ++red;
        }
    return red;
}

} // namespace

TEST(DevSession, AShaderErrorStaysOnTheHudInRedUntilAGoodSave) {
    (void)offscreen;
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 100, std::vector<uint8_t>(100, 0)));
    dir.Write("demo.cvl", "RESOLUTIONX 320\nRESOLUTIONY 240\nINIT\nTRACKER beat.trk\nBPM 150\n"
                          "LOAD shader 0\nA s.frag\nBAR all\nMOUNT 0\nLENGTH 1 2\nEFFECT 0\n");
    dir.Write("s.frag", "void main() { gl_FragColor = vec4(0.0); }\n");
    testutil::ScopedCwd cwd(dir.Path());
    TDevSession session(InProcess(dir));
    ASSERT_TRUE(session.Started());
    session.Frame();
    EXPECT_EQ(RedHudPixels(session), 0);

    // Two errors on two lines: both reach the HUD, each on a line of its own.
    dir.Write("s.frag", "void main() {\n    gl_FragColor = vec4(nope);\n    gl_FragColor += vec4(nothing);\n}\n");
    std::string error;
    EXPECT_FALSE(session.Reload(error));
    EXPECT_EQ(error.rfind("s.frag:2: ", 0), 0u) << error;
    EXPECT_NE(error.find("\n  s.frag:3: error: "), std::string::npos) << error;
    for (int i = 0; i < 3; ++i) {
        session.Frame();
        EXPECT_GT(RedHudPixels(session), 40) << "frame " << i;
    }
    const std::vector<std::string> lines = WrapHudText("not reloaded: " + error, 40);
    ASSERT_GE(lines.size(), 2u);
    for (const std::string& line : lines) EXPECT_EQ(line.find('\n'), std::string::npos) << line;

    dir.Write("s.frag", "void main() { gl_FragColor = vec4(0.0, 0.0, 1.0, 1.0); }\n");
    EXPECT_TRUE(session.Reload(error)) << error;
    session.Frame();
    EXPECT_EQ(RedHudPixels(session), 0);
}
