// The shader effect as a user meets it: captured frames hold the uniforms'
// values, feedback and post-processing read the right pictures, and broken
// shaders are reported at their own lines by the run and the pre-flight.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "assets/picture.h"
#include "assets/png.h"
#include "base/sha256.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testutil::RunEngine;

// 80 x 60 window at 150 BPM (a row is 0.1 s); a kick (note 36) at row 20.
std::string Script(const std::string& effects) {
    return "RESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nTRACKER beat.trk\nBPM 150\nCLEARCOLOR 0 0 0 255\n" + effects;
}

void WriteTracker(const testutil::TempDir& dir) {
    std::vector<uint8_t> notes(40, 0);
    notes[20] = 36;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 40, notes));
}

// Pixel (x, y) of frame `index` (y from the bottom) as four bytes R, G, B, A.
std::vector<int> Pixel(const testutil::TempDir& dir, int index, int x, int y) {
    char name[32];
    std::snprintf(name, sizeof name, "out/frame_%06d.png", index);
    TPicture picture;
    std::string error;
    if (!ReadPNG(dir.File(name), picture, error)) {
        ADD_FAILURE() << error;
        return {0, 0, 0, 0};
    }
    const size_t at = (size_t(y) * size_t(picture.Width) + size_t(x)) * size_t(picture.Channels);
    std::vector<int> rgba;
    for (int c = 0; c < 4; ++c) rgba.push_back(c < picture.Channels ? picture.Pixels[at + size_t(c)] : 255);
    return rgba;
}

void ExpectNear(int byte, double value, const std::string& what) {
    EXPECT_LE(std::fabs(byte - value * 255.0), 1.01) << what << ": byte " << byte << ", wanted " << value;
}

TEST(ShaderEffect, UniformsHoldTheTablesValues) {
    testutil::TempDir dir;
    WriteTracker(dir);
    // Thirds of the window: fract(iTime), iInput[0], iBarTime / 4; iRow / 32,
    // iBeat / 8, iFrame / 4; iBpm / 300, iS + iVZ, iResolution.x / 160.
    dir.Write("u.frag", "uniform vec3 iResolution; uniform float iTime, iBarTime, iRow, iBeat, iBpm;\n"
                        "uniform float iInput[10]; uniform int iFrame; uniform float iS, iVZ;\n"
                        "void main() {\n"
                        "    if (gl_FragCoord.x < iResolution.x / 3.0)\n"
                        "        gl_FragColor = vec4(fract(iTime), iInput[0], iBarTime / 4.0, 1.0);\n"
                        "    else if (gl_FragCoord.x < iResolution.x * 2.0 / 3.0)\n"
                        "        gl_FragColor = vec4(iRow / 32.0, iBeat / 8.0, float(iFrame) / 4.0, 1.0);\n"
                        "    else\n"
                        "        gl_FragColor = vec4(iBpm / 300.0, iS + iVZ, iResolution.x / 160.0, 1.0);\n"
                        "}\n");
    dir.Write("demo.cvl", Script("LOAD shader 0\nA u.frag\nE 2\nS 25\nVZ 0.25\n"
                                 "BAR u\nMOUNT 0 0 0 4\nLENGTH 0 2\nEFFECT 0\nINPUT 0 0 36 500 0\n"));
    // Frames at 2.0, 2.125 and 2.25 s: the kick's envelope falls 1, 0.75, 0.5.
    const auto run = RunEngine("--capture out --fps 8 --start 2 --frames 3 demo.cvl", dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    for (int k = 0; k < 3; ++k) {
        const double time = 2.0 + k * 0.125, row = time * 10;
        const std::string at = "frame " + std::to_string(k);
        const std::vector<int> left = Pixel(dir, k, 10, 30), right = Pixel(dir, k, 40, 30);
        ExpectNear(left[0], time - 2.0, at + " fract(iTime)");
        ExpectNear(left[1], 1.0 - k * 0.25, at + " iInput[0]");
        ExpectNear(left[2], (time - 0.4) / 4, at + " iBarTime");
        ExpectNear(right[0], row / 32, at + " iRow");
        ExpectNear(right[1], row / 4 / 8, at + " iBeat");
        ExpectNear(right[2], k / 4.0, at + " iFrame");
    }
    const std::vector<int> fields = Pixel(dir, 0, 70, 30);
    ExpectNear(fields[0], 0.5, "iBpm");
    ExpectNear(fields[1], 0.5, "iS + iVZ");
    ExpectNear(fields[2], 0.5, "iResolution");
}

TEST(ShaderEffect, FeedbackPostAndWebFormDrawAlikeEveryRun) {
    testutil::TempDir dir;
    WriteTracker(dir);
    // Slot 0 paints red; the post pass (slot 1) sees it through iChannel3 and
    // moves red to blue; the feedback pass (slot 2) adds 1/8 of green a frame
    // to what the last frame ended with, at the left edge only.
    dir.Write("post.frag",
              "uniform sampler2D iChannel3; uniform vec3 iResolution;\n"
              "void main() { gl_FragColor = texture2D(iChannel3, gl_FragCoord.xy / iResolution.xy).gbra; }\n");
    dir.Write("trail.frag", "uniform sampler2D iChannel2; uniform vec3 iResolution;\n"
                            "void main() {\n"
                            "    if (gl_FragCoord.x > 10.0) discard;\n"
                            "    vec4 last = texture2D(iChannel2, gl_FragCoord.xy / iResolution.xy);\n"
                            "    gl_FragColor = vec4(0.0, last.g + 0.125, last.b, 1.0);\n"
                            "}\n");
    // Pasted unchanged from a web shader site, needing GLSL 1.30.
    dir.Write("web.frag", "void mainImage(out vec4 fragColor, in vec2 fragCoord) {\n"
                          "    fragColor = vec4(texture(iChannel0, vec2(0.5)).r * 0.0 + fragCoord.x / iResolution.x,\n"
                          "                     iGlobalTime * 0.0 + 0.5, 0.0, iMouse.x + 1.0);\n"
                          "}\n");
    dir.Write("demo.cvl", Script("LOAD plaincolor 0\nE 255\nF 0\nG 0\n"
                                 "LOAD shader 1\nA post.frag\nE 2\nLOAD shader 2\nA trail.frag\nE 2\n"
                                 "LOAD shader 3\nA web.frag\nE 2\n"
                                 "BAR red\nMOUNT 0\nLENGTH 0 1\nEFFECT 0\nBAR post\nMOUNT 0\nLENGTH 0 1\nEFFECT 1\n"
                                 "BAR trail\nMOUNT 0\nLENGTH 0 1\nEFFECT 2\n"
                                 "BAR web\nMOUNT 0 1\nLENGTH 0 1\nEFFECT 3\n"));
    std::vector<std::string> hashes[2];
    for (auto& hash : hashes) {
        fs::remove_all(dir.File("out"));
        const auto run = RunEngine("--capture out --fps 10 --frames 4 --start 1.5 demo.cvl", dir.Path().string());
        ASSERT_EQ(run.ExitCode, 0) << run.Output;
        for (int k = 0; k < 4; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "out/frame_%06d.png", k);
            std::ifstream in(dir.File(name), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            hash.push_back(Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        }
    }
    EXPECT_EQ(hashes[0], hashes[1]) << "two captures differ";
    // Frames at 1.5 to 1.8 s: rows 15 to 18; the web bar starts at row 16.
    EXPECT_EQ(Pixel(dir, 0, 40, 30), (std::vector<int>{0, 0, 255, 255})); // post: red became blue
    // The first frame has no previous one: feedback reads black.
    ExpectNear(Pixel(dir, 0, 5, 30)[1], 0.125, "feedback");
    const std::vector<int> web = Pixel(dir, 1, 40, 30);
    ExpectNear(web[0], 40.5 / 80, "web fragCoord");
    ExpectNear(web[1], 0.5, "web constant");
}

TEST(ShaderEffect, FeedbackAccumulatesOverFrames) {
    testutil::TempDir dir;
    WriteTracker(dir);
    dir.Write("trail.frag", "uniform sampler2D iChannel2; uniform vec3 iResolution;\n"
                            "void main() {\n"
                            "    vec4 last = texture2D(iChannel2, gl_FragCoord.xy / iResolution.xy);\n"
                            "    gl_FragColor = vec4(0.0, last.g + 0.125, 0.0, 1.0);\n"
                            "}\n");
    dir.Write("demo.cvl", Script("LOAD shader 0\nA trail.frag\nE 2\nBAR trail\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\n"));
    const auto run = RunEngine("--capture out --fps 10 --frames 4 demo.cvl", dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    for (int k = 0; k < 4; ++k) ExpectNear(Pixel(dir, k, 40, 30)[1], 0.125 * (k + 1), "frame " + std::to_string(k));
}

TEST(ShaderEffect, ErrorsAtTheUsersLineInRunAndPreflight) {
    testutil::TempDir dir;
    WriteTracker(dir);
    dir.Write("lib/common.glsl", "float wave(float t) {\n    return sin(t);\n}\nfloat broken() { return nope; }\n");
    dir.Write("bad.frag", "uniform float iTime;\n#include \"lib/common.glsl\"\n"
                          "void main() { gl_FragColor = vec4(wave(iTime)); }\n");
    dir.Write("good.frag", "void main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }\n");
    dir.Write("demo.cvl", Script("LOAD shader 0\nA good.frag\nE 2\nLOAD shader 1\n\nA bad.frag\n"
                                 "BAR a\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\nBAR b\nMOUNT 0\nLENGTH 0 2\nEFFECT 1\n"));
    // The run reports once, plays on with the good shader, and exits 1.
    const auto run = RunEngine("--capture out --fps 10 --frames 2 demo.cvl", dir.Path().string());
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find("lib/common.glsl:4: error: "), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("(shader of the LOAD at demo.cvl:10)"), std::string::npos) << run.Output;
    EXPECT_EQ(Pixel(dir, 1, 40, 30)[0], 255);

    const auto check = RunEngine("--check demo.cvl", dir.Path().string());
    EXPECT_EQ(check.ExitCode, 1);
    EXPECT_NE(check.Output.find("lib/common.glsl:4: error: 'nope' : undeclared identifier (A at demo.cvl:12)"),
              std::string::npos)
        << check.Output;

    // The pre-flight warns of a newer GLSL than 1.20 and needs A.
    dir.Write("demo.cvl", Script("LOAD shader 0\nA new.frag\nLOAD shader 1\nBAR a\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\n"
                                 "BAR b\nMOUNT 0\nLENGTH 0 2\nEFFECT 1\n"));
    dir.Write("new.frag", "#version 130\nout vec4 color;\nvoid main() { color = vec4(1.0); }\n");
    const auto warned = RunEngine("--check demo.cvl", dir.Path().string());
    EXPECT_NE(warned.Output.find("new.frag: warning: needs GLSL 1.30 (it uses #version 130)"), std::string::npos)
        << warned.Output;
    EXPECT_NE(warned.Output.find("demo.cvl:9: error: Effect shader needs a file name in parameter A"),
              std::string::npos)
        << warned.Output;
}

} // namespace

namespace {

// Pixel x of row `fromBottom` of the first capture frame (the picture keeps
// its rows bottom first), as R, G, B.
std::vector<int> FramePixel(const testutil::TempDir& dir, int x, int fromBottom) {
    TPicture picture;
    std::string error;
    if (!ReadPNG(dir.File("out/frame_000000.png"), picture, error)) {
        ADD_FAILURE() << error;
        return {0, 0, 0};
    }
    const uint8_t* p = &picture.Pixels[picture.Offset(x, fromBottom)];
    return {p[0], p[1], p[2]};
}

} // namespace

// A production wider than 16:9 in the party video: the picture is 1920 x 720
// between black bars of 180 rows. Both dialects see gl_FragCoord from the
// picture's corner and iResolution as the picture's size.
TEST(ShaderEffect, FragCoordCountsFromTheLetterboxedPicture) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
    testutil::TempDir dir;
    WriteTracker(dir);
    dir.Write("y.frag", "uniform vec3 iResolution;\n"
                        "void main() { gl_FragColor = vec4(gl_FragCoord.y / iResolution.y, 0.0, 0.0, 1.0); }\n");
    dir.Write("web.frag", "void mainImage(out vec4 fragColor, in vec2 fragCoord) {\n"
                          "    fragColor = vec4(0.0, iResolution.y / 1440.0, fragCoord.y / iResolution.y, 0.0);\n}\n");
    dir.Write("demo.cvl", "RESOLUTIONX 160\nRESOLUTIONY 60\nINIT\nTRACKER beat.trk\nBPM 150\n"
                          "LOAD shader 0\nA y.frag\nE 2\nLOAD shader 1\nA web.frag\nE 1\n"
                          "BAR y\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\nBAR web\nMOUNT 0\nLENGTH 0 2\nEFFECT 1\n");
    const auto run =
        RunEngine("--capture out --video v.mp4 --video-profile party --frames 1 demo.cvl", dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_EQ(FramePixel(dir, 960, 100), (std::vector<int>{0, 0, 0})); // the bar below the picture
    for (int row : {0, 10, 360, 719}) {
        const std::vector<int> rgb = FramePixel(dir, 960, 180 + row);
        const std::string at = "picture row " + std::to_string(row);
        ExpectNear(rgb[0], (row + 0.5) / 720, at + ": gl_FragCoord.y / iResolution.y");
        ExpectNear(rgb[1], 0.5, at + ": iResolution.y");
        ExpectNear(rgb[2], (row + 0.5) / 720, at + ": fragCoord.y / iResolution.y");
    }
}

// A `uniform float` named as a named track reads the track's value at the
// frame's row (`cam:rot.y` as cam_rot_y); the pre-flight counts the tracks
// as read and warns of a uniform that is neither the engine's nor a track's.
TEST(ShaderEffect, NamedTracksReachTheirUniforms) {
    testutil::TempDir dir;
    WriteTracker(dir);
    dir.Write("demo.tracks", "track glow\n0:0 0 linear\n0:1 1\ntrack cam:rot.y\n0:0 0.25\ntrack iTime\n0:0 9\n");
    dir.Write("t.frag", "uniform float glow, cam_rot_y;\nuniform float iTime;\nuniform float spare = 0.5;\n"
                        "void main() { gl_FragColor = vec4(glow, cam_rot_y, fract(iTime) + spare * 0.0, 1.0); }\n");
    dir.Write("demo.cvl",
              "TRACKS demo.tracks\n" + Script("LOAD shader 0\nA t.frag\nE 2\nBAR t\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\n"));
    // Rows 4 and 12 (0.4 s, 1.2 s): glow rises linearly over rows 0 to 16.
    const auto run = RunEngine("--capture out --fps 5 --start 0.4 --frames 5 demo.cvl", dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    for (int k : {0, 4}) {
        const std::vector<int> rgb = Pixel(dir, k, 40, 30);
        const std::string at = "frame " + std::to_string(k);
        ExpectNear(rgb[0], (4 + 2 * k) / 16.0, at + ": glow");
        ExpectNear(rgb[1], 0.25, at + ": cam_rot_y");
        ExpectNear(rgb[2], k == 0 ? 0.4 : 0.2, at + ": iTime stays the engine's");
    }

    dir.Write("t.frag", "uniform float glow;\nuniform float cam_rot_y, glw;\nuniform float iTime;\n"
                        "void main() { gl_FragColor = vec4(glow, cam_rot_y, glw, iTime); }\n");
    const auto check = RunEngine("--check demo.cvl", dir.Path().string());
    EXPECT_NE(check.Output.find("t.frag:2: warning: uniform float glw is none of the engine's and no named "
                                "track's (TRACKS): it reads 0 (A at demo.cvl:9)"),
              std::string::npos)
        << check.Output;
    EXPECT_NE(check.Output.find("t.frag:3: warning: uniform float iTime is the engine's: the named track iTime "
                                "does not reach it"),
              std::string::npos)
        << check.Output;
    EXPECT_EQ(check.Output.find("named track glow"), std::string::npos) << check.Output;
    EXPECT_EQ(check.Output.find("named track cam:rot.y"), std::string::npos) << check.Output;
}
