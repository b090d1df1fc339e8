// The music and sample service: a table of up to 128 decoded samples, played
// through OpenAL Soft. Positions cross this interface in seconds.
//
// Output is one of three kinds, chosen by the first call that starts it:
// - a real device (InitSound), the precise clock extrapolating the mixer;
// - without any device (no sound card, headless): OpenAL Soft's loopback
//   device mixed here as the steady clock advances, so the music plays
//   silently and in time;
// - capture (BeginAudioCapture): the loopback device mixed only by
//   RenderCaptureAudio, and every position follows the rendered frames, so a
//   frame-by-frame recording is deterministic and keeps picture and sound
//   together.
// All calls come from one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int MaxSamples = 128;
// Most channels of one sample playing at once; a further play takes over the
// one playing longest.
constexpr int MaxPlaysPerSample = 3;

// Starts audio output. The window handle is not needed on Linux (null is
// fine). Returns false when no output device opened; playback then runs
// silently, paced by the steady clock. Later calls keep the output started
// first and return the same answer.
bool InitSound(void* windowHandle);
// Decodes the whole file into a new sample. Returns its table index (the
// first success is 0), or -1 with a message on stderr; a failure uses no
// index. Starts the output (InitSound) when nothing started it yet.
int LoadSample(const std::string& fileName);
// Starts the sample from the beginning; returns a channel handle (0 = none).
// volume 0 to 100, pan -100 (left) to 100 (right; mono samples only). A mono
// sample at pan 0 plays in both speakers as loud as a stereo one.
uint32_t PlaySample(int index, int volume, int pan);
// Seeks; the channel continues from that time. A time at or past the end
// ends the channel; a channel that had ended plays again from the time.
void SetChannelSeconds(uint32_t channel, float seconds);
// Play position in seconds as heard now: the mixer's position less the
// output latency (at the channel's pitch), precise between the mixer's
// period steps, never running backwards and never past the end of the
// sample. Once a real device is lost the position runs on the steady clock.
float ChannelSeconds(uint32_t channel);
// The channel plays `factor` times as fast (and its pitch changes with it):
// its playback frequency becomes frequency x factor rounded to the nearest
// integer, halves to even, held at 10 times the sample's own rate (the
// mixer's highest pitch). Factors below 0, infinite or NaN are refused.
void ScaleChannelFrequency(uint32_t channel, float factor);

// Pauses or resumes the channel. A paused channel holds its position
// (ChannelSeconds returns it unchanged), and a seek while paused takes effect
// when it resumes. A handle that names no channel is ignored.
void SetChannelPaused(uint32_t channel, bool paused);
bool ChannelPaused(uint32_t channel);
// The channel plays `factor` times as fast as the sample's own rate, pitched
// with it: frequency = sample rate x factor, halves to even, held at the
// mixer's highest pitch. Unlike ScaleChannelFrequency it does not compound,
// so speeds can be switched back and forth. Factors of 0 or less, infinite
// or NaN are refused.
void SetChannelSpeed(uint32_t channel, float factor);

// The channel's current playback frequency in Hz (the sample's own rate until
// scaled); 0 for a handle that names no channel.
uint32_t ChannelFrequency(uint32_t channel);
// Length of a loaded sample in seconds; 0 for an index that names none.
double SampleSeconds(int index);
// Number of samples loaded so far.
int SampleCount();
// Stops every channel playing the sample and frees its audio; the index then
// names no sample (length 0, nothing to play) until a later LoadSample takes
// it again. Indices that name no sample are ignored.
void FreeSample(int index);
// The message of the last failed LoadSample ("file: reason"), for callers
// that report it themselves (the demo turns it into a script error).
std::string LastSoundError();
// What plays the sound: the device name, or a note on the loopback modes;
// empty before output started.
std::string SoundOutputName();
// How long a mixed sample takes to be heard, in seconds: the sound server's
// and the device's buffering, as the music clock subtracts it (smoothed), or
// as the output reports it before any position was read. 0 for the loopback
// modes and before output started.
double OutputLatencySeconds();
// For tests: the loopback device reports `seconds` of output latency, so
// positions lag the mix as they do on a real device. 0 (the default) turns
// it off; ShutdownSound resets it.
void SimulateOutputLatency(double seconds);

// Capture: opens the loopback device at `sampleRate` frames per second,
// 16-bit stereo, instead of a real device. Call before InitSound and
// LoadSample (InitSound then keeps the capture output). Returns false, with
// a message, when another output is already started or the format is not
// supported.
bool BeginAudioCapture(int sampleRate = 44100);
// Mixes exactly `frames` frames of every playing channel and appends them,
// interleaved left/right, to `interleavedStereo`. Outside capture it appends
// the same number of silent frames and returns false.
bool RenderCaptureAudio(int frames, std::vector<int16_t>& interleavedStereo);
bool AudioCaptureActive();
// Writes a plain 16-bit PCM stereo WAV file (RIFF, little-endian). Returns
// false, with a message naming the file, when it cannot be written or the
// data does not fit the format's 4 GiB.
bool WriteWav16(const std::string& path, int sampleRate, const std::vector<int16_t>& interleavedStereo);

// Stops every channel, frees every sample and closes the output; the next
// call starts afresh (sample indices count from 0 again). For tests and for
// switching to capture; the demo itself never calls it.
void ShutdownSound();
