#include "demo/tracks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

#include "base/limits.h"
#include "base/output.h"
#include "demo/position.h"
#include "demo/script.h"

namespace {

// Longest track name accepted, in bytes.
constexpr size_t MaxTrackName = 200;

const TTracks* playingTracks = nullptr;
double playingRow = 0;

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
           c == '.';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        if (at >= line.size()) break;
        const size_t end = line.find_first_of(" \t", at);
        words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? line.size() : end;
    }
    return words;
}

std::string Shown(const std::string& text) { return text.size() > 40 ? text.substr(0, 37) + "..." : text; }

} // namespace

float TCEffect::*TrackField(int index) {
    static float TCEffect::*const fields[TrackFieldCount] = {&TCEffect::X,  &TCEffect::Y, &TCEffect::Z,  &TCEffect::H,
                                                             &TCEffect::W,  &TCEffect::D, &TCEffect::VX, &TCEffect::VY,
                                                             &TCEffect::VZ, &TCEffect::S};
    return index >= 0 && index < TrackFieldCount ? fields[index] : nullptr;
}

float TTrack::ValueAt(double row) const {
    if (Keys.empty()) return 0;
    const double whole = std::floor(row);
    // Binary search: Keys is sorted by row. `next` is the first key past
    // floor(row).
    const auto next = std::upper_bound(Keys.begin(), Keys.end(), whole,
                                       [](double r, const TTrackKey& key) { return r < double(key.Row); });
    if (next == Keys.begin()) return Keys.front().Value;
    const TTrackKey& key = *(next - 1);
    if (next == Keys.end() || key.Type == TKeyType::Step) return key.Value;
    double t = (row - double(key.Row)) / (double(next->Row) - double(key.Row));
    if (key.Type == TKeyType::Smooth)
        t = t * t * (3 - 2 * t);
    else if (key.Type == TKeyType::Ramp)
        t = t * t;
    return float(double(key.Value) + (double(next->Value) - double(key.Value)) * t);
}

void TTrack::SetKey(const TTrackKey& key) {
    const auto at = std::lower_bound(Keys.begin(), Keys.end(), key.Row,
                                     [](const TTrackKey& k, int32_t row) { return k.Row < row; });
    if (at != Keys.end() && at->Row == key.Row)
        *at = key;
    else
        Keys.insert(at, key);
}

bool TTrack::DeleteKey(int32_t row) {
    const auto at =
        std::lower_bound(Keys.begin(), Keys.end(), row, [](const TTrackKey& k, int32_t r) { return k.Row < r; });
    if (at == Keys.end() || at->Row != row) return false;
    Keys.erase(at);
    return true;
}

int32_t TTracks::IndexOf(const std::string& name) const {
    for (size_t i = 0; i < Tracks.size(); ++i)
        if (Tracks[i].Name == name) return int32_t(i);
    return -1;
}

TTrack* TTracks::Find(const std::string& name) {
    const int32_t index = IndexOf(name);
    return index < 0 ? nullptr : &Tracks[size_t(index)];
}

const TTrack* TTracks::Find(const std::string& name) const {
    const int32_t index = IndexOf(name);
    return index < 0 ? nullptr : &Tracks[size_t(index)];
}

bool ParseTrackName(const std::string& name, int32_t& slot, int32_t& field, std::string& error) {
    slot = field = -1;
    if (name.empty() || name.size() > MaxTrackName) {
        error = name.empty() ? "a track needs a name"
                             : "the track name is longer than " + std::to_string(MaxTrackName) + " characters";
        return false;
    }
    for (char c : name)
        if (!IsNameChar(c)) {
            error = "'" + Shown(name) + "' is not a track name: use letters, digits, '_', ':' and '.'";
            return false;
        }
    if (!IsDigit(name[0])) return true;
    // SLOT.FIELD
    const size_t dot = name.find('.');
    const std::string slotText = name.substr(0, dot);
    const std::string fieldText = dot == std::string::npos ? "" : name.substr(dot + 1);
    const bool digits = std::all_of(slotText.begin(), slotText.end(), IsDigit);
    if (!digits || slotText.size() > 4 || dot == std::string::npos) {
        error = "'" + Shown(name) +
                "' is not a track name: a field track is SLOT.FIELD (3.X); a named "
                "track starts with a letter or '_'";
        return false;
    }
    const int32_t number = int32_t(std::strtol(slotText.c_str(), nullptr, 10));
    if (number > limits::MaxEffectSlot) {
        error = "slot " + slotText + " in '" + name + "' is outside 0 to " + std::to_string(limits::MaxEffectSlot);
        return false;
    }
    for (int i = 0; i < TrackFieldCount; ++i)
        if (fieldText == TrackFieldNames[i]) {
            slot = number;
            field = i;
            return true;
        }
    error =
        "'" + Shown(fieldText) + "' in '" + Shown(name) + "' is not a field a track can set: X Y Z H W D VX VY VZ S";
    return false;
}

std::string TrackUniformName(const std::string& name) {
    std::string uniform = name;
    for (char& c : uniform)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_')) c = '_';
    return uniform;
}

bool ParseKeyPosition(const std::string& text, int32_t& row, std::string& error) {
    TDemoPosition position;
    if (text.find(':') == std::string::npos || !ParseDemoPosition(text, position, error) || !position.IsRow) {
        error = "'" + Shown(text) + "' is not a key position: give pattern:bar[:beat[:row]] (1:0:2)";
        return false;
    }
    row = position.Row;
    return true;
}

bool ParseKeyValue(const std::string& text, float& value, std::string& error) {
    // Plain decimal numbers only: no "inf", "nan" or hexadecimal forms.
    const bool plain = !text.empty() && text.size() <= 64 &&
                       text.find_first_not_of("0123456789.+-eE") == std::string::npos &&
                       text.find_first_of("0123456789") != std::string::npos;
    char* end = nullptr;
    const double number = plain ? std::strtod(text.c_str(), &end) : 0;
    if (!plain || end == nullptr || *end != '\0') {
        error = "'" + Shown(text) + "' is not a value: give a decimal number (1.5, -2, 3e-2)";
        return false;
    }
    if (!std::isfinite(number) || std::fabs(number) > double(std::numeric_limits<float>::max())) {
        error = "the value " + Shown(text) + " is beyond what a track holds (about 3.4e38)";
        return false;
    }
    value = float(number);
    return true;
}

bool ParseKeyType(const std::string& text, TKeyType& type, std::string& error) {
    static const TKeyType types[] = {TKeyType::Step, TKeyType::Linear, TKeyType::Smooth, TKeyType::Ramp};
    for (TKeyType candidate : types)
        if (text == KeyTypeName(candidate)) {
            type = candidate;
            return true;
        }
    error = "'" + Shown(text) + "' is not an interpolation: step, linear, smooth or ramp";
    return false;
}

const char* KeyTypeName(TKeyType type) {
    switch (type) {
    case TKeyType::Step:
        return "step";
    case TKeyType::Linear:
        return "linear";
    case TKeyType::Smooth:
        return "smooth";
    case TKeyType::Ramp:
        return "ramp";
    }
    return "step";
}

std::string KeyValueText(float value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

bool ReadTracksFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    text.clear();
    char buffer[65536];
    while (file && text.size() <= size_t(limits::MaxScriptBytes)) {
        file.read(buffer, sizeof buffer);
        text.append(buffer, size_t(file.gcount()));
    }
    if (file.bad()) {
        error = "cannot read " + path;
        return false;
    }
    if (text.size() > size_t(limits::MaxScriptBytes)) {
        error = path + " is larger than " + std::to_string(limits::MaxScriptBytes / (1024 * 1024)) + " MiB";
        return false;
    }
    return true;
}

bool ReadTracksText(const std::string& text, size_t fileIndex, TTracks& tracks, std::vector<TTracksProblem>& problems) {
    const std::vector<std::string> lines = SplitScriptLines(text);
    bool good = true;
    TTrack* current = nullptr;
    bool badTrack = false; // the last track line was malformed
    auto error = [&](size_t i, const std::string& message) {
        problems.push_back({int32_t(i + 1), message, true});
        good = false;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty()) continue;
        if (words[0] == "track") {
            current = nullptr;
            badTrack = true;
            if (words.size() != 2) {
                error(i,
                      words.size() < 2 ? "'track' needs a name" : "'track' takes one name; a key goes on its own line");
                continue;
            }
            TTrack track;
            std::string why;
            if (!ParseTrackName(words[1], track.Slot, track.Field, why)) {
                error(i, why);
                continue;
            }
            if (const TTrack* other = tracks.Find(words[1])) {
                error(i, "track " + words[1] + " is declared twice" +
                             (other->FileIndex == fileIndex && other->Line > 0
                                  ? " (first at line " + std::to_string(other->Line) + ")"
                                  : " (also in another TRACKS file)"));
                continue;
            }
            track.Name = words[1];
            track.FileIndex = fileIndex;
            track.Line = int32_t(i + 1);
            tracks.Tracks.push_back(std::move(track));
            current = &tracks.Tracks.back();
            badTrack = false;
            continue;
        }
        // A key: POSITION VALUE [INTERPOLATION]
        if (words.size() < 2 || words.size() > 3) {
            error(i, "a key is POSITION VALUE [step|linear|smooth|ramp], a track line is 'track NAME'");
            continue;
        }
        TTrackKey key;
        key.Line = int32_t(i + 1);
        std::string why;
        if (!ParseKeyPosition(words[0], key.Row, why) || !ParseKeyValue(words[1], key.Value, why) ||
            (words.size() == 3 && !ParseKeyType(words[2], key.Type, why))) {
            error(i, why);
            continue;
        }
        if (!current) {
            // After a malformed track line its keys are not reported again.
            if (!badTrack) error(i, "a key before any 'track NAME' line");
            continue;
        }
        for (const TTrackKey& other : current->Keys)
            if (other.Row == key.Row)
                problems.push_back({key.Line,
                                    "track " + current->Name + " has a second key on row " + RowPositionText(key.Row) +
                                        " (first at line " + std::to_string(other.Line) + "); this one replaces it",
                                    false});
        current->SetKey(key);
    }
    return good;
}

std::string WriteTracksText(const TTracks& tracks, size_t fileIndex) {
    std::string text = "# Keyed tracks (corvala). POSITION VALUE INTERPOLATION; positions as MOUNT counts.\n";
    for (const TTrack& track : tracks.Tracks) {
        if (track.FileIndex != fileIndex) continue;
        text += "\ntrack " + track.Name + "\n";
        for (const TTrackKey& key : track.Keys) {
            std::string position = RowPositionText(key.Row);
            std::string value = KeyValueText(key.Value);
            position.resize(std::max<size_t>(position.size() + 2, 12), ' ');
            value.resize(std::max<size_t>(value.size() + 2, 14), ' ');
            text += position + value + KeyTypeName(key.Type) + "\n";
        }
    }
    return text;
}

bool SaveTracks(TTracks& tracks, std::string& error) {
    bool all = true;
    for (size_t i = 0; i < tracks.Files.size(); ++i) {
        TTracksFile& file = tracks.Files[i];
        const std::string text = WriteTracksText(tracks, i);
        std::string why;
        // The previous version stays as FILE~, written whole before the file
        // itself is replaced: a crash between the two loses nothing.
        std::error_code ec;
        if (std::filesystem::exists(file.Path, ec)) {
            std::string previous;
            if (!ReadTracksFile(file.Path, previous, why) || !WriteFileWhole(file.Path + "~", previous, why)) {
                if (all) error = why;
                all = false;
                continue;
            }
        }
        if (!WriteFileWhole(file.Path, text, why)) {
            if (all) error = why;
            all = false;
            continue;
        }
        file.Text = text;
    }
    if (all) tracks.Edited = false;
    return all;
}

double TrackRowAt(float seconds, const TDemoTracker& tracker) {
    const double rows = double((static_cast<long double>(seconds) * 4 / 60) * tracker.BPM);
    const int32_t row = tracker.RowAt(seconds);
    if (!(rows >= double(row))) return double(row);
    const double next = std::nextafter(double(row) + 1, 0.0);
    return rows > next ? next : rows;
}

void SetPlayingTracks(const TTracks* tracks, double row) {
    playingTracks = tracks;
    playingRow = row;
}

const TTracks* PlayingTracks() { return playingTracks; }

int32_t FindTrackUniform(const std::string& uniformName) {
    if (!playingTracks) return -1;
    for (size_t i = 0; i < playingTracks->Tracks.size(); ++i) {
        const TTrack& track = playingTracks->Tracks[i];
        if (track.Slot >= 0 || TrackUniformName(track.Name) != uniformName) continue;
        track.Read = true;
        return int32_t(i);
    }
    return -1;
}

float TrackValue(int32_t index) {
    if (!playingTracks || index < 0 || size_t(index) >= playingTracks->Tracks.size()) return 0;
    return playingTracks->Tracks[size_t(index)].ValueAt(playingRow);
}
