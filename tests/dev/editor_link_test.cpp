// The editor link against a fake sync-tracker editor in the test, speaking
// the protocol byte for byte: greeting, track requests in order, keys, row,
// pause, save, a malformed message, and an editor that goes away mid-message.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "app/dev.h"
#include "app/dev_tracks.h"
#include "app/editor_link.h"
#include "support/temp_dir.h"

namespace {

const bool offscreen = setenv("SDL_VIDEODRIVER", "offscreen", 0) == 0;

// The editor's side: a listening socket on a free port and the link the demo
// opens to it.
class FakeEditor {
public:
    FakeEditor() {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 4);
        socklen_t size = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        Port = ntohs(address.sin_port);
    }
    ~FakeEditor() {
        Hang();
        ::close(listener);
    }
    // Runs demo frames until the demo connects (at most `seconds`).
    bool Accept(TDevSession& session, double seconds) {
        for (auto until = Clock::now() + std::chrono::duration<double>(seconds); Clock::now() < until;) {
            session.Frame();
            pollfd descriptor{listener, POLLIN, 0};
            if (::poll(&descriptor, 1, 0) > 0) {
                link = ::accept(listener, nullptr, nullptr);
                return link >= 0;
            }
        }
        return false;
    }
    // Runs demo frames until `count` bytes came from the demo.
    std::string Read(TDevSession& session, size_t count) {
        std::string bytes;
        for (auto until = Clock::now() + std::chrono::seconds(5); bytes.size() < count && Clock::now() < until;) {
            session.Frame();
            char buffer[256];
            pollfd descriptor{link, POLLIN, 0};
            if (::poll(&descriptor, 1, 0) <= 0) continue;
            const ssize_t got = ::recv(link, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
            if (got <= 0) break;
            bytes.append(buffer, size_t(got));
        }
        return bytes;
    }
    // True when the demo closed its end (run frames meanwhile).
    bool ClosedByDemo(TDevSession& session) {
        for (int i = 0; i < 100; ++i) {
            session.Frame();
            char buffer[256];
            const ssize_t got = ::recv(link, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0) return true;
        }
        return false;
    }
    // What the demo sent so far, without waiting.
    std::string Drain() {
        std::string bytes;
        char buffer[256];
        for (ssize_t got; (got = ::recv(link, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            bytes.append(buffer, size_t(got));
        return bytes;
    }
    void Send(const std::string& bytes) { ::send(link, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void Hang() {
        if (link >= 0) ::close(link);
        link = -1;
    }
    uint16_t Port = 0;

private:
    using Clock = std::chrono::steady_clock;
    int listener = -1;
    int link = -1;
};

std::string U32(uint32_t value) { return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)}; }

std::string SetKey(uint32_t track, uint32_t row, float value, uint8_t type) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    return std::string(1, '\0') + U32(track) + U32(row) + U32(bits) + std::string(1, char(type));
}

std::string Command(TDevSession& session, const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) words.push_back(word);
    std::string answer;
    ExecuteTracksCommand(session.Demo(), words, answer);
    return answer;
}

void RunFrames(TDevSession& session, int count) {
    for (int i = 0; i < count; ++i) session.Frame();
}

} // namespace

TEST(EditorLink, AddressesAreCheckedOnTheCommandLine) {
    std::string host, error;
    uint16_t port = 0;
    EXPECT_TRUE(ParseEditorAddress("1338", host, port, error));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_TRUE(ParseEditorAddress("studio.local:2000", host, port, error));
    EXPECT_EQ(host + ":" + std::to_string(port), "studio.local:2000");
    for (const char* bad : {"", "0", "65536", "host:", ":1338", "host:port"})
        EXPECT_FALSE(ParseEditorAddress(bad, host, port, error)) << bad;
}

TEST(EditorLink, SpeaksTheEditorsProtocol) {
    (void)offscreen;
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 256, std::vector<uint8_t>(256, 0)));
    dir.Write("demo.cvl", "RESOLUTIONX 32\nRESOLUTIONY 24\nINIT\nTRACKER beat.trk\nBPM 150\nTRACKS demo.tracks\n"
                          "LOAD plaincolor 0\nBAR all\nMOUNT 0\nLENGTH 4\nEFFECT 0\n");
    const std::string file = dir.Write("demo.tracks", "track 0.X\n0:0 10\ntrack glow\n0:0 1\ntrack empty\n");
    testutil::ScopedCwd cwd(dir.Path());
    FakeEditor editor;
    TDevOptions options;
    options.Script = "demo.cvl";
    options.ScriptFolder = options.LaunchFolder = dir.Path().string();
    options.ControlChannel = false;
    options.EditorHost = "127.0.0.1";
    options.EditorPort = editor.Port;
    TDevSession session(options);
    ASSERT_TRUE(session.Started());

    testing::internal::CaptureStderr();
    ASSERT_TRUE(editor.Accept(session, 5));
    EXPECT_EQ(editor.Read(session, 19), "hello, synctracker!");
    editor.Send("hello, demo!");
    // Every track is asked for, in the file's order.
    EXPECT_EQ(editor.Read(session, 27),
              std::string("\2") + U32(3) + "0.X" + "\2" + U32(4) + "glow" + "\2" + U32(5) + "empty");
    // The keys are the editor's now: none until it sends some. One arrives
    // split across two reads.
    EXPECT_EQ(Command(session, "value glow"), "ok 0");
    const std::string key = SetKey(1, 0, 2.5f, 1) + SetKey(1, 64, 4.5f, 0);
    editor.Send(key.substr(0, 5));
    RunFrames(session, 2);
    editor.Send(key.substr(5));
    RunFrames(session, 75); // past the wait for keys
    EXPECT_EQ(Command(session, "keys glow"), "ok 2 keys: 0:0:0:0 2.5 linear; 1:0:0:0 4.5 step");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("the editor sent no keys for 1 track the tracks file has keys for (0.X)"), std::string::npos)
        << said;

    // Its row seeks, its pause pauses; our row goes to it while we play.
    editor.Send("\4\1" + std::string("\3") + U32(32));
    RunFrames(session, 2);
    EXPECT_TRUE(session.Paused());
    EXPECT_EQ(session.Demo().CurrentRow, 32);
    EXPECT_EQ(Command(session, "value glow"), "ok 3.5");
    const std::string played = editor.Drain(); // rows sent while it played
    ASSERT_GE(played.size(), 5u);
    EXPECT_EQ(played.size() % 5, 0u);
    EXPECT_EQ(played[0], '\3');
    RunFrames(session, 10);
    EXPECT_EQ(editor.Drain(), "") << "no rows while paused";
    editor.Send(std::string("\4\0", 2));
    const std::string row = editor.Read(session, 5);
    ASSERT_EQ(row.size(), 5u);
    EXPECT_EQ(row[0], '\3');
    EXPECT_GE(uint8_t(row[4]), 33) << "the row after the editor's";
    EXPECT_LT(uint8_t(row[4]), 48);
    EXPECT_FALSE(session.Paused());

    // Its save writes our tracks file.
    editor.Send(std::string("\1") + U32(1) + U32(64) + "\5");
    RunFrames(session, 2);
    std::string saved, error;
    ASSERT_TRUE(ReadTracksFile(file, saved, error));
    EXPECT_NE(saved.find("track glow\n0:0:0:0     2.5           linear\n\ntrack empty"), std::string::npos) << saved;

    // A malformed message closes the link; the demo plays on and comes back.
    testing::internal::CaptureStderr();
    editor.Send(SetKey(7, 0, 1, 0));
    EXPECT_TRUE(editor.ClosedByDemo(session));
    editor.Hang();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("protocol error: track index 7 past the 3 tracks"),
              std::string::npos);
    EXPECT_FALSE(session.Finished());
    ASSERT_TRUE(editor.Accept(session, 5));
    EXPECT_EQ(editor.Read(session, 19), "hello, synctracker!");
    editor.Send("hello, demo!" + SetKey(1, 0, 9, 0).substr(0, 6));
    editor.Read(session, 27);
    // The editor goes away in the middle of a message.
    editor.Hang();
    RunFrames(session, 10);
    EXPECT_FALSE(session.Finished());
    EXPECT_EQ(Command(session, "value glow"), "ok 0");
}
