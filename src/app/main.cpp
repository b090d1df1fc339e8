// The engine's entry point. Without arguments it plays "karmont.cvl" in the
// working directory; the options add a capture mode, a pre-flight check and
// an asset inspector for people who make productions.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/capture.h"
#include "app/check.h"
#include "app/compo.h"
#include "app/pack.h"
#include "app/dev.h"
#include "app/editor_link.h"
#include "app/rehearse.h"
#include "demo/demo.h"
#include "app/asset_report.h"
#include "base/output.h"
#include "base/report.h"

namespace {

namespace fs = std::filesystem;

const char* const Usage =
    "usage: corvala [--start POSITION] [SCRIPT]\n"
    "       corvala --dev [--start POSITION] [--loop FROM TO] [--editor [HOST:]PORT] [SCRIPT]\n"
    "       corvala --capture DIR [--overwrite] [--start POSITION] [--fps N] [--frames N | --until SECONDS]\n"
    "               [--video FILE] [SCRIPT]\n"
    "       corvala --video FILE [--video-profile party] [--start POSITION] [--fps N] [--frames N | --until SECONDS] "
    "[SCRIPT]\n"
    "       corvala --compo [--autostart SECONDS] [SCRIPT]\n"
    "       corvala --check [SCRIPT]\n"
    "       corvala --pack OUT [--overwrite] [SCRIPT]\n"
    "       corvala --rehearse [--report FILE.json] [SCRIPT]\n"
    "       corvala --inspect [--dump DIR] FILE...\n"
    "       corvala --help | --version\n"
    "\n"
    "  SCRIPT            the demo script (default: karmont.cvl in the working directory);\n"
    "                    the engine runs in the script's folder\n"
    "  --start POSITION  begin there instead of at the script's STARTTIME: seconds\n"
    "                    (12.5) or pattern:bar[:beat[:row]] as MOUNT counts (2:1)\n"
    "  --dev             dev mode: a window with the music, keys and a HUD to pause\n"
    "                    (Space), seek (Left/Right, Shift, PageUp/PageDown, Home), loop\n"
    "                    a bar range (L), change speed (+/-), save a frame (F12), hide\n"
    "                    the HUD (Tab); with standard input not a terminal, one command\n"
    "                    per line: seek POSITION, pause, play, step, speed F,\n"
    "                    loop FROM TO, loop off, reload, shot FILE.png, value NAME,\n"
    "                    key NAME POSITION VALUE [TYPE], unkey NAME POSITION,\n"
    "                    keys NAME, tracks, tracks save, quit\n"
    "  --loop FROM TO    with --dev: play the range between two positions in a loop\n"
    "  --editor [HOST:]PORT  with --dev: link to a sync-tracker editor (default\n"
    "                    127.0.0.1:1338); its keys play, its row and pause drive the demo\n"
    "  --capture DIR     render offline and headless to DIR/frame_000000.png ... and\n"
    "                    DIR/audio.wav; frame k shows demo time START + k x SPEED / N\n"
    "                    seconds, START being --start or the script's STARTTIME\n"
    "  --overwrite       with --capture: replace the frames an earlier capture left in\n"
    "                    DIR (without it such a folder is refused); with --pack:\n"
    "                    replace an earlier pack at OUT\n"
    "  --fps N           capture frames per second (default 60)\n"
    "  --frames N        capture at most N frames, counted from START\n"
    "  --until SECONDS   capture until SECONDS of the timer have passed since the start\n"
    "  --video FILE      render offline and headless into the video FILE (H.264 and\n"
    "                    AAC in MP4, needs ffmpeg); frames only with --capture as well\n"
    "  --compo           compo mode: fullscreen at the display's resolution, the picture\n"
    "                    at the production's aspect; loads and draws everything once,\n"
    "                    then shows black until Space or Enter; Escape, Q or Alt-F4 end it\n"
    "  --autostart SECONDS  with --compo: start by itself after SECONDS of black\n"
    "  --video-profile party  with --video: what parties ask for the stream: H.264 Main,\n"
    "                    level 4.1, 1920x1080 at 30 frames a second, 8 Mbit/s, AAC stereo\n"
    "                    192 kbit/s; the picture at the production's aspect, centred\n"
    "  --pack OUT        the party pack: the production, the engine and the libraries a\n"
    "                    desktop may lack, run.sh (compo mode), README.txt and\n"
    "                    screenshot.png, as the folder OUT or the archive OUT.zip; the\n"
    "                    pre-flight runs first and a production with errors is refused\n"
    "  --check           pre-flight: report every problem of the script as\n"
    "                    SCRIPT:LINE: error|warning: MESSAGE, open no window, play nothing;\n"
    "                    ends with a summary line on stdout\n"
    "  --rehearse        play the whole production in real time with vertical sync off\n"
    "                    and report frame times per bar (median, 99th percentile, worst)\n"
    "                    and whether every bar holds 60 Hz\n"
    "  --report FILE     with --rehearse: also write the report to FILE as JSON\n"
    "  --inspect FILE... print what the engine's loaders read from 3DS models and pictures\n"
    "  --dump DIR        with --inspect: also write each picture as DIR/NAME.png\n";

// A modal box only in an interactive desktop run: never under CI, never with
// the offscreen or dummy video driver, never without a display.
bool IsInteractiveDesktop() {
    if (std::getenv("CI")) return false;
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (driver && (std::string(driver) == "offscreen" || std::string(driver) == "dummy")) return false;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

int ArgumentError(const std::string& message) {
    std::fprintf(stderr, "corvala: %s\nTry 'corvala --help'.\n", message.c_str());
    return 2;
}

// Enters the script's folder so that every relative name in it resolves as
// if the engine had been started there; returns the name to open.
std::string EnterScriptFolder(const std::string& script) {
    const fs::path path(script);
    if (path.has_parent_path()) {
        std::error_code ec;
        fs::current_path(path.parent_path(), ec);
        if (ec) RaiseApplicationError("Cannot open file " + script);
        return path.filename().string();
    }
    return script;
}

template <class Body> int Guarded(Body body) {
    try {
        return body();
    } catch (const std::exception& error) {
        ReportMessage("Application Error", error.what());
        return 1;
    }
}

bool ParseCount(const std::string& text, long double& value) {
    char* end = nullptr;
    value = std::strtold(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(double(value));
}

// "1338" or "host:1338": a port after an optional colon.
bool LooksLikeAddress(const std::string& text) {
    const std::string port = text.substr(text.rfind(':') + 1);
    return !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
}

// What the command line asks for.
enum class TRunMode { Play, Dev, Capture, Check, Inspect, Rehearse, Compo, Pack };
struct TCommandLine {
    TRunMode Mode = TRunMode::Play;
    std::optional<TDemoPosition> Start;
    std::optional<std::pair<TDemoPosition, TDemoPosition>> Loop;
    TCaptureOptions Capture;
    std::string DumpDir;
    TRehearseOptions Rehearse;
    bool ReportGiven = false;
    bool EditorGiven = false;
    std::string EditorHost;
    uint16_t EditorPort = 0;
    TCompoOptions Compo;
    TPackOptions Pack;
    bool AutostartGiven = false;
    std::vector<std::string> Positional;
};

// Reads the options into `line`. An exit code when the program ends here
// (--help, --version, a bad option, after its message); none to go on.
std::optional<int> ReadOptions(const std::vector<std::string>& args, TCommandLine& line) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string text;
        long double number = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("corvala %s\n", EngineVersionText);
            return 0;
        } else if (arg == "--capture") {
            line.Mode = TRunMode::Capture;
            if (!value(line.Capture.Dir) || line.Capture.Dir.empty())
                return ArgumentError("--capture needs an output folder");
        } else if (arg == "--overwrite") {
            line.Capture.Overwrite = true;
        } else if (arg == "--fps") {
            if (!value(text) || !ParseCount(text, number) || number < 1 || number > 1000 ||
                number != std::floor(number))
                return ArgumentError("--fps needs a whole number of frames per second (1 to 1000)");
            line.Capture.Fps = int(number);
        } else if (arg == "--frames") {
            if (!value(text) || !ParseCount(text, number) || number < 0 || number > 1e12L ||
                number != std::floor(number))
                return ArgumentError("--frames needs a whole number of frames (at most 10^12)");
            line.Capture.Frames = int64_t(number);
        } else if (arg == "--until") {
            if (!value(text) || !ParseCount(text, number) || number < 0)
                return ArgumentError("--until needs a number of seconds");
            line.Capture.Until = double(number);
        } else if (arg == "--video") {
            if (!value(line.Capture.Video)) return ArgumentError("--video needs a file name");
        } else if (arg == "--dev") {
            line.Mode = TRunMode::Dev;
        } else if (arg == "--editor") {
            // The address may be left out: the next word is one when it
            // is a port or ends in ":PORT".
            std::string error;
            line.EditorGiven = true;
            if (i + 1 < args.size() && LooksLikeAddress(args[i + 1]))
                text = args[++i];
            else
                text = "127.0.0.1:1338";
            if (!ParseEditorAddress(text, line.EditorHost, line.EditorPort, error))
                return ArgumentError("--editor: " + error);
        } else if (arg == "--start") {
            TDemoPosition position;
            std::string error;
            if (!value(text)) return ArgumentError("--start needs a position (12.5 or 2:1)");
            if (!ParseDemoPosition(text, position, error)) return ArgumentError("--start: " + error);
            line.Start = position;
        } else if (arg == "--loop") {
            TDemoPosition from, to;
            std::string error, second;
            if (!value(text) || !value(second)) return ArgumentError("--loop needs two positions, FROM and TO");
            if (!ParseDemoPosition(text, from, error) || !ParseDemoPosition(second, to, error))
                return ArgumentError("--loop: " + error);
            // Positions of one kind compare here; mixed ones once the tempo is known.
            if (from.IsRow == to.IsRow && (from.IsRow ? to.Row <= from.Row : to.Seconds <= from.Seconds))
                return ArgumentError("--loop: the end " + second + " must lie after the start " + text);
            line.Loop = std::make_pair(from, to);
        } else if (arg == "--bench-render-only") {
            // For benchmarks: a capture that renders and writes nothing.
            line.Capture.RenderOnly = true;
        } else if (arg == "--video-profile") {
            if (!value(text) || (text != "party" && text != "default"))
                return ArgumentError("--video-profile takes party or default");
            line.Capture.VideoProfile = text == "party" ? TVideoProfile::Party : TVideoProfile::Default;
        } else if (arg == "--compo") {
            line.Mode = TRunMode::Compo;
        } else if (arg == "--autostart") {
            line.AutostartGiven = true;
            if (!value(text) || !ParseCount(text, number) || number < 0 || number > 86400)
                return ArgumentError("--autostart needs a number of seconds (0 to 86400)");
            line.Compo.Autostart = double(number);
        } else if (arg == "--pack") {
            line.Mode = TRunMode::Pack;
            if (!value(line.Pack.Output) || line.Pack.Output.empty())
                return ArgumentError("--pack needs an output: a folder, or an archive NAME.zip");
        } else if (arg == "--check") {
            line.Mode = TRunMode::Check;
        } else if (arg == "--rehearse") {
            line.Mode = TRunMode::Rehearse;
        } else if (arg == "--report") {
            line.ReportGiven = true;
            if (!value(line.Rehearse.ReportFile) || line.Rehearse.ReportFile.empty())
                return ArgumentError("--report needs a file name");
        } else if (arg == "--inspect") {
            line.Mode = TRunMode::Inspect;
        } else if (arg == "--dump") {
            if (!value(line.DumpDir)) return ArgumentError("--dump needs a folder");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return ArgumentError("unknown option " + arg);
        } else {
            line.Positional.push_back(arg);
        }
    }
    return std::nullopt;
}

// Options that belong to another mode are refused; a capture option alone
// makes a capture. An exit code after the message, or none.
std::optional<int> CheckCombination(TCommandLine& line) {
    // --video or --bench-render-only alone also make a capture, without frames.
    if (line.Mode == TRunMode::Play && (!line.Capture.Video.empty() || line.Capture.RenderOnly))
        line.Mode = TRunMode::Capture;
    const bool captureOptions = line.Capture.Fps != 60 || line.Capture.Frames >= 0 || line.Capture.Until >= 0 ||
                                !line.Capture.Video.empty() || line.Capture.RenderOnly;
    if (captureOptions && line.Mode != TRunMode::Capture)
        return ArgumentError("--fps, --frames, --until and --video belong to --capture");
    if (line.Capture.Overwrite && line.Capture.Dir.empty() && line.Mode != TRunMode::Pack)
        return ArgumentError("--overwrite belongs to --capture or --pack");
    if (line.Capture.VideoProfile == TVideoProfile::Party) {
        if (line.Capture.Video.empty()) return ArgumentError("--video-profile belongs to --video");
        if (line.Capture.Fps != 60 && line.Capture.Fps != PartyVideoFps)
            return ArgumentError("--video-profile party makes 30 frames a second; leave --fps out");
        line.Capture.Fps = PartyVideoFps;
    }
    if (line.Capture.Frames >= 0 && line.Capture.Until >= 0)
        return ArgumentError("give either --frames or --until, not both");
    if (!line.DumpDir.empty() && line.Mode != TRunMode::Inspect) return ArgumentError("--dump belongs to --inspect");
    if (line.Start && line.Mode != TRunMode::Play && line.Mode != TRunMode::Dev && line.Mode != TRunMode::Capture)
        return ArgumentError("--start belongs to a run, --dev or --capture");
    if (line.AutostartGiven && line.Mode != TRunMode::Compo) return ArgumentError("--autostart belongs to --compo");
    if (line.Loop && line.Mode != TRunMode::Dev) return ArgumentError("--loop belongs to --dev");
    if (line.EditorGiven && line.Mode != TRunMode::Dev) return ArgumentError("--editor belongs to --dev");
    if (line.ReportGiven && line.Mode != TRunMode::Rehearse) return ArgumentError("--report belongs to --rehearse");

    return std::nullopt;
}

// Runs the mode on `script`, refusing first an output named where the
// script is.
int RunMode(TCommandLine& line, const std::string& script) {
    // An output named where the script was meant ("--video karmont.cvl") is
    // refused before anything runs; the files the script reads are checked
    // once it is loaded.
    std::string refusal;
    if (line.Mode == TRunMode::Capture && !line.Capture.Video.empty() &&
        !CheckOutputPath(line.Capture.Video, {script}, "the video", refusal))
        return ArgumentError(refusal);
    if (line.Mode == TRunMode::Pack && !CheckOutputPath(line.Pack.Output, {script}, "the pack", refusal))
        return ArgumentError(refusal);
    if (line.Mode == TRunMode::Rehearse && !line.Rehearse.ReportFile.empty() &&
        !CheckOutputPath(line.Rehearse.ReportFile, {script}, "the report", refusal))
        return ArgumentError(refusal);

    switch (line.Mode) {
    case TRunMode::Capture:
        return Guarded([&] {
            // The output names are the user's, relative to where the engine
            // was started, not to the script's folder or its DATADIR.
            if (!line.Capture.Dir.empty()) line.Capture.Dir = fs::absolute(line.Capture.Dir).string();
            if (!line.Capture.Video.empty()) line.Capture.Video = fs::absolute(line.Capture.Video).string();
            line.Capture.Start = line.Start;
            line.Capture.Script = EnterScriptFolder(script);
            return RunCapture(line.Capture);
        });
    case TRunMode::Compo:
        // Nothing may wait for a click on the compo machine.
        SetInteractiveReports(false);
        return Guarded([&] {
            line.Compo.Script = EnterScriptFolder(script);
            return RunCompo(line.Compo);
        });
    case TRunMode::Pack:
        SetInteractiveReports(false);
        return Guarded([&] {
            // OUT is the user's, relative to where the engine was started.
            line.Pack.Output = fs::absolute(line.Pack.Output).lexically_normal().string();
            line.Pack.Overwrite = line.Capture.Overwrite;
            line.Pack.Script = EnterScriptFolder(script);
            return RunPack(line.Pack);
        });
    case TRunMode::Check:
        return Guarded([&] { return RunCheck(EnterScriptFolder(script)); });
    case TRunMode::Dev:
        SetInteractiveReports(false);
        return Guarded([&] {
            TDevOptions dev;
            dev.LaunchFolder = fs::current_path().string();
            dev.Start = line.Start;
            dev.Loop = line.Loop;
            dev.EditorHost = line.EditorHost;
            dev.EditorPort = line.EditorPort;
            dev.Script = EnterScriptFolder(script);
            dev.ScriptFolder = fs::current_path().string();
            return RunDev(dev);
        });
    case TRunMode::Rehearse:
        SetInteractiveReports(IsInteractiveDesktop());
        return Guarded([&] {
            // The report file is the user's, relative to where the engine
            // was started.
            if (!line.Rehearse.ReportFile.empty())
                line.Rehearse.ReportFile = fs::absolute(line.Rehearse.ReportFile).string();
            line.Rehearse.Script = EnterScriptFolder(script);
            return RunRehearse(line.Rehearse);
        });
    default:
        SetInteractiveReports(IsInteractiveDesktop());
        return Guarded([&] {
            TDemoOptions options;
            options.Start = line.Start;
            TCDemo demo(EnterScriptFolder(script), options);
            demo.Run();
            return demo.ExitCode();
        });
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    TCommandLine line;
    if (const std::optional<int> exitCode = ReadOptions(args, line)) return *exitCode;
    if (const std::optional<int> exitCode = CheckCombination(line)) return *exitCode;
    if (line.Mode == TRunMode::Inspect) {
        if (line.Positional.empty()) return ArgumentError("--inspect needs at least one file");
        return RunInspect(line.Positional, line.DumpDir, std::cout);
    }
    if (line.Positional.size() > 1) return ArgumentError("more than one script given");
    const std::string script = line.Positional.empty() ? DefaultScriptFile : line.Positional[0];
    return RunMode(line, script);
}
