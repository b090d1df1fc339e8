// Songs as the tracker: a TRACKER line naming a tracker module or a MIDI file
// imports it at the script's BPM; and the pre-flight checks that tie the
// script's tempo, inputs and tracker to the song and the music.
#include "demo/demo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "base/report.h"
#include "media/module_song.h"
#include "media/note_grid.h"
#include "media/song_import.h"

namespace {

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

} // namespace

void TCDemo::ImportTrackerSong() {
    if (!(Tracker->BPM > 0)) return; // CheckPlayable reports the missing tempo
    TImportOptions options;
    options.Bpm = Tracker->BPM;
    TImportResult result;
    std::string error;
    if (!ImportSongFile(trackerSong, options, result, error)) {
        ShowScriptError("Tracker file " + trackerSong + " cannot be imported: " + error);
        failed = trackerBroken = true;
        return;
    }
    Tracker->Channels = std::move(result.Grid.Channels);
    Tracker->Rows = result.Grid.Rows;
    songBpm = result.SongBpm;
    if (Options.CheckOnly)
        for (const std::string& warning : result.Warnings)
            ReportWarning("Tracker file " + trackerSong + ": " + warning);
    else if (!result.CutShort.empty())
        ReportWarning("Tracker file " + trackerSong + ": " + result.CutShort); // notes are missing: said in every run
}

void TCDemo::WarnNoteOutsideBar(const TScriptBar& bar, size_t index) {
    // The envelope reaches a note from RowAt(fade) rows before it to
    // RowAt(lead) rows after it; row 0 never counts.
    const TBarInput& input = bar.Inputs[index];
    const int64_t first = int64_t(bar.StartRow);
    const int64_t last = first + bar.LengthRows - 1;
    const int64_t reachFrom = std::max<int64_t>(1, first - Tracker->RowAt(input.FadeTime));
    const int64_t reachTo = last + std::max(Tracker->RowAt(input.LeadTime), Tracker->RowAt(input.FadeTime));
    const std::vector<uint8_t>& notes = Tracker->Channels[size_t(input.Channel)];
    const int64_t end = std::min<int64_t>(reachTo, int64_t(notes.size()) - 1);
    for (int64_t row = reachFrom; row <= end; ++row)
        if (notes[size_t(row)] == input.Note) return;
    ReportWarning("INPUT " + std::to_string(index) + " listens for note " + std::to_string(input.Note) +
                  " on channel " + std::to_string(input.Channel) + ", which never plays it inside its bar's rows " +
                  std::to_string(first) + " to " + std::to_string(last) + " (" + RowPositionText(int32_t(first)) +
                  " to " + RowPositionText(int32_t(last)) + "); the input stays 0 there");
}

void TCDemo::CheckSongSync() {
    if (!Tracker || trackerBroken || !(Tracker->BPM > 0)) return;
    const float bpm = Tracker->BPM;
    SetScriptLocation(ScriptFile, 0);
    // The song's own tempo: the imported tracker's, else a module's as music.
    std::string songFile = trackerSong;
    if (songBpm == 0 && MusicLoaded && !musicFile.empty() && IsModuleFile(musicFile)) {
        std::vector<uint8_t> data;
        std::string error;
        TModuleSong song;
        if (ReadWholeFile(musicFile, 256LL * 1024 * 1024, data, error) && ReadModuleSong(data, song, error)) {
            songBpm = SuggestedModuleBpm(song, 4);
            songFile = musicFile;
        }
    }
    // At the BPM line: that is the line to change. The suggestion is written
    // with 3 decimals, so a script that carries it is clean.
    SetScriptLocation(ScriptFile, bpmLine);
    if (songBpm > 0 && std::fabs(double(bpm) - songBpm) > 0.001)
        ReportWarning("BPM " + Number(bpm) + " differs from the song's own tempo, " + Number(songBpm) + " BPM (" +
                      songFile + ")");

    for (const TScriptBar& bar : Bars) {
        SetScriptLocation(ScriptFile, bar.ScriptLine);
        for (size_t i = 0; i < bar.Inputs.size(); ++i) {
            const TBarInput& input = bar.Inputs[i];
            if (!input.Enabled || input.Note == 0 || input.Channel < 0 || input.Channel >= Tracker->ChannelCount())
                continue;
            const std::vector<uint8_t>& notes = Tracker->Channels[size_t(input.Channel)];
            SetScriptLocation(ScriptFile, bar.InputLines[i] > 0 ? bar.InputLines[i] : bar.ScriptLine);
            std::set<int> played(notes.begin(), notes.end());
            played.erase(0);
            if (played.count(input.Note)) {
                if (bar.LengthRows > 0) WarnNoteOutsideBar(bar, i);
                continue;
            }
            std::string list;
            int shown = 0;
            for (int note : played) {
                if (++shown > 16) {
                    list += ", ...";
                    break;
                }
                list += (list.empty() ? "" : ", ") + std::to_string(note);
            }
            ReportWarning("INPUT " + std::to_string(i) + " listens for note " + std::to_string(input.Note) +
                          " on channel " + std::to_string(input.Channel) + ", which never plays it; " +
                          (played.empty() ? "it plays no notes" : "it plays " + list));
        }
    }

    SetScriptLocation(ScriptFile, 0);
    if (MusicLoaded && MusicSeconds > 0) {
        const double trackerSeconds = double(Tracker->RowCount()) * 15.0 / bpm;
        const double barSeconds = 240.0 / bpm;
        if (std::fabs(trackerSeconds - MusicSeconds) > barSeconds)
            ReportWarning("the tracker lasts " + Number(trackerSeconds) + " s at BPM " + Number(bpm) + " (" +
                          std::to_string(Tracker->RowCount()) + " rows) and the music " + Number(MusicSeconds) +
                          " s: they differ by more than a bar (" + Number(barSeconds) + " s)");
    }
    ClearScriptLocation();
}
