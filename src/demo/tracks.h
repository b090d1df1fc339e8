// Keyed tracks: values that change along the tracker's rows. A track is
// either an effect field (`3.X`: slot 3, field X) set before every Update of
// the bars playing that slot, or a name that effects read (shaders bind it
// as a uniform). Keys sit on whole rows; each key's interpolation shapes the
// way to the next key. The text file format (TRACKS files) is read and
// written here; docs/tracks.md describes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "demo/tracker.h"
#include "effects/effect.h"

enum class TKeyType : uint8_t {
    Step = 0,   // hold the key's value up to the next key
    Linear = 1, // v0 + (v1 - v0) * t
    Smooth = 2, // t' = t * t * (3 - 2t)
    Ramp = 3,   // t' = t * t
};

struct TTrackKey {
    int32_t Row = 0; // tracker row, 0 or more
    float Value = 0; // finite
    TKeyType Type = TKeyType::Step;
    int32_t Line = 0; // line in the file it was read from; 0 when set live
};

// The float fields of TCEffect a track may drive, as the script spells them.
inline constexpr const char* TrackFieldNames[] = {"X", "Y", "Z", "H", "W", "D", "VX", "VY", "VZ", "S"};
inline constexpr int TrackFieldCount = 10;
// The field with that index in TrackFieldNames.
float TCEffect::*TrackField(int index);

struct TTrack {
    std::string Name;
    std::vector<TTrackKey> Keys; // sorted by Row, at most one key per row
    int32_t Slot = -1;           // SLOT.FIELD tracks: the slot; -1 for a named track
    int32_t Field = -1;          // SLOT.FIELD tracks: index into TrackFieldNames
    size_t FileIndex = 0;        // the TTracks::Files entry it is saved to
    int32_t Line = 0;            // its `track` line; 0 when made live
    mutable bool Read = false;   // an effect asked for it (FindTrackUniform)

    // The value at a row with its fraction: 0 without keys; the first key's
    // value before it; the value of the last key at or before floor(row),
    // shaped towards the next key by its interpolation; the last key's value
    // from the last key on.
    float ValueAt(double row) const;
    // Sets the key on its row, replacing a key already there.
    void SetKey(const TTrackKey& key);
    // False when no key sits on that row.
    bool DeleteKey(int32_t row);
};

struct TTracksFile {
    std::string Name; // as the TRACKS line gives it
    std::string Path; // absolute: where it is saved
    std::string Text; // the bytes last read or written
};

class TTracks {
public:
    std::vector<TTrack> Tracks; // in the order they were declared
    std::vector<TTracksFile> Files;
    // Keys were changed (control channel, editor) since the files were
    // read or saved.
    bool Edited = false;

    // Index into Tracks, -1 when there is no such track.
    int32_t IndexOf(const std::string& name) const;
    TTrack* Find(const std::string& name);
    const TTrack* Find(const std::string& name) const;
};

// A problem in a tracks file, at its line.
struct TTracksProblem {
    int32_t Line = 0;
    std::string Message;
    bool Error = true; // false: a warning
};

// Reads a whole tracks file (at most the script size limit); false with the
// reason in `error`.
bool ReadTracksFile(const std::string& path, std::string& text, std::string& error);
// Reads one file's text into `tracks`, its tracks saved to Files[fileIndex].
// Malformed lines are errors and are skipped; a second key on one row is a
// warning (the later key wins). False when any error was found.
bool ReadTracksText(const std::string& text, size_t fileIndex, TTracks& tracks, std::vector<TTracksProblem>& problems);
// The canonical text of the tracks saved to Files[fileIndex]: a header
// comment, then per track its `track` line and one key a line, position as
// P:B:b:r, the shortest decimal that reads back as the same float, and the
// interpolation's name.
std::string WriteTracksText(const TTracks& tracks, size_t fileIndex);
// Writes every file through the one writer, keeping each previous version as
// FILE~. Clears Edited when all were written; false with "FILE: reason".
bool SaveTracks(TTracks& tracks, std::string& error);

// `name` is a valid track name: SLOT.FIELD (slot and field set) or a name of
// letters, digits, '_', ':' and '.' that starts with a letter or '_' (slot
// and field -1). False with the reason in `error`.
bool ParseTrackName(const std::string& name, int32_t& slot, int32_t& field, std::string& error);
// The name shaders read a track by: every character but letters, digits and
// '_' turned into '_' ("cam:rot.y" is "cam_rot_y").
std::string TrackUniformName(const std::string& name);
// A key's position: P:B[:b[:r]] as MOUNT counts, one row exactly.
bool ParseKeyPosition(const std::string& text, int32_t& row, std::string& error);
// A finite decimal value within float range.
bool ParseKeyValue(const std::string& text, float& value, std::string& error);
// "step", "linear", "smooth", "ramp".
bool ParseKeyType(const std::string& text, TKeyType& type, std::string& error);
const char* KeyTypeName(TKeyType type);
// The shortest decimal text that reads back as `value`.
std::string KeyValueText(float value);

// The row, with its fraction, that the timeline plays at `seconds`: its
// whole part is always tracker.RowAt(seconds), also where RowAt settles a
// time a hair off a row's start.
double TrackRowAt(float seconds, const TDemoTracker& tracker);

// The demo whose named tracks effects see through FindTrackUniform and
// TrackValue, at `row` (rows with fraction). Null for none.
void SetPlayingTracks(const TTracks* tracks, double row);
const TTracks* PlayingTracks();
