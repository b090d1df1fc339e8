// The demo's keyed tracks: the TRACKS command, the fields they set before
// each Update, and their pre-flight checks.
#include <sstream>

#include "base/files.h"
#include "base/output.h"
#include "base/report.h"
#include "demo/demo.h"
#include "effects/effect_types.h"

namespace {

bool ListHas(const char* list, const std::string& word) {
    if (!list) return false;
    std::istringstream words(list);
    std::string item;
    while (words >> item)
        if (item == word) return true;
    return false;
}

} // namespace

void TCDemo::ReadTracks(const std::string& name) {
    if (name.empty()) return Tolerate("TRACKS needs the name of a tracks file");
    // A missing file is reported (and watched, it may appear); the demo
    // plays without its tracks.
    if (!CheckAssetFile(name, "tracks")) return;
    const std::string path = AbsoluteFileName(name);
    for (const TTracksFile& other : Tracks.Files)
        if (SameFile(other.Path, path)) {
            if (Checking()) ReportWarning("the tracks file " + name + " is named twice; it is read once");
            return;
        }
    NoteProtectedInput(path);
    TTracksFile file{name, path, {}};
    std::string error;
    if (!ReadTracksFile(name, file.Text, error)) return Tolerate(error);
    const size_t index = Tracks.Files.size();
    Tracks.Files.push_back(std::move(file));
    std::vector<TTracksProblem> problems;
    ReadTracksText(Tracks.Files.back().Text, index, Tracks, problems);
    // Reported at the tracks file's line; a malformed key is left out and
    // the demo plays on with the others.
    for (const TTracksProblem& problem : problems) {
        SetScriptLocation(name, problem.Line);
        if (problem.Error)
            ShowScriptError(problem.Message);
        else if (Checking())
            ReportWarning(problem.Message);
    }
    SetScriptLocation(ScriptFile, currentLine);
}

void TCDemo::ApplyTracks(TCEffect& effect) {
    // A field track without keys leaves the field as the script set it.
    for (const TTrack& track : Tracks.Tracks)
        if (track.Slot == effect.SlotIndex && !track.Keys.empty())
            effect.*TrackField(track.Field) = track.ValueAt(FrameRow);
}

void TCDemo::CheckTracks() {
    const int32_t rows = Tracker ? Tracker->RowCount() : 0;
    for (const TTrack& track : Tracks.Tracks) {
        const std::string& file = Tracks.Files[track.FileIndex].Name;
        SetScriptLocation(file, track.Line);
        if (track.Slot >= 0) {
            const size_t slot = size_t(track.Slot);
            const std::string field = TrackFieldNames[track.Field];
            if (slot >= Effects.size() || !Effects[slot]) {
                ReportWarning("track " + track.Name + ": slot " + std::to_string(slot) +
                              " holds no effect; the track sets nothing");
            } else {
                const std::string typeName = slot < EffectTypeNames.size() ? EffectTypeNames[slot] : "";
                const TEffectType* type = FindEffectType(typeName);
                const std::string what = "track " + track.Name + ": the " + typeName + " in slot " +
                                         std::to_string(slot) + " (LOAD at line " + std::to_string(EffectLines[slot]) +
                                         ")";
                if (type && type->FrameFields && !ListHas(type->FrameFields, field)) {
                    if (ListHas(type->LoadFields, field))
                        ReportWarning(what + " reads " + field + " only once at load, so the track does not move it");
                    else
                        ReportWarning(what + " does not read " + field + ", so the track does nothing");
                }
            }
        } else if (!track.Read) {
            ReportWarning("named track " + track.Name +
                          ": nothing reads it (a shader effect reads it as "
                          "'uniform float " +
                          TrackUniformName(track.Name) + "')");
        }
        if (!Tracker || trackerBroken) continue;
        int32_t past = 0;
        int32_t firstLine = 0;
        for (const TTrackKey& key : track.Keys)
            if (key.Row > rows && past++ == 0) firstLine = key.Line;
        if (past > 0) {
            SetScriptLocation(file, firstLine);
            ReportWarning("track " + track.Name + ": " + std::to_string(past) +
                          (past == 1 ? " key lies" : " keys lie") + " past the tracker's end (" + std::to_string(rows) +
                          " rows, " + RowPositionText(rows) + "); the demo ends before " + (past == 1 ? "it" : "them"));
        }
    }
    ClearScriptLocation();
}
