#include "app/rehearse.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/files.h"
#include "base/output.h"
#include "base/report.h"
#include "demo/demo.h"
#include "media/sound.h"
#include "demo/position.h"
#include "render/draw_timer.h"
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
    return "\"frames\": " + std::to_string(f.Frames) + ", \"median_ms\": " + (any ? JsonNumber(f.MedianMs) : "null") +
           ", \"p99_ms\": " + (any ? JsonNumber(f.P99Ms) : "null") +
           ", \"worst_ms\": " + (any ? JsonNumber(f.WorstMs) : "null") +
           ", \"over_16_7_ms\": " + std::to_string(f.Over60Hz) + ", \"over_33_3_ms\": " + std::to_string(f.Over30Hz) +
           ", \"holds_60_hz\": " + (any ? (HoldsSixtyHz(f) ? "true" : "false") : "null");
}

// Bars that played, highest 99th percentile first (then worst frame).
std::vector<size_t> BarsByCost(const TRehearsalReport& report) {
    std::vector<size_t> played;
    for (size_t i = 0; i < report.Bars.size(); ++i)
        if (report.Bars[i].Figures.Frames > 0) played.push_back(i);
    std::stable_sort(played.begin(), played.end(), [&](size_t a, size_t b) {
        const TFrameFigures& fa = report.Bars[a].Figures;
        const TFrameFigures& fb = report.Bars[b].Figures;
        return fa.P99Ms != fb.P99Ms ? fa.P99Ms > fb.P99Ms : fa.WorstMs > fb.WorstMs;
    });
    return played;
}

// Bars that played and miss 60 Hz, worst 99th percentile first.
std::vector<size_t> SlowBars(const TRehearsalReport& report) {
    std::vector<size_t> slow = BarsByCost(report);
    std::erase_if(slow, [&](size_t i) { return HoldsSixtyHz(report.Bars[i].Figures); });
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
    if (slow.empty())
        return HoldsSixtyHz(report.Whole) ? "all bars hold 60 Hz"
                                          : "no bar alone misses 60 Hz, but the frames together do" +
                                                Format(" (99th percentile %.1f ms)", report.Whole.P99Ms);
    const TBarFigures& worst = report.Bars[slow.front()];
    std::string text =
        (slow.size() == 1 ? std::string("1 bar does not") : std::to_string(slow.size()) + " bars do not") +
        " hold 60 Hz; the worst is " + BarName(worst) + Format(" at %.1f ms", worst.Figures.P99Ms);
    if (!HoldsSixtyHz(report.Whole)) text += Format("; whole frames: 99th percentile %.1f ms", report.Whole.P99Ms);
    return text;
}

std::string WorstBarsText(const TRehearsalReport& report) {
    const std::vector<size_t> order = BarsByCost(report);
    std::string text;
    for (size_t k = 0; k < std::min<size_t>(order.size(), 5); ++k) {
        const TBarFigures& bar = report.Bars[order[k]];
        char figures[160];
        std::snprintf(figures, sizeof figures, ": 99th percentile %.2f ms, worst %.2f ms at %.2f s", bar.Figures.P99Ms,
                      bar.Figures.WorstMs, bar.WorstAtSeconds);
        text += "  " + BarName(bar) + figures +
                (bar.WorstAtRow >= 0 ? " (" + RowPositionText(bar.WorstAtRow) + ")" : std::string()) + "\n";
    }
    return text;
}

std::string RehearsalText(const TRehearsalReport& report) {
    std::string text = "rehearsal of " + report.Script + "\n";
    text += "GL renderer: " + report.GLRenderer + "\nGL version: " + report.GLVersion + "\n";
    text += "video: " + report.Video +
            (report.VerticalSyncOff ? ", vertical sync off"
                                    : ", vertical sync could "
                                      "not be switched off (frame times are held to the display)") +
            "\n";
    text += "sound: " + report.SoundOutput + Format(", output latency %.1f ms", report.OutputLatencyMs) + "\n";
    text += Format("start to first frame: %.1f ms", report.FirstFrameMs) +
            " (the start-up; that frame is counted below in no figure)\n";
    if (!report.BarTiming.empty()) text += "bar times: " + report.BarTiming + "\n";
    text += "played " + std::to_string(report.Whole.Frames) + " frames in " + Format("%.2f s", report.PlayedSeconds) +
            Format(" up to demo time %.2f s", report.LastDemoTime) +
            (report.Completed ? "" : ", stopped before the end") + "\n\n";

    size_t width = 24;
    std::vector<std::string> names;
    for (const TBarFigures& bar : report.Bars) {
        names.push_back(BarName(bar));
        width = std::max(width, std::min<size_t>(names.back().size(), 48));
    }
    std::string header = "bar (its own effect's time)";
    header.resize(std::max(width, header.size()), ' ');
    width = header.size();
    text += header + "  frames  median ms    p99 ms  worst ms  >16.7ms  >33.3ms\n";
    for (size_t i = 0; i < report.Bars.size(); ++i) text += FiguresRow(names[i], width, report.Bars[i].Figures);
    text += FiguresRow("whole production (frames)", width, report.Whole);
    text += "\nverdict: " + RehearsalVerdict(report) + "\n";
    if (const std::string worst = WorstBarsText(report); !worst.empty())
        text += "costliest bars, with their worst frame:\n" + worst;
    if (SoftwareRenderer(report.GLRenderer))
        text += "note: the GL renderer is software (" + report.GLRenderer +
                "), drawing on the CPU: these figures are not the party machine's\n";
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
    // A named pipe is not opened early: its reader would take the probe's
    // close for the end of the report.
    if (!options.ReportFile.empty() && SpecialFileKind(options.ReportFile) != "a FIFO (named pipe)") {
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

    // Each bar is charged with its own effect's time (the draw timer); the
    // frames of the whole run are timed from the end of one to the end of
    // the next, so a frame's time includes its swap. Frame 0 carries the
    // start-up and is left out of both.
    std::vector<double> wholeMs;
    struct TFrameMoment {
        double Seconds = 0;
        int32_t Row = 0;
    };
    std::vector<TFrameMoment> moments; // per frame
    std::vector<std::vector<double>> barMs(demo.Bars.size());
    std::vector<std::pair<double, int64_t>> barWorst(demo.Bars.size(), {-1.0, -1}); // ms, frame
    std::vector<TDrawTimer::TResult> results;
    std::unique_ptr<TDrawTimer> timer;
    if (demo.Window.RC != nullptr) {
        timer = std::make_unique<TDrawTimer>();
        report.BarTiming = timer->UsesTimerQueries()
                               ? "GL timer queries (each effect's GPU time, or the CPU time it took to issue "
                                 "its draw when that is longer)"
                           : SoftwareRenderer(report.GLRenderer)
                               ? "glFinish around each effect's draw (a software renderer's timer "
                                 "queries do not tell its effects apart)"
                               : "glFinish around each effect's draw (no GL timer queries in this context)";
        demo.BeforeEffect = [&](int32_t bar) { timer->Begin(bar, int64_t(wholeMs.size())); };
        demo.AfterEffect = [&](int32_t) { timer->End(); };
    }
    const auto fileResults = [&](bool wait) {
        results.clear();
        if (timer) timer->Collect(results, wait);
        for (const TDrawTimer::TResult& r : results) {
            if (r.Frame == 0 || r.Tag < 0 || size_t(r.Tag) >= barMs.size()) continue;
            barMs[size_t(r.Tag)].push_back(r.Milliseconds);
            auto& worst = barWorst[size_t(r.Tag)];
            if (r.Milliseconds > worst.first) worst = {r.Milliseconds, r.Frame};
        }
    };
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
        moments.push_back(TFrameMoment{demo.DemoTime, demo.CurrentRow});
        report.LastDemoTime = demo.DemoTime;
        fileResults(false);
    };
    demo.Run();
    demo.AfterFrame = nullptr;
    demo.BeforeEffect = demo.AfterEffect = nullptr;
    fileResults(true);
    report.Completed = DemoQuit;
    if (!wholeMs.empty()) report.PlayedSeconds = std::chrono::duration<double>(frameStart - firstFrameEnd).count();
    report.SoundOutput = SoundOutputName().empty() ? "none (no music)" : SoundOutputName();
    report.OutputLatencyMs = OutputLatencySeconds() * 1000;

    report.Whole = SummariseFrames(wholeMs.size() > 1 ? std::vector<double>(wholeMs.begin() + 1, wholeMs.end())
                                                      : std::vector<double>{});
    for (size_t i = 0; i < demo.Bars.size(); ++i) {
        TBarFigures bar{demo.Bars[i].Label, demo.Bars[i].ScriptLine, SummariseFrames(barMs[i])};
        const int64_t frame = barWorst[i].second;
        if (frame >= 0 && size_t(frame) < moments.size()) {
            bar.WorstAtSeconds = moments[size_t(frame)].Seconds;
            bar.WorstAtRow = moments[size_t(frame)].Row;
        }
        report.Bars.push_back(bar);
    }

    // With the report on standard output (--report /dev/stdout), the text
    // goes to standard error so that the JSON stays alone.
    std::FILE* text = IsStandardOutput(options.ReportFile) ? stderr : stdout;
    std::fputs(RehearsalText(report).c_str(), text);
    std::fflush(text);
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
