// The synthesizer that plays the song's notes, and the OGG Vorbis writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "song.h"

namespace gen {

// The whole song, 44.1 kHz stereo, interleaved L R, peak 0.85.
// song.Rows * FramesPerRow frames; each note starts exactly on the first
// frame of its row.
std::vector<float> RenderMusic(const TSong& song);

// Encodes interleaved float samples as OGG Vorbis through libsndfile, then
// gives every page the same stream serial number (the library picks one from
// the clock), so equal samples always give equal bytes.
bool EncodeOggVorbis(const std::vector<float>& samples, int channels, int sampleRate, double quality,
                     std::vector<uint8_t>& bytes, std::string& error);

// Sets the serial number of every page of an Ogg stream and recomputes the
// page checksums. False when the bytes are not a sequence of Ogg pages.
bool SetOggSerial(std::vector<uint8_t>& bytes, uint32_t serial);

} // namespace gen
