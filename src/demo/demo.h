// The demo object: credits, display settings, macros, effect slots, the
// timeline of bars, the tracker, the music and the timer. Its constructor
// reads and executes the script; Run plays it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "effects/effect.h"
#include "demo/position.h"
#include "demo/script.h"
#include "demo/tracker.h"
#include "demo/tracks.h"
#include "media/timer.h"
#include "render/vecmath.h"
#include "render/window.h"

inline constexpr const char* DefaultScriptFile = "karmont.cvl";
inline constexpr const char* EngineVersionText = "0.1";

struct TBarInput {
    int32_t Channel = 0;
    uint8_t Note = 0;
    float FadeTime = 0; // seconds
    float LeadTime = 0; // seconds
    bool Enabled = false;
};

struct TScriptBar {
    int32_t StartRow = 0;   // first tracker row at which the bar plays
    int32_t LengthRows = 0; // rows it stays active; 0 never plays
    int32_t EffectSlot = 0;
    std::array<TBarInput, 10> Inputs{};
    std::string Label;
    TRGBAColor Color{};
    float SingleValue = 0;
    float Offset = 0;
    int32_t ScriptLine = 0;                // line of the BAR command, for messages
    int32_t EffectLine = 0;                // line of the EFFECT command; 0 when it has none
    int32_t MountLine = 0, LengthLine = 0; // lines of MOUNT and LENGTH; 0 when none was read
    std::array<int32_t, 10> InputLines{};  // line of each INPUT command
};

// What a demo built again from its script (dev mode) takes over from the
// one playing, so that playback goes on in the same window, with the same
// music, at the same moment.
struct TDemoHandover {
    TRenderWindow Window;      // the open window and context: INIT adopts it
    std::string MusicFile;     // absolute name of the music playing; "" none
    int32_t MusicSample = -1;  // its sample; -1 when its file changed
    uint32_t MusicChannel = 0; // its channel, taken over with the sample
    float DemoTime = 0;        // seconds; the new demo starts there
};

// How a demo object runs. The defaults are a normal run.
struct TDemoOptions {
    // Pre-flight: execute the script without opening a window, starting
    // sound output or touching GL; files are still decoded.
    bool CheckOnly = false;
    // Clock for the timer (default: the steady clock).
    TClockSource Clock{};
    // Offline capture: the window opens windowed whatever FULLSCREEN says,
    // and the music is rendered through the loopback device by the caller.
    bool Capture = false;
    // The window opens windowed whatever FULLSCREEN says (dev mode).
    bool Windowed = false;
    // Run the pre-flight's checks that need no second reading of the files
    // (the timeline against the tracker and the slots, the inputs against
    // the notes, unknown commands, misdirected parameter lines) in a build
    // that plays (dev mode): their errors are reported, the demo still
    // plays, and a reload is refused for them.
    bool Checked = false;
    // Compo mode: nothing shows before the start (the window opens black,
    // DRAWLOADING shows black), and the constructor starts neither the music
    // nor the timer: BeginPlayback does, right before the first frame.
    bool HoldStart = false;
    // Replaces STARTTIME when set (--start).
    std::optional<TDemoPosition> Start;
    // Continue from another demo instead of starting: INIT opens nothing
    // (a changed resolution or FULLSCREEN waits for a restart), DRAWLOADING
    // shows nothing, and LOADMUSIC takes over the playing music when it
    // names the same unchanged file; a music loaded anew starts at the
    // handover's demo time. Without music the caller carries the time on
    // (TimeHook); StartTime stays the script's.
    std::optional<TDemoHandover> Handover;
    // Debug: after every effect's draw, take GL's error flags and look for
    // matrices and attributes left pushed; each is reported once per slot
    // with the effect's type, slot, LOAD line and bar, and makes the exit
    // code 1. Also on when the environment variable CORVALA_GL_CHECK is set
    // to anything but "" or "0" (the test suite sets it).
    bool GLCheck = false;
};

class TCDemo {
public:
    explicit TCDemo(const std::string& scriptFile, const TDemoOptions& options = {});
    ~TCDemo();
    TCDemo(const TCDemo&) = delete;
    TCDemo& operator=(const TCDemo&) = delete;

    void ReadScript(const std::string& fileName);
    void ExecuteCommand(const TCDemoCommand& command);
    void InstallEffect(std::unique_ptr<TCEffect> effect, int32_t slot);
    void LoadEffects();
    void DrawLoading();
    // With HoldStart: starts the music and the timer; the next RenderFrame
    // is the first frame of the show.
    void BeginPlayback();
    // Plays until Escape, a closed window, the end time, the tracker's end or
    // DemoQuit.
    void Run();
    void RenderFrame();

    // 0 when the demo played (or stopped) normally; 1 when a script error
    // was reported, whether it stopped the demo or the demo played on.
    int ExitCode() const;

    // Why a slot holds no effect, and where an effect would be loaded into
    // it, for the messages of a bar that plays it.
    std::string EmptySlotReason(int32_t slot) const;

    std::string DemoName = "<demo>";
    std::string GroupName = "<group>";
    std::string PartyName = "<party>";
    std::string YearText = "<year>";
    std::string VersionText = "<version>";
    int32_t ResolutionX = 640;
    int32_t ResolutionY = 480;
    int32_t ColorDepth = 16;
    bool Fullscreen = false;
    float StartTime = 0;
    float Speed = 1;
    std::string LoadingScreenFile;
    int32_t LoadingTexture = 0;
    TRGBAColor ClearColor{};
    bool ShowTimer = false;
    TRenderWindow Window;
    int32_t MusicSample = 0;
    uint32_t MusicChannel = 0;
    bool MusicLoaded = false;
    std::string MusicFile; // absolute name of the loaded music; "" none
    std::vector<std::unique_ptr<TCEffect>> Effects;
    std::unique_ptr<TDemoTracker> Tracker;
    std::vector<TScriptBar> Bars;
    std::vector<std::string> MacroKeys;
    std::vector<std::string> MacroValues;
    std::unique_ptr<TETimer> Timer;
    float DemoTime = 0;
    float FrameDelta = 0;
    float EndTime = -1;

    // The script's file name and the line of each effect's LOAD (by slot).
    std::string ScriptFile;
    std::vector<int32_t> EffectLines;
    // The type name each slot's effect was loaded as ("" when not by LOAD).
    std::vector<std::string> EffectTypeNames;
    // The lines of the A, B and C parameters of each slot's effect (0 none):
    // a file they name is reported there.
    std::vector<std::array<int32_t, 3>> EffectFileLines;
    // The line of LOADINGSCREEN, which names the picture INIT loads.
    int32_t LoadingScreenLine = 0;
    // Pre-flight: the music's length in seconds (0 when none or broken).
    double MusicSeconds = 0;
    // The row of the last frame.
    int32_t CurrentRow = 0;
    // Keyed tracks of the TRACKS files (demo_tracks.cpp), and the row of the
    // last frame with its fraction, where they were evaluated.
    TTracks Tracks;
    double FrameRow = 0;
    // Frames rendered so far.
    int64_t FrameNumber = 0;
    // When set, each frame calls it once with the demo time and the real
    // frame delta it read, before anything uses them; it may replace both
    // (dev mode holds, seeks and loops the time this way).
    std::function<void(float& demoTime, float& frameDelta)> TimeHook;
    // Indices into Bars of the bars that played in the last frame, in the
    // order they drew.
    std::vector<int32_t> ActiveBars;
    // Called at the end of every RenderFrame, after the buffer swap (frame
    // statistics); empty for none.
    std::function<void()> AfterFrame;
    // Called right before and right after each active bar's effect runs its
    // Update and Draw, with the bar's index into Bars (the rehearsal times
    // each effect between them); empty for none.
    std::function<void(int32_t bar)> BeforeEffect, AfterEffect;
    const TDemoOptions Options;

private:
    friend struct TDemoCommands;
    // The pre-flight's checks run (--check, or Options.Checked).
    bool Checking() const { return Options.CheckOnly || Options.Checked; }
    // Reports of files an effect reads go to the A, B or C line naming them.
    void NameEffectFiles(size_t slot);
    void Fail(const std::string& description);
    bool CheckPlayable();
    void CheckTimeline();
    void StartPlayback();
    void DrawTimerOverlay(int32_t row);
    // An INPUT on a channel the tracker lacks: reported once at its line,
    // with the bar's label; the demo stops after this frame.
    void ReportMissingChannel(size_t barIndex, size_t input);
    TCEffect* TargetEffect(const TCDemoCommand& command);
    TScriptBar* TargetBar(const TCDemoCommand& command);

    bool failed = false;         // a script error that stops the demo
    bool musicTakenOver = false; // LOADMUSIC adopted the handover's music
    bool windowOpen = false;     // INIT created a context
    bool loadFailed = false;     // the last LOAD line created nothing
    int errorsAtStart = 0;       // script errors reported before this demo
    int toleratedErrors = 0;     // reported errors the demo played on after
    // Reports an error the demo plays on after; it still counts for the
    // exit code.
    void Tolerate(const std::string& description);
    std::vector<bool> reportedSlots;
    // The GL check switch (TDemoOptions::GLCheck or CORVALA_GL_CHECK).
    bool glCheck = false;
    bool glCheckFailed = false;        // it found something
    std::vector<bool> glReportedSlots; // slots it has reported
    void CheckEffectGL(const TScriptBar& bar, int32_t slot);
    // Slots whose last LOAD line failed, with that line.
    std::map<int32_t, int32_t> failedLoads;
    // (bar, input) pairs whose missing channel was reported during playback.
    std::vector<std::pair<size_t, size_t>> reportedInputs;

    // Pre-flight only.
    int32_t currentLine = 0;   // the script line being executed
    int32_t lastLoadLine = 0;  // the nearest LOAD line above (or a misspelling of it)
    int32_t lastLoadSlot = -1; // its slot; -1 when it created nothing
    bool targetWarned = false; // parameters after that line were warned about
    // `files`: decode every file again (the pre-flight); a build that plays
    // has loaded them already.
    void CheckEffects(bool files);
    // Pre-flight: warns (at INIT) about a size that parties do not show.
    void CheckPartyResolution();
    void CheckParameterTarget(const TCDemoCommand& command, const TCEffect& target);
    void WarnUnknownCommand(const std::string& keyword, const std::vector<std::string>& known);

    // A TRACKER line naming a module or MIDI file: imported into the
    // tracker at the script's BPM (song_sync.cpp).
    void ImportTrackerSong();
    // Pre-flight: BPM against the song's own, inputs waiting for notes their
    // channel never plays, tracker length against music length.
    void CheckSongSync();
    // TRACKS: reads a tracks file; before an effect's Update: sets the
    // fields its slot's tracks drive; pre-flight: what the tracks name
    // (demo_tracks.cpp).
    void ReadTracks(const std::string& name);
    void ApplyTracks(TCEffect& effect);
    void CheckTracks();
    // An INPUT whose note plays on its channel, but nowhere its envelope
    // could reach inside its bar's rows.
    void WarnNoteOutsideBar(const TScriptBar& bar, size_t index);
    std::string trackerSong; // file name; empty for a tracker file
    // The tracker file or song could not be read (reported at its line):
    // the checks that compare with its rows and channels say nothing more.
    bool trackerBroken = false;
    double songBpm = 0;    // the imported song's own tempo
    int32_t bpmLine = 0;   // script line of the BPM command; 0 before one
    std::string musicFile; // pre-flight: the LOADMUSIC file
};

// Effect type names for LOAD and their classes; null for an unknown name.
std::unique_ptr<TCEffect> CreateEffect(const std::string& typeName);
