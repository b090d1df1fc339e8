#include "app/compo.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

#include "base/report.h"
#include "demo/demo.h"
#include "media/keyboard.h"
#include "render/gl.h"
#include "render/window.h"

namespace {

constexpr uint8_t ScanQ = 0x10, ScanEnter = 0x1C, ScanKeypadEnter = 0x9C;
constexpr uint8_t ScanF4 = 0x3E, ScanLeftAlt = 0x38, ScanRightAlt = 0xB8;

bool tracing = false;

void Trace(const std::string& text) {
    if (!tracing) return;
    std::fprintf(stderr, "compo: %s\n", text.c_str());
    std::fflush(stderr);
}

// Down now or tapped since the last poll.
bool Pressed(uint8_t code) { return KeyDown(code) || KeyPresses(code) > 0; }

// Escape, Q, Alt-F4 (as keys when no window manager turns it into a close)
// or a closed window.
bool EndAsked() {
    return Pressed(ScanEscape) || Pressed(ScanQ) ||
           (Pressed(ScanF4) && (Pressed(ScanLeftAlt) || Pressed(ScanRightAlt))) || WindowCloseRequested();
}

// Draws every loaded effect once into the back buffer with the inputs of the
// first bar that plays it (an effect no bar plays with none), then clears
// it: textures, display lists, shaders and the driver's own first-use work
// are done before the show. Returns the slots drawn.
std::set<int32_t> WarmUp(TCDemo& demo) {
    std::set<int32_t> drawn;
    for (size_t slot = 0; slot < demo.Effects.size(); ++slot) {
        TCEffect* effect = demo.Effects[slot].get();
        if (!effect) continue;
        TInputValues inputs{};
        for (const TScriptBar& bar : demo.Bars) {
            if (bar.EffectSlot != int32_t(slot)) continue;
            for (size_t i = 0; i < inputs.size(); ++i) inputs[i] = bar.Inputs[i].Enabled ? 1.0f : 0.0f;
            break;
        }
        BarTime = 0;
        FrameTime = 0;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        effect->Update(inputs);
        effect->Draw(inputs);
        drawn.insert(int32_t(slot));
    }
    glFinish();
    return drawn;
}

void ShowBlack(const TCDemo& demo) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    PresentFrame(demo.Window);
    PollKeyboard();
}

// Ends the process now: the show is over, and tearing down the sound device
// and the window would only delay the organiser's next entry.
[[noreturn]] void EndNow(int code) {
    Trace("exit " + std::to_string(code));
    std::fflush(nullptr);
    std::_Exit(code);
}

} // namespace

int RunCompo(const TCompoOptions& options) {
    const char* trace = std::getenv("CORVALA_COMPO_TRACE");
    tracing = trace && *trace && std::string(trace) != "0";
    // Compo mode writes nothing anywhere: no GL shader cache either.
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
    setenv("__GL_SHADER_DISK_CACHE", "0", 1);

    TDisplayPlan plan;
    plan.DesktopFullscreen = true;
    plan.KeepAspect = true;
    SetDisplayPlan(plan);

    TDemoOptions demoOptions;
    demoOptions.HoldStart = true;
    TCDemo demo(options.Script, demoOptions);
    if (DemoQuit) EndNow(demo.ExitCode());

    std::set<int32_t> drawn = WarmUp(demo);
    Trace("warm-up drew " + std::to_string(drawn.size()) + " effects");
    // Two black frames so that both buffers hold black before the wait.
    ShowBlack(demo);
    ShowBlack(demo);
    Trace("ready");

    const auto waitStart = std::chrono::steady_clock::now();
    for (;;) {
        if (EndAsked()) EndNow(0);
        if (Pressed(ScanSpace) || Pressed(ScanEnter) || Pressed(ScanKeypadEnter)) break;
        if (options.Autostart >= 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - waitStart).count() >= options.Autostart)
            break;
        // A display without vertical sync would spin here.
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        ShowBlack(demo);
    }

    // The keys that started the show must not count as presses in it.
    PollKeyboard();
    demo.BeginPlayback();
    Trace("first frame");
    int firstDrawsOnStage = 0;
    while (!DemoQuit) {
        demo.RenderFrame();
        for (int32_t bar : demo.ActiveBars) {
            const int32_t slot = demo.Bars[size_t(bar)].EffectSlot;
            const bool exists = slot >= 0 && size_t(slot) < demo.Effects.size() && demo.Effects[size_t(slot)];
            if (exists && drawn.insert(slot).second) {
                ++firstDrawsOnStage;
                Trace("slot " + std::to_string(slot) + " drew for the first time on stage at frame " +
                      std::to_string(demo.FrameNumber));
            }
        }
        if (EndAsked()) break;
    }
    Trace("end, frame " + std::to_string(demo.FrameNumber) + ", " + std::to_string(firstDrawsOnStage) +
          " first draws on stage");
    EndNow(EndAsked() ? 0 : demo.ExitCode());
}
