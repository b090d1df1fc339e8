// Compo mode on a real X server (Xvfb at 1280x720): black until the key, the
// 4:3 picture centred with black bars after Space, every effect warmed up
// before the show, and Escape, Q and Alt-F4 ending it at once with code 0.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int ScreenWidth = 1280, ScreenHeight = 720;

bool OnPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int outFd) {
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outFd, STDERR_FILENO);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits up to `limit` for the process; its exit code, or -1 when it is
// still running (then killed) or did not exit normally.
int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < end) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// An Xvfb server for the test, and a client connection to it that takes
// screenshots and types keys through the XTEST extension.
class TXServer {
public:
    TXServer() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen", "0",
                     std::to_string(ScreenWidth) + "x" + std::to_string(ScreenHeight) + "x24"},
                    {"PATH=/usr/bin:/bin"}, -1);
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return;
        Name = ":" + number;
        display = XOpenDisplay(Name.c_str());
        void* xtest = dlopen("libXtst.so.6", RTLD_NOW);
        if (xtest) fakeKey = reinterpret_cast<FakeKey>(dlsym(xtest, "XTestFakeKeyEvent"));
    }
    ~TXServer() {
        if (display) XCloseDisplay(display);
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    bool Ready() const { return display && fakeKey; }

    // The screen as RGB bytes, top row first.
    std::vector<uint8_t> Screenshot() {
        std::vector<uint8_t> rgb(size_t(ScreenWidth) * ScreenHeight * 3);
        XImage* image =
            XGetImage(display, DefaultRootWindow(display), 0, 0, ScreenWidth, ScreenHeight, AllPlanes, ZPixmap);
        if (!image) return {};
        for (int y = 0; y < ScreenHeight; ++y)
            for (int x = 0; x < ScreenWidth; ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                uint8_t* out = &rgb[(size_t(y) * ScreenWidth + size_t(x)) * 3];
                out[0] = uint8_t(p >> 16);
                out[1] = uint8_t(p >> 8);
                out[2] = uint8_t(p);
            }
        XDestroyImage(image);
        return rgb;
    }

    // Presses the keys in order and releases them in reverse.
    void Keys(const std::vector<KeySym>& keys) {
        for (KeySym key : keys) fakeKey(display, XKeysymToKeycode(display, key), True, 0);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key)
            fakeKey(display, XKeysymToKeycode(display, *key), False, 0);
        XFlush(display);
    }

    std::string Name;

private:
    using FakeKey = int (*)(Display*, unsigned int, Bool, unsigned long);
    pid_t pid = -1;
    Display* display = nullptr;
    FakeKey fakeKey = nullptr;
};

const uint8_t* Pixel(const std::vector<uint8_t>& rgb, int x, int y) {
    return &rgb[(size_t(y) * ScreenWidth + size_t(x)) * 3];
}

bool IsBlack(const uint8_t* p) { return p[0] < 8 && p[1] < 8 && p[2] < 8; }

// An 800x600 production: red for the first bar, green after it, on a blue
// clear colour that must never show outside the picture.
struct TCompoRun {
    explicit TCompoRun(const std::string& option = "") {
        dir.Write("beat.trk", testutil::TrackerBytes(2, 640, std::vector<uint8_t>(1280, 0)));
        dir.Write("demo.cvl", "RESOLUTIONX 800\nRESOLUTIONY 600\nCLEARCOLOR 0 0 255 255\nINIT\nDRAWLOADING\n"
                              "TRACKER beat.trk\nBPM 125\n"
                              "LOAD plaincolor 0\nE 255\nF 0\nG 0\nLOAD plaincolor 1\nE 0\nF 255\nG 0\n"
                              "BAR\nMOUNT 0\nLENGTH 0 0 0 16\nEFFECT 0\nBAR\nMOUNT 0 1\nLENGTH 9\nEFFECT 1\n");
        log = dir.File("log.txt");
        extra = option;
    }
    bool Start(const std::string& display) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> argv = {CORVALA_BINARY, "--compo"};
        if (!extra.empty()) argv.push_back(extra), argv.push_back("0");
        argv.push_back(dir.File("demo.cvl"));
        pid = Spawn(argv,
                    {"DISPLAY=" + display, "ALSOFT_DRIVERS=null", "CORVALA_COMPO_TRACE=1", "PATH=/usr/bin:/bin",
                     "HOME=" + dir.Path().string()},
                    out);
        close(out);
        return pid > 0;
    }
    std::string Log() const {
        std::ifstream file(log);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    bool WaitFor(const std::string& line) const {
        const auto end = Clock::now() + std::chrono::seconds(60);
        while (Clock::now() < end) {
            if (Log().find(line) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    testutil::TempDir dir;
    std::string log, extra;
    pid_t pid = -1;
};

} // namespace

TEST(Compo, BlackUntilSpaceThenLetterboxedShowEscapeEndsAtOnce) {
    if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
    TXServer server;
    if (!server.Ready()) GTEST_SKIP() << "no Xvfb display or no XTEST";
    TCompoRun run;
    ASSERT_TRUE(run.Start(server.Name));
    ASSERT_TRUE(run.WaitFor("compo: ready")) << run.Log();
    EXPECT_NE(run.Log().find("compo: warm-up drew 2 effects"), std::string::npos) << run.Log();

    // Black, whole screen, until the key: no loading picture, no clear colour.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<uint8_t> shot = server.Screenshot();
    ASSERT_FALSE(shot.empty());
    int lit = 0;
    for (size_t i = 0; i < shot.size(); i += 3) lit += IsBlack(&shot[i]) ? 0 : 1;
    EXPECT_EQ(lit, 0);

    server.Keys({XK_space});
    ASSERT_TRUE(run.WaitFor("compo: first frame")) << run.Log();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    shot = server.Screenshot();
    // 800x600 on 1280x720: a 960x720 picture from x = 160 to 1119.
    if (const char* keep = std::getenv("COMPO_SHOT")) {
        std::ofstream ppm(keep, std::ios::binary);
        ppm << "P6\n" << ScreenWidth << " " << ScreenHeight << "\n255\n";
        ppm.write(reinterpret_cast<const char*>(shot.data()), std::streamsize(shot.size()));
    }
    const uint8_t* centre = Pixel(shot, 640, 360);
    EXPECT_GT(centre[0], 200);
    EXPECT_LT(centre[2], 50);
    for (int x : {0, 80, 158, 1121, 1279}) EXPECT_TRUE(IsBlack(Pixel(shot, x, 360))) << "x " << x;
    for (int x : {161, 1118}) EXPECT_FALSE(IsBlack(Pixel(shot, x, 360))) << "x " << x;
    EXPECT_FALSE(IsBlack(Pixel(shot, 640, 1)));
    EXPECT_FALSE(IsBlack(Pixel(shot, 640, 718)));

    // Past the first bar the second effect shows; the warm-up drew it.
    ASSERT_TRUE(run.WaitFor("compo: first frame"));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    shot = server.Screenshot();
    EXPECT_GT(Pixel(shot, 640, 360)[1], 200);

    const auto pressed = Clock::now();
    server.Keys({XK_Escape});
    EXPECT_EQ(WaitExit(run.pid, std::chrono::seconds(5)), 0) << run.Log();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed);
    // The target is 100 ms (a frame and the exit); the bound leaves room for
    // a loaded test machine.
    EXPECT_LT(took.count(), 1000);
    std::printf("Escape to exit: %lld ms\n", static_cast<long long>(took.count()));
    EXPECT_NE(run.Log().find(", 0 first draws on stage"), std::string::npos) << run.Log();
}

TEST(Compo, QAndAltF4EndItAutostartStartsByItself) {
    if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
    TXServer server;
    if (!server.Ready()) GTEST_SKIP() << "no Xvfb display or no XTEST";
    {
        TCompoRun waiting;
        ASSERT_TRUE(waiting.Start(server.Name));
        ASSERT_TRUE(waiting.WaitFor("compo: ready")) << waiting.Log();
        server.Keys({XK_q});
        EXPECT_EQ(WaitExit(waiting.pid, std::chrono::seconds(5)), 0) << waiting.Log();
        EXPECT_EQ(waiting.Log().find("compo: first frame"), std::string::npos);
    }
    TCompoRun started("--autostart");
    ASSERT_TRUE(started.Start(server.Name));
    ASSERT_TRUE(started.WaitFor("compo: first frame")) << started.Log();
    server.Keys({XK_Alt_L, XK_F4});
    EXPECT_EQ(WaitExit(started.pid, std::chrono::seconds(5)), 0) << started.Log();
}
