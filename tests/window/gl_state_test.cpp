// The GL baseline every effect draws from, and the GL check switch of the
// frame loop that reports an effect leaving errors or pushed matrices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/report.h"
#include "demo/demo.h"
#include "render/gl.h"
#include "render/gl_state.h"
#include "render/overlay.h"
#include "support/temp_dir.h"
#include "window_fixture.h"

namespace {

// Switches on what the baseline has off and changes what it fixes, as
// effects did and left behind.
void MessUp() {
    for (GLenum cap : {GL_FOG, GL_LIGHTING, GL_LIGHT0, GL_BLEND, GL_TEXTURE_2D, GL_CULL_FACE, GL_NORMALIZE,
                       GL_COLOR_MATERIAL, GL_TEXTURE_GEN_S})
        glEnable(cap);
    glDisable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_FALSE);
    glBlendFunc(GL_ONE, GL_ONE);
    glPolygonMode(GL_BACK, GL_LINE);
    glLineWidth(5);
    glColor4f(0, 0, 0, 1);
    const GLfloat warm[] = {1.2f, 0.9f, 0.7f, 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, warm);
    glFogi(GL_FOG_MODE, GL_LINEAR);
    glEnableClientState(GL_VERTEX_ARRAY);
    glMatrixMode(GL_TEXTURE);
    glScalef(2, 2, 2);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, 4.0 / 3.0, 1.0, 100.0); // the 4:3 of a square window
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(1, 2, 3);
}

// Draws a GL error and leaves a matrix pushed.
struct CarelessEffect : TCEffect {
    void Draw(const TInputValues&) override {
        glEnable(0x1234);
        glPushMatrix();
        ++draws;
    }
    static inline int draws = 0;
};

} // namespace

TEST(GLBaseline, RestorePutsBackWhatEffectsLeaveAndTheCheckNamesIt) {
    REQUIRE_WINDOW();
    RestoreBaseline();
    EXPECT_EQ(BaselineDifferences(), "");
    EXPECT_EQ(TakeGLErrors(), "");

    MessUp();
    glPushMatrix();
    const std::string messed = BaselineDifferences();
    for (const char* part :
         {"GL_FOG on", "GL_LIGHTING on", "GL_BLEND on", "GL_TEXTURE_2D on", "GL_CULL_FACE on", "GL_VERTEX_ARRAY on",
          "GL_DEPTH_TEST off", "depth function", "depth writes off", "blend function", "polygon mode", "line width",
          "colour not opaque white", "material diffuse", "fog mode", "texture matrix", "model-view matrix",
          "projection not the 45-degree", "model-view stack depth 2"})
        EXPECT_NE(messed.find(part), std::string::npos) << part << " in: " << messed;

    // The pushed matrix is what RestoreBaseline cannot see; the check pops it.
    EXPECT_EQ(RebalanceStacks(), "model-view stack depth 2");
    EXPECT_EQ(RebalanceStacks(), "");
    RestoreBaseline();
    EXPECT_EQ(BaselineDifferences(), "");
    EXPECT_EQ(TakeGLErrors(), "");

    glEnable(0x1234);
    EXPECT_EQ(TakeGLErrors(), "GL_INVALID_ENUM");
    EXPECT_EQ(TakeGLErrors(), "");
}

TEST(GLBaseline, TwoDimensionalDrawingRestoresTheWindowsPerspective) {
    REQUIRE_WINDOW();
    RestoreBaseline();
    PushView();
    DrawBlendRect(TRGBAColor{1, 0, 0, 1}, 0, 0, 8, 8);
    DrawPicture(0, 0, 0, 8, 8);
    PopView();
    // The picture leaves lighting on and other state behind; the
    // perspective it restores is the baseline's, not 4:3.
    EXPECT_EQ(BaselineDifferences().find("projection"), std::string::npos) << BaselineDifferences();
    RestoreBaseline();
}

TEST(GLCheck, AnEffectsErrorsAndPushedMatricesAreReportedOnceAtItsLoadLine) {
    REQUIRE_WINDOW();
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 64, std::vector<uint8_t>(64, 0)));
    dir.Write("demo.cvl", "RESOLUTIONX 64\nRESOLUTIONY 64\nINIT\nTRACKER beat.trk\nBPM 150\n"
                          "LOAD template 1\n"
                          "BAR careless\nMOUNT 0\nLENGTH 1\nEFFECT 1\n");
    testutil::ScopedCwd cwd(dir.Path());
    std::vector<std::string> reports;
    SetReportSink(
        [&](const std::string& caption, const std::string& text) { reports.push_back(caption + ": " + text); });
    const char* variable = std::getenv("CORVALA_GL_CHECK");
    const std::string saved = variable ? variable : "";
    unsetenv("CORVALA_GL_CHECK");

    for (bool on : {false, true}) {
        SCOPED_TRACE(on ? "check on" : "check off");
        reports.clear();
        TDemoOptions options;
        TDemoHandover handover;
        handover.Window = CurrentWindow;
        options.Handover = handover;
        options.GLCheck = on;
        TCDemo demo("demo.cvl", options);
        SetScriptLocation("demo.cvl", 6);
        demo.InstallEffect(std::make_unique<CarelessEffect>(), 1);
        ClearScriptLocation();
        CarelessEffect::draws = 0;
        demo.RenderFrame();
        demo.RenderFrame();
        EXPECT_EQ(CarelessEffect::draws, 2);
        if (on) {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0], "GL check: demo.cvl:6: the template in slot 1 (bar \"careless\" at line 7) "
                                  "raised GL_INVALID_ENUM in its draw and left model-view stack depth 2 "
                                  "(said once for the slot)");
            EXPECT_EQ(demo.ExitCode(), 1);
        } else {
            EXPECT_TRUE(reports.empty()) << reports[0];
            EXPECT_EQ(demo.ExitCode(), 0);
        }
        // Unchecked, the pushed matrices stay pushed (one per frame).
        RebalanceStacks();
        TakeGLErrors();
        DemoQuit = false;
    }
    SetReportSink(nullptr);
    if (!saved.empty()) setenv("CORVALA_GL_CHECK", saved.c_str(), 1);
}
