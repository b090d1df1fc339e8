// The script's commands: one named handler per keyword, the parameter
// lines that set fields of the last LOAD's effect, and the timeline lines
// that shape the last BAR. Unknown keywords get the nearest known one.
#include "demo/demo.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <functional>
#include <unordered_map>

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

namespace {

float ToFloat(long double value) { return float(value); }

// Pattern, bar, beat and row of MOUNT and LENGTH in rows; a missing or empty
// token counts as 0 and tokens after the fourth are ignored. Each token is
// a 32-bit integer, so the sum fits 64 bits.
int64_t ReadPosition(const TCDemoCommand& command) {
    int64_t rows = 0;
    const int64_t weights[4] = {64, 16, 4, 1};
    for (size_t i = 0; i < 4; ++i) {
        const std::string token = TokenText(command, i + 1);
        if (!token.empty()) rows += int64_t(StrToInt(token)) * weights[i];
    }
    return rows;
}

// A MOUNT or LENGTH value past the 32-bit rows the timeline keeps is an
// error at its line, not a row it wraps to; "" when it fits.
std::string PositionRangeError(const TCDemoCommand& command, int64_t rows) {
    if (rows >= INT32_MIN && rows <= INT32_MAX) return {};
    std::string line = command[0];
    for (size_t i = 1; i < command.size() && i <= 4; ++i) line += " " + command[i];
    return line + " is row " + std::to_string(rows) +
           (rows > 0 ? ", past the last row a timeline counts (" + std::to_string(INT32_MAX) + ")"
                     : ", before the first row a timeline counts (" + std::to_string(INT32_MIN) + ")");
}

// A bar whose MOUNT and LENGTH are both read and that ends before row 0
// (MOUNT + LENGTH <= 0 with a LENGTH above 0) could never play: an error at
// the second of the two lines. A LENGTH of 0 or less stays the timeline
// check's warning. "" when the bar is fine.
std::string BarEndError(const TScriptBar& bar) {
    if (bar.MountLine == 0 || bar.LengthLine == 0 || bar.LengthRows <= 0) return {};
    const int64_t end = int64_t(bar.StartRow) + bar.LengthRows;
    if (end > 0) return {};
    return (bar.Label.empty() ? std::string("The bar") : "The bar '" + bar.Label + "'") + " starts at row " +
           std::to_string(bar.StartRow) + " and ends at row " + std::to_string(end) + ", before row 0: it never plays";
}

TRGBAColor ReadColor(const TCDemoCommand& command) {
    return TRGBAColor{ToFloat(TokenInt(command, 1) / 255.0L), ToFloat(TokenInt(command, 2) / 255.0L),
                      ToFloat(TokenInt(command, 3) / 255.0L), ToFloat(TokenInt(command, 4) / 255.0L)};
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

// Edits (insert, delete, replace, swap of two neighbours) that turn `a` into
// `b`.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1, 0));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// The known keyword closest to `word` (letter case aside), or "" when none
// is close: at most one edit in two letters (and never more than three), so
// that a short word does not match every one-letter command.
std::string NearestName(const std::string& word, std::vector<std::string> known) {
    if (word.empty() || word.size() > 40) return {};
    std::sort(known.begin(), known.end());
    const size_t limit = std::min<size_t>(3, (word.size() - 1) / 2);
    std::string best;
    size_t bestDistance = limit + 1;
    for (const std::string& keyword : known) {
        const size_t distance = EditDistance(Upper(word), Upper(keyword));
        if (distance < bestDistance) {
            best = keyword;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace

TCEffect* TCDemo::TargetEffect(const TCDemoCommand& command) {
    // The parameters of an effect that failed to load were reported with it.
    if (loadFailed) return nullptr;
    if (Effects.empty()) {
        Fail("Parameter command " + command[0] + " needs a LOAD line before it");
        return nullptr;
    }
    TCEffect* target = Effects.back().get();
    if (Checking() && target) CheckParameterTarget(command, *target);
    return target;
}

TScriptBar* TCDemo::TargetBar(const TCDemoCommand& command) {
    if (Bars.empty()) {
        Fail("Timeline command " + command[0] + " needs a BAR line before it");
        return nullptr;
    }
    return &Bars.back();
}

// The handlers of the script's keywords. A friend of the demo object: each
// handler changes the demo the way its keyword says, at the current script
// line. Keywords whose handling takes more than a few lines have a named
// handler; the parameter lines that set one field share a factory.
struct TDemoCommands {
    using Handler = std::function<void(TCDemo&, const TCDemoCommand&)>;
    using C = const TCDemoCommand&;

    // Float parameters of the target effect.
    static auto FloatField(float TCEffect::*field) {
        return [field](TCDemo& d, C c) {
            const float value = ToFloat(TokenFloat(c, 1));
            if (TCEffect* e = d.TargetEffect(c)) e->*field = value;
        };
    }
    // A, B and C name files: their line is kept for the file's reports.
    static auto FileField(std::string TCEffect::*field, size_t letter) {
        return [field, letter](TCDemo& d, C c) {
            TCEffect* e = d.TargetEffect(c);
            if (!e) return;
            e->*field = ArgText(c, 1);
            if (field == &TCEffect::A) e->ALine = d.currentLine;
            const size_t slot = size_t(e->SlotIndex);
            if (slot < d.EffectFileLines.size()) d.EffectFileLines[slot][letter] = d.currentLine;
        };
    }
    static auto IntField(int TCEffect::*field) {
        return [field](TCDemo& d, C c) {
            const int value = TokenInt(c, 1);
            if (TCEffect* e = d.TargetEffect(c)) e->*field = value;
        };
    }
    // MOUNT and LENGTH: a position in rows for the last bar, range-checked,
    // and its line kept for the bar's reports.
    static auto BarPosition(int32_t TScriptBar::*rowsField, int32_t TScriptBar::*lineField) {
        return [rowsField, lineField](TCDemo& d, C c) {
            const int64_t rows = ReadPosition(c);
            if (const std::string error = PositionRangeError(c, rows); !error.empty()) return d.Fail(error);
            if (TScriptBar* b = d.TargetBar(c)) {
                b->*rowsField = int32_t(rows);
                b->*lineField = d.currentLine;
                if (const std::string error = BarEndError(*b); !error.empty()) d.Fail(error);
            }
        };
    }
    static auto TextSetting(std::string TCDemo::*field) {
        return [field](TCDemo& d, C c) { d.*field = ArgText(c, 1); };
    }

    // REGISTER KEY VALUE: a macro; later lines read VALUE for KEY.
    static void Register(TCDemo& d, C c) {
        const std::string key = TokenText(c, 1);
        if (key.empty()) return d.Fail("REGISTER needs a key and a value");
        d.MacroKeys.push_back(key);
        d.MacroValues.push_back(ArgText(c, 2));
    }

    // UNREGISTER VALUE: drops the first macro with that value.
    static void Unregister(TCDemo& d, C c) {
        const std::string value = ArgText(c, 1);
        for (size_t i = 0; i < d.MacroValues.size(); ++i) {
            if (d.MacroValues[i] != value) continue;
            d.MacroValues.erase(d.MacroValues.begin() + std::ptrdiff_t(i));
            d.MacroKeys.erase(d.MacroKeys.begin() + std::ptrdiff_t(i));
            break;
        }
    }

    // LOADINGSCREEN FILE: the picture INIT loads and DRAWLOADING shows.
    static void LoadingScreen(TCDemo& d, C c) {
        d.LoadingScreenFile = ArgText(c, 1);
        d.LoadingScreenLine = d.currentLine;
    }

    // DATADIR FOLDER: where the files named after it are looked for.
    static void DataDir(TCDemo& d, C c) {
        // A directory that cannot be entered leaves the current one; the
        // pre-flight check says so (a comment after the name leaves a
        // trailing space in it, a common slip).
        const std::string dir = ArgText(c, 1);
        if (chdir(dir.c_str()) != 0 && d.Options.CheckOnly)
            ShowScriptError("DATADIR '" + dir + "' cannot be entered; files are looked for in the current folder");
    }

    // INIT: opens the window (or takes over dev mode's) and loads the
    // loading screen; the pre-flight checks the mode and the picture instead.
    static void Init(TCDemo& d, C) {
        if (d.Options.CheckOnly) {
            d.CheckPartyResolution();
            // Reported at the LOADINGSCREEN line, the one to fix.
            TPicture picture;
            SetScriptLocation(d.ScriptFile, d.LoadingScreenLine);
            if (!d.LoadingScreenFile.empty()) DecodeEffectPicture(d.LoadingScreenFile, picture);
            SetScriptLocation(d.ScriptFile, d.currentLine);
            return;
        }
        if (d.windowOpen) {
            d.Tolerate("INIT given a second time; the window is already open");
            return;
        }
        if (d.Options.Handover) {
            d.Window = d.Options.Handover->Window;
            d.windowOpen = true;
            LoadLoadingScreen(d);
            return;
        }
        BindGLLibraries();
        const std::string caption = d.DemoName + " by " + d.GroupName + " :: " + d.PartyName + " " + d.YearText +
                                    " :: " + d.VersionText + " :: Corvala Demoengine " + EngineVersionText;
        // A capture renders offscreen: never switch the display mode.
        d.Window = CreateRenderWindow(d.ResolutionX, d.ResolutionY, d.ColorDepth,
                                      d.Fullscreen && !d.Options.Capture && !d.Options.Windowed, caption);
        if (!d.Window.RC) RaiseApplicationError("The demo window could not be opened");
        d.windowOpen = true;
        if (d.Options.HoldStart) glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        PresentFrame(d.Window);
        CreateKeyboard(d.Window.Wnd, true);
        SetKeyEventHook([](const TKeyEvent& key) {
            if (key.FocusLost)
                ReleaseAllKeys();
            else
                KeyboardEvent(key.Scancode, key.Down);
        });
        LoadLoadingScreen(d);
    }
    // A picture that fails is reported at the LOADINGSCREEN line; DRAWLOADING
    // then shows the clear colour and the demo goes on.
    static void LoadLoadingScreen(TCDemo& d) {
        d.LoadingTexture = NoTexture;
        if (d.LoadingScreenFile.empty()) return;
        SetScriptLocation(d.ScriptFile, d.LoadingScreenLine);
        d.LoadingTexture = LoadEffectTexture(d.LoadingScreenFile);
        SetScriptLocation(d.ScriptFile, d.currentLine);
    }

    // DRAWLOADING: shows the loading screen.
    static void DrawLoading(TCDemo& d, C c) {
        // The argument is read and not used; an empty one is accepted.
        if (!ArgText(c, 1).empty()) (void)ArgFloat(c, 1);
        if (d.Options.CheckOnly || d.Options.Handover || d.Options.HoldStart) return;
        if (!d.windowOpen) {
            d.Tolerate("DRAWLOADING needs an INIT line before it");
            return;
        }
        d.DrawLoading();
    }

    // TRACKER FILE: the note bytes, or a module or MIDI file to import.
    static void Tracker(TCDemo& d, C c) {
        d.Tracker = std::make_unique<TDemoTracker>();
        const std::string name = TokenText(c, 1);
        if (name.empty()) return;
        if (d.Options.CheckOnly && !CheckAssetFile(name, "tracker")) return;
        // A module or MIDI file is imported once BPM gives the tempo.
        d.trackerSong = IsSongFile(name) ? name : "";
        if (d.trackerSong.empty() && !d.Tracker->LoadTrack(name)) d.failed = d.trackerBroken = true;
    }

    // BPM TEMPO: the tracker's tempo; imports a song named by TRACKER.
    static void Bpm(TCDemo& d, C c) {
        const float bpm = ToFloat(TokenFloat(c, 1));
        if (!d.Tracker) return d.Fail("BPM needs a TRACKER line before it");
        d.Tracker->BPM = bpm;
        d.bpmLine = ScriptLocationLine();
        if (!d.trackerSong.empty()) d.ImportTrackerSong();
    }

    // LOADMUSIC FILE: the music, or the playing one taken over by a reload.
    static void LoadMusic(TCDemo& d, C c) {
        const std::string name = TokenText(c, 1);
        if (d.Options.CheckOnly) {
            d.musicFile = name;
            d.MusicLoaded = CheckSoundFile(name, d.MusicSeconds);
            return;
        }
        const auto& handover = d.Options.Handover;
        if (handover && handover->MusicSample >= 0 && !name.empty() && AbsoluteFileName(name) == handover->MusicFile) {
            NoteInputFile(name);
            d.MusicSample = handover->MusicSample;
            d.MusicFile = handover->MusicFile;
            d.MusicLoaded = d.musicTakenOver = true;
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
        d.musicTakenOver = false;
        if (d.MusicLoaded) d.MusicFile = AbsoluteFileName(name);
        if (!d.MusicLoaded)
            // The sound module has reported the decoder's reason.
            d.Tolerate("Music file " + name + " did not load; the demo plays on the timer");
    }

    // LOAD TYPE SLOT: a new effect in the slot; the parameter lines after it
    // set its fields.
    static void Load(TCDemo& d, C c) {
        const std::string type = TokenText(c, 1);
        d.loadFailed = true;
        d.lastLoadLine = d.currentLine;
        d.lastLoadSlot = -1;
        d.targetWarned = false;
        const int slot = TokenInt(c, 2);
        if (slot >= 0 && slot <= limits::MaxEffectSlot) d.failedLoads[slot] = d.currentLine;
        if (slot < 0 || slot > limits::MaxEffectSlot)
            return d.Fail("Effect slot " + std::to_string(slot) + " is outside 0 to " +
                          std::to_string(limits::MaxEffectSlot));
        std::unique_ptr<TCEffect> effect = CreateEffect(type);
        if (!effect) {
            std::vector<std::string> known;
            for (const TEffectType& knownType : EffectTypes()) known.push_back(knownType.Name);
            const std::string nearest = NearestName(type, known);
            return d.Fail("No such effect in demo: " + type +
                          (nearest.empty() ? "" : " (did you mean " + nearest + "?)"));
        }
        if (d.Checking() && size_t(slot) < d.Effects.size() && d.Effects[size_t(slot)])
            ReportWarning(
                "Slot " + std::to_string(slot) + " already holds the " +
                (size_t(slot) < d.EffectTypeNames.size() ? d.EffectTypeNames[size_t(slot)] : std::string("effect")) +
                " loaded at line " + std::to_string(d.EffectLines[size_t(slot)]) + "; this LOAD replaces it");
        d.InstallEffect(std::move(effect), slot);
        d.EffectTypeNames.resize(d.Effects.size());
        d.EffectTypeNames[size_t(slot)] = type;
        d.loadFailed = false;
        d.lastLoadSlot = slot;
        d.failedLoads.erase(slot);
    }

    // BAR LABEL: a new bar; the timeline lines after it shape it.
    static void Bar(TCDemo& d, C c) {
        TScriptBar bar;
        bar.Label = ArgText(c, 1);
        bar.ScriptLine = 0;
        d.Bars.push_back(bar);
    }

    // EFFECT SLOT: the effect the last bar draws.
    static void Effect(TCDemo& d, C c) {
        const int32_t slot = TokenInt(c, 1);
        if (TScriptBar* b = d.TargetBar(c)) {
            b->EffectSlot = slot;
            b->EffectLine = d.currentLine;
        }
    }

    // INPUT INDEX CHANNEL NOTE FADE LEAD: an envelope input of the last bar
    // (times in milliseconds).
    static void Input(TCDemo& d, C c) {
        const int index = TokenInt(c, 1);
        TBarInput input;
        input.Channel = TokenInt(c, 2);
        input.Note = uint8_t(TokenInt(c, 3) & 0xFF);
        input.FadeTime = ToFloat(TokenFloat(c, 4) / 1000);
        input.LeadTime = ToFloat(TokenFloat(c, 5) / 1000);
        input.Enabled = true;
        if (index < 0 || index > 9) return d.Fail("INPUT index " + std::to_string(index) + " is outside 0 to 9");
        if (TScriptBar* b = d.TargetBar(c)) {
            b->Inputs[size_t(index)] = input;
            b->InputLines[size_t(index)] = d.currentLine;
        }
    }

    // Every keyword of the script language.
    static const std::unordered_map<std::string, Handler>& Table() {
        static const std::unordered_map<std::string, Handler> commands = {
            // Macros.
            {"REGISTER", Register},
            {"UNREGISTER", Unregister},
            // Credits and display settings.
            {"DEMO", TextSetting(&TCDemo::DemoName)},
            {"GROUP", TextSetting(&TCDemo::GroupName)},
            {"PARTY", TextSetting(&TCDemo::PartyName)},
            {"YEAR", TextSetting(&TCDemo::YearText)},
            {"VERSION", TextSetting(&TCDemo::VersionText)},
            {"LOADINGSCREEN", LoadingScreen},
            {"RESOLUTIONX", [](TCDemo& d, C c) { d.ResolutionX = ArgInt(c, 1); }},
            {"RESOLUTIONY", [](TCDemo& d, C c) { d.ResolutionY = ArgInt(c, 1); }},
            {"COLORDEPTH", [](TCDemo& d, C c) { d.ColorDepth = ArgInt(c, 1); }},
            {"FULLSCREEN", [](TCDemo& d, C c) { d.Fullscreen = ArgBool(c, 1); }},
            {"SHOWTIMER", [](TCDemo& d, C c) { d.ShowTimer = ArgBool(c, 1); }},
            {"STARTTIME", [](TCDemo& d, C c) { d.StartTime = ToFloat(ArgFloat(c, 1)); }},
            {"SPEED", [](TCDemo& d, C c) { d.Speed = ToFloat(TokenInt(c, 1) / 100.0L); }},
            {"ENDTIME", [](TCDemo& d, C c) { d.EndTime = ToFloat(TokenInt(c, 1) / 100.0L); }},
            {"CLEARCOLOR", [](TCDemo& d, C c) { d.ClearColor = ReadColor(c); }},
            {"DATADIR", DataDir},
            // Window, loading screen, music and tracker.
            {"INIT", Init},
            {"DRAWLOADING", DrawLoading},
            {"TRACKER", Tracker},
            {"BPM", Bpm},
            {"LOADMUSIC", LoadMusic},
            {"TRACKS", [](TCDemo& d, C c) { d.ReadTracks(TokenText(c, 1)); }},
            // Effects.
            {"LOAD", Load},
            {"X", FloatField(&TCEffect::X)},
            {"Y", FloatField(&TCEffect::Y)},
            {"Z", FloatField(&TCEffect::Z)},
            {"H", FloatField(&TCEffect::H)},
            {"W", FloatField(&TCEffect::W)},
            {"D", FloatField(&TCEffect::D)},
            {"VX", FloatField(&TCEffect::VX)},
            {"VY", FloatField(&TCEffect::VY)},
            {"VZ", FloatField(&TCEffect::VZ)},
            {"S",
             [](TCDemo& d, C c) {
                 const float value = ToFloat(TokenInt(c, 1) / 100.0L);
                 if (TCEffect* e = d.TargetEffect(c)) e->S = value;
             }},
            {"A", FileField(&TCEffect::A, 0)},
            {"B", FileField(&TCEffect::B, 1)},
            {"C", FileField(&TCEffect::C, 2)},
            {"E", IntField(&TCEffect::E)},
            {"F", IntField(&TCEffect::F)},
            {"G", IntField(&TCEffect::G)},
            // Timeline.
            {"BAR", Bar},
            {"MOUNT", BarPosition(&TScriptBar::StartRow, &TScriptBar::MountLine)},
            {"LENGTH", BarPosition(&TScriptBar::LengthRows, &TScriptBar::LengthLine)},
            {"EFFECT", Effect},
            {"INPUT", Input},
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
        return commands;
    }
};

void TCDemo::ExecuteCommand(const TCDemoCommand& command) {
    const auto& commands = TDemoCommands::Table();

    const auto found = commands.find(command[0]);
    if (found == commands.end()) {
        // The script language ignores such lines; the check says so.
        if (Checking() && !command[0].empty()) {
            std::vector<std::string> known;
            for (const auto& entry : commands) known.push_back(entry.first);
            WarnUnknownCommand(command[0], known);
        }
        return;
    }
    found->second(*this, command);
    if (command[0] == "BAR") {
        // Remember where the bar was written, for messages during playback.
        Bars.back().ScriptLine = ScriptLocationLine();
    }
}

void TCDemo::WarnUnknownCommand(const std::string& keyword, const std::vector<std::string>& known) {
    const std::string nearest = NearestName(keyword, known);
    // A stray binary or pasted text can make a keyword of any length.
    const std::string shown = keyword.size() > 60 ? keyword.substr(0, 57) + "..." : keyword;
    ReportWarning("unknown command '" + shown + "'" + (nearest.empty() ? "" : " (did you mean " + nearest + "?)") +
                  "; the line is ignored");
    // A misspelt LOAD loads nothing: the parameter lines after it change the
    // effect loaded before it.
    if (nearest == "LOAD") {
        lastLoadLine = currentLine;
        lastLoadSlot = -1;
        targetWarned = false;
    }
}
