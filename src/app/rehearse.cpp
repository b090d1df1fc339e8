#include "app/rehearse.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/output.h"
#include "base/report.h"
#include "demo/demo.h"
#include "media/sound.h"
#include "render/gl.h"
#include "render/window.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

// The k-th shortest (1-based) of sorted frame times.
double Rank(const std::vector<double>& sorted, double fraction) {
    const size_t rank = size_t(std::ceil(fraction * double(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string GLString(unsigned name) {
    const auto* text = reinterpret_cast<const char*>(glGetString(name));
    return text != nullptr ? text : "unknown";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// A figure for JSON; never NaN or infinity, which JSON cannot hold.
std::string JsonNumber(double value) { return std::isfinite(value) ? Format("%.3f", value) : "null"; }

std::string JsonFigures(const TFrameFigures& f) {
    const bool any = f.Frames > 0;
    return "\"frames\": " + std::to_string(f.Frames) +
           ", \"median_ms\": " + (any ? JsonNumber(f.MedianMs) : "null") +
           ", \"p99_ms\": " + (any ? JsonNumber(f.P99Ms) : "null") +
           ", \"worst_ms\": " + (any ? JsonNumber(f.WorstMs) : "null") +
           ", \"over_16_7_ms\": " + std::to_string(f.Over60Hz) +
           ", \"over_33_3_ms\": " + std::to_string(f.Over30Hz) +
           ", \"holds_60_hz\": " + (any ? (HoldsSixtyHz(f) ? "true" : "false") : "null");
}

// Bars that played and miss 60 Hz, worst 99th percentile first.
std::vector<size_t> SlowBars(const TRehearsalReport& report) {
    std::vector<size_t> slow;
    for (size_t i = 0; i < report.Bars.size(); ++i)
        if (report.Bars[i].Figures.Frames > 0 && !HoldsSixtyHz(report.Bars[i].Figures)) slow.push_back(i);
    std::stable_sort(slow.begin(), slow.end(), [&](size_t a, size_t b) {
        const TFrameFigures& fa = report.Bars[a].Figures;
        const TFrameFigures& fb = report.Bars[b].Figures;
        return fa.P99Ms != fb.P99Ms ? fa.P99Ms > fb.P99Ms : fa.WorstMs > fb.WorstMs;
    });
    return slow;
}

std::string BarName(const TBarFigures& bar) {
    return (bar.Label.empty() ? std::string("(unnamed)") : bar.Label) + " (line " + std::to_string(bar.Line) + ")";
}

std::string FiguresRow(const std::string& name, size_t width, const TFrameFigures& f) {
    std::string row = name;
    row.resize(std::max(width, name.size()), ' ');
    char text[160];
    if (f.Frames == 0) {
        std::snprintf(text, sizeof text, " %7d  %9s %9s %9s %8d %8d", 0, "-", "-", "-", 0, 0);
    } else {
        std::snprintf(text, sizeof text, " %7lld  %9.2f %9.2f %9.2f %8lld %8lld", static_cast<long long>(f.Frames),
                      f.MedianMs, f.P99Ms, f.WorstMs, static_cast<long long>(f.Over60Hz),
                      static_cast<long long>(f.Over30Hz));
    }
    return row + text + "\n";
}

} // namespace

TFrameFigures SummariseFrames(std::vector<double> frameMs) {
    TFrameFigures figures;
    if (frameMs.empty()) return figures;
    std::sort(frameMs.begin(), frameMs.end());
    figures.Frames = int64_t(frameMs.size());
    figures.MedianMs = Rank(frameMs, 0.5);
    figures.P99Ms = Rank(frameMs, 0.99);
    figures.WorstMs = frameMs.back();
    for (double ms : frameMs) {
        figures.Over60Hz += ms > SixtyHzFrameMs;
        figures.Over30Hz += ms > ThirtyHzFrameMs;
    }
    return figures;
}

bool HoldsSixtyHz(const TFrameFigures& figures) { return figures.Frames == 0 || figures.P99Ms <= SixtyHzFrameMs; }

std::string RehearsalVerdict(const TRehearsalReport& report) {
    if (report.Whole.Frames == 0) return "no frames were played";
    const std::vector<size_t> slow = SlowBars(report);
    if (slow.empty()) return "all bars hold 60 Hz";
    std::string text = slow.size() == 1 ? "1 bar does not hold 60 Hz: "
                                        : std::to_string(slow.size()) + " bars do not hold 60 Hz, worst first: ";
    for (size_t i = 0; i < slow.size(); ++i) {
        const TBarFigures& bar = report.Bars[slow[i]];
        if (i > 0) text += ", ";
        text += BarName(bar) + Format(" %.1f ms", bar.Figures.P99Ms);
    }
    return text;
}

std::string RehearsalText(const TRehearsalReport& report) {
    std::string text = "rehearsal of " + report.Script + "\n";
    text += "GL renderer: " + report.GLRenderer + "\nGL version: " + report.GLVersion + "\n";
    text += "video: " + report.Video + (report.VerticalSyncOff ? ", vertical sync off" : ", vertical sync could "
                                        "not be switched off (frame times are held to the display)") + "\n";
    text += "sound: " + report.SoundOutput + Format(", output latency %.1f ms", report.OutputLatencyMs) + "\n";
    text += Format("start to first frame: %.1f ms\n", report.FirstFrameMs);
    text += "played " + std::to_string(report.Whole.Frames) + " frames in " +
            Format("%.2f s", report.PlayedSeconds) + Format(" up to demo time %.2f s", report.LastDemoTime) +
            (report.Completed ? "" : ", stopped before the end") + "\n\n";

    size_t width = 24;
    std::vector<std::string> names;
    for (const TBarFigures& bar : report.Bars) {
        names.push_back(BarName(bar));
        width = std::max(width, std::min<size_t>(names.back().size(), 48));
    }
    std::string header = "bar";
    header.resize(width, ' ');
    text += header + "  frames  median ms    p99 ms  worst ms  >16.7ms  >33.3ms\n";
    for (size_t i = 0; i < report.Bars.size(); ++i) text += FiguresRow(names[i], width, report.Bars[i].Figures);
    text += FiguresRow("whole production", width, report.Whole);
    text += "\nverdict: " + RehearsalVerdict(report) + "\n";
    return text;
}

std::string RehearsalJson(const TRehearsalReport& report) {
    std::string json = "{\n";
    json += "  \"script\": " + JsonString(report.Script) + ",\n";
    json += "  \"gl_renderer\": " + JsonString(report.GLRenderer) + ",\n";
    json += "  \"gl_version\": " + JsonString(report.GLVersion) + ",\n";
    json += "  \"video\": " + JsonString(report.Video) + ",\n";
    json += std::string("  \"vertical_sync_off\": ") + (report.VerticalSyncOff ? "true" : "false") + ",\n";
    json += "  \"sound_output\": " + JsonString(report.SoundOutput) + ",\n";
    json += "  \"output_latency_ms\": " + JsonNumber(report.OutputLatencyMs) + ",\n";
    json += "  \"start_to_first_frame_ms\": " + JsonNumber(report.FirstFrameMs) + ",\n";
    json += "  \"played_seconds\": " + JsonNumber(report.PlayedSeconds) + ",\n";
    json += "  \"last_demo_time\": " + JsonNumber(report.LastDemoTime) + ",\n";
    json += std::string("  \"completed\": ") + (report.Completed ? "true" : "false") + ",\n";
    json += "  \"whole\": {" + JsonFigures(report.Whole) + "},\n";
    json += "  \"bars\": [";
    for (size_t i = 0; i < report.Bars.size(); ++i) {
        const TBarFigures& bar = report.Bars[i];
        json += std::string(i > 0 ? "," : "") + "\n    {\"index\": " + std::to_string(i) +
                ", \"label\": " + JsonString(bar.Label) + ", \"line\": " + std::to_string(bar.Line) + ", " +
                JsonFigures(bar.Figures) + "}";
    }
    json += report.Bars.empty() ? "],\n" : "\n  ],\n";
    json += "  \"below_60_hz\": [";
    const std::vector<size_t> slow = SlowBars(report);
    for (size_t i = 0; i < slow.size(); ++i) json += (i > 0 ? ", " : "") + std::to_string(slow[i]);
    json += "],\n";
    json += "  \"verdict\": " + JsonString(RehearsalVerdict(report)) + "\n}\n";
    return json;
}

int RunRehearse(const TRehearseOptions& options) {
    const Clock::time_point start = Clock::now();
    // A report that could not be written is told before the production
    // plays: the folder must take a new file. The report itself is written
    // whole at the end, so an earlier one stays as it was until then.
    if (!options.ReportFile.empty()) {
        std::string error;
        TOutputFile probe;
        if (!probe.Open(options.ReportFile, error)) {
            ReportMessage("Rehearsal", error);
            return 1;
        }
    }
    TRehearsalReport report;
    report.Script = options.Script;
    report.Video = "display";
    const bool display = std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (std::getenv("SDL_VIDEODRIVER") == nullptr && !display) setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (const char* driver = std::getenv("SDL_VIDEODRIVER"); driver && std::string(driver) == "offscreen")
        report.Video = "offscreen (no display)";

    TCDemo demo(options.Script);
    if (!options.ReportFile.empty()) {
        // The script is read: every file it named has been noted.
        std::string error;
        if (!CheckOutputPath(options.ReportFile, {}, "the report", error)) {
            ReportMessage("Rehearsal", error);
            return 2;
        }
    }
    if (demo.Window.RC != nullptr) {
        // The figures are what the machine can do, not the display's rate.
        report.VerticalSyncOff = SetVerticalSync(false);
        report.GLRenderer = GLString(GL_RENDERER);
        report.GLVersion = GLString(GL_VERSION);
    } else {
        report.GLRenderer = report.GLVersion = "no window was opened";
    }

    std::vector<double> wholeMs;
    std::vector<std::vector<double>> barMs(demo.Bars.size());
    Clock::time_point frameStart = Clock::now();
    Clock::time_point firstFrameEnd{};
    demo.AfterFrame = [&] {
        const Clock::time_point now = Clock::now();
        const double ms = Milliseconds(now - frameStart);
        frameStart = now;
        if (wholeMs.empty()) {
            firstFrameEnd = now;
            report.FirstFrameMs = Milliseconds(now - start);
        }
        wholeMs.push_back(ms);
        for (int32_t bar : demo.ActiveBars)
            if (bar >= 0 && size_t(bar) < barMs.size()) barMs[size_t(bar)].push_back(ms);
        report.LastDemoTime = demo.DemoTime;
    };
    demo.Run();
    demo.AfterFrame = nullptr;
    report.Completed = DemoQuit;
    if (!wholeMs.empty()) report.PlayedSeconds = std::chrono::duration<double>(frameStart - firstFrameEnd).count();
    report.SoundOutput = SoundOutputName().empty() ? "none (no music)" : SoundOutputName();
    report.OutputLatencyMs = OutputLatencySeconds() * 1000;

    report.Whole = SummariseFrames(wholeMs);
    for (size_t i = 0; i < demo.Bars.size(); ++i)
        report.Bars.push_back(TBarFigures{demo.Bars[i].Label, demo.Bars[i].ScriptLine, SummariseFrames(barMs[i])});

    std::fputs(RehearsalText(report).c_str(), stdout);
    std::fflush(stdout);
    if (!options.ReportFile.empty()) {
        // A rehearsal that played nothing measured nothing: an earlier report
        // is kept rather than replaced by an empty one.
        if (wholeMs.empty()) {
            ReportMessage("Rehearsal", "No frame was played, so the report " + options.ReportFile + " was not written");
            return 1;
        }
        std::string error;
        if (!WriteFileWhole(options.ReportFile, RehearsalJson(report), error)) {
            ReportMessage("Rehearsal", error);
            return 1;
        }
    }
    return demo.ExitCode();
}
