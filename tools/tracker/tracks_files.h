// Keyed tracks in the sync-tracker editors' own files: their XML project
// file (tracks of keys with row, value and interpolation) and the binary
// per-track files their players read. `corvala-tracker tracks ...` converts
// between these and a tracks file; every key survives a round trip.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "demo/tracks.h"

// The editor project file: a `sync` element with a `rows` attribute holding
// `tracks`, one `track name=...` each, holding `key row= value=
// interpolation=` elements. `rows` is the editor's row count.
std::string WriteEditorProject(const TTracks& tracks, int32_t rows);
// Reads tracks and keys (other elements and attributes are skipped) into
// `tracks`, saved to Files[0]. False with "NAME:LINE: reason".
bool ReadEditorProject(const std::string& name, const std::string& text, TTracks& tracks, std::string& error);

// "<base>_<name>.track" with every character of the name but letters,
// digits, '.', '_' and '/' written as '-' and two upper-case hex digits.
std::string TrackFileName(const std::string& base, const std::string& trackName);
// The track name back from such a file name; false when it is not one.
bool TrackNameFromFile(const std::string& base, const std::string& fileName, std::string& trackName);
// The player's binary track: key count (int32), then per key row (int32),
// value (float) and interpolation (1 byte), little-endian, no header.
std::vector<uint8_t> EncodeTrackFile(const TTrack& track);
// False with the reason when the size is not what the count says, a row is
// negative or out of order, a value not finite or an interpolation past 3.
bool DecodeTrackFile(const std::string& name, const std::vector<uint8_t>& data, TTrack& track, std::string& error);

// `tracks import|export ...` of corvala-tracker; exit code as RunTrackerTool.
int TracksCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
