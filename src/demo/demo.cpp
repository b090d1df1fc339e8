#include "demo/demo.h"

#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <unordered_map>

#include "assets/asset_check.h"
#include "base/files.h"
#include "base/limits.h"
#include "base/report.h"
#include "media/keyboard.h"
#include "media/sound.h"
#include "media/sound_decode.h"
#include "render/gl.h"
#include "render/material.h"
#include "render/overlay.h"

namespace {

float ToFloat(long double value) { return float(value); }

// Pattern, bar, beat and row of MOUNT and LENGTH; a missing or empty token
// counts as 0 and tokens after the fourth are ignored.
int32_t ReadPosition(const TCDemoCommand& command) {
    int64_t rows = 0;
    const int64_t weights[4] = {64, 16, 4, 1};
    for (size_t i = 0; i < 4; ++i) {
        const std::string token = TokenText(command, i + 1);
        if (!token.empty()) rows += int64_t(StrToInt(token)) * weights[i];
    }
    return int32_t(uint32_t(uint64_t(rows)));
}

TRGBAColor ReadColor(const TCDemoCommand& command) {
    return TRGBAColor{ToFloat(TokenInt(command, 1) / 255.0L), ToFloat(TokenInt(command, 2) / 255.0L),
                      ToFloat(TokenInt(command, 3) / 255.0L), ToFloat(TokenInt(command, 4) / 255.0L)};
}

} // namespace

TCDemo::TCDemo(const std::string& scriptFile, const TDemoOptions& options)
    : ScriptFile(scriptFile), Options(options) {
    DemoCheckOnly = Options.CheckOnly;
    DemoQuit = false;
    errorsAtStart = ScriptErrorCount();
    ReadScript(scriptFile);
    ClearScriptLocation();

    if (Options.CheckOnly) {
        // Report everything a run would trip over, then play nothing.
        CheckPlayable();
        CheckTimeline();
        for (size_t slot = 0; slot < Effects.size(); ++slot) {
            if (!Effects[slot]) continue;
            SetScriptLocation(ScriptFile, EffectLines[slot]);
            Effects[slot]->Check();
        }
        ClearScriptLocation();
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

    if (windowOpen) BuildFont("Verdana", 14, true);
    if (!DemoQuit && Options.Start) StartTime = PositionSeconds(*Options.Start, *Tracker);
    if (!DemoQuit) StartPlayback();
    Timer = std::make_unique<TETimer>(Options.Clock);
    Timer->Reset();
}

TCDemo::~TCDemo() = default;

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
    // Every script error counts, except those the demo was meant to play on
    // after (a music file that does not load, a second INIT).
    const int errors = ScriptErrorCount() - errorsAtStart - toleratedErrors;
    if (Options.CheckOnly) return errors > 0 ? 1 : 0;
    return failed || errors > 0 ? 1 : 0;
}

void TCDemo::ReadScript(const std::string& fileName) {
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
        parser.Parse(ApplyMacros(lines[i], MacroKeys, MacroValues));
        if (!Options.CheckOnly) {
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

TCEffect* TCDemo::TargetEffect(const TCDemoCommand& command) {
    // The parameters of an effect that failed to load were reported with it.
    if (loadFailed) return nullptr;
    if (Effects.empty()) {
        Fail("Parameter command " + command[0] + " needs a LOAD line before it");
        return nullptr;
    }
    return Effects.back().get();
}

TScriptBar* TCDemo::TargetBar(const TCDemoCommand& command) {
    if (Bars.empty()) {
        Fail("Timeline command " + command[0] + " needs a BAR line before it");
        return nullptr;
    }
    return &Bars.back();
}

void TCDemo::ExecuteCommand(const TCDemoCommand& command) {
    using Handler = std::function<void(TCDemo&, const TCDemoCommand&)>;
    using C = const TCDemoCommand&;

    // Float parameters of the target effect.
    auto floatField = [](float TCEffect::*field) {
        return [field](TCDemo& d, C c) {
            const float value = ToFloat(TokenFloat(c, 1));
            if (TCEffect* e = d.TargetEffect(c)) e->*field = value;
        };
    };
    auto textField = [](std::string TCEffect::*field) {
        return [field](TCDemo& d, C c) {
            if (TCEffect* e = d.TargetEffect(c)) e->*field = ArgText(c, 1);
        };
    };
    auto intField = [](int TCEffect::*field) {
        return [field](TCDemo& d, C c) {
            const int value = TokenInt(c, 1);
            if (TCEffect* e = d.TargetEffect(c)) e->*field = value;
        };
    };
    auto textSetting = [](std::string TCDemo::*field) {
        return [field](TCDemo& d, C c) { d.*field = ArgText(c, 1); };
    };

    static const std::unordered_map<std::string, Handler> commands = {
        // Macros.
        {"REGISTER",
         [](TCDemo& d, C c) {
             const std::string key = TokenText(c, 1);
             if (key.empty()) return d.Fail("REGISTER needs a key and a value");
             d.MacroKeys.push_back(key);
             d.MacroValues.push_back(ArgText(c, 2));
         }},
        {"UNREGISTER",
         [](TCDemo& d, C c) {
             const std::string value = ArgText(c, 1);
             for (size_t i = 0; i < d.MacroValues.size(); ++i) {
                 if (d.MacroValues[i] != value) continue;
                 d.MacroValues.erase(d.MacroValues.begin() + std::ptrdiff_t(i));
                 d.MacroKeys.erase(d.MacroKeys.begin() + std::ptrdiff_t(i));
                 break;
             }
         }},
        // Credits and display settings.
        {"DEMO", textSetting(&TCDemo::DemoName)},
        {"GROUP", textSetting(&TCDemo::GroupName)},
        {"PARTY", textSetting(&TCDemo::PartyName)},
        {"YEAR", textSetting(&TCDemo::YearText)},
        {"VERSION", textSetting(&TCDemo::VersionText)},
        {"LOADINGSCREEN", textSetting(&TCDemo::LoadingScreenFile)},
        {"RESOLUTIONX", [](TCDemo& d, C c) { d.ResolutionX = ArgInt(c, 1); }},
        {"RESOLUTIONY", [](TCDemo& d, C c) { d.ResolutionY = ArgInt(c, 1); }},
        {"COLORDEPTH", [](TCDemo& d, C c) { d.ColorDepth = ArgInt(c, 1); }},
        {"FULLSCREEN", [](TCDemo& d, C c) { d.Fullscreen = ArgBool(c, 1); }},
        {"SHOWTIMER", [](TCDemo& d, C c) { d.ShowTimer = ArgBool(c, 1); }},
        {"STARTTIME", [](TCDemo& d, C c) { d.StartTime = ToFloat(ArgFloat(c, 1)); }},
        {"SPEED", [](TCDemo& d, C c) { d.Speed = ToFloat(TokenInt(c, 1) / 100.0L); }},
        {"ENDTIME", [](TCDemo& d, C c) { d.EndTime = ToFloat(TokenInt(c, 1) / 100.0L); }},
        {"CLEARCOLOR", [](TCDemo& d, C c) { d.ClearColor = ReadColor(c); }},
        {"DATADIR",
         [](TCDemo& d, C c) {
             // A directory that cannot be entered leaves the current one; the
             // pre-flight check says so (a comment after the name leaves a
             // trailing space in it, a common slip).
             const std::string dir = ArgText(c, 1);
             if (chdir(dir.c_str()) != 0 && d.Options.CheckOnly)
                 ShowScriptError("DATADIR '" + dir + "' cannot be entered; files are looked for in the current folder");
         }},
        // Window, loading screen, music and tracker.
        {"INIT",
         [](TCDemo& d, C) {
             if (d.Options.CheckOnly) {
                 if (!d.LoadingScreenFile.empty()) CheckPictureFile(d.LoadingScreenFile);
                 return;
             }
             if (d.windowOpen) {
                 d.Tolerate("INIT given a second time; the window is already open");
                 return;
             }
             BindGLLibraries();
             const std::string caption = d.DemoName + " by " + d.GroupName + " :: " + d.PartyName +
                                         " " + d.YearText + " :: " + d.VersionText +
                                         " :: Corvala Demoengine " + EngineVersionText;
             // A capture renders offscreen: never switch the display mode.
             d.Window = CreateRenderWindow(d.ResolutionX, d.ResolutionY, d.ColorDepth,
                                           d.Fullscreen && !d.Options.Capture && !d.Options.Windowed, caption);
             if (!d.Window.RC) RaiseApplicationError("The demo window could not be opened");
             d.windowOpen = true;
             glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
             PresentFrame(d.Window);
             CreateKeyboard(d.Window, true);
             d.LoadingTexture = LoadTexture(d.LoadingScreenFile);
         }},
        {"DRAWLOADING",
         [](TCDemo& d, C c) {
             // The argument is read and not used; an empty one is accepted.
             if (!ArgText(c, 1).empty()) (void)ArgFloat(c, 1);
             if (d.Options.CheckOnly) return;
             if (!d.windowOpen) {
                 d.Tolerate("DRAWLOADING needs an INIT line before it");
                 return;
             }
             d.DrawLoading();
         }},
        {"TRACKER",
         [](TCDemo& d, C c) {
             d.Tracker = std::make_unique<TDemoTracker>();
             const std::string name = TokenText(c, 1);
             if (name.empty()) return;
             if (d.Options.CheckOnly && !CheckAssetFile(name, "tracker")) return;
             if (!d.Tracker->LoadTrack(name)) d.failed = true;
         }},
        {"BPM",
         [](TCDemo& d, C c) {
             const float bpm = ToFloat(TokenFloat(c, 1));
             if (!d.Tracker) return d.Fail("BPM needs a TRACKER line before it");
             d.Tracker->BPM = bpm;
         }},
        {"LOADMUSIC",
         [](TCDemo& d, C c) {
             const std::string name = TokenText(c, 1);
             if (d.Options.CheckOnly) {
                 d.MusicLoaded = CheckSoundFile(name);
                 return;
             }
             // A capture renders the mix itself through the loopback device.
             if (d.Options.Capture) {
                 if (!AudioCaptureActive()) BeginAudioCapture(44100);
             } else {
                 InitSound(d.Window.Wnd);
             }
             d.MusicSample = LoadSample(name);
             // A music file that does not load leaves the demo on the timer.
             d.MusicLoaded = d.MusicSample >= 0;
             if (!d.MusicLoaded)
                 // The sound module has reported the decoder's reason.
                 d.Tolerate("Music file " + name + " did not load; the demo plays on the timer");
         }},
        // Effects.
        {"LOAD",
         [](TCDemo& d, C c) {
             const std::string type = TokenText(c, 1);
             d.loadFailed = true;
             const int slot = TokenInt(c, 2);
             if (slot < 0 || slot > limits::MaxEffectSlot)
                 return d.Fail("Effect slot " + std::to_string(slot) + " is outside 0 to " +
                               std::to_string(limits::MaxEffectSlot));
             std::unique_ptr<TCEffect> effect = CreateEffect(type);
             if (!effect) return d.Fail("No such effect in demo: " + type);
             d.InstallEffect(std::move(effect), slot);
             d.loadFailed = false;
         }},
        {"X", floatField(&TCEffect::X)},
        {"Y", floatField(&TCEffect::Y)},
        {"Z", floatField(&TCEffect::Z)},
        {"H", floatField(&TCEffect::H)},
        {"W", floatField(&TCEffect::W)},
        {"D", floatField(&TCEffect::D)},
        {"VX", floatField(&TCEffect::VX)},
        {"VY", floatField(&TCEffect::VY)},
        {"VZ", floatField(&TCEffect::VZ)},
        {"S",
         [](TCDemo& d, C c) {
             const float value = ToFloat(TokenInt(c, 1) / 100.0L);
             if (TCEffect* e = d.TargetEffect(c)) e->S = value;
         }},
        {"A", textField(&TCEffect::A)},
        {"B", textField(&TCEffect::B)},
        {"C", textField(&TCEffect::C)},
        {"E", intField(&TCEffect::E)},
        {"F", intField(&TCEffect::F)},
        {"G", intField(&TCEffect::G)},
        // Timeline.
        {"BAR",
         [](TCDemo& d, C c) {
             TScriptBar bar;
             bar.Label = ArgText(c, 1);
             bar.ScriptLine = 0;
             d.Bars.push_back(bar);
         }},
        {"MOUNT",
         [](TCDemo& d, C c) {
             const int32_t row = ReadPosition(c);
             if (TScriptBar* b = d.TargetBar(c)) b->StartRow = row;
         }},
        {"LENGTH",
         [](TCDemo& d, C c) {
             const int32_t rows = ReadPosition(c);
             if (TScriptBar* b = d.TargetBar(c)) b->LengthRows = rows;
         }},
        {"EFFECT",
         [](TCDemo& d, C c) {
             const int32_t slot = TokenInt(c, 1);
             if (TScriptBar* b = d.TargetBar(c)) b->EffectSlot = slot;
         }},
        {"INPUT",
         [](TCDemo& d, C c) {
             const int index = TokenInt(c, 1);
             TBarInput input;
             input.Channel = TokenInt(c, 2);
             input.Note = uint8_t(TokenInt(c, 3) & 0xFF);
             input.FadeTime = ToFloat(TokenFloat(c, 4) / 1000);
             input.LeadTime = ToFloat(TokenFloat(c, 5) / 1000);
             input.Enabled = true;
             if (index < 0 || index > 9)
                 return d.Fail("INPUT index " + std::to_string(index) + " is outside 0 to 9");
             if (TScriptBar* b = d.TargetBar(c)) b->Inputs[size_t(index)] = input;
         }},
        {">>COLOR",
         [](TCDemo& d, C c) {
             const TRGBAColor color = ReadColor(c);
             if (TScriptBar* b = d.TargetBar(c)) b->Color = color;
         }},
        {">>SINGLE",
         [](TCDemo& d, C c) {
             const float value = ToFloat(TokenFloat(c, 1));
             if (TScriptBar* b = d.TargetBar(c)) b->SingleValue = value;
         }},
        {">>OFSET",
         [](TCDemo& d, C c) {
             const float value = ToFloat(TokenFloat(c, 1));
             if (TScriptBar* b = d.TargetBar(c)) b->Offset = value;
         }},
    };

    const auto found = commands.find(command[0]);
    if (found == commands.end()) return;
    found->second(*this, command);
    if (command[0] == "BAR") {
        // Remember where the bar was written, for messages during playback.
        const std::string where = ScriptLocationText();
        const size_t colon = where.rfind(':');
        if (colon != std::string::npos) Bars.back().ScriptLine = std::atoi(where.c_str() + colon + 1);
    }
}

void TCDemo::InstallEffect(std::unique_ptr<TCEffect> effect, int32_t slot) {
    if (size_t(slot) >= Effects.size()) {
        Effects.resize(size_t(slot) + 1);
        EffectLines.resize(size_t(slot) + 1, 0);
    }
    effect->SlotIndex = slot;
    Effects[size_t(slot)] = std::move(effect);
    const std::string where = ScriptLocationText();
    const size_t colon = where.rfind(':');
    EffectLines[size_t(slot)] = colon == std::string::npos ? 0 : std::atoi(where.c_str() + colon + 1);
}

void TCDemo::LoadEffects() {
    for (size_t slot = 0; slot < Effects.size(); ++slot) {
        if (!Effects[slot]) continue;
        // Errors of an effect's Load name the line of its LOAD.
        SetScriptLocation(ScriptFile, EffectLines[slot]);
        Effects[slot]->Load();
    }
    ClearScriptLocation();
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
    for (const TScriptBar& bar : Bars) {
        SetScriptLocation(ScriptFile, bar.ScriptLine);
        const std::string name = bar.Label.empty() ? "The bar" : "The bar '" + bar.Label + "'";
        const int32_t slot = bar.EffectSlot;
        if (slot < 0 || size_t(slot) >= Effects.size() || !Effects[size_t(slot)])
            ShowScriptError(name + " plays effect slot " + std::to_string(slot) +
                            ", which holds no effect");
        if (bar.LengthRows <= 0)
            ReportWarning(name + " has a LENGTH of " + std::to_string(bar.LengthRows) +
                          " rows and never plays");
        if (Tracker && bar.StartRow > rows)
            ReportWarning(name + " starts at row " + std::to_string(bar.StartRow) +
                          ", after the tracker's end (" + std::to_string(rows) + " rows)");
        else if (Tracker && int64_t(bar.StartRow) + bar.LengthRows > int64_t(rows) + 1)
            ReportWarning(name + " reaches past the tracker's end (" + std::to_string(rows) +
                          " rows); the demo ends there");
        for (size_t i = 0; i < bar.Inputs.size(); ++i) {
            const TBarInput& input = bar.Inputs[i];
            if (!input.Enabled) continue;
            if (Tracker && (input.Channel < 0 || input.Channel >= channels))
                ShowScriptError(name + ": INPUT " + std::to_string(i) + " listens to channel " +
                                std::to_string(input.Channel) + ", but the tracker has " +
                                std::to_string(channels) + " channels");
            if (!(input.FadeTime > 0))
                ReportWarning(name + ": INPUT " + std::to_string(i) +
                              " has no fade time and always gives 0");
        }
    }
    ClearScriptLocation();
}

void TCDemo::StartPlayback() {
    if (!MusicLoaded || Options.CheckOnly) return;
    MusicChannel = PlaySample(MusicSample, 100, 0);
    SetChannelSeconds(MusicChannel, StartTime);
    ScaleChannelFrequency(MusicChannel, Speed);
}

void TCDemo::DrawLoading() {
    for (int i = 0; i < 51; ++i) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        // Without a loading picture the frames show the clear colour instead
        // of an untextured white rectangle.
        if (LoadingTexture > 0) {
            PushView();
            DrawPicture(uint32_t(LoadingTexture), 0, 0, 800, 600);
            PopView();
        }
        PresentFrame(Window);
    }
}
