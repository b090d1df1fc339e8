// Decodes a whole sound file (WAV, OGG Vorbis, FLAC, MP3 and the other
// formats libsndfile reads) into 16-bit PCM in memory. No audio device is
// involved, so tests can check the samples directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TDecodedSound {
    int SampleRate = 0;           // frames per second
    int Channels = 0;             // 1 (mono) or 2 (stereo, interleaved L R)
    std::vector<int16_t> Samples; // Frames() * Channels values
    // Something worth telling that did not stop the load (a file shorter than
    // its header says, extra channels dropped); empty when all went well.
    std::string Note;

    int64_t Frames() const { return Channels > 0 ? int64_t(Samples.size()) / Channels : 0; }
    double Seconds() const { return SampleRate > 0 ? double(Frames()) / SampleRate : 0.0; }
};

// Reads `fileName` to the end of its audio data: the frame count in a header
// is not trusted (MP3 headers are not exact, and the encoder delay is kept).
// Files with more than two channels keep the first two. On failure returns
// false and sets `error` to the decoder's reason (without the file name).
bool DecodeSoundFile(const std::string& fileName, TDecodedSound& sound, std::string& error);

// Pre-flight: the music file exists and decodes. A problem is reported as a
// script error at the current script line.
bool CheckSoundFile(const std::string& fileName);
// The same, giving the music's length in seconds (0 when it failed).
bool CheckSoundFile(const std::string& fileName, double& seconds);
