// Private to the sound module (media/sound*.cpp): the state behind
// media/sound.h and the calls its three parts make of each other.
// - sound_output.cpp: the output: a real device and its context, or the
//   loopback device, paced by the steady clock or mixed by capture;
// - sound_position.cpp: the heard-position clock: where a channel is as heard
//   now, from the mixer's offsets, the device clock and the output latency;
// - sound.cpp: the sample table and the channels playing it.
// One AL buffer per sample, one AL source per play. All calls come from one
// thread.
#pragma once

#include "media/sound_clock.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace sound_detail {

// Output rate asked of every device, in frames per second.
constexpr int OutputRate = 44100;
// Frames mixed per call while the loopback device is paced by the clock.
constexpr int PacedBlockFrames = 1024;
// OpenAL Soft plays at most this pitch (newer releases clamp there), so the
// playback frequency stays within it and the clock agrees with the mixer.
constexpr long double MaxPitch = 10;

// Seconds on the steady clock since its first use.
inline double SteadySeconds() {
    using Clock = std::chrono::steady_clock;
    static const Clock::time_point origin = Clock::now();
    return std::chrono::duration<double>(Clock::now() - origin).count();
}

// Move-only owner of one AL object name.
template <void (*Delete)(ALsizei, const ALuint*)> class TALName {
public:
    TALName() = default;
    explicit TALName(ALuint owned) : name(owned) {}
    TALName(TALName&& other) noexcept : name(std::exchange(other.name, 0)) {}
    TALName& operator=(TALName&& other) noexcept {
        if (this != &other) {
            Reset();
            name = std::exchange(other.name, 0);
        }
        return *this;
    }
    TALName(const TALName&) = delete;
    TALName& operator=(const TALName&) = delete;
    ~TALName() { Reset(); }

    ALuint Get() const { return name; }
    void Reset() {
        if (name != 0) Delete(1, &name);
        name = 0;
    }

private:
    ALuint name = 0;
};
using TALBuffer = TALName<alDeleteBuffers>;
using TALSource = TALName<alDeleteSources>;

struct TDeviceCloser {
    void operator()(ALCdevice* device) const { alcCloseDevice(device); }
};
struct TContextDestroyer {
    void operator()(ALCcontext* context) const {
        if (alcGetCurrentContext() == context) alcMakeContextCurrent(nullptr);
        alcDestroyContext(context);
    }
};

enum class TOutput { None, Device, Paced, Capture };

struct TSample {
    TALBuffer Buffer;
    int SampleRate = 0; // Hz
    double Seconds = 0; // length
    bool Mono = false;
};

struct TChannel {
    int Sample = -1;
    TALSource Source;
    uint32_t Frequency = 0; // effective playback frequency, Hz
    uint64_t PlayOrder = 0; // lower = started earlier
    double Floor = 0;       // last position returned (seconds)
    double FloorTime = 0;   // when it was returned (steady seconds)
    bool Ended = false;     // reached its end (or was seeked past it)
    bool Paused = false;    // held by SetChannelPaused
    double PausedAt = 0;    // the position held while paused (seconds)
    // A real device reports a source's offset with the device time of the
    // mix that produced it. After a seek or a resume, readings older than
    // StartClock (device seconds) still describe the source before it, so
    // the position is StartOffset until the mixer has caught up.
    double StartClock = -1;
    double StartOffset = 0;
    TStepClock OffsetLine; // a device without the device-clock extension
    // Once the device is lost, and for the tail still being heard after the
    // mixer finished, the channel runs on the steady clock: TimerBase
    // seconds at TimerStart (steady seconds), at its pitch.
    bool OnTimer = false;
    double TimerBase = 0;
    double TimerStart = 0;
};

// Members are grouped by the part that keeps them; the others read them.
struct TSoundState {
    // The output (sound_output.cpp).
    TOutput Output = TOutput::None;
    bool StartFailed = false;
    std::unique_ptr<ALCdevice, TDeviceCloser> Device;
    std::unique_ptr<ALCcontext, TContextDestroyer> Context;
    std::string OutputName;
    int Rate = OutputRate;

    LPALCRENDERSAMPLESSOFT RenderSamples = nullptr;
    LPALGETSOURCEDVSOFT GetSourcedv = nullptr;
    LPALCGETINTEGER64VSOFT GetInteger64v = nullptr;
    bool StereoAngles = false; // AL_EXT_STEREO_ANGLES
    // Paced loopback: frames mixed since PacedStart (steady seconds).
    double PacedStart = 0;
    int64_t PacedFrames = 0;
    std::vector<int16_t> Scratch;

    // The heard-position clock (sound_position.cpp).
    // Real device: the mixer's sample clock straightened against the steady
    // clock; MaxLead bounds extrapolation past the last mix (seconds): a
    // mixer stalled longer than that (a dead device) holds the clock.
    TStepClock DeviceLine;
    double MaxLead = 0.1;
    double Period = 0.025; // one mix, seconds
    // How far the sound being heard lags the device line (seconds, see
    // HeardLag); on the loopback device a test may simulate one.
    TLatencyFilter Latency;
    double SimulatedLatency = 0;
    int64_t LatencyClock = -1;    // device clock of the last latency report, ns
    int64_t LatencyAtClock = 0;   // that report, ns
    bool LatencyMeasured = false; // reports move between mixes
    // ALC_EXT_disconnect tells when the device is gone; the channels then
    // go on with the steady clock.
    bool CanTellDisconnect = false;
    bool Lost = false;

    // The samples and channels (sound.cpp).
    std::vector<TSample> Samples;
    std::unordered_map<uint32_t, TChannel> Channels;
    uint32_t NextHandle = 1;
    uint64_t PlayCounter = 0;
    std::string LastError;
};

// Never destroyed: nothing may call OpenAL during static destruction. The
// output is closed by ShutdownSound, registered with atexit.
inline TSoundState& State() {
    static TSoundState* const state = new TSoundState;
    return *state;
}

// The output (sound_output.cpp).

// Starts the output (InitSound) when nothing started it yet; false when
// there is none.
bool EnsureStarted(TSoundState& s);
// Paced loopback: mix every frame due by the steady clock. Every call that
// reads or moves a channel pumps first.
void Pump(TSoundState& s);
// The output has the device-clock and source-latency extensions.
bool HasDeviceClock(const TSoundState& s);
double DeviceClockSeconds(const TSoundState& s);

// The heard-position clock (sound_position.cpp).

// Starts the device line in phase with the mixer (a real device with a
// device clock, just opened); `period` is one mix in seconds.
void LockDeviceLine(TSoundState& s, double period);
// Playback frequency over the sample's own rate.
double Pitch(const TSoundState& s, const TChannel& channel);
// The source's play offset in seconds as the mixer has it.
double SourceOffset(const TSoundState& s, const TChannel& channel);
// The position of a channel running on the steady clock at `now`.
double TimerPosition(const TSoundState& s, const TChannel& channel, double now);
// Moves every channel onto the steady clock once a real device is gone.
void CheckDeviceLost(TSoundState& s);
// The channel's position as heard now, in seconds (see ChannelSeconds).
double Position(TSoundState& s, TChannel& channel);
// After a seek or a resume to `offset` seconds: readings of earlier mixes
// still describe the source before it.
void MarkStart(TSoundState& s, TChannel& channel, double offset);

// The samples and channels (sound.cpp).

// The source has stopped (played to its end, or never started).
bool SourceStopped(const TChannel& channel);

} // namespace sound_detail
