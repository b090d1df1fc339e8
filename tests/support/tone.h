// A 440 Hz sine tone as a 44.1 kHz stereo 16-bit WAV file: music for
// scripts whose tests need the music clock but no particular sound; and
// any mono sound made in a test as a 16-bit WAV file.
#pragma once

#include <string>
#include <vector>

namespace testutil {

// Writes `seconds` of tone at peak `amplitude` (of 32767); false when the
// file cannot be written.
bool WriteToneWav(const std::string& path, int seconds, int amplitude = 8000);

// Writes mono samples (full scale at +-1, clipped) at `sampleRate` as a
// 16-bit WAV file; false when the file cannot be written.
bool WriteSoundWav(const std::string& path, const std::vector<float>& samples, int sampleRate);

} // namespace testutil
