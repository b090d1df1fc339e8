#include "media/song_import.h"

#include "base/files.h"
#include "base/limits.h"
#include "media/midi_file.h"
#include "media/module_song.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

namespace {

// Rows beyond any grid, for times a damaged file puts out of reach.
constexpr int64_t FarRow = int64_t(1) << 62;
// Largest song file read (bytes).
constexpr int64_t MaxSongBytes = 256LL * 1024 * 1024;

// One note before placing: its time, the group of tracker channels it goes
// to (a module channel, a MIDI channel or track), the byte it writes and the
// key that tells chord notes apart (always 0 for modules: one note a row).
struct TEvent {
    double Seconds;
    int Group;
    uint8_t Byte;
    int Key;
};

struct TPlacement {
    std::vector<int> Width; // tracker channels per group
    int64_t Collisions = 0;
    int64_t LastRow = -1;
};

std::string Fixed(double value, int decimals) { return DecimalText(value, decimals); }

// Rows for each group: distinct keys per row give the group's width, a key
// already on its row is a collision. Events are in time order per group.
TPlacement Place(const std::vector<TEvent>& events, int groups, float bpm) {
    TPlacement p;
    p.Width.assign(size_t(groups), 0);
    auto rows = std::vector<std::map<int64_t, std::set<int>>>(size_t(groups));
    for (const TEvent& e : events) {
        const int64_t row = NearestRow(e.Seconds, bpm);
        p.LastRow = std::max(p.LastRow, row);
        auto& keys = rows[size_t(e.Group)][row];
        if (!keys.insert(e.Key).second) {
            ++p.Collisions;
            continue;
        }
        p.Width[size_t(e.Group)] = std::max(p.Width[size_t(e.Group)], int(keys.size()));
    }
    return p;
}

std::string ChannelRange(int first, int count) {
    if (count == 1) return "tracker channel " + std::to_string(first);
    return "tracker channels " + std::to_string(first) + "-" + std::to_string(first + count - 1);
}

bool Wanted(const TImportOptions& options, int number) {
    return options.Channels.empty() ||
           std::find(options.Channels.begin(), options.Channels.end(), number) != options.Channels.end();
}

constexpr size_t MaxNamesShown = 4;

// "1 change", "3 changes".
std::string Changes(int64_t count) { return std::to_string(count) + (count == 1 ? " change" : " changes"); }

// The name without the spaces and control bytes modules pad it with.
std::string Trimmed(const std::string& name) {
    std::string out;
    for (char ch : name) out += (static_cast<unsigned char>(ch) < 32 || ch == 127) ? ' ' : ch;
    const size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

// Module channels (numbered from 1) become groups in the order kept.
bool CollectModule(const std::vector<uint8_t>& data, const TImportOptions& options, TImportResult& result,
                   std::vector<TEvent>& events, std::vector<int>& groupWidth, std::string& error) {
    TModuleSong song;
    if (!ReadModuleSong(data, song, error)) return false;
    // A module cut short loses the notes past its end without a word from
    // libopenmpt: none left is an error, some left a warning with the count.
    if (song.Notes.empty()) {
        error = song.CutShort.empty()
                    ? "the module holds no notes"
                    : "the file is cut short (" + song.CutShort + " lies past its end) and no notes are left";
        return false;
    }
    if (!song.CutShort.empty())
        result.CutShort = "the file is cut short: " + song.CutShort +
                          " lies past its end, so the notes there are "
                          "missing; " +
                          std::to_string(song.Notes.size()) + " notes were read";
    result.Kind = "module (" + song.Type + ")";
    result.SongBpm = SuggestedModuleBpm(song, options.RowsPerBeat);
    result.TempoChanges = song.TempoChanges > 0;
    result.Seconds = song.Seconds;
    result.SongRows = song.RowsPlayed;
    std::vector<int> groupOf(size_t(song.Channels), -1);
    int groups = 0;
    std::vector<int> order = options.Channels;
    if (order.empty())
        for (int c = 1; c <= song.Channels; ++c) order.push_back(c);
    for (int number : order) {
        if (number < 1 || number > song.Channels) {
            error = "the module has no channel " + std::to_string(number) + " (it has " +
                    std::to_string(song.Channels) + ")";
            return false;
        }
        if (groupOf[size_t(number - 1)] >= 0) continue;
        groupOf[size_t(number - 1)] = groups++;
    }
    groupWidth.assign(size_t(groups), 1);
    if (options.Channels.empty()) {
        result.ChannelMap.push_back("tracker channel N = module channel N+1 (" + std::to_string(groups) + " channels)");
    } else {
        for (int c = 0; c < song.Channels; ++c)
            if (groupOf[size_t(c)] >= 0)
                result.ChannelMap.push_back("tracker channel " + std::to_string(groupOf[size_t(c)]) +
                                            " = module channel " + std::to_string(c + 1));
    }
    // Which instruments each module channel plays, in order of first use, so
    // that a user can tell the kick's channel from the bass's.
    std::vector<std::vector<int>> played(size_t(song.Channels));
    for (const TModuleNote& n : song.Notes) {
        auto& list = played[size_t(n.Channel)];
        if (n.Instrument > 0 && std::find(list.begin(), list.end(), n.Instrument) == list.end())
            list.push_back(n.Instrument);
    }
    for (int c = 0; c < song.Channels; ++c) {
        if (groupOf[size_t(c)] < 0 || played[size_t(c)].empty()) continue;
        std::string names;
        const auto& list = played[size_t(c)];
        for (size_t i = 0; i < list.size() && i < MaxNamesShown; ++i) {
            const size_t at = size_t(list[i] - 1);
            const std::string name = at < song.InstrumentNames.size() ? Trimmed(song.InstrumentNames[at]) : "";
            names += (i ? ", " : "") + std::to_string(list[i]) + (name.empty() ? "" : " \"" + name + "\"");
        }
        if (list.size() > MaxNamesShown) names += " and " + std::to_string(list.size() - MaxNamesShown) + " more";
        result.ChannelMap.push_back("  tracker channel " + std::to_string(groupOf[size_t(c)]) + " plays " + names);
    }
    int64_t noInstrument = 0;
    for (const TModuleNote& n : song.Notes) {
        const int group = groupOf[size_t(n.Channel)];
        if (group < 0) continue;
        if (n.Volume < options.MinVolume) {
            ++result.NotesQuiet;
            continue;
        }
        const int byte = options.Instruments ? n.Instrument : n.Note;
        if (byte < 1 || byte > 255) {
            ++noInstrument;
            continue;
        }
        events.push_back({n.Seconds, group, uint8_t(byte), 0});
    }
    if (noInstrument > 0)
        result.Warnings.push_back(std::to_string(noInstrument) +
                                  " notes play before their channel names an instrument and are left out");
    if (song.TempoChanges > 0)
        result.Warnings.push_back("the tempo changes at order " + std::to_string(song.ChangeOrder) + ", pattern " +
                                  std::to_string(song.ChangePattern) + ", row " + std::to_string(song.ChangeRow) +
                                  " (to speed " + std::to_string(song.ChangeSpeed) + ", tempo " +
                                  std::to_string(song.ChangeTempo) + "; " + Changes(song.TempoChanges) +
                                  " in all); notes stay at their true times, so sync holds across it; "
                                  "averaged over the song a beat of " +
                                  std::to_string(options.RowsPerBeat) + " rows is " + Fixed(result.SongBpm, 3) +
                                  " BPM, the tempo suggested for the script");
    return true;
}

std::string MidiGroupName(bool tracks, int group, const std::set<int>& channels, const std::set<int>& programs) {
    std::string name = tracks ? "track " + std::to_string(group + 1) : "MIDI channel " + std::to_string(group + 1);
    std::string what;
    auto add = [&what](const std::string& s) { what += (what.empty() ? "" : ", ") + s; };
    if (tracks)
        for (int c : channels) add("MIDI channel " + std::to_string(c + 1));
    if (channels.count(9)) add("drums");
    if (!(channels.size() == 1 && channels.count(9))) {
        std::string list;
        for (int p : programs) list += (list.empty() ? "" : " ") + std::to_string(p);
        add((programs.size() == 1 ? "program " : "programs ") + list);
    }
    return name + " (" + what + ")";
}

// MIDI channels (or tracks), numbered from 1, become groups in file order.
bool CollectMidi(const std::vector<uint8_t>& data, const TImportOptions& options, TImportResult& result,
                 std::vector<TEvent>& events, std::vector<std::string>& groupNames, std::string& error) {
    TMidiSong song;
    if (!ReadMidiSong(data, song, error)) return false;
    result.Kind =
        "MIDI file (format " + std::to_string(song.Format) + ", " + std::to_string(song.TrackCount) + " tracks)";
    result.SongBpm = song.FirstTempo > 0 ? 60e6 / double(song.FirstTempo) : 120.0;
    result.Seconds = song.Seconds;
    const int sources = options.Tracks ? song.TrackCount : 16;
    for (int number : options.Channels)
        if (number < 1 || number > sources) {
            error = options.Tracks ? "the file has no track " + std::to_string(number) + " (it has " +
                                         std::to_string(sources) + ")"
                                   : "MIDI channels are numbered 1 to 16, not " + std::to_string(number);
            return false;
        }
    auto channels = std::vector<std::set<int>>(size_t(sources));
    auto programs = std::vector<std::set<int>>(size_t(sources));
    std::vector<int> groupOf(size_t(sources), -1);
    int groups = 0;
    int64_t keyZero = 0;
    for (const TMidiNote& n : song.Notes) {
        const int source = options.Tracks ? n.Track : n.Channel;
        if (!Wanted(options, source + 1)) continue;
        if (n.Velocity < options.MinVolume) {
            ++result.NotesQuiet;
            continue;
        }
        if (n.Key == 0) {
            ++keyZero;
            continue;
        }
        if (groupOf[size_t(source)] < 0) groupOf[size_t(source)] = groups++;
        channels[size_t(source)].insert(n.Channel);
        if (n.Channel != 9) programs[size_t(source)].insert(n.Program);
        events.push_back({n.Seconds, groupOf[size_t(source)], uint8_t(n.Key), n.Key});
    }
    groupNames.assign(size_t(groups), "");
    for (int s = 0; s < sources; ++s)
        if (groupOf[size_t(s)] >= 0)
            groupNames[size_t(groupOf[size_t(s)])] =
                MidiGroupName(options.Tracks, s, channels[size_t(s)], programs[size_t(s)]);
    if (keyZero > 0)
        result.Warnings.push_back(std::to_string(keyZero) + " notes with note number 0 are left out (0 means no note)");
    if (!song.TempoChanges.empty()) {
        const auto& c = song.TempoChanges.front();
        result.Warnings.push_back("the tempo changes at tick " + std::to_string(c.Tick) + " (" + Fixed(c.Seconds, 3) +
                                  " s, to " + Fixed(60e6 / double(c.MicrosPerQuarter), 3) + " BPM; " +
                                  Changes(int64_t(song.TempoChanges.size())) +
                                  " in all); notes stay at their true times, so sync holds across it");
    }
    return true;
}

} // namespace

int64_t NearestRow(double seconds, float bpm) {
    const long double rows = static_cast<long double>(seconds) * 4 / 60 * bpm;
    // Far past any grid the engine accepts, and still an integer.
    if (!(std::fabs(rows) < 4e18L)) return rows < 0 ? -FarRow : FarRow;
    return int64_t(std::nearbyint(rows));
}

float ScriptBpm(double bpm) { return float(std::round(bpm * 1000.0) / 1000.0); }

bool IsSongData(const std::vector<uint8_t>& data) { return IsMidiData(data) || IsModuleData(data); }

bool IsSongFile(const std::string& fileName) {
    if (!SpecialFileKind(fileName).empty()) return false;
    std::ifstream file(fileName, std::ios::binary);
    char head[4] = {};
    if (file.read(head, 4) && std::memcmp(head, "MThd", 4) == 0) return true;
    return IsModuleFile(fileName);
}

bool ImportSongFile(const std::string& fileName, const TImportOptions& options, TImportResult& result,
                    std::string& error) {
    std::vector<uint8_t> data;
    if (!ReadWholeFile(fileName, MaxSongBytes, data, error)) {
        error = error.substr(std::min(error.size(), fileName.size() + 2));
        return false;
    }
    return ImportSong(data, options, result, error);
}

bool ImportSong(const std::vector<uint8_t>& data, const TImportOptions& options, TImportResult& result,
                std::string& error) {
    result = TImportResult{};
    if (options.RowsPerBeat < 1 || options.RowsPerBeat > 64) {
        error = "rows per beat must be 1 to 64, not " + std::to_string(options.RowsPerBeat);
        return false;
    }
    if (!(options.Bpm >= 0) || options.Bpm > 100000) {
        error = "the BPM must be above 0 and at most 100000";
        return false;
    }
    std::vector<TEvent> events;
    std::vector<std::string> groupNames;
    std::vector<int> fixedWidth; // modules: one tracker channel per module channel, notes or not
    const bool midi = IsMidiData(data);
    if (midi) {
        if (!CollectMidi(data, options, result, events, groupNames, error)) return false;
    } else if (IsModuleData(data)) {
        if (!CollectModule(data, options, result, events, fixedWidth, error)) return false;
    } else {
        error = "neither a tracker module libopenmpt reads nor a Standard MIDI File";
        return false;
    }
    if (!(result.SongBpm > 0) || !std::isfinite(result.SongBpm)) result.SongBpm = 120;
    result.Bpm = options.Bpm > 0 ? float(options.Bpm) : ScriptBpm(result.SongBpm);
    if (midi) result.SongRows = NearestRow(result.Seconds, float(result.SongBpm));
    std::stable_sort(events.begin(), events.end(),
                     [](const TEvent& a, const TEvent& b) { return a.Seconds < b.Seconds; });

    const int groups = midi ? int(groupNames.size()) : int(fixedWidth.size());
    const TPlacement placed = Place(events, groups, result.Bpm);
    std::vector<int> width = midi ? placed.Width : fixedWidth;
    for (int& w : width) w = std::max(w, 1);
    std::vector<int> base(size_t(groups), 0);
    int channels = 0;
    for (int g = 0; g < groups; ++g) {
        base[size_t(g)] = channels;
        channels += width[size_t(g)];
        if (midi)
            result.ChannelMap.push_back(ChannelRange(base[size_t(g)], width[size_t(g)]) + ": " + groupNames[size_t(g)]);
    }
    const long double endRows = std::ceil(static_cast<long double>(result.Seconds) * 4 / 60 * result.Bpm);
    const int64_t songEndRow = endRows < 4e18L ? int64_t(endRows) : FarRow;
    const int64_t rows = std::max<int64_t>(songEndRow, placed.LastRow + 1);
    if (channels > limits::MaxTrackerChannels || rows > int64_t(INT32_MAX) ||
        int64_t(channels) * rows > limits::MaxTrackerCells) {
        error = "the grid of " + std::to_string(channels) + " channels and " + std::to_string(rows) + " rows at BPM " +
                Fixed(result.Bpm, 3) + " is larger than the engine accepts";
        return false;
    }
    result.Grid.Resize(channels, int32_t(rows));
    // Chord notes of one row go to the group's channels lowest key first.
    std::map<std::pair<int, int64_t>, std::vector<std::pair<int, uint8_t>>> cells;
    for (const TEvent& e : events) {
        auto& cell = cells[{e.Group, NearestRow(e.Seconds, result.Bpm)}];
        bool taken = false;
        for (const auto& k : cell) taken = taken || k.first == e.Key;
        if (!taken) cell.push_back({e.Key, e.Byte});
    }
    for (auto& [where, notes] : cells) {
        std::sort(notes.begin(), notes.end());
        for (size_t i = 0; i < notes.size(); ++i)
            result.Grid.Channels[size_t(base[size_t(where.first)]) + i][size_t(where.second)] = notes[i].second;
        result.NotesWritten += int64_t(notes.size());
    }
    if (!result.CutShort.empty()) result.Warnings.insert(result.Warnings.begin(), result.CutShort);
    result.Collisions = placed.Collisions;
    if (placed.Collisions > 0) {
        for (int k = 2; k <= 8 && result.ApartBpm == 0; ++k) {
            const float bpm = ScriptBpm(result.SongBpm * k);
            if (Place(events, groups, bpm).Collisions == 0) result.ApartBpm = bpm;
        }
        std::string text = std::to_string(placed.Collisions) +
                           " notes fell on a row that already held a note of their channel and are left out";
        text += result.ApartBpm > 0
                    ? "; at BPM " + Fixed(result.ApartBpm, 3) + " (" + Fixed(result.ApartBpm / result.SongBpm, 0) +
                          " times the song's) they stay apart"
                    : "; even 8 times the song's BPM does not keep them apart";
        result.Warnings.push_back(text);
    }
    return true;
}

std::string DecimalText(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s;
}
