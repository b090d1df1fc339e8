// Dev mode's keyed tracks: the control-channel commands that read and set
// keys and save the tracks files, keys kept across a reload, and the HUD
// lines of the animated fields.
#pragma once

#include <string>
#include <vector>

#include "demo/demo.h"

// Runs a tracks command of the control channel: `value NAME`, `key NAME
// POSITION VALUE [step|linear|smooth|ramp]`, `unkey NAME POSITION`, `keys
// NAME`, `tracks` (the names) and `tracks save`. False when `words` is none
// of them; otherwise `answer` is the line to send ("ok ..." or "error: ...").
bool ExecuteTracksCommand(TCDemo& demo, const std::vector<std::string>& words, std::string& answer);

// After a reload: keys set live and not saved stay when no tracks file
// changed on disk; a changed file wins (said on stderr).
void CarryTracks(const TTracks& before, TTracks& after);

// "keys" answer text of a track: "N keys: P:B:b:r VALUE TYPE; ...".
std::string KeysText(const TTrack& track);

// The HUD's lines for the tracks of the bars playing in the last frame: one
// per active slot with keyed fields, "slot 3: X 12.5  Y -2".
std::vector<std::string> TrackHudLines(const TCDemo& demo);
