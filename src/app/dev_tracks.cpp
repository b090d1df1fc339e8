#include "app/dev_tracks.h"

#include "app/dev.h"
#include "app/editor_link.h"
#include "base/report.h"

#include <algorithm>
#include <cstdio>

#include "demo/position.h"

namespace {

std::string TrackNameError(const std::string& name) {
    int32_t slot = 0, field = 0;
    std::string error;
    ParseTrackName(name, slot, field, error);
    return error;
}

} // namespace

std::string KeysText(const TTrack& track) {
    std::string text = std::to_string(track.Keys.size()) + (track.Keys.size() == 1 ? " key" : " keys");
    for (size_t i = 0; i < track.Keys.size(); ++i) {
        const TTrackKey& key = track.Keys[i];
        text += (i == 0 ? ": " : "; ") + RowPositionText(key.Row) + " " + KeyValueText(key.Value) + " " +
                KeyTypeName(key.Type);
    }
    return text;
}

bool ExecuteTracksCommand(TCDemo& demo, const std::vector<std::string>& words, std::string& answer) {
    if (words.empty()) return false;
    const std::string& name = words[0];
    TTracks& tracks = demo.Tracks;
    auto usage = [&](size_t least, size_t most, const char* text) {
        if (words.size() >= least + 1 && words.size() <= most + 1) return true;
        answer = std::string("error: usage: ") + text;
        return false;
    };
    // The track named by words[1]; an answer when there is none.
    auto existing = [&]() -> TTrack* {
        TTrack* track = tracks.Find(words[1]);
        if (!track) {
            const std::string why = TrackNameError(words[1]);
            answer = "error: " + (why.empty() ? "no track " + words[1] : why);
        }
        return track;
    };
    if (name == "value") {
        if (!usage(1, 1, "value NAME")) return true;
        if (const TTrack* track = existing()) answer = "ok " + KeyValueText(track->ValueAt(demo.FrameRow));
    } else if (name == "key") {
        if (!usage(3, 4, "key NAME POSITION VALUE [step|linear|smooth|ramp]")) return true;
        TTrackKey key;
        std::string error;
        int32_t slot = 0, field = 0;
        if (!ParseTrackName(words[1], slot, field, error) || !ParseKeyPosition(words[2], key.Row, error) ||
            !ParseKeyValue(words[3], key.Value, error) ||
            (words.size() == 5 && !ParseKeyType(words[4], key.Type, error))) {
            answer = "error: " + error;
            return true;
        }
        TTrack* track = tracks.Find(words[1]);
        if (!track) {
            // A new track goes to the first tracks file.
            if (tracks.Files.empty()) {
                answer = "error: the script has no TRACKS line; name a tracks file to keep keys in";
                return true;
            }
            TTrack made;
            made.Name = words[1];
            made.Slot = slot;
            made.Field = field;
            tracks.Tracks.push_back(made);
            track = &tracks.Tracks.back();
        }
        track->SetKey(key);
        tracks.Edited = true;
        answer = "ok " + track->Name + " " + RowPositionText(key.Row) + " " + KeyValueText(key.Value) + " " +
                 KeyTypeName(key.Type);
    } else if (name == "unkey") {
        if (!usage(2, 2, "unkey NAME POSITION")) return true;
        int32_t row = 0;
        std::string error;
        if (!ParseKeyPosition(words[2], row, error)) {
            answer = "error: " + error;
            return true;
        }
        TTrack* track = existing();
        if (!track) return true;
        if (!track->DeleteKey(row)) {
            answer = "error: track " + track->Name + " has no key at " + RowPositionText(row);
            return true;
        }
        tracks.Edited = true;
        answer = "ok " + KeysText(*track);
    } else if (name == "keys") {
        if (!usage(1, 1, "keys NAME")) return true;
        if (const TTrack* track = existing()) answer = "ok " + KeysText(*track);
    } else if (name == "tracks") {
        if (words.size() == 1) {
            answer = "ok " + std::to_string(tracks.Tracks.size()) + " tracks";
            for (size_t i = 0; i < tracks.Tracks.size(); ++i) answer += (i == 0 ? ": " : " ") + tracks.Tracks[i].Name;
            return true;
        }
        if (words.size() != 2 || words[1] != "save") {
            answer = "error: usage: tracks | tracks save";
            return true;
        }
        if (tracks.Files.empty()) {
            answer = "error: the script has no TRACKS line; nothing to save";
            return true;
        }
        std::string error;
        if (!SaveTracks(tracks, error)) {
            answer = "error: " + error;
            return true;
        }
        answer = "ok saved";
        for (const TTracksFile& file : tracks.Files) answer += " " + file.Name;
    } else {
        return false;
    }
    return true;
}

void CarryTracks(const TTracks& before, TTracks& after) {
    if (!before.Edited) return;
    const bool sameFiles =
        before.Files.size() == after.Files.size() &&
        std::equal(before.Files.begin(), before.Files.end(), after.Files.begin(),
                   [](const TTracksFile& a, const TTracksFile& b) { return a.Path == b.Path && a.Text == b.Text; });
    if (!sameFiles) {
        std::fprintf(stderr,
                     "corvala: a tracks file changed on disk: its keys replace the keys set live and not saved\n");
        return;
    }
    after.Tracks = before.Tracks;
    after.Edited = true;
}

std::vector<std::string> TrackHudLines(const TCDemo& demo) {
    std::vector<std::string> lines;
    std::vector<int32_t> slots;
    for (int32_t index : demo.ActiveBars) {
        const int32_t slot = demo.Bars[size_t(index)].EffectSlot;
        if (std::find(slots.begin(), slots.end(), slot) != slots.end()) continue;
        slots.push_back(slot);
        std::string line;
        for (const TTrack& track : demo.Tracks.Tracks) {
            if (track.Slot != slot || track.Keys.empty()) continue;
            char value[32];
            std::snprintf(value, sizeof value, "%.4g", double(track.ValueAt(demo.FrameRow)));
            line += std::string(line.empty() ? "" : "  ") + TrackFieldNames[track.Field] + " " + value;
        }
        if (!line.empty()) lines.push_back("slot " + std::to_string(slot) + ": " + line);
    }
    return lines;
}

void TDevSession::PollEditor() {
    if (!editor) return;
    TCDemo& d = Demo();
    TEditorRequests requests;
    editor->Poll(d.Tracks, d.CurrentRow, !Paused(), requests);
    // A pause first: a row that comes with it is then held there.
    if (requests.Pause) SetPaused(*requests.Pause);
    if (requests.SeekRow) Seek(RowStartSeconds(*d.Tracker, *requests.SeekRow));
    if (!requests.Save) return;
    std::string error;
    if (d.Tracks.Files.empty())
        ReportWarning("editor: the script has no TRACKS line; the keys are not saved");
    else if (!SaveTracks(d.Tracks, error))
        ReportWarning("editor: the tracks are not saved: " + error);
    else
        for (const TTracksFile& file : d.Tracks.Files)
            std::fprintf(stderr, "corvala: editor: tracks saved to %s\n", file.Name.c_str());
}
