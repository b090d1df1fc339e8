// Dev mode driven headless through its control channel, as an editor would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "assets/png.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"
#include "support/tone.h"

namespace {

namespace fs = std::filesystem;

// 80 x 60 window, 150 BPM (a row lasts 0.1 s). A red square drifts right at
// 20 units per second; a blue flash fades for 500 ms after the note at
// row 20 (2.0 s). Both depend on the time alone.
const char* const Script =
    "RESOLUTIONX 80\nRESOLUTIONY 60\nFULLSCREEN true\nINIT\nTRACKER beat.trk\nBPM 150\nCLEARCOLOR 0 0 0 255\n"
    "LOAD plaincolor 0\nE 255\nF 0\nG 0\nW 10\nH 10\nVX 20\n"
    "LOAD flash 1\nE 0\nF 0\nG 255\n"
    "BAR square\nMOUNT 0\nLENGTH 0 4\nEFFECT 0\n"
    "BAR flash\nMOUNT 0\nLENGTH 0 4\nEFFECT 1\nINPUT 0 0 36 500 0\n";

void WriteFolder(const testutil::TempDir& dir) {
    std::vector<uint8_t> notes(64, 0);
    notes[20] = 36;
    dir.Write("data/beat.trk", testutil::TrackerBytes(1, 64, notes));
    dir.Write("demo.cvl", "DATADIR data\n" + std::string(Script));
}

struct DevRun {
    int ExitCode = -1;
    std::vector<std::string> Answers; // stdout lines "ok ..." and "error: ..."
    std::string Output;
};

// Runs `corvala --dev ARGS` with stdin fed by the shell commands `feed`; its
// output goes to dev_output.txt, which the feed may watch (WaitAnswers).
DevRun RunDev(const std::string& feed, const std::string& args, const fs::path& folder) {
    const std::string command = "cd " + testutil::Quote(folder.string()) + " && (" + feed +
                                ") | SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null CI=true timeout 120 " +
                                testutil::Quote(CORVALA_BINARY) + " --dev " + args + " > dev_output.txt 2>&1";
    DevRun run;
    const int status = std::system(command.c_str());
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream file(folder / "dev_output.txt");
    run.Output.assign(std::istreambuf_iterator<char>(file), {});
    std::istringstream lines(run.Output);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("ok ", 0) == 0 || line.rfind("error: ", 0) == 0) run.Answers.push_back(line);
    return run;
}

std::string Send(const std::string& lines) { return "printf '" + lines + "'"; }

// Shell commands that wait (at most a minute) until `count` answers came,
// so that the time between commands is real time the engine ran through.
std::string WaitAnswers(int count) {
    return "for i in $(seq 1200); do [ \"$(grep -c -E '^(ok|error)' dev_output.txt 2>/dev/null)\" -ge " +
           std::to_string(count) + " ] && break; sleep 0.05; done";
}

// The demo time of an "ok TIME POSITION" answer.
double AnswerTime(const std::string& answer) {
    EXPECT_EQ(answer.rfind("ok ", 0), 0u) << answer;
    return std::atof(answer.c_str() + 3);
}

TPicture ReadFrame(const fs::path& file) {
    TPicture picture;
    std::string error;
    EXPECT_TRUE(ReadPNG(file.string(), picture, error)) << error;
    return picture;
}

// Largest difference of any colour component; 256 when the sizes differ.
int FrameDifference(const fs::path& a, const fs::path& b) {
    const TPicture pa = ReadFrame(a), pb = ReadFrame(b);
    if (pa.Width != pb.Width || pa.Height != pb.Height || pa.Channels != pb.Channels || pa.Pixels.empty()) return 256;
    int most = 0;
    for (size_t i = 0; i < pa.Pixels.size(); ++i) most = std::max(most, std::abs(pa.Pixels[i] - pb.Pixels[i]));
    return most;
}

void WriteTone(const std::string& path, int seconds) {
    ASSERT_TRUE(testutil::WriteToneWav(path, seconds, 6000)) << path;
}

} // namespace

TEST(DevMode, ShotAfterSeekIsTheCaptureFrameAtThatTime) {
    testutil::TempDir dir;
    WriteFolder(dir);
    // 2.2 s: the square at x 44, the flash at 60 % blue.
    const auto capture = testutil::RunEngine("--capture cap --fps 5 --frames 12 demo.cvl", dir.Path().string());
    ASSERT_EQ(capture.ExitCode, 0) << capture.Output;
    const fs::path expected = dir.Path() / "cap" / "frame_000011.png";

    const DevRun run = RunDev(Send("pause\\nseek 2.2\\nshot a.png\\nseek 0:1:1:2\\nshot b.png\\nseek 0.5\\n"
                                   "shot c.png\\nquit\\n"),
                              "demo.cvl", dir.Path());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    ASSERT_EQ(run.Answers.size(), 8u) << run.Output;
    EXPECT_EQ(run.Answers[1], "ok 2.2 0:1:1:2");
    EXPECT_EQ(run.Answers[2], "ok 2.2 0:1:1:2");
    EXPECT_NEAR(AnswerTime(run.Answers[3]), 2.2, 1e-5);
    EXPECT_EQ(FrameDifference(dir.Path() / "a.png", expected), 0);
    EXPECT_EQ(FrameDifference(dir.Path() / "b.png", expected), 0);
    // A different time gives a different picture (the comparison can fail).
    EXPECT_GT(FrameDifference(dir.Path() / "c.png", expected), 100);

    // --start does the same for a capture: its first frame shows 2.2 s.
    const auto started =
        testutil::RunEngine("--capture cap2 --start 0:1:1:2 --fps 5 --frames 1 demo.cvl", dir.Path().string());
    ASSERT_EQ(started.ExitCode, 0) << started.Output;
    EXPECT_EQ(FrameDifference(dir.Path() / "cap2" / "frame_000000.png", expected), 0);
    EXPECT_FALSE(fs::exists(dir.Path() / "cap2" / "frame_000001.png"));
}

TEST(DevMode, PauseHoldsTheTimeAndPlayRunsOn) {
    testutil::TempDir dir;
    WriteFolder(dir);
    const DevRun run =
        RunDev(Send("seek 1\\npause\\n") + "; " + WaitAnswers(2) + "; sleep 0.5; " + Send("pause\\nstep\\nplay\\n") +
                   "; " + WaitAnswers(5) + "; sleep 0.5; " + Send("pause\\nquit\\n"),
               "demo.cvl", dir.Path());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    ASSERT_EQ(run.Answers.size(), 7u) << run.Output;
    const double held = AnswerTime(run.Answers[1]);
    EXPECT_GE(held, 1.0);
    EXPECT_LT(held, 1.5);
    EXPECT_EQ(AnswerTime(run.Answers[2]), held);
    // A step moves one frame (1/60 s) and stays paused.
    EXPECT_NEAR(AnswerTime(run.Answers[3]), held + 1.0 / 60, 1e-4);
    const double resumed = AnswerTime(run.Answers[4]);
    EXPECT_NEAR(resumed, held + 1.0 / 60, 1e-4);
    const double later = AnswerTime(run.Answers[5]);
    EXPECT_GT(later, resumed + 0.3);
    EXPECT_LT(later, resumed + 3.0);
}

TEST(DevMode, ALoopWrapsAndTheMusicWrapsWithIt) {
    testutil::TempDir dir;
    // 240 BPM: a bar lasts 1 s; the music lasts 4 s.
    dir.Write("data/beat.trk", testutil::TrackerBytes(1, 64, std::vector<uint8_t>(64, 0)));
    WriteTone(dir.File("data/music.wav"), 4);
    dir.Write("demo.cvl", "DATADIR data\nRESOLUTIONX 64\nRESOLUTIONY 48\nINIT\nLOADMUSIC music.wav\n"
                          "TRACKER beat.trk\nBPM 240\nLOAD plaincolor 0\nBAR all\nMOUNT 0\nLENGTH 1\nEFFECT 0\n");
    std::string feed = Send("seek 1.6\\nloop 0:1 0:2\\n") + "; " + WaitAnswers(2);
    for (int i = 0; i < 16; ++i) feed += "; sleep 0.1; " + Send("play\\n") + "; " + WaitAnswers(3 + i);
    feed += "; " + Send("quit\\n");
    const DevRun run = RunDev(feed, "demo.cvl", dir.Path());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    ASSERT_EQ(run.Answers.size(), 19u) << run.Output;
    // While playing, the answers read the music's own heard position, which
    // right after a wrap may trail the loop's start by the output's latency
    // (a few tens of milliseconds on a loaded machine).
    int wraps = 0;
    double previous = AnswerTime(run.Answers[1]);
    for (size_t i = 2; i + 1 < run.Answers.size(); ++i) {
        const double time = AnswerTime(run.Answers[i]);
        EXPECT_GE(time, 0.95) << run.Answers[i];
        EXPECT_LT(time, 2.1) << run.Answers[i];
        if (time < previous) ++wraps;
        previous = time;
    }
    EXPECT_GE(wraps, 1) << run.Output;
}

TEST(DevMode, BadCommandsAnswerWithAnErrorAndPlayOn) {
    testutil::TempDir dir;
    WriteFolder(dir);
    const std::string longLine(5000, 'x');
    const DevRun run = RunDev(Send("seek nowhere\\nspeed 0\\nloop 2 1\\nloop 1\\nfly\\n" + longLine +
                                   "\\nshot /nonexistent/folder/x.png\\nspeed 0.5\\nloop 0:1 0:2\\nloop off\\nquit\\n"),
                              "demo.cvl", dir.Path());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    ASSERT_EQ(run.Answers.size(), 11u) << run.Output;
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(run.Answers[i].rfind("error: ", 0), 0u) << run.Answers[i];
    EXPECT_NE(run.Answers[0].find("nowhere"), std::string::npos);
    EXPECT_NE(run.Answers[4].find("fly"), std::string::npos);
    EXPECT_NE(run.Answers[6].find("/nonexistent/folder/x.png"), std::string::npos) << run.Answers[6];
    for (size_t i = 7; i < 11; ++i) EXPECT_EQ(run.Answers[i].rfind("ok ", 0), 0u) << run.Answers[i];
}

TEST(DevMode, CommandLinePositionsAreChecked) {
    testutil::TempDir dir;
    WriteFolder(dir);
    auto result = testutil::RunEngine("--start 1:x demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_NE(result.Output.find("--start: '1:x' is not a position"), std::string::npos) << result.Output;
    result = testutil::RunEngine("--loop 0:1 0:2 demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_NE(result.Output.find("--loop belongs to --dev"), std::string::npos) << result.Output;
    result = testutil::RunEngine("--dev --loop 0:1 demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 2) << result.Output;
    result = testutil::RunEngine("--dev --loop 0:2 0:1 demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 2) << result.Output;
    EXPECT_NE(result.Output.find("must lie after the start"), std::string::npos) << result.Output;
    // A normal run starting past the tracker's end ends at once, cleanly.
    result = testutil::RunEngine("--start 9:0 demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
}

namespace {

// An uncompressed 24-bit TGA of one colour.
std::vector<uint8_t> SolidTga(uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> bytes(18, 0);
    bytes[2] = 2;
    bytes[12] = bytes[14] = 8;
    bytes[16] = 24;
    for (int i = 0; i < 64; ++i) bytes.insert(bytes.end(), {b, g, r});
    return bytes;
}

// The centre pixel of a shot as 0xRRGGBB.
uint32_t CentreColour(const fs::path& file) {
    const TPicture picture = ReadFrame(file);
    if (picture.Pixels.empty()) return 0xDEADu;
    const size_t at =
        (size_t(picture.Height / 2) * size_t(picture.Width) + size_t(picture.Width / 2)) * size_t(picture.Channels);
    return uint32_t(picture.Pixels[at]) << 16 | uint32_t(picture.Pixels[at + 1]) << 8 | picture.Pixels[at + 2];
}

} // namespace

TEST(DevMode, ReloadShowsARewrittenPictureAndKeepsTheOldOneOnABrokenLine) {
    testutil::TempDir dir;
    dir.Write("data/beat.trk", testutil::TrackerBytes(1, 64, std::vector<uint8_t>(64, 0)));
    dir.Write("data/pic.tga", SolidTga(255, 0, 0));
    dir.Write("red.tga", SolidTga(255, 0, 0));
    dir.Write("blue.tga", SolidTga(0, 0, 255));
    const std::string good = "DATADIR data\nRESOLUTIONX 64\nRESOLUTIONY 48\nINIT\nTRACKER beat.trk\nBPM 150\n"
                             "LOAD plaintexture 0\nA pic.tga\nBAR all\nMOUNT 0\nLENGTH 0 4\nEFFECT 0\n";
    std::string broken = good;
    broken.insert(broken.find("BAR"), "X 1o0\n"); // line 9
    dir.Write("demo.cvl", good);
    dir.Write("good.cvl", good);
    dir.Write("broken.cvl", broken);

    const DevRun run =
        RunDev(Send("pause\\nshot a.png\\n") + "; " + WaitAnswers(2) + "; cp blue.tga data/pic.tga; " +
                   Send("reload\\nshot b.png\\n") + "; " + WaitAnswers(4) +
                   "; cp red.tga data/pic.tga; cp broken.cvl demo.cvl; " + Send("reload\\nshot c.png\\n") + "; " +
                   WaitAnswers(6) + "; cp good.cvl demo.cvl; " + Send("reload\\nshot d.png\\nquit\\n"),
               "demo.cvl", dir.Path());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    ASSERT_EQ(run.Answers.size(), 9u) << run.Output;
    EXPECT_EQ(CentreColour(dir.Path() / "a.png"), 0xFF0000u);
    EXPECT_EQ(run.Answers[2].rfind("ok ", 0), 0u) << run.Answers[2];
    EXPECT_EQ(CentreColour(dir.Path() / "b.png"), 0x0000FFu) << "the rewritten picture is not shown";
    EXPECT_EQ(run.Answers[4].rfind("error: demo.cvl:9: ", 0), 0u) << run.Answers[4];
    EXPECT_EQ(CentreColour(dir.Path() / "c.png"), 0x0000FFu) << "a broken script replaced the picture";
    EXPECT_EQ(run.Answers[6].rfind("ok ", 0), 0u) << run.Answers[6];
    EXPECT_EQ(CentreColour(dir.Path() / "d.png"), 0xFF0000u);
    // Paused stays paused through every reload.
    EXPECT_EQ(run.Answers[6], run.Answers[0]);
}

TEST(DevMode, EmptyLinesWarningsAndThePositionsPastTheEnd) {
    testutil::TempDir dir;
    WriteFolder(dir);
    dir.Write("demo.cvl", "DATADIR data\n" + std::string(Script) + "FROB 1\n"); // line 29
    const DevRun run = RunDev(Send("\\n   \\nwarnings\\nseek 99\\nstep\\nseek 2\\nquit\\n"), "demo.cvl", dir.Path());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    ASSERT_EQ(run.Answers.size(), 7u) << run.Output;
    EXPECT_EQ(run.Answers[0], "error: empty command");
    EXPECT_EQ(run.Answers[1], "error: empty command");
    EXPECT_EQ(run.Answers[2], "ok 1 warning: demo.cvl:29: warning: unknown command 'FROB'; the line is ignored");
    // 64 rows at 150 BPM: the production ends at 6.5 s, and so do a seek
    // and a step past it.
    EXPECT_EQ(run.Answers[3], "ok 6.5 1:0:0:1 end");
    EXPECT_EQ(run.Answers[4], "ok 6.5 1:0:0:1 end");
    EXPECT_EQ(run.Answers[5], "ok 2 0:1:1:0");
}

// Every line gets exactly one answer, also an empty one, one too long and
// one with a NUL byte (refused whole); a seek past the end answers with the
// end; `shot` refuses files it did not write; and with standard input closed
// the offscreen session ends by itself (no quit is sent).
TEST(DevMode, TheControlChannelAnswersEveryLineOnceAndRefusesWhatItMustNot) {
    testutil::TempDir dir;
    WriteFolder(dir);
    dir.Write("notes.txt", "keep me");
    const std::string script = dir.File("demo.cvl");
    const DevRun run = RunDev(Send("pause\\n\\nseek\\0 1\\n" + std::string(5000, 'x') +
                                   "\\nseek 99\\nseek 10000000:0\\nseek 0:1\\n"
                                   "shot demo.cvl\\nshot data/beat.trk\\nshot notes.txt\\nshot a.png\\nshot a.png\\n"),
                              "demo.cvl", dir.Path());
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    ASSERT_EQ(run.Answers.size(), 12u) << run.Output;
    EXPECT_EQ(run.Answers[1], "error: empty command");
    EXPECT_EQ(run.Answers[2], "error: the command holds a NUL byte; it was not run");
    EXPECT_EQ(run.Answers[3].rfind("error: command longer than", 0), 0u) << run.Answers[3];
    EXPECT_EQ(run.Answers[4], "ok 6.5 1:0:0:1 end");
    EXPECT_EQ(run.Answers[5], "error: '10000000:0' is past any demo's end");
    EXPECT_EQ(run.Answers[6], "ok 1.6 0:1:0:0");
    for (size_t i = 7; i < 10; ++i)
        EXPECT_EQ(run.Answers[i].rfind("error: refusing to write the shot", 0), 0u) << run.Answers[i];
    EXPECT_NE(run.Answers[7].find("which the production reads"), std::string::npos) << run.Answers[7];
    EXPECT_EQ(run.Answers[10].rfind("ok ", 0), 0u) << run.Answers[10];
    EXPECT_EQ(run.Answers[11].rfind("ok ", 0), 0u) << run.Answers[11]; // its own shot may be replaced
    EXPECT_EQ(std::ifstream(dir.File("notes.txt")).rdbuf() != nullptr, true);
    std::ifstream notes(dir.File("notes.txt"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(notes), {}), "keep me");
    EXPECT_EQ(fs::file_size(dir.File("data/beat.trk")), 72u);
}

// A shot on a full disk (a small tmpfs, where the test may mount one): the
// answer says why, and the earlier shot of this session stays byte for byte.
TEST(DevMode, AShotOnAFullDiskKeepsTheEarlierOneAndSaysWhy) {
    testutil::TempDir dir;
    WriteFolder(dir);
    const std::string disk = dir.File("disk");
    const testutil::SmallDisk small(disk);
    if (!small.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    const DevRun run = RunDev(Send("pause\nshot disk/a.png\n") + "; " + WaitAnswers(2) +
                                  "; cp disk/a.png before.png; head -c 70000 /dev/zero > disk/filler 2>/dev/null; " +
                                  Send("seek 2\nshot disk/a.png\nquit\n"),
                              "demo.cvl", dir.Path());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    ASSERT_EQ(run.Answers.size(), 5u) << run.Output;
    EXPECT_EQ(run.Answers[3], "error: cannot write " + disk + "/a.png: No space left on device");
    std::ifstream before(dir.File("before.png"), std::ios::binary), after(disk + "/a.png", std::ios::binary);
    const std::string beforeBytes(std::istreambuf_iterator<char>(before), {});
    EXPECT_FALSE(beforeBytes.empty());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), beforeBytes);
}

// The reader of the answers goes away: no death by SIGPIPE, a warning, and
// the session goes on until its input ends.
TEST(DevMode, AnswersNobodyReadsCloseTheChannelNotTheEngine) {
    testutil::TempDir dir;
    WriteFolder(dir);
    const std::string command = "cd " + testutil::Quote(dir.Path().string()) +
                                " && (printf 'pause\\n'; sleep 1; printf 'play\\nplay\\n'; sleep 0.5) | "
                                "(SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null CI=true timeout 60 " +
                                testutil::Quote(CORVALA_BINARY) +
                                " --dev demo.cvl 2>stderr.txt; echo $? > status.txt) | head -1 > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream status(dir.File("status.txt")), errors(dir.File("stderr.txt"));
    int code = -1;
    status >> code;
    EXPECT_EQ(code, 0);
    const std::string text(std::istreambuf_iterator<char>(errors), {});
    EXPECT_NE(text.find("answers are no longer read; the channel is closed"), std::string::npos) << text;
}

// A shader and the file it includes are watched: a save that does not
// compile keeps the last good shader drawing and is refused at its own line
// (the shader's, or the included file's), by `reload` and by the watch.
TEST(DevMode, ABrokenShaderSaveKeepsTheLastGoodPicture) {
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 64, std::vector<uint8_t>(64, 0)));
    dir.Write("demo.cvl", "RESOLUTIONX 64\nRESOLUTIONY 48\nINIT\nTRACKER beat.trk\nBPM 150\n"
                          "LOAD shader 0\nA s.frag\nE 2\nBAR all\nMOUNT 0\nLENGTH 0 4\nEFFECT 0\n");
    const std::string shader = "#include \"lib.glsl\"\nvoid main() { gl_FragColor = colour(); }\n";
    dir.Write("s.frag", shader);
    dir.Write("good.frag", shader);
    dir.Write("broken.frag", "#include \"lib.glsl\"\n\nvoid main() { gl_FragColor = colour() * nope; }\n");
    dir.Write("lib.glsl", "vec4 colour() {\n    return vec4(1.0, 0.0, 0.0, 1.0);\n}\n");
    dir.Write("brokenlib.glsl", "vec4 colour() {\n    return vec4(0.0, 0.0, 1.0, 1.0) * undeclaredThing;\n}\n");
    dir.Write("bluelib.glsl", "vec4 colour() {\n    return vec4(0.0, 0.0, 1.0, 1.0);\n}\n");
    const std::string refusedByWatch =
        "for i in $(seq 1200); do grep -q 'reload refused: lib.glsl:2: ' dev_output.txt && break; sleep 0.05; done";

    const DevRun run = RunDev(Send("pause\\nshot a.png\\n") + "; " + WaitAnswers(2) + "; cp broken.frag s.frag; " +
                                  Send("reload\\nshot b.png\\n") + "; " + WaitAnswers(4) +
                                  "; cp good.frag s.frag; cp brokenlib.glsl lib.glsl; " + refusedByWatch + "; " +
                                  Send("shot c.png\\n") + "; " + WaitAnswers(5) + "; cp bluelib.glsl lib.glsl; " +
                                  Send("reload\\nshot d.png\\nquit\\n"),
                              "demo.cvl", dir.Path());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    ASSERT_EQ(run.Answers.size(), 8u) << run.Output;
    EXPECT_EQ(CentreColour(dir.Path() / "a.png"), 0xFF0000u);
    EXPECT_EQ(run.Answers[2].rfind("error: s.frag:3: ", 0), 0u) << run.Answers[2];
    EXPECT_NE(run.Answers[2].find("nope"), std::string::npos) << run.Answers[2];
    EXPECT_EQ(CentreColour(dir.Path() / "b.png"), 0xFF0000u) << "a broken shader replaced the last good one";
    EXPECT_NE(run.Output.find("reload refused: lib.glsl:2: "), std::string::npos) << run.Output;
    EXPECT_EQ(CentreColour(dir.Path() / "c.png"), 0xFF0000u) << "a broken include replaced the last good shader";
    EXPECT_EQ(run.Answers[5].rfind("ok ", 0), 0u) << run.Answers[5];
    EXPECT_EQ(CentreColour(dir.Path() / "d.png"), 0x0000FFu) << "the repaired include is not shown";
}
