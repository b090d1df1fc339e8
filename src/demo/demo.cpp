#include "demo/demo.h"

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <fstream>

#include "assets/asset_check.h"
#include "base/files.h"
#include "base/limits.h"
#include "base/report.h"
#include "effects/effect_files.h"
#include "effects/effect_types.h"
#include "media/keyboard.h"
#include "media/sound.h"
#include "media/song_import.h"
#include "media/sound_decode.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/material.h"
#include "render/overlay.h"

TCDemo::TCDemo(const std::string& scriptFile, const TDemoOptions& options) : ScriptFile(scriptFile), Options(options) {
    SetPlayingTracks(&Tracks, 0);
    const char* glCheckVariable = std::getenv("CORVALA_GL_CHECK");
    glCheck = Options.GLCheck || (glCheckVariable && *glCheckVariable && std::string(glCheckVariable) != "0");
    DemoCheckOnly = Options.CheckOnly;
    DemoQuit = false;
    errorsAtStart = ScriptErrorCount();
    ReadScript(scriptFile);
    ClearScriptLocation();

    if (Options.CheckOnly) {
        // Report everything a run would trip over, then play nothing.
        CheckPlayable();
        CheckTimeline();
        CheckSongSync();
        CheckEffects(true);
        CheckTracks();
        DemoQuit = true;
        Timer = std::make_unique<TETimer>(Options.Clock);
        return;
    }

    // An effect whose constructor could not load its fixed files has set
    // DemoQuit; that stop stays.
    DemoQuit = failed || DemoQuit;
    if (!DemoQuit) CheckPlayable();
    if (!DemoQuit) LoadEffects();
    if (failed) DemoQuit = true;
    if (!DemoQuit && Options.Checked) {
        CheckTimeline();
        CheckSongSync();
        CheckEffects(false);
        CheckTracks();
    }

    // A demo continuing another one keeps the font that one built.
    // The glyphs are bitmaps: on a screen larger than the production's size
    // they are built larger, so text keeps its size on the picture.
    if (windowOpen && !Options.Handover)
        BuildFont(OverlayFontFamily, int(std::lround(14 * PictureScale())), OverlayFontBold);
    if (!DemoQuit && Options.Start) StartTime = PositionSeconds(*Options.Start, *Tracker);
    if (!DemoQuit && !Options.HoldStart) StartPlayback();
    Timer = std::make_unique<TETimer>(Options.Clock);
    Timer->Reset();
}

void TCDemo::BeginPlayback() {
    if (DemoQuit) return;
    StartPlayback();
    Timer->Reset();
}

TCDemo::~TCDemo() {
    if (PlayingTracks() == &Tracks) SetPlayingTracks(nullptr, 0);
}

void TCDemo::Fail(const std::string& description) {
    ShowScriptError(description);
    failed = true;
    DemoQuit = true;
}

void TCDemo::Tolerate(const std::string& description) {
    ShowScriptError(description);
    ++toleratedErrors;
}

int TCDemo::ExitCode() const {
    // Every script error counts, also those the demo played on after (a file
    // that failed to load, a second INIT): the run was not what was written.
    const int errors = ScriptErrorCount() - errorsAtStart;
    if (Options.CheckOnly) return errors > 0 ? 1 : 0;
    return failed || glCheckFailed || errors > 0 ? 1 : 0;
}

void TCDemo::ReadScript(const std::string& fileName) {
    NoteInputFile(fileName);
    // A FIFO or a folder is refused before it is opened (a FIFO would block).
    if (const std::string kind = SpecialFileKind(fileName); !kind.empty())
        RaiseApplicationError("Cannot open file " + fileName + ": it is " + kind + ", not a script");
    std::ifstream file(fileName, std::ios::binary);
    if (!file) RaiseApplicationError("Cannot open file " + fileName);
    std::string text;
    char buffer[65536];
    while (file && text.size() <= size_t(limits::MaxScriptBytes)) {
        file.read(buffer, sizeof buffer);
        text.append(buffer, size_t(file.gcount()));
    }
    if (text.size() > size_t(limits::MaxScriptBytes))
        RaiseApplicationError("Script " + fileName + " is larger than " +
                              std::to_string(limits::MaxScriptBytes / (1024 * 1024)) + " MiB");
    const std::vector<std::string> lines = SplitScriptLines(text);

    Effects.clear();
    EffectLines.clear();
    TParser parser;
    for (size_t i = 0; i < lines.size(); ++i) {
        SetScriptLocation(fileName, int(i + 1));
        currentLine = int32_t(i + 1);
        parser.Parse(ApplyMacros(lines[i], MacroKeys, MacroValues));
        if (!Checking()) {
            ExecuteCommand(parser.Command);
            continue;
        }
        // The check goes on after a malformed number or a missing file, so
        // one run lists every problem.
        try {
            ExecuteCommand(parser.Command);
        } catch (const EApplicationError& error) {
            ShowScriptError(error.Bare());
        }
    }
}

void TCDemo::InstallEffect(std::unique_ptr<TCEffect> effect, int32_t slot) {
    if (size_t(slot) >= Effects.size()) {
        Effects.resize(size_t(slot) + 1);
        EffectLines.resize(size_t(slot) + 1, 0);
        EffectFileLines.resize(size_t(slot) + 1);
    }
    EffectFileLines[size_t(slot)] = {};
    effect->SlotIndex = slot;
    Effects[size_t(slot)] = std::move(effect);
    EffectLines[size_t(slot)] = ScriptLocationLine();
}

void TCDemo::LoadEffects() {
    for (size_t slot = 0; slot < Effects.size(); ++slot) {
        if (!Effects[slot]) continue;
        // Errors of an effect's Load name the line of its LOAD.
        SetScriptLocation(ScriptFile, EffectLines[slot]);
        NameEffectFiles(slot);
        Effects[slot]->Load();
    }
    SetNamedFileLines({});
    ClearScriptLocation();
}

void TCDemo::NameEffectFiles(size_t slot) {
    const TCEffect& effect = *Effects[slot];
    const std::array<int32_t, 3>& lines = EffectFileLines[slot];
    SetNamedFileLines({{effect.A, lines[0]}, {effect.B, lines[1]}, {effect.C, lines[2]}});
}

bool TCDemo::CheckPlayable() {
    // Every frame converts time to rows; without a tempo that would divide
    // by zero.
    if (!Tracker) {
        SetScriptLocation(ScriptFile, 0);
        Fail("The script has no TRACKER line; the timeline needs a tracker and a BPM");
    } else if (!(Tracker->BPM > 0)) {
        SetScriptLocation(ScriptFile, 0);
        Fail("BPM is not set to a value above 0; the timeline needs a tempo");
    }
    ClearScriptLocation();
    return !failed;
}

void TCDemo::CheckTimeline() {
    const int32_t channels = Tracker ? Tracker->ChannelCount() : 0;
    const int32_t rows = Tracker ? Tracker->RowCount() : 0;
    const bool grid = Tracker && !trackerBroken; // a broken one was reported once, at its line
    for (const TScriptBar& bar : Bars) {
        SetScriptLocation(ScriptFile, bar.ScriptLine);
        const std::string name = bar.Label.empty() ? "The bar" : "The bar '" + bar.Label + "'";
        const int32_t slot = bar.EffectSlot;
        if (bar.EffectLine == 0) ReportWarning(name + " has no EFFECT line; it plays slot 0");
        if (slot < 0 || size_t(slot) >= Effects.size() || !Effects[size_t(slot)]) {
            // The line to fix is the EFFECT line (a misspelt one counts as none).
            SetScriptLocation(ScriptFile, bar.EffectLine > 0 ? bar.EffectLine : bar.ScriptLine);
            ShowScriptError(name + " plays effect slot " + std::to_string(slot) +
                            ", which holds no effect: " + EmptySlotReason(slot));
            SetScriptLocation(ScriptFile, bar.ScriptLine);
        }
        if (bar.LengthRows <= 0)
            ReportWarning(name + " has a LENGTH of " + std::to_string(bar.LengthRows) + " rows and never plays");
        if (grid && bar.StartRow > rows)
            ReportWarning(name + " starts at row " + std::to_string(bar.StartRow) + ", after the tracker's end (" +
                          std::to_string(rows) + " rows)");
        else if (grid && int64_t(bar.StartRow) + bar.LengthRows > int64_t(rows) + 1)
            ReportWarning(name + " reaches past the tracker's end (" + std::to_string(rows) +
                          " rows); the demo ends there");
        for (size_t i = 0; i < bar.Inputs.size(); ++i) {
            const TBarInput& input = bar.Inputs[i];
            if (!input.Enabled) continue;
            SetScriptLocation(ScriptFile, bar.InputLines[i] > 0 ? bar.InputLines[i] : bar.ScriptLine);
            if (grid && (input.Channel < 0 || input.Channel >= channels))
                ShowScriptError(name + ": INPUT " + std::to_string(i) + " listens to channel " +
                                std::to_string(input.Channel) + ", but the tracker has " + std::to_string(channels) +
                                " channels");
            if (!(input.FadeTime > 0))
                ReportWarning(name + ": INPUT " + std::to_string(i) + " has no fade time and always gives 0");
        }
    }
    ClearScriptLocation();
}

std::string TCDemo::EmptySlotReason(int32_t slot) const {
    const auto failedLoad = failedLoads.find(slot);
    if (failedLoad != failedLoads.end())
        return "the LOAD at line " + std::to_string(failedLoad->second) + " that would fill it failed";
    std::string loaded;
    for (size_t i = 0; i < Effects.size(); ++i)
        if (Effects[i]) loaded += (loaded.empty() ? "" : ", ") + std::to_string(i);
    return "no LOAD line loads slot " + std::to_string(slot) + " (a line 'LOAD TYPE " + std::to_string(slot) +
           "' before the BAR would; " + (loaded.empty() ? "no slot is loaded" : "loaded slots: " + loaded) + ")";
}

void TCDemo::CheckEffects(bool files) {
    for (size_t slot = 0; slot < Effects.size(); ++slot) {
        if (!Effects[slot]) continue;
        // Problems of an effect are the LOAD line's to fix; a file is the
        // line's that names it.
        SetScriptLocation(ScriptFile, EffectLines[slot]);
        const std::string typeName = slot < EffectTypeNames.size() ? EffectTypeNames[slot] : "";
        if (files) {
            NameEffectFiles(slot);
            Effects[slot]->Check();
            if (const TEffectType* type = FindEffectType(typeName)) CheckEffectFiles(*type, *Effects[slot]);
            SetNamedFileLines({});
        }
        const bool played = std::any_of(Bars.begin(), Bars.end(),
                                        [&](const TScriptBar& bar) { return bar.EffectSlot == int32_t(slot); });
        if (!played) ReportWarning("No bar plays the " + typeName + " in slot " + std::to_string(slot));
    }
    ClearScriptLocation();
}

void TCDemo::CheckParameterTarget(const TCDemoCommand& command, const TCEffect& target) {
    // Parameter lines go to the effect in the highest slot loaded so far; the
    // writer means the effect of the LOAD line above them. Said once per LOAD.
    if (targetWarned || lastLoadLine == 0 || target.SlotIndex == lastLoadSlot) return;
    targetWarned = true;
    const size_t slot = size_t(target.SlotIndex);
    const std::string changed = "parameter " + command[0] + " changes the " +
                                (slot < EffectTypeNames.size() ? EffectTypeNames[slot] : "effect") + " in slot " +
                                std::to_string(slot) + " (LOAD at line " +
                                std::to_string(slot < EffectLines.size() ? EffectLines[slot] : 0) + ")";
    if (lastLoadSlot < 0)
        ReportWarning(changed + ", because line " + std::to_string(lastLoadLine) +
                      " above it loads nothing; so do the parameter lines after it");
    else
        ReportWarning(changed + ", not the " + EffectTypeNames[size_t(lastLoadSlot)] + " that line " +
                      std::to_string(lastLoadLine) + " loads into slot " + std::to_string(lastLoadSlot) +
                      ": parameter lines go to the effect in the highest slot loaded so far");
}

void TCDemo::CheckPartyResolution() {
    // The sizes party projectors and compo machines are set up for.
    static constexpr int32_t shown[][2] = {{640, 480}, {1024, 768}, {1280, 720}, {1920, 1080}};
    for (const auto& size : shown)
        if (ResolutionX == size[0] && ResolutionY == size[1]) return;
    ReportWarning("the resolution " + std::to_string(ResolutionX) + "x" + std::to_string(ResolutionY) +
                  " is none of those parties show (640x480, 1024x768, 1280x720, 1920x1080); "
                  "the compo machine scales it to its screen");
}

void TCDemo::StartPlayback() {
    if (!MusicLoaded || Options.CheckOnly) return;
    if (musicTakenOver) {
        // Plays on where it is, paused or not, at the speed it has.
        MusicChannel = Options.Handover->MusicChannel;
        return;
    }
    MusicChannel = PlaySample(MusicSample, 100, 0);
    SetChannelSeconds(MusicChannel, Options.Handover ? Options.Handover->DemoTime : StartTime);
    ScaleChannelFrequency(MusicChannel, Speed);
}

void TCDemo::DrawLoading() {
    for (int i = 0; i < 51; ++i) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        // Without a loading picture the frames show the clear colour instead
        // of an untextured white rectangle.
        if (LoadingTexture > 0) {
            PushView();
            // The whole window, whatever its size (overlay units are its pixels).
            DrawPicture(uint32_t(LoadingTexture), 0, 0, float(Window.Width), float(Window.Height));
            PopView();
        }
        PresentFrame(Window);
    }
}
