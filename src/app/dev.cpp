#include "app/dev.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "app/dev_tracks.h"
#include "app/editor_link.h"
#include "assets/png.h"
#include "base/output.h"
#include "base/report.h"
#include "media/keyboard.h"
#include "media/sound.h"
#include "render/gl.h"
#include "render/overlay.h"
#include "render/window.h"

namespace {

namespace fs = std::filesystem;

double SteadySeconds() {
    using Clock = std::chrono::steady_clock;
    static const Clock::time_point origin = Clock::now();
    return std::chrono::duration<double>(Clock::now() - origin).count();
}

// Control lines run in one frame: until this much time is spent (at least
// one line), at most this many; the rest wait for the next frames.
constexpr double CommandSecondsPerFrame = 0.004;
constexpr int MaxCommandsPerFrame = 4096;
// Positions past this are past any demo's end (as --start refuses seconds).
constexpr float MaxPositionSeconds = 1e7f;
// Frames are paced to at most this many per second: the offscreen driver
// does not wait for a display, and a paused demo needs no more.
constexpr double OffscreenFrameSeconds = 1.0 / 60;
constexpr double DisplayFrameSeconds = 1.0 / 240;
// PageUp from within a bar's first beat goes to the bar before it.
constexpr int32_t PageUpSlackRows = 4;

bool OffscreenVideo() {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    return driver && (std::string(driver) == "offscreen" || std::string(driver) == "dummy");
}

// The shortest decimal that reads back as `value`, without an exponent
// ("0.000022675737", not "2.2675737e-05"), so that an answered time can be
// typed or sent back as it is.
std::string FloatText(float value) {
    char text[80];
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    if (result.ec != std::errc()) result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    std::string word;
    while (stream >> word) words.push_back(word);
    return words;
}

// The back buffer without its alpha channel, as the viewer saw it.
bool WriteBackBuffer(const std::string& file, std::string& error) {
    TPicture frame;
    std::vector<uint8_t> rgba;
    if (!ReadBackBuffer(rgba, frame.Width, frame.Height)) {
        error = "no picture to save: the window is not open";
        return false;
    }
    frame.Channels = 3;
    frame.Pixels.resize(size_t(frame.Width) * size_t(frame.Height) * 3);
    for (size_t i = 0, j = 0; j < frame.Pixels.size(); i += 4, j += 3) {
        frame.Pixels[j] = rgba[i];
        frame.Pixels[j + 1] = rgba[i + 1];
        frame.Pixels[j + 2] = rgba[i + 2];
    }
    return WritePNG(file, frame, error);
}

// The demo's music channel, as the transport drives it.
class TChannelMusic final : public TDevMusic {
public:
    explicit TChannelMusic(uint32_t musicChannel) : channel(musicChannel) {}
    float Seconds() override { return ChannelSeconds(channel); }
    void Seek(float seconds) override { SetChannelSeconds(channel, seconds); }
    void Pause(bool paused) override { SetChannelPaused(channel, paused); }
    void SetSpeed(float factor) override { SetChannelSpeed(channel, factor); }

private:
    uint32_t channel;
};

// Where the production ends: the end time, the music's end or the row after
// the tracker's last, whichever comes first.
float ProductionEnd(const TCDemo& d) {
    float end = d.Tracker->RowTime(d.Tracker->RowCount() + 1);
    if (d.EndTime > 0) end = std::min(end, d.EndTime);
    if (d.MusicLoaded) end = std::min(end, float(SampleSeconds(d.MusicSample)));
    return end;
}

} // namespace

TDevSession::TDevSession(const TDevOptions& devOptions) : options(devOptions) {
    TDemoOptions demoOptions;
    demoOptions.Windowed = true;
    demoOptions.Start = options.Start;
    reloader = std::make_unique<TDevReloader>(options.Script, demoOptions);
    started = !DemoQuit;
    if (!started) return;
    Attach(Demo(), Demo().StartTime);
    if (options.Loop) {
        const TDemoTracker& tracker = *Demo().Tracker;
        if (!SetLoop(PositionSeconds(options.Loop->first, tracker), PositionSeconds(options.Loop->second, tracker)))
            ReportWarning("--loop: the end lies before the start at this tempo; playing without a loop");
    }
    if (options.ControlChannel && !isatty(STDIN_FILENO))
        channel = std::make_unique<TControlChannel>(STDIN_FILENO, STDOUT_FILENO);
    if (options.EditorPort != 0) editor = std::make_unique<TEditorLink>(options.EditorHost, options.EditorPort);
    SetBeforeSwapHook([this] { BeforeSwap(); });
}

TDevSession::~TDevSession() { SetBeforeSwapHook(nullptr); }

TCDemo& TDevSession::Demo() { return reloader->Demo(); }

int TDevSession::ExitCode() { return reloader ? reloader->Demo().ExitCode() : 1; }

bool TDevSession::Reload(std::string& error) {
    const float before = transport.Now();
    const TTracks tracksBefore = Demo().Tracks;
    if (!reloader->Reload()) {
        error = reloader->Error();
        if (const TReport* cause = reloader->RefusalCause()) error = ReportPlacedText(*cause) + ", and then " + error;
        // The HUD wraps it; the whole text is here too.
        std::fprintf(stderr, "reload refused: %s\n", error.c_str());
        std::fflush(stderr);
        return false;
    }
    CarryTracks(tracksBefore, Demo().Tracks);
    reloadedUntil = SteadySeconds() + 1;
    // Music taken over plays on from where it is; music loaded anew starts
    // at the time shown before the reload.
    TCDemo& d = Demo();
    Attach(d, !transport.Paused() && d.MusicLoaded ? ChannelSeconds(d.MusicChannel) : before);
    return true;
}

void TDevSession::Attach(TCDemo& target, float now) {
    attached = &target;
    target.TimeHook = [this](float& demoTime, float& frameDelta) { transport.AdjustTime(demoTime, frameDelta); };
    transport.Attach(now, target.Speed, ProductionEnd(target),
                     target.MusicLoaded ? std::make_unique<TChannelMusic>(target.MusicChannel) : nullptr);
}

double TDevSession::SteadyNow() { return SteadySeconds(); }

bool TDevSession::AtEnd() { return transport.AtEnd(Demo().DemoTime); }

bool TDevSession::SetLoop(float from, float to) {
    if (!transport.SetLoop(from, to)) return false;
    loopMarked = false;
    return true;
}

std::string TDevSession::TimeText(float seconds) {
    const TCDemo& d = Demo();
    const int32_t row = d.Tracker ? d.Tracker->RowAt(seconds) : 0;
    return FloatText(seconds) + " " + RowPositionText(row);
}

void TDevSession::Answer(const std::string& text) {
    if (channel && !channel->Answer(text))
        ReportWarning("the control channel's answers are no longer read; the channel is closed");
}

void TDevSession::RunCommands() {
    // A flood of lines is spread over frames: each frame runs a bounded
    // number, and the channel reads on only once its lines are taken.
    TControlChannel::TLine line;
    const double until = SteadySeconds() + CommandSecondsPerFrame;
    for (int n = 0; n < MaxCommandsPerFrame && channel && !answerAfterFrame && !finished; ++n) {
        if (n > 0 && SteadySeconds() > until) break;
        if (!channel->Next(line)) break;
        if (!line.Refusal.empty())
            Answer("error: " + line.Refusal);
        else
            answerAfterFrame = !Execute(line.Text);
    }
    // With no display nothing but the channel reaches dev mode: once it is
    // closed (and a command's answer given) dev mode ends.
    if (channel && channel->Closed() && !answerAfterFrame && OffscreenVideo()) finished = true;
}

bool TDevSession::Execute(const std::string& line) {
    const std::vector<std::string> words = Words(line);
    if (words.empty()) {
        // Every line gets its answer, so that answers and lines stay paired.
        Answer("error: empty command");
        return true;
    }
    const std::string& name = words[0];
    TCDemo& d = Demo();
    auto position = [&](const std::string& text, float& seconds) {
        TDemoPosition parsed;
        std::string error;
        if (!ParseDemoPosition(text, parsed, error)) {
            Answer("error: " + error);
            return false;
        }
        seconds = PositionSeconds(parsed, *d.Tracker);
        // A row past any demo's end is refused as such seconds are.
        if (!(seconds <= MaxPositionSeconds)) {
            Answer("error: '" + text + "' is past any demo's end");
            return false;
        }
        return true;
    };
    auto arguments = [&](size_t count, const char* usage) {
        if (words.size() == count + 1) return true;
        Answer(std::string("error: usage: ") + usage);
        return false;
    };
    float seconds = 0;
    if (name == "seek") {
        if (!arguments(1, "seek POSITION") || !position(words[1], seconds)) return true;
        Seek(seconds);
        // Past the end it stops at the end, and says so.
        Answer("ok " + TimeText(std::min(seconds, EndSeconds())) + (seconds >= EndSeconds() ? " end" : ""));
    } else if (name == "pause") {
        if (!arguments(0, "pause")) return true;
        SetPaused(true);
        Answer("ok " + TimeText(Now()));
    } else if (name == "play") {
        if (!arguments(0, "play")) return true;
        SetPaused(false);
        Answer("ok " + TimeText(Now()));
    } else if (name == "step") {
        if (!arguments(0, "step")) return true;
        transport.Step();
        return false; // answered after the frame
    } else if (name == "speed") {
        if (!arguments(1, "speed F")) return true;
        char* end = nullptr;
        const double factor = std::strtod(words[1].c_str(), &end);
        if (!end || *end != '\0' || !(factor >= 0.05 && factor <= 4)) {
            Answer("error: speed needs a factor from 0.05 to 4, not '" + words[1] + "'");
            return true;
        }
        SetSpeed(float(factor));
        Answer("ok " + TimeText(Now()));
    } else if (name == "loop") {
        if (words.size() == 2 && words[1] == "off") {
            ClearLoop();
            loopMarked = false;
            Answer("ok " + TimeText(Now()));
            return true;
        }
        if (!arguments(2, "loop FROM TO | loop off")) return true;
        float to = 0;
        if (!position(words[1], seconds) || !position(words[2], to)) return true;
        if (!SetLoop(seconds, to)) {
            Answer("error: the loop's end " + words[2] + " must lie after its start " + words[1]);
            return true;
        }
        Answer("ok " + TimeText(Now()));
    } else if (name == "reload") {
        if (!arguments(0, "reload")) return true;
        std::string error;
        if (!Reload(error)) {
            Answer("error: " + error);
            return true;
        }
        Answer("ok " + TimeText(Now()));
    } else if (name == "warnings") {
        if (!arguments(0, "warnings")) return true;
        std::string list;
        int count = 0;
        for (const TReport& report : reloader->Reports()) {
            if (report.Kind != TReportKind::Warning) continue;
            list += (count++ ? " | " : ": ") + ReportLineText(report);
        }
        Answer("ok " + std::to_string(count) + (count == 1 ? " warning" : " warnings") + list);
    } else if (name == "shot") {
        if (!arguments(1, "shot FILE.png")) return true;
        fs::path file(words[1]);
        if (file.is_relative()) file = fs::path(options.LaunchFolder) / file;
        if (std::string error; !ShotAllowed(file.string(), error)) {
            Answer("error: " + error);
            return true;
        }
        shot = TPendingShot{file.string(), true};
        return false; // answered when the next frame is written
    } else if (name == "quit") {
        if (!arguments(0, "quit")) return true;
        Answer("ok " + TimeText(Now()));
        finished = true;
    } else if (std::string text; ExecuteTracksCommand(d, words, text)) {
        Answer(text);
    } else {
        Answer("error: unknown command '" + name +
               "'; commands: seek POSITION, pause, play, step, speed F, loop FROM TO, loop off, reload, "
               "warnings, shot FILE.png, value NAME, key NAME POSITION VALUE [TYPE], unkey NAME POSITION, keys NAME, "
               "tracks, tracks save, quit");
    }
    return true;
}

bool TDevSession::ShotAllowed(const std::string& file, std::string& error) {
    if (!CheckOutputPath(file, {}, "the shot", error)) return false;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file, ec))) return true;
    for (const std::string& written : shotsWritten)
        if (SameFile(file, written)) return true;
    error = "refusing to write the shot to " + file +
            ": the file exists and is no picture this session wrote; choose another name";
    return false;
}

std::string TDevSession::ShotFileName() {
    const int32_t row = Demo().CurrentRow;
    std::string stem = fs::path(options.Script).stem().string() + "_" + std::to_string(row / 64) + "-" +
                       std::to_string((row / 16) % 4) + "-" + std::to_string((row / 4) % 4) + "-" +
                       std::to_string(row % 4);
    // A second picture at the same position does not replace the first.
    fs::path file = fs::path(options.ScriptFolder) / (stem + ".png");
    std::error_code ec;
    for (int n = 2; fs::exists(file, ec) && n < 10000; ++n)
        file = fs::path(options.ScriptFolder) / (stem + "_" + std::to_string(n) + ".png");
    return file.string();
}

void TDevSession::BeforeSwap() {
    // The frame's picture is done: its render time, without the HUD.
    if (renderStart > 0) renderMilliseconds = (SteadySeconds() - renderStart) * 1000;
    if (shot) {
        std::string error;
        const bool written = WriteBackBuffer(shot->File, error);
        if (written) shotsWritten.push_back(shot->File);
        if (shot->Answer) {
            Answer(written ? "ok " + TimeText(Demo().DemoTime) : "error: " + error);
        } else if (written) {
            std::fprintf(stderr, "corvala: frame saved as %s\n", shot->File.c_str());
        } else {
            ReportWarning(error);
        }
        shot.reset();
    }
    if (hudVisible) DrawHud();
}

void TDevSession::ShiftRows(int rows) {
    const TDemoTracker& tracker = *Demo().Tracker;
    const long double delta = 60.0L / tracker.BPM * rows / 4;
    Seek(float(std::max(0.0L, Now() + delta)));
}

void TDevSession::PageBar(int direction) {
    TCDemo& d = Demo();
    const int32_t row = d.Tracker->RowAt(Now());
    std::optional<int32_t> target;
    for (const TScriptBar& bar : d.Bars) {
        const int32_t start = bar.StartRow;
        if (direction > 0 && start > row && (!target || start < *target)) target = start;
        if (direction < 0 && int64_t(start) < int64_t(row) - PageUpSlackRows && start >= 0 &&
            (!target || start > *target))
            target = start;
    }
    if (!target && direction < 0) target = 0;
    if (target) Seek(RowStartSeconds(*d.Tracker, *target));
}

void TDevSession::MarkLoop() {
    const TDemoTracker& tracker = *Demo().Tracker;
    const int32_t row = std::max(0, tracker.RowAt(Now()));
    const int32_t barStart = row - row % 16;
    if (transport.Looping()) {
        ClearLoop();
    } else if (!loopMarked) {
        loopMarked = true;
        loopMarkRow = barStart;
    } else {
        const int32_t from = std::min(loopMarkRow, barStart);
        const int32_t to = std::max(loopMarkRow, barStart) + 16;
        SetLoop(RowStartSeconds(tracker, from), RowStartSeconds(tracker, to));
    }
}

void TDevSession::HandleKeys() {
    const bool shift = KeyDown(ScanLeftShift) || KeyDown(ScanRightShift);
    const int barRows = shift ? 64 : 16;
    if (KeyPresses(ScanSpace) % 2 == 1) SetPaused(!Paused());
    // Held, the stepping keys repeat; the others act once per press.
    if (int n = KeyPresses(ScanLeft, true)) ShiftRows(-barRows * n);
    if (int n = KeyPresses(ScanRight, true)) ShiftRows(barRows * n);
    for (int n = KeyPresses(ScanPageUp, true); n > 0; --n) PageBar(-1);
    for (int n = KeyPresses(ScanPageDown, true); n > 0; --n) PageBar(1);
    if (KeyPresses(ScanHome) > 0) Seek(Demo().StartTime);
    for (int n = KeyPresses(ScanL); n > 0; --n) MarkLoop();
    const int faster = KeyPresses(ScanEquals) + KeyPresses(ScanKeypadPlus);
    const int slower = KeyPresses(ScanMinus) + KeyPresses(ScanKeypadMinus);
    if (faster != slower) transport.StepSpeed(faster - slower);
    if (KeyPresses(ScanR) > 0) {
        std::string error;
        Reload(error); // "reloaded" or the refusal shows on the HUD
    }
    if (KeyPresses(ScanTab) % 2 == 1) hudVisible = !hudVisible;
    if (KeyPresses(ScanF12) > 0 && !shot) shot = TPendingShot{ShotFileName(), false};
}

void TDevSession::Frame() {
    RunCommands();
    if (finished) return;
    // A saved file reloads the demo; a failure stays on the HUD.
    if (reloader->FilesChanged()) {
        std::string error;
        Reload(error); // a refusal is on stderr and the HUD
    }
    // Taken after the commands and the reload, which may replace the demo.
    TCDemo& d = Demo();
    if (&d != attached) Attach(d, transport.Shown());
    PollEditor();

    const double start = SteadySeconds();
    renderStart = start;
    const bool stepping = transport.Stepping();
    d.RenderFrame();
    if (answerAfterFrame) {
        // A shot answered before the swap; a step answers with the time shown.
        if (stepping && !shot) Answer("ok " + TimeText(d.DemoTime) + (AtEnd() ? " end" : ""));
        answerAfterFrame = false;
    }
    if (DemoQuit) {
        // An error ends dev mode as it ends the demo; the end of the
        // production only holds the last picture.
        if (d.ExitCode() != 0) {
            finished = true;
            return;
        }
        DemoQuit = false;
        transport.HoldAtEnd(d.DemoTime);
    }
    HandleKeys();
    if (KeyDown(ScanEscape) || WindowCloseRequested()) finished = true;

    const double frameSeconds = OffscreenVideo() ? OffscreenFrameSeconds : DisplayFrameSeconds;
    const double rest = start + frameSeconds - SteadySeconds();
    if (rest > 0) std::this_thread::sleep_for(std::chrono::duration<double>(rest));
}

void TDevSession::Run() {
    while (!finished) Frame();
}

int RunDev(const TDevOptions& options) {
    TDevSession session(options);
    if (!session.Started()) return session.ExitCode() != 0 ? session.ExitCode() : 1;
    session.Run();
    return session.ExitCode();
}
