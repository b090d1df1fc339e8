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

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    enum class Mode { Play, Dev, Capture, Check, Inspect, Rehearse, Compo, Pack } mode = Mode::Play;
    std::optional<TDemoPosition> start;
    std::optional<std::pair<TDemoPosition, TDemoPosition>> loop;
    TCaptureOptions capture;
    std::string dumpDir;
    TRehearseOptions rehearse;
    bool reportGiven = false;
    bool editorGiven = false;
    std::string editorHost;
    uint16_t editorPort = 0;
    TCompoOptions compo;
    TPackOptions pack;
    bool autostartGiven = false;
    std::vector<std::string> positional;

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
            mode = Mode::Capture;
            if (!value(capture.Dir) || capture.Dir.empty()) return ArgumentError("--capture needs an output folder");
        } else if (arg == "--overwrite") {
            capture.Overwrite = true;
        } else if (arg == "--fps") {
            if (!value(text) || !ParseCount(text, number) || number < 1 || number > 1000 ||
                number != std::floor(number))
                return ArgumentError("--fps needs a whole number of frames per second (1 to 1000)");
            capture.Fps = int(number);
        } else if (arg == "--frames") {
            if (!value(text) || !ParseCount(text, number) || number < 0 || number > 1e12L ||
                number != std::floor(number))
                return ArgumentError("--frames needs a whole number of frames (at most 10^12)");
            capture.Frames = int64_t(number);
        } else if (arg == "--until") {
            if (!value(text) || !ParseCount(text, number) || number < 0)
                return ArgumentError("--until needs a number of seconds");
            capture.Until = double(number);
        } else if (arg == "--video") {
            if (!value(capture.Video)) return ArgumentError("--video needs a file name");
        } else if (arg == "--dev") {
            mode = Mode::Dev;
        } else if (arg == "--editor") {
            // The address may be left out: the next word is one when it
            // is a port or ends in ":PORT".
            std::string error;
            editorGiven = true;
            if (i + 1 < args.size() && LooksLikeAddress(args[i + 1]))
                text = args[++i];
            else
                text = "127.0.0.1:1338";
            if (!ParseEditorAddress(text, editorHost, editorPort, error)) return ArgumentError("--editor: " + error);
        } else if (arg == "--start") {
            TDemoPosition position;
            std::string error;
            if (!value(text)) return ArgumentError("--start needs a position (12.5 or 2:1)");
            if (!ParseDemoPosition(text, position, error)) return ArgumentError("--start: " + error);
            start = position;
        } else if (arg == "--loop") {
            TDemoPosition from, to;
            std::string error, second;
            if (!value(text) || !value(second)) return ArgumentError("--loop needs two positions, FROM and TO");
            if (!ParseDemoPosition(text, from, error) || !ParseDemoPosition(second, to, error))
                return ArgumentError("--loop: " + error);
            // Positions of one kind compare here; mixed ones once the tempo is known.
            if (from.IsRow == to.IsRow && (from.IsRow ? to.Row <= from.Row : to.Seconds <= from.Seconds))
                return ArgumentError("--loop: the end " + second + " must lie after the start " + text);
            loop = std::make_pair(from, to);
        } else if (arg == "--bench-render-only") {
            // For benchmarks: a capture that renders and writes nothing.
            capture.RenderOnly = true;
        } else if (arg == "--video-profile") {
            if (!value(text) || (text != "party" && text != "default"))
                return ArgumentError("--video-profile takes party or default");
            capture.VideoProfile = text == "party" ? TVideoProfile::Party : TVideoProfile::Default;
        } else if (arg == "--compo") {
            mode = Mode::Compo;
        } else if (arg == "--autostart") {
            autostartGiven = true;
            if (!value(text) || !ParseCount(text, number) || number < 0 || number > 86400)
                return ArgumentError("--autostart needs a number of seconds (0 to 86400)");
            compo.Autostart = double(number);
        } else if (arg == "--pack") {
            mode = Mode::Pack;
            if (!value(pack.Output) || pack.Output.empty())
                return ArgumentError("--pack needs an output: a folder, or an archive NAME.zip");
        } else if (arg == "--check") {
            mode = Mode::Check;
        } else if (arg == "--rehearse") {
            mode = Mode::Rehearse;
        } else if (arg == "--report") {
            reportGiven = true;
            if (!value(rehearse.ReportFile) || rehearse.ReportFile.empty())
                return ArgumentError("--report needs a file name");
        } else if (arg == "--inspect") {
            mode = Mode::Inspect;
        } else if (arg == "--dump") {
            if (!value(dumpDir)) return ArgumentError("--dump needs a folder");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return ArgumentError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    // --video or --bench-render-only alone also make a capture, without frames.
    if (mode == Mode::Play && (!capture.Video.empty() || capture.RenderOnly)) mode = Mode::Capture;
    const bool captureOptions =
        capture.Fps != 60 || capture.Frames >= 0 || capture.Until >= 0 || !capture.Video.empty() || capture.RenderOnly;
    if (captureOptions && mode != Mode::Capture)
        return ArgumentError("--fps, --frames, --until and --video belong to --capture");
    if (capture.Overwrite && capture.Dir.empty() && mode != Mode::Pack)
        return ArgumentError("--overwrite belongs to --capture or --pack");
    if (capture.VideoProfile == TVideoProfile::Party) {
        if (capture.Video.empty()) return ArgumentError("--video-profile belongs to --video");
        if (capture.Fps != 60 && capture.Fps != PartyVideoFps)
            return ArgumentError("--video-profile party makes 30 frames a second; leave --fps out");
        capture.Fps = PartyVideoFps;
    }
    if (capture.Frames >= 0 && capture.Until >= 0) return ArgumentError("give either --frames or --until, not both");
    if (!dumpDir.empty() && mode != Mode::Inspect) return ArgumentError("--dump belongs to --inspect");
    if (start && mode != Mode::Play && mode != Mode::Dev && mode != Mode::Capture)
        return ArgumentError("--start belongs to a run, --dev or --capture");
    if (autostartGiven && mode != Mode::Compo) return ArgumentError("--autostart belongs to --compo");
    if (loop && mode != Mode::Dev) return ArgumentError("--loop belongs to --dev");
    if (editorGiven && mode != Mode::Dev) return ArgumentError("--editor belongs to --dev");
    if (reportGiven && mode != Mode::Rehearse) return ArgumentError("--report belongs to --rehearse");

    if (mode == Mode::Inspect) {
        if (positional.empty()) return ArgumentError("--inspect needs at least one file");
        return RunInspect(positional, dumpDir, std::cout);
    }
    if (positional.size() > 1) return ArgumentError("more than one script given");
    const std::string script = positional.empty() ? DefaultScriptFile : positional[0];
    // An output named where the script was meant ("--video karmont.cvl") is
    // refused before anything runs; the files the script reads are checked
    // once it is loaded.
    std::string refusal;
    if (mode == Mode::Capture && !capture.Video.empty() &&
        !CheckOutputPath(capture.Video, {script}, "the video", refusal))
        return ArgumentError(refusal);
    if (mode == Mode::Pack && !CheckOutputPath(pack.Output, {script}, "the pack", refusal))
        return ArgumentError(refusal);
    if (mode == Mode::Rehearse && !rehearse.ReportFile.empty() &&
        !CheckOutputPath(rehearse.ReportFile, {script}, "the report", refusal))
        return ArgumentError(refusal);

    switch (mode) {
    case Mode::Capture:
        return Guarded([&] {
            // The output names are the user's, relative to where the engine
            // was started, not to the script's folder or its DATADIR.
            if (!capture.Dir.empty()) capture.Dir = fs::absolute(capture.Dir).string();
            if (!capture.Video.empty()) capture.Video = fs::absolute(capture.Video).string();
            capture.Start = start;
            capture.Script = EnterScriptFolder(script);
            return RunCapture(capture);
        });
    case Mode::Compo:
        // Nothing may wait for a click on the compo machine.
        SetInteractiveReports(false);
        return Guarded([&] {
            compo.Script = EnterScriptFolder(script);
            return RunCompo(compo);
        });
    case Mode::Pack:
        SetInteractiveReports(false);
        return Guarded([&] {
            // OUT is the user's, relative to where the engine was started.
            pack.Output = fs::absolute(pack.Output).lexically_normal().string();
            pack.Overwrite = capture.Overwrite;
            pack.Script = EnterScriptFolder(script);
            return RunPack(pack);
        });
    case Mode::Check:
        return Guarded([&] { return RunCheck(EnterScriptFolder(script)); });
    case Mode::Dev:
        SetInteractiveReports(false);
        return Guarded([&] {
            TDevOptions dev;
            dev.LaunchFolder = fs::current_path().string();
            dev.Start = start;
            dev.Loop = loop;
            dev.EditorHost = editorHost;
            dev.EditorPort = editorPort;
            dev.Script = EnterScriptFolder(script);
            dev.ScriptFolder = fs::current_path().string();
            return RunDev(dev);
        });
    case Mode::Rehearse:
        SetInteractiveReports(IsInteractiveDesktop());
        return Guarded([&] {
            // The report file is the user's, relative to where the engine
            // was started.
            if (!rehearse.ReportFile.empty()) rehearse.ReportFile = fs::absolute(rehearse.ReportFile).string();
            rehearse.Script = EnterScriptFolder(script);
            return RunRehearse(rehearse);
        });
    default:
        SetInteractiveReports(IsInteractiveDesktop());
        return Guarded([&] {
            TDemoOptions options;
            options.Start = start;
            TCDemo demo(EnterScriptFolder(script), options);
            demo.Run();
            return demo.ExitCode();
        });
    }
}
