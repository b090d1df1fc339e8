// The playback loop: one frame after another until Escape, a closed window,
// the end time, the end of the tracker data, or DemoQuit.
#include <algorithm>
#include <cmath>
#include <string>

#include "demo/demo.h"
#include "base/report.h"
#include "media/keyboard.h"
#include "media/sound.h"
#include "render/gl.h"
#include "render/gl_state.h"
#include "render/overlay.h"

void TCDemo::Run() {
    for (;;) {
        if (KeyDown(ScanEscape) || DemoQuit) return;
        // Closing the window ends playback as Escape does.
        if (windowOpen && WindowCloseRequested()) return;
        RenderFrame();
    }
}

void TCDemo::RenderFrame() {
    // Whatever drew after the last effect (the timer overlay, the dev HUD,
    // a loading picture) is put back before the frame is cleared: the depth
    // mask and colour mask steer the clear too.
    if (windowOpen) RestoreBaseline();
    glClearColor(ClearColor.R, ClearColor.G, ClearColor.B, ClearColor.A);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    // The timer is read every frame (it advances the frame delta) even when
    // the music's position replaces its value. The time is summed in extended precision and narrowed once (halves to
    // even), so a clock that counts frames puts frame k at exactly
    // START + k x SPEED / fps, rounded to the nearest float.
    Timer->Elapsed();
    const long double clockTime = Timer->LastElapsed() * Speed + StartTime;
    DemoTime = float(clockTime);
    // A capture mixes the music up to each frame it renders, so its frame
    // clock is the music's position too, without the mixer's rounding (its
    // offset is counted in resampled source samples and narrowed twice).
    if (MusicLoaded && !Options.Capture) DemoTime = ChannelSeconds(MusicChannel);
    FrameDelta = Timer->FrameDelta;
    if (TimeHook) TimeHook(DemoTime, FrameDelta);
    if (EndTime > 0 && DemoTime > EndTime) DemoQuit = true;
    PollKeyboard();

    const int32_t row = Tracker->RowAt(DemoTime);
    CurrentRow = row;
    FrameRow = TrackRowAt(DemoTime, *Tracker);
    SetPlayingTracks(&Tracks, FrameRow);
    DemoSeconds = DemoTime;
    DemoRow = float(FrameRow);
    DemoBpm = Tracker->BPM;
    TInputValues inputs{};
    ActiveBars.clear();
    for (const TScriptBar& bar : Bars) {
        if (!(bar.StartRow <= row && int64_t(row) < int64_t(bar.StartRow) + bar.LengthRows)) continue;
        ActiveBars.push_back(int32_t(&bar - Bars.data()));
        BarTime = float(static_cast<long double>(DemoTime) - Tracker->RowTime(bar.StartRow));
        FrameTime = FrameDelta;
        const int32_t slot = bar.EffectSlot;
        TCEffect* effect = slot >= 0 && size_t(slot) < Effects.size() ? Effects[size_t(slot)].get() : nullptr;
        if (!effect) {
            // Reported once per bar; the demo stops after this frame.
            const size_t barIndex = size_t(&bar - Bars.data());
            if (reportedSlots.size() <= barIndex) reportedSlots.resize(Bars.size(), false);
            if (!reportedSlots[barIndex]) {
                reportedSlots[barIndex] = true;
                SetScriptLocation(ScriptFile, bar.ScriptLine);
                ShowScriptError("Effect not installed: " + std::to_string(slot) + " (" + EmptySlotReason(slot) + ")");
                ClearScriptLocation();
            }
            failed = true;
            DemoQuit = true;
            continue;
        }
        for (size_t i = 0; i < inputs.size(); ++i) {
            const TBarInput& in = bar.Inputs[i];
            inputs[i] = 0;
            if (!in.Enabled) continue;
            if (in.Channel < 0 || in.Channel >= Tracker->ChannelCount()) {
                ReportMissingChannel(size_t(&bar - Bars.data()), i);
                continue;
            }
            inputs[i] = Tracker->InputValue(in.Channel, in.Note, in.FadeTime, in.LeadTime, DemoTime);
        }
        ApplyTracks(*effect);
        if (BeforeEffect) BeforeEffect(int32_t(&bar - Bars.data()));
        effect->Update(inputs);
        effect->Draw(inputs);
        if (AfterEffect) AfterEffect(int32_t(&bar - Bars.data()));
        if (windowOpen) {
            if (glCheck) CheckEffectGL(bar, slot);
            // Nothing this effect switched reaches the next one, or this
            // one's next frame: each draws from the baseline alone.
            RestoreBaseline();
        }
    }

    if (ShowTimer) DrawTimerOverlay(row);
    PresentFrame(Window);
    ++FrameNumber;
    if (Tracker->RowCount() < Tracker->RowAt(DemoTime)) DemoQuit = true;
    // Music that ends before the tracker data would hold the clock on its
    // last position for ever: the demo ends with its music.
    if (MusicLoaded && DemoTime >= float(SampleSeconds(MusicSample))) DemoQuit = true;
    if (AfterFrame) AfterFrame();
}

void TCDemo::CheckEffectGL(const TScriptBar& bar, int32_t slot) {
    const std::string errors = TakeGLErrors();
    const std::string unbalanced = RebalanceStacks();
    if (errors.empty() && unbalanced.empty()) return;
    glCheckFailed = true;
    if (glReportedSlots.size() <= size_t(slot)) glReportedSlots.resize(size_t(slot) + 1, false);
    if (glReportedSlots[size_t(slot)]) return;
    glReportedSlots[size_t(slot)] = true;
    const std::string type = size_t(slot) < EffectTypeNames.size() && !EffectTypeNames[size_t(slot)].empty()
                                 ? EffectTypeNames[size_t(slot)]
                                 : "effect";
    const int32_t loadLine = size_t(slot) < EffectLines.size() ? EffectLines[size_t(slot)] : 0;
    std::string text = ScriptFile + ":" + std::to_string(loadLine) + ": the " + type + " in slot " +
                       std::to_string(slot) + " (bar \"" + bar.Label + "\" at line " + std::to_string(bar.ScriptLine) +
                       ")";
    if (!errors.empty()) text += " raised " + errors + " in its draw";
    if (!unbalanced.empty()) text += std::string(errors.empty() ? "" : " and") + " left " + unbalanced;
    ReportMessage("GL check", text + " (said once for the slot)");
}

void TCDemo::ReportMissingChannel(size_t barIndex, size_t input) {
    const std::pair<size_t, size_t> key{barIndex, input};
    if (std::find(reportedInputs.begin(), reportedInputs.end(), key) != reportedInputs.end()) return;
    reportedInputs.push_back(key);
    const TScriptBar& bar = Bars[barIndex];
    const int32_t channel = bar.Inputs[input].Channel;
    SetScriptLocation(ScriptFile, bar.InputLines[input] > 0 ? bar.InputLines[input] : bar.ScriptLine);
    ShowScriptError("Error reading demotrack " + std::to_string(channel) + ": " +
                    (bar.Label.empty() ? "the bar" : "the bar '" + bar.Label + "'") + " (line " +
                    std::to_string(bar.ScriptLine) + "), INPUT " + std::to_string(input) + " listens to channel " +
                    std::to_string(channel) + ", but the tracker has " + std::to_string(Tracker->ChannelCount()) +
                    " channels");
    ClearScriptLocation();
    failed = true;
    DemoQuit = true;
}

void TCDemo::DrawTimerOverlay(int32_t row) {
    const TRGBAColor white{1, 1, 1, 1};
    PushView();
    DrawBlendRect(TRGBAColor{0, 0, 0, 1}, 100, 475, 200, 40);
    const long long tenths = std::llrint(static_cast<long double>(DemoTime) * 10);
    const std::string seconds = "SECONDSx10: " + std::to_string(tenths);
    PrintText(seconds.c_str(), 100, 100, white);
    const std::string stamp = "TIMESTAMP: " + std::to_string(row / 64) + " :: " + std::to_string((row / 16) % 4) +
                              " :: " + std::to_string((row / 4) % 4) + " :: " + std::to_string(row % 4);
    PrintText(stamp.c_str(), 100, 120, white);
    PopView();
}
