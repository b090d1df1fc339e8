// The music and sample service: a table of up to 128 decoded samples, played
// through OpenAL Soft. Positions cross this interface in seconds.
#pragma once

#include <cstdint>
#include <string>

constexpr int MaxSamples = 128;

// Starts audio output. The window handle is not needed on Linux (null is
// fine). Returns false when no output device opened; playback then runs
// silently, paced by the steady clock.
bool InitSound(void* windowHandle);
// Decodes the whole file into a new sample. Returns its table index (the
// first success is 0), or -1 with a message on stderr; a failure uses no index.
int LoadSample(const std::string& fileName);
// Starts the sample from the beginning; returns a channel handle (0 = none).
uint32_t PlaySample(int index, int volume, int pan);
void SetChannelSeconds(uint32_t channel, float seconds);
// Play position in seconds, precise between the mixer's period steps,
// never running backwards and never past the end of the sample.
float ChannelSeconds(uint32_t channel);
// The channel plays `factor` times as fast (and its pitch changes with it).
void ScaleChannelFrequency(uint32_t channel, float factor);
