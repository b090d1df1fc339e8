// Dev mode's HUD: time, position and render time; the transport; each
// active bar with its effect and input values; what the checks said of the
// playing version; a refused reload. Every line is wrapped inside the
// window; the full texts are on stderr too.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/dev.h"
#include "app/dev_tracks.h"
#include "render/gl.h"
#include "render/overlay.h"
#include "render/window.h"

namespace {

// Layout in overlay units. The character width is an average of the
// overlay font, a little generous.
constexpr int HudMargin = 8, HudPadding = 6, HudLineHeight = 16, HudCharWidth = 7;
constexpr size_t HudMaxBars = 12;
// An input's meter cell: the bar, the value (four characters), a gap.
constexpr size_t MeterChars = 7;

const TRGBAColor White{1, 1, 1, 1}, Amber{1, 0.85f, 0.3f, 1}, Sky{0.7f, 0.9f, 1, 1}, Red{1, 0.25f, 0.25f, 1},
    Yellow{1, 1, 0.45f, 1}, Green{0.45f, 1, 0.5f, 1}, Mint{0.6f, 1, 0.7f, 1};

std::string Fixed(double value, const char* format) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::vector<std::string> WrapHudText(const std::string& text, size_t width) {
    width = std::max<size_t>(width, 1);
    // A text of several lines (a shader's errors, one a line) is wrapped
    // line by line; the font has no glyph for a line end.
    if (size_t end = text.find('\n'); end != std::string::npos) {
        std::vector<std::string> lines = WrapHudText(text.substr(0, end), width);
        while (end < text.size()) {
            size_t from = end + 1;
            while (from < text.size() && text[from] == ' ') ++from;
            end = std::min(text.find('\n', from), text.size());
            for (const std::string& part : WrapHudText(text.substr(from, end - from), width > 2 ? width - 2 : 1))
                lines.push_back("  " + part);
        }
        return lines;
    }
    std::vector<std::string> lines;
    size_t at = 0;
    while (text.size() - at > width) {
        // Break at the last space that fits; a word longer than the line is
        // cut where the line ends.
        size_t cut = text.rfind(' ', at + width);
        if (cut == std::string::npos || cut <= at) cut = at + width;
        lines.push_back(text.substr(at, cut - at));
        at = cut;
        while (at < text.size() && text[at] == ' ') ++at;
    }
    if (at < text.size() || lines.empty()) lines.push_back(text.substr(at));
    // Continuation lines are indented, so a wrapped message reads as one.
    for (size_t i = 1; i < lines.size(); ++i) lines[i] = "  " + lines[i];
    return lines;
}

std::vector<TDevSession::THudLine> TDevSession::HudLines() {
    TCDemo& d = Demo();
    std::vector<THudLine> hud;
    hud.push_back({Fixed(d.DemoTime, "%.3f s") + "   " + RowPositionText(d.CurrentRow) + "   render " +
                   Fixed(renderMilliseconds, "%.1f ms")});
    std::string state = transport.Paused() ? "PAUSED" : "playing";
    state += "   speed " + Fixed(transport.Speed(), "%g") + "x";
    if (transport.Looping())
        state += "   loop " + RowPositionText(d.Tracker->RowAt(transport.LoopFrom())) + " - " +
                 RowPositionText(d.Tracker->RowAt(transport.LoopTo()));
    else if (loopMarked)
        state += "   loop from " + RowPositionText(loopMarkRow) + " (L: end)";
    const float end = EndSeconds();
    state += AtEnd() ? "   END" : "   end " + TimeText(end);
    hud.push_back({state, Amber});
    if (SteadyNow() < reloadedUntil) hud.push_back({"reloaded", Green});

    // A refused reload: a new warning at or above the error's line (a
    // misspelt keyword) first, then the error.
    if (const auto& refusal = reloader->Refusal()) {
        if (const TReport* cause = reloader->RefusalCause())
            hud.push_back({"not reloaded: " + ReportPlacedText(*cause), Yellow});
        hud.push_back({(reloader->RefusalCause() ? "then: " : "not reloaded: ") + ReportPlacedText(*refusal), Red});
    }

    // What the checks said of the playing version. These come before the
    // bars, so that a small window keeps them.
    size_t errors = 0, warnings = 0;
    const TReport* firstError = nullptr;
    const TReport* firstWarning = nullptr;
    for (const TReport& report : reloader->Reports()) {
        if (report.Kind == TReportKind::Error && !errors++) firstError = &report;
        if (report.Kind == TReportKind::Warning && !warnings++) firstWarning = &report;
    }
    if (firstError)
        hud.push_back({std::to_string(errors) + (errors == 1 ? " error: " : " errors, the first: ") +
                           ReportPlacedText(*firstError),
                       Red});
    if (firstWarning)
        hud.push_back({std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings") +
                           " ('warnings' lists them): " + ReportPlacedText(*firstWarning),
                       Yellow});
    size_t active = 0;
    for (const TScriptBar& bar : d.Bars) {
        if (!(bar.StartRow <= d.CurrentRow && int64_t(d.CurrentRow) < int64_t(bar.StartRow) + bar.LengthRows)) continue;
        if (++active > HudMaxBars) continue;
        const std::string label = bar.Label.empty() ? "(no label)" : bar.Label.substr(0, 28);
        const size_t slot = size_t(bar.EffectSlot);
        const std::string type = bar.EffectSlot >= 0 && slot < d.EffectTypeNames.size() && d.Effects[slot]
                                     ? d.EffectTypeNames[slot]
                                     : "empty";
        hud.push_back({label + "  line " + std::to_string(bar.ScriptLine) + "  slot " + std::to_string(bar.EffectSlot) +
                           " " + type,
                       Sky});
        // The inputs: a meter (0 to 1, brighter above 1) and the value.
        THudLine meters{"", Sky};
        for (size_t k = 0; k < bar.Inputs.size(); ++k) {
            const TBarInput& in = bar.Inputs[k];
            if (!in.Enabled) continue;
            const bool heard = in.Channel >= 0 && in.Channel < d.Tracker->ChannelCount();
            const float value =
                heard ? d.Tracker->InputValue(in.Channel, in.Note, in.FadeTime, in.LeadTime, d.DemoTime) : 0.0f;
            meters.Meters.push_back({value, heard ? Fixed(value, "%.2f") : std::string("n/a")});
        }
        if (!meters.Meters.empty()) hud.push_back(meters);
    }
    if (active > HudMaxBars) hud.push_back({"+" + std::to_string(active - HudMaxBars) + " more bars", Sky});
    for (const std::string& line : TrackHudLines(d)) hud.push_back({line, Mint});

    return hud;
}

TDevSession::TBox TDevSession::DrawHud() {
    const std::vector<THudLine> content = HudLines();
    const int windowWidth = CurrentWindow.Width, windowHeight = CurrentWindow.Height;
    const size_t usable = size_t(std::max(1, (windowWidth - 2 * HudMargin - 2 * HudPadding) / HudCharWidth));

    // Wrapped to the window: text by words, meters by whole inputs.
    std::vector<THudLine> hud;
    for (const THudLine& line : content) {
        if (line.Meters.empty()) {
            for (const std::string& part : WrapHudText(line.Text, usable)) hud.push_back({part, line.Color});
            continue;
        }
        const size_t perLine = std::max<size_t>(1, usable / MeterChars);
        for (size_t first = 0; first < line.Meters.size(); first += perLine) {
            THudLine part{"", line.Color};
            const size_t last = std::min(line.Meters.size(), first + perLine);
            part.Meters.assign(line.Meters.begin() + ptrdiff_t(first), line.Meters.begin() + ptrdiff_t(last));
            part.Text.assign(part.Meters.size() * MeterChars, ' ');
            hud.push_back(part);
        }
    }
    // Lines below the window's bottom are left out, said on the last one.
    const size_t fitLines = size_t(std::max(1, (windowHeight - 2 * HudMargin - 2 * HudPadding) / HudLineHeight));
    if (hud.size() > fitLines) {
        const size_t left = hud.size() - fitLines + 1;
        hud.resize(fitLines);
        hud.back() = THudLine("+" + std::to_string(left) + " lines", White);
    }

    size_t widest = 0;
    for (const THudLine& line : hud) widest = std::max(widest, line.Text.size());
    int boxWidth = int(widest) * HudCharWidth + 2 * HudPadding;
    boxWidth = std::max(0, std::min(boxWidth, windowWidth - 2 * HudMargin));
    const int boxHeight = std::min(int(hud.size()) * HudLineHeight + 2 * HudPadding, windowHeight - 2 * HudMargin);
    const int left = HudMargin, top = HudMargin;
    const TBox box{left, windowHeight - top - boxHeight, boxWidth, boxHeight};

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    // Text wider than the estimate must not reach the picture: draw through
    // a scissor of the box, in drawable pixels.
    int pixelsWide = 0, pixelsHigh = 0;
    DrawableSize(pixelsWide, pixelsHigh);
    if (windowWidth > 0 && windowHeight > 0) {
        const double sx = double(pixelsWide) / windowWidth, sy = double(pixelsHigh) / windowHeight;
        glEnable(GL_SCISSOR_TEST);
        glScissor(int(std::ceil(box.X * sx)), int(std::ceil(box.Y * sy)), int(std::floor(box.Width * sx)),
                  int(std::floor(box.Height * sy)));
    }
    // The picture is finished (and saved, when asked): the HUD draws over
    // everything, whatever depth the scene left.
    glClear(GL_DEPTH_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_CULL_FACE);
    PushView();
    DrawBlendRect(TRGBAColor{0, 0, 0, 0.78f}, float(box.X), float(box.Y), float(box.Width), float(box.Height));
    for (size_t i = 0; i < hud.size(); ++i) {
        const int baseline = top + HudPadding + HudLineHeight * int(i + 1) - 4;
        PrintText(hud[i].Text.c_str(), left + HudPadding, baseline, hud[i].Color);
        const float bottom = float(windowHeight - baseline - 1);
        // Each meter in its own cell of MeterChars characters: the bar, then
        // the number (placed by cell, as the font is proportional).
        for (size_t k = 0; k < hud[i].Meters.size(); ++k) {
            const THudMeter& meter = hud[i].Meters[k];
            const int x = left + HudPadding + int(k * MeterChars) * HudCharWidth;
            DrawBlendRect(TRGBAColor{0.3f, 0.3f, 0.3f, 1}, float(x), bottom, 5, 11);
            const float fill = std::clamp(meter.Value, 0.0f, 1.0f) * 11;
            if (fill > 0)
                DrawBlendRect(meter.Value > 1 ? TRGBAColor{1, 1, 0.4f, 1} : TRGBAColor{0.3f, 1, 0.4f, 1}, float(x),
                              bottom, 5, fill);
            PrintText(meter.Text.c_str(), x + 9, baseline, hud[i].Color);
        }
    }
    PopView();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
    return box;
}
