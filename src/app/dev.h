// Dev mode: plays a production in a window with the music, and lets its
// maker pause, seek, loop a range, change the speed, save frames and reload
// the script, from the keyboard or from commands on standard input.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/control_channel.h"
#include "app/dev_transport.h"
#include "app/reload.h"
#include "demo/demo.h"

struct TDevOptions {
    std::string Script;       // the script, in the current folder (its own)
    std::string ScriptFolder; // absolute: F12 writes its pictures there
    std::string LaunchFolder; // absolute: relative `shot` names resolve there
    std::optional<TDemoPosition> Start;
    std::optional<std::pair<TDemoPosition, TDemoPosition>> Loop;
    // Read commands from standard input (when it is not a terminal).
    bool ControlChannel = true;
    // --editor: the sync-tracker editor to link to; port 0 for none.
    std::string EditorHost;
    uint16_t EditorPort = 0;
};

class TEditorLink;

// One dev-mode session: the demo it plays, its transport (TDevTransport:
// pause, speed, loop), keys, commands, shots and the HUD. Time is demo time
// in seconds throughout.
class TDevSession {
public:
    explicit TDevSession(const TDevOptions& options);
    ~TDevSession();
    TDevSession(const TDevSession&) = delete;
    TDevSession& operator=(const TDevSession&) = delete;

    // The demo being played. Every use goes through here, because a reload
    // replaces the object.
    TCDemo& Demo();
    // False when the script could not start; ExitCode says why.
    bool Started() const { return started; }
    int ExitCode();

    // Plays until Escape, a closed window or `quit`.
    void Run();
    // One frame: commands, keys, the picture, the HUD.
    void Frame();
    bool Finished() const { return finished; }

    // The transport (see TDevTransport). Seek and the loop jump give the
    // next frame FrameTime 0.
    float Now() { return transport.Now(); }
    void Seek(float seconds) { transport.Seek(seconds); }
    void SetPaused(bool pause) { transport.SetPaused(pause); }
    bool Paused() const { return transport.Paused(); }
    void SetSpeed(float factor) { transport.SetSpeed(factor); }
    float Speed() const { return transport.Speed(); }
    // False when `to` does not lie after `from`.
    bool SetLoop(float from, float to);
    void ClearLoop() { transport.ClearLoop(); }
    // Executes the script again (see TDevReloader); the time, pause, speed
    // and loop go on. False keeps the demo playing; `error` says
    // "file:line: message" and the HUD shows it until a reload succeeds.
    bool Reload(std::string& error);

    // "TIME POSITION" of a demo time, as the control channel answers.
    std::string TimeText(float seconds);

    // Draws the HUD over the finished frame, confined to its box (in overlay
    // units, origin bottom-left), which it returns.
    struct TBox {
        int X = 0, Y = 0, Width = 0, Height = 0;
    };
    TBox DrawHud();

    // Where the production ends (seconds): the end time, the music's end or
    // the row after the tracker's last, whichever comes first. Seeks and
    // steps stop there.
    float EndSeconds() const { return transport.End(); }
    // The time shown has reached the end.
    bool AtEnd();

private:
    struct TPendingShot {
        std::string File;
        bool Answer = false; // a control command waits for it
    };

    // An input meter of the HUD: the value as a bar and as a number.
    struct THudMeter {
        float Value = 0;
        std::string Text; // the value, or "n/a" for a channel the tracker lacks
    };
    // A HUD line before wrapping: its text and colour; a line of meters has
    // a meter for each enabled input of a bar and no text.
    struct THudLine {
        THudLine(std::string text = {}, TRGBAColor color = {1, 1, 1, 1}) : Text(std::move(text)), Color(color) {}
        std::string Text;
        TRGBAColor Color{1, 1, 1, 1};
        std::vector<THudMeter> Meters;
    };
    std::vector<THudLine> HudLines(); // dev_hud.cpp
    static double SteadyNow();

    // Applies what the editor link (--editor) received; dev_tracks.cpp.
    void PollEditor();
    // Takes over a demo object (the first, or one a reload made), showing
    // `now`; the transport carries on.
    void Attach(TCDemo& demo, float now);
    void HandleKeys();
    // Runs the control lines waiting, a bounded number per frame.
    void RunCommands();
    // Refuses a `shot` file that exists and is not a picture this session
    // wrote, or that the production reads.
    bool ShotAllowed(const std::string& file, std::string& error);
    // Runs one control line; false when the answer waits for the next frame.
    bool Execute(const std::string& line);
    void Answer(const std::string& text);
    void BeforeSwap();
    bool WriteShot(const std::string& file, std::string& error);
    void MarkLoop();
    void PageBar(int direction);
    void ShiftRows(int rows);
    std::string ShotFileName();

    TDevOptions options;
    // Builds the demo, and again from the script on a reload.
    std::unique_ptr<TDevReloader> reloader;
    TCDemo* attached = nullptr;
    bool started = false;
    bool finished = false;

    TDevTransport transport{SteadyNow};
    bool loopMarked = false; // L pressed once: loopMarkRow holds the mark
    int32_t loopMarkRow = 0;
    bool hudVisible = true;
    double reloadedUntil = 0;            // steady seconds: "reloaded" shows until then
    std::unique_ptr<TEditorLink> editor; // null without --editor

    double renderStart = 0;        // steady seconds at the frame's start
    double renderMilliseconds = 0; // the last frame, to its picture's end

    // Control channel (none when standard input is a terminal).
    std::unique_ptr<TControlChannel> channel;
    std::optional<TPendingShot> shot;
    std::vector<std::string> shotsWritten; // files this session wrote, for `shot` to replace
    bool answerAfterFrame = false;
    int64_t shotNumber = 0;
};

// `text` in lines of at most `width` characters, broken between words where
// it can be; continuation lines are indented by two. Each line of a text of
// several lines starts a new line, indented by two after the first.
std::vector<std::string> WrapHudText(const std::string& text, size_t width);

// Runs dev mode; returns the process exit code.
int RunDev(const TDevOptions& options);
