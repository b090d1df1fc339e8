// A 440 Hz sine tone as a 44.1 kHz stereo 16-bit WAV file: music for
// scripts whose tests need the music clock but no particular sound.
#pragma once

#include <string>

namespace testutil {

// Writes `seconds` of tone at peak `amplitude` (of 32767); false when the
// file cannot be written.
bool WriteToneWav(const std::string& path, int seconds, int amplitude = 8000);

} // namespace testutil
