// The sample table and channels over OpenAL Soft. One AL buffer per sample,
// one AL source per play. Positions: a real device reports offsets that move
// once per mixing period; ChannelSeconds extrapolates them with the steady
// clock (see TStepClock). The loopback modes mix here, so their offsets are
// exact at every call.
#include "media/sound.h"

#include <dlfcn.h>

#include "base/report.h"
#include "media/sound_clock.h"
#include "media/sound_decode.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <thread>
#include <unordered_map>
#include <utility>

namespace {

// Output rate asked of every device, in frames per second.
constexpr int OutputRate = 44100;
// Frames mixed per call while the loopback device is paced by the clock.
constexpr int PacedBlockFrames = 1024;
// OpenAL Soft plays at most this pitch (newer releases clamp there), so the
// playback frequency stays within it and the clock agrees with the mixer.
constexpr long double MaxPitch = 10;

double SteadySeconds() {
    using Clock = std::chrono::steady_clock;
    static const Clock::time_point origin = Clock::now();
    return std::chrono::duration<double>(Clock::now() - origin).count();
}

// Move-only owner of one AL object name.
template <void (*Delete)(ALsizei, const ALuint*)>
class TALName {
public:
    TALName() = default;
    explicit TALName(ALuint name) : name(name) {}
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
    int SampleRate = 0;   // Hz
    double Seconds = 0;   // length
    bool Mono = false;
};

struct TChannel {
    int Sample = -1;
    TALSource Source;
    uint32_t Frequency = 0;   // effective playback frequency, Hz
    uint64_t PlayOrder = 0;   // lower = started earlier
    double Floor = 0;         // last position returned (seconds)
    double FloorTime = 0;     // when it was returned (steady seconds)
    bool Ended = false;       // reached its end (or was seeked past it)
    bool Paused = false;      // held by SetChannelPaused
    double PausedAt = 0;      // the position held while paused (seconds)
    // A real device reports a source's offset with the device time of the
    // mix that produced it. After a seek or a resume, readings older than
    // StartClock (device seconds) still describe the source before it, so
    // the position is StartOffset until the mixer has caught up.
    double StartClock = -1;
    double StartOffset = 0;
    TStepClock OffsetLine;    // a device without the device-clock extension
    // Once the device is lost, and for the tail still being heard after the
    // mixer finished, the channel runs on the steady clock: TimerBase
    // seconds at TimerStart (steady seconds), at its pitch.
    bool OnTimer = false;
    double TimerBase = 0;
    double TimerStart = 0;
};

struct TSoundState {
    TOutput Output = TOutput::None;
    bool StartFailed = false;
    std::unique_ptr<ALCdevice, TDeviceCloser> Device;
    std::unique_ptr<ALCcontext, TContextDestroyer> Context;
    std::string OutputName;
    int Rate = OutputRate;

    LPALCRENDERSAMPLESSOFT RenderSamples = nullptr;
    LPALGETSOURCEDVSOFT GetSourcedv = nullptr;
    LPALCGETINTEGER64VSOFT GetInteger64v = nullptr;
    bool StereoAngles = false;  // AL_EXT_STEREO_ANGLES

    // Real device: the mixer's sample clock straightened against the steady
    // clock; MaxLead bounds extrapolation past the last mix (seconds): a
    // mixer stalled longer than that (a dead device) holds the clock.
    TStepClock DeviceLine;
    double MaxLead = 0.1;
    double Period = 0.025;  // one mix, seconds
    // How far the sound being heard lags the device line (seconds, see
    // HeardLag); on the loopback device a test may simulate one.
    TLatencyFilter Latency;
    double SimulatedLatency = 0;
    int64_t LatencyClock = -1;   // device clock of the last latency report, ns
    int64_t LatencyAtClock = 0;  // that report, ns
    bool LatencyMeasured = false;  // reports move between mixes
    // ALC_EXT_disconnect tells when the device is gone; the channels then
    // go on with the steady clock.
    bool CanTellDisconnect = false;
    bool Lost = false;

    // Paced loopback: frames mixed since PacedStart (steady seconds).
    double PacedStart = 0;
    int64_t PacedFrames = 0;
    std::vector<int16_t> Scratch;

    std::vector<TSample> Samples;
    std::unordered_map<uint32_t, TChannel> Channels;
    uint32_t NextHandle = 1;
    uint64_t PlayCounter = 0;
    std::string LastError;
};

// Never destroyed: nothing may call OpenAL during static destruction. The
// output is closed by ShutdownSound, registered with atexit.
TSoundState& State() {
    static TSoundState* const state = new TSoundState;
    return *state;
}
bool toldNoOutput = false;
bool exitHookSet = false;

void SetExitHook() {
    if (exitHookSet) return;
    exitHookSet = true;
    std::atexit(ShutdownSound);
}

// OpenAL Soft opens the first backend that loads, even when that one then
// finds no card; the list keeps the desktop backends and ends in the null
// backend. A list the user set stays as it is. Must run before the first ALC
// call, which reads it.
// The audio libraries print their own errors while probing for a device;
// the engine reports the outcome itself, once, so their lines stay quiet
// unless the user asked for them.
void AlsaQuiet(const char*, int, const char*, int, const char*, ...) {}

void QuietDriverLogs() {
    setenv("ALSOFT_LOGLEVEL", "0", 0);
    using TErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
    using TSetHandler = int (*)(TErrorHandler);
    if (void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL)) {
        if (auto setHandler = reinterpret_cast<TSetHandler>(dlsym(alsa, "snd_lib_error_set_handler")))
            setHandler(AlsaQuiet);
    }
}

void SetDefaultDrivers() {
    QuietDriverLogs();
    setenv("ALSOFT_DRIVERS", "pipewire,pulse,alsa,jack,oss,sndio,null", 0);
}

template <typename T>
T ALCProc(ALCdevice* device, const char* name) {
    return reinterpret_cast<T>(alcGetProcAddress(device, name));
}

bool OpenContext(TSoundState& s, ALCdevice* device, const ALCint* attributes) {
    s.Device.reset(device);
    ALCcontext* context = alcCreateContext(device, attributes);
    if (context == nullptr) {
        s.Device.reset();
        return false;
    }
    s.Context.reset(context);
    if (!alcMakeContextCurrent(context)) {
        s.Context.reset();
        s.Device.reset();
        return false;
    }
    s.StereoAngles = alIsExtensionPresent("AL_EXT_STEREO_ANGLES") == AL_TRUE;
    if (alIsExtensionPresent("AL_SOFT_source_latency"))
        s.GetSourcedv = reinterpret_cast<LPALGETSOURCEDVSOFT>(alGetProcAddress("alGetSourcedvSOFT"));
    if (alcIsExtensionPresent(device, "ALC_SOFT_device_clock"))
        s.GetInteger64v = ALCProc<LPALCGETINTEGER64VSOFT>(device, "alcGetInteger64vSOFT");
    s.CanTellDisconnect = alcIsExtensionPresent(device, "ALC_EXT_disconnect") == ALC_TRUE;
    ALCint rate = 0;
    alcGetIntegerv(device, ALC_FREQUENCY, 1, &rate);
    if (rate > 0) s.Rate = rate;
    return true;
}

bool HasDeviceClock(const TSoundState& s) { return s.GetSourcedv != nullptr && s.GetInteger64v != nullptr; }

double DeviceClockSeconds(const TSoundState& s) {
    ALCint64SOFT nanoseconds = 0;
    s.GetInteger64v(s.Device.get(), ALC_DEVICE_CLOCK_SOFT, 1, &nanoseconds);
    return double(nanoseconds) * 1e-9;
}

// The output latency the device reports now, in seconds (0 where it
// reports none).
double ReportedLatency(const TSoundState& s) {
    if (s.Output != TOutput::Device || s.GetInteger64v == nullptr) return 0;
    ALCint64SOFT nanoseconds = 0;
    s.GetInteger64v(s.Device.get(), ALC_DEVICE_LATENCY_SOFT, 1, &nanoseconds);
    return nanoseconds > 0 ? double(nanoseconds) * 1e-9 : 0.0;
}

// Reads the device clock, then the steady clock: in this order a reading
// is a lower bound for the line even when the thread is interrupted between
// the two.
double UpdateDeviceLine(TSoundState& s) {
    const double clock = DeviceClockSeconds(s);
    return s.DeviceLine.Update(clock, SteadySeconds());
}

// Starts the device line in phase with the mixer: watches the device clock
// for a few periods, so the line begins on the earliest-seen mixes instead
// of lagging until frame polls happen to land right after one.
void LockDeviceLine(TSoundState& s, double period) {
    const double clock = DeviceClockSeconds(s);
    const double start = SteadySeconds();
    s.DeviceLine.Reset(clock, start);
    while (SteadySeconds() < start + 4 * period) {
        std::this_thread::yield();
        UpdateDeviceLine(s);
    }
}

bool StartDevice(TSoundState& s) {
    ALCdevice* device = alcOpenDevice(nullptr);
    if (device == nullptr) return false;
    const ALCint attributes[] = {ALC_FREQUENCY, OutputRate, 0};
    if (!OpenContext(s, device, attributes)) return false;
    s.Output = TOutput::Device;
    const ALCchar* name = alcGetString(device, ALC_DEVICE_SPECIFIER);
    s.OutputName = name != nullptr ? name : "audio device";
    ALCint refresh = 0;  // mixes per second
    alcGetIntegerv(device, ALC_REFRESH, 1, &refresh);
    const double period = refresh > 0 ? 1.0 / refresh : 0.025;
    s.MaxLead = std::max(4 * period, 0.25);
    s.Period = period;
    s.DeviceLine.SetMaxLead(s.MaxLead);
    s.DeviceLine.SetPeriod(period);
    if (HasDeviceClock(s)) LockDeviceLine(s, period);
    return true;
}

// Opens the loopback device: 16-bit stereo at `rate`, mixed only when asked.
bool StartLoopback(TSoundState& s, int rate, TOutput mode, std::string& error) {
    if (!alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback")) {
        error = "the OpenAL loopback device is not available";
        return false;
    }
    auto openLoopback = ALCProc<LPALCLOOPBACKOPENDEVICESOFT>(nullptr, "alcLoopbackOpenDeviceSOFT");
    auto formatSupported = ALCProc<LPALCISRENDERFORMATSUPPORTEDSOFT>(nullptr, "alcIsRenderFormatSupportedSOFT");
    s.RenderSamples = ALCProc<LPALCRENDERSAMPLESSOFT>(nullptr, "alcRenderSamplesSOFT");
    if (openLoopback == nullptr || formatSupported == nullptr || s.RenderSamples == nullptr) {
        error = "the OpenAL loopback device is not available";
        return false;
    }
    ALCdevice* device = openLoopback(nullptr);
    if (device == nullptr) {
        error = "the OpenAL loopback device did not open";
        return false;
    }
    if (!formatSupported(device, rate, ALC_STEREO_SOFT, ALC_SHORT_SOFT)) {
        alcCloseDevice(device);
        error = "16-bit stereo at " + std::to_string(rate) + " Hz is not supported";
        return false;
    }
    const ALCint attributes[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_SHORT_SOFT,
                                 ALC_FREQUENCY, rate, 0};
    if (!OpenContext(s, device, attributes)) {
        error = "no OpenAL context on the loopback device";
        return false;
    }
    s.Rate = rate;
    s.Output = mode;
    if (mode == TOutput::Paced) {
        s.OutputName = "loopback, no audio output";
        s.PacedStart = SteadySeconds();
        s.PacedFrames = 0;
        s.Scratch.assign(size_t(PacedBlockFrames) * 2, 0);
    } else {
        s.OutputName = "loopback capture at " + std::to_string(rate) + " Hz";
    }
    return true;
}

bool EnsureStarted(TSoundState& s) {
    if (s.Output == TOutput::None && !s.StartFailed) InitSound(nullptr);
    return s.Output != TOutput::None;
}

bool SourceStopped(const TChannel& channel) {
    ALint state = AL_STOPPED;
    alGetSourcei(channel.Source.Get(), AL_SOURCE_STATE, &state);
    return state == AL_STOPPED;
}

bool AnyPlaying(const TSoundState& s) {
    for (const auto& entry : s.Channels)
        if (entry.second.Source.Get() != 0 && !entry.second.Ended && !SourceStopped(entry.second)) return true;
    return false;
}

// Paced loopback: mix every frame due by the steady clock. While nothing
// plays there is nothing to hear, so the frames are only counted.
void Pump(TSoundState& s) {
    if (s.Output != TOutput::Paced) return;
    const int64_t due = int64_t(std::floor((SteadySeconds() - s.PacedStart) * s.Rate));
    int64_t todo = due - s.PacedFrames;
    if (todo <= 0) return;
    if (AnyPlaying(s)) {
        while (todo > 0) {
            const int frames = int(std::min<int64_t>(todo, PacedBlockFrames));
            s.RenderSamples(s.Device.get(), s.Scratch.data(), frames);
            todo -= frames;
        }
    }
    s.PacedFrames = due;
}

// The first entry FreeSample emptied, or -1.
int FreedSampleIndex(const TSoundState& s) {
    for (size_t i = 0; i < s.Samples.size(); ++i)
        if (s.Samples[i].Buffer.Get() == 0) return int(i);
    return -1;
}

TChannel* FindChannel(TSoundState& s, uint32_t handle) {
    auto it = s.Channels.find(handle);
    if (it == s.Channels.end() || it->second.Source.Get() == 0) return nullptr;
    return &it->second;
}

double Pitch(const TSoundState& s, const TChannel& channel) {
    return double(channel.Frequency) / s.Samples[size_t(channel.Sample)].SampleRate;
}

// The source's play offset in seconds, with the fraction between frames
// where the extension gives it.
double SourceOffset(const TSoundState& s, const TChannel& channel) {
    if (s.GetSourcedv != nullptr) {
        ALdouble seconds = 0;
        s.GetSourcedv(channel.Source.Get(), AL_SEC_OFFSET, &seconds);
        return seconds;
    }
    ALint frame = 0;
    alGetSourcei(channel.Source.Get(), AL_SAMPLE_OFFSET, &frame);
    return double(frame) / s.Samples[size_t(channel.Sample)].SampleRate;
}

double TimerPosition(const TSoundState& s, const TChannel& channel, double now) {
    return channel.TimerBase + std::max(now - channel.TimerStart, 0.0) * Pitch(s, channel);
}

// A real device that stopped (unplugged, the sound server gone) plays
// nothing more and its clock stands still. Every channel then goes on from
// its last position on the steady clock, so the demo plays on silently
// instead of jumping to the end of its music. Told once.
void CheckDeviceLost(TSoundState& s) {
    if (s.Output != TOutput::Device || s.Lost || !s.CanTellDisconnect) return;
    ALCint connected = ALC_TRUE;
    alcGetIntegerv(s.Device.get(), ALC_CONNECTED, 1, &connected);
    if (connected != ALC_FALSE) return;
    s.Lost = true;
    const double now = SteadySeconds();
    for (auto& entry : s.Channels) {
        TChannel& channel = entry.second;
        channel.OnTimer = true;
        channel.TimerBase = channel.Floor;
        channel.TimerStart = channel.FloorTime > 0 ? channel.FloorTime : now;
    }
    ReportWarning("the sound device (" + s.OutputName +
                  ") stopped; the demo goes on silently from where it was, timed by the system clock");
}

// How far the sound being heard now lags the device line, smoothed, in
// seconds of time; 0 where the output reports no latency. The device reports
// its latency together with the device clock of its last mix. A backend that
// measures it (a sound server) reports it falling between mixes as the
// buffered sound plays out, so the lag behind the line is that latency plus
// the time since the mix. One that only estimates it from its buffer size
// reports the same value until the next mix, and that value is already the
// distance from the line, which runs through the mixes.
double HeardLag(TSoundState& s, double deviceNow) {
    if (s.Output != TOutput::Device) {
        return s.SimulatedLatency > 0 ? s.Latency.Update(s.SimulatedLatency, SteadySeconds()) : 0.0;
    }
    if (s.GetInteger64v == nullptr) return 0;
    ALCint64SOFT clockAndLatency[2] = {0, 0};
    s.GetInteger64v(s.Device.get(), ALC_DEVICE_CLOCK_LATENCY_SOFT, 2, clockAndLatency);
    if (clockAndLatency[1] <= 0) return s.Latency.Value();
    if (!s.LatencyMeasured && clockAndLatency[0] == s.LatencyClock && clockAndLatency[1] != s.LatencyAtClock) {
        // The first true measurement (a sound server gives one once its
        // timing information arrives; until then its report is a fixed
        // figure): earlier reports tell nothing about it.
        s.LatencyMeasured = true;
        s.Latency.Reset();
    }
    s.LatencyClock = clockAndLatency[0];
    s.LatencyAtClock = clockAndLatency[1];
    const double sinceMix =
        s.LatencyMeasured ? std::clamp(deviceNow - double(clockAndLatency[0]) * 1e-9, 0.0, s.MaxLead) : 0.0;
    return s.Latency.Update(double(clockAndLatency[1]) * 1e-9 + sinceMix, SteadySeconds());
}

double Position(TSoundState& s, TChannel& channel) {
    const TSample& sample = s.Samples[size_t(channel.Sample)];
    CheckDeviceLost(s);
    if (!channel.Ended && !channel.OnTimer && SourceStopped(channel)) {
        // The mixer is done, but its last latency's worth is still on the
        // way to the speakers: that tail runs on the steady clock, so the
        // demo does not end before its music is heard to the end.
        const double lag = s.Output == TOutput::Device ? s.Latency.Value() * Pitch(s, channel) : 0.0;
        if (lag > 0 && !s.Lost && channel.Floor < sample.Seconds) {
            channel.OnTimer = true;
            channel.TimerBase = std::max(channel.Floor, sample.Seconds - lag);
            channel.TimerStart = SteadySeconds();
        } else {
            channel.Ended = true;
        }
    }
    double position = sample.Seconds;
    if (!channel.Ended && channel.OnTimer) {
        position = channel.Paused ? channel.TimerBase : TimerPosition(s, channel, SteadySeconds());
        if (position >= sample.Seconds) channel.Ended = true;
    } else if (!channel.Ended && channel.Paused) {
        position = channel.PausedAt;  // held where it was heard, or seeked to
    } else if (!channel.Ended) {
        // What is heard now is what was mixed the output latency ago: that
        // many seconds of time, at the channel's pitch.
        if (s.Output == TOutput::Device && HasDeviceClock(s)) {
            // The offset as of the last mix and that mix's device time; the
            // straightened device clock says how long ago that was.
            ALdouble offsetAndClock[2] = {0, 0};
            s.GetSourcedv(channel.Source.Get(), AL_SEC_OFFSET_CLOCK_SOFT, offsetAndClock);
            const double deviceNow = UpdateDeviceLine(s);
            if (offsetAndClock[1] < channel.StartClock) {
                position = channel.StartOffset;
            } else {
                const double sinceMix = std::clamp(deviceNow - offsetAndClock[1], 0.0, s.MaxLead);
                position = offsetAndClock[0] + (sinceMix - HeardLag(s, deviceNow)) * Pitch(s, channel);
            }
        } else if (s.Output == TOutput::Device) {
            position = channel.OffsetLine.Update(SourceOffset(s, channel), SteadySeconds());
        } else {
            position = SourceOffset(s, channel);  // mixed up to this moment
            if (s.SimulatedLatency > 0) position -= HeardLag(s, 0) * Pitch(s, channel);
        }
    }
    position = std::max(std::min(position, sample.Seconds), channel.Floor);
    channel.Floor = position;
    channel.FloorTime = SteadySeconds();
    return position;
}

// Readings of the mixes before now belong to the source before a seek or a
// resume to `offset` seconds.
void MarkStart(TSoundState& s, TChannel& channel, double offset) {
    if (s.Output != TOutput::Device || !HasDeviceClock(s)) return;
    // Some backends stop the device clock while nothing plays; the line,
    // carried on by the steady clock, then ran up to MaxLead past it and
    // would only settle back slowly. Restart it from the clock as it is.
    const double clock = DeviceClockSeconds(s);
    if (UpdateDeviceLine(s) - clock > s.Period) s.DeviceLine.Reset(clock, SteadySeconds());
    channel.StartClock = UpdateDeviceLine(s);
    channel.StartOffset = offset;
}

void Fail(TSoundState& s, const std::string& message) {
    s.LastError = message;
    ReportWarning(message);
}

// A source for a new play: a fresh one, or, when OpenAL has none left, the
// source of a channel that has ended (its handle stops naming a channel).
bool NewSource(TSoundState& s, TALSource& source) {
    alGetError();
    ALuint name = 0;
    alGenSources(1, &name);
    if (alGetError() == AL_NO_ERROR && name != 0) {
        source = TALSource(name);
        return true;
    }
    for (auto it = s.Channels.begin(); it != s.Channels.end(); ++it) {
        TChannel& channel = it->second;
        if (channel.Source.Get() != 0 && (channel.Ended || SourceStopped(channel))) {
            alSourceStop(channel.Source.Get());
            source = std::move(channel.Source);
            s.Channels.erase(it);
            return true;
        }
    }
    return false;
}

} // namespace

bool InitSound(void* /*windowHandle*/) {
    TSoundState& s = State();
    if (s.Output != TOutput::None || s.StartFailed) return s.Output == TOutput::Device || s.Output == TOutput::Capture;
    SetExitHook();
    SetDefaultDrivers();
    if (StartDevice(s)) return true;
    std::string error;
    if (StartLoopback(s, OutputRate, TOutput::Paced, error)) {
        if (!toldNoOutput) {
            toldNoOutput = true;
            ReportWarning("no audio output: no sound device could be opened; the music plays silently, in time");
        }
        return false;
    }
    s.StartFailed = true;
    ReportWarning("sound cannot start: " + error);
    return false;
}

int LoadSample(const std::string& fileName) {
    TSoundState& s = State();
    if (!EnsureStarted(s)) {
        Fail(s, "cannot load sound file \"" + fileName + "\": sound output did not start");
        return -1;
    }
    // A freed entry is taken again before the table grows.
    const int freed = FreedSampleIndex(s);
    if (freed < 0 && int(s.Samples.size()) >= MaxSamples) {
        Fail(s, "cannot load sound file \"" + fileName + "\": the sample table is full (" +
                    std::to_string(MaxSamples) + " samples)");
        return -1;
    }
    TDecodedSound sound;
    std::string why;
    if (!DecodeSoundFile(fileName, sound, why)) {
        Fail(s, "cannot load sound file \"" + fileName + "\": " + why);
        return -1;
    }
    if (!sound.Note.empty()) ReportWarning("sound file \"" + fileName + "\": " + sound.Note);

    alGetError();
    ALuint name = 0;
    alGenBuffers(1, &name);
    if (alGetError() != AL_NO_ERROR || name == 0) {
        Fail(s, "cannot load sound file \"" + fileName + "\": no OpenAL buffer left");
        return -1;
    }
    TALBuffer buffer(name);
    const bool mono = sound.Channels == 1;
    // Measured before a mono sample is widened to two channels.
    const double seconds = sound.Seconds();
    if (mono) {  // both channels alike, widened in place from the end
        const size_t frames = sound.Samples.size();
        sound.Samples.resize(frames * 2);
        for (size_t i = frames; i-- > 0;) sound.Samples[2 * i] = sound.Samples[2 * i + 1] = sound.Samples[i];
    }
    const ALenum format = AL_FORMAT_STEREO16;
    // Fits: MaxSampleBytes is far below 2 GiB.
    const ALsizei bytes = ALsizei(sound.Samples.size() * sizeof(int16_t));
    alBufferData(name, format, sound.Samples.data(), bytes, sound.SampleRate);
    if (alGetError() != AL_NO_ERROR) {
        Fail(s, "cannot load sound file \"" + fileName + "\": OpenAL refused the decoded audio");
        return -1;
    }
    TSample sample;
    sample.Buffer = std::move(buffer);
    sample.SampleRate = sound.SampleRate;
    sample.Seconds = seconds;
    sample.Mono = mono;
    if (freed >= 0) {
        s.Samples[size_t(freed)] = std::move(sample);
        return freed;
    }
    s.Samples.push_back(std::move(sample));
    return int(s.Samples.size()) - 1;
}

void FreeSample(int index) {
    TSoundState& s = State();
    if (index < 0 || index >= int(s.Samples.size())) return;
    // Sources first: a buffer attached to a source cannot be deleted.
    for (auto it = s.Channels.begin(); it != s.Channels.end();) {
        if (it->second.Sample == index) {
            if (it->second.Source.Get() != 0) alSourceStop(it->second.Source.Get());
            it = s.Channels.erase(it);
        } else {
            ++it;
        }
    }
    s.Samples[size_t(index)] = TSample{};
}

uint32_t PlaySample(int index, int volume, int pan) {
    TSoundState& s = State();
    if (!EnsureStarted(s)) return 0;
    if (index < 0 || index >= int(s.Samples.size()) || s.Samples[size_t(index)].Buffer.Get() == 0) {
        ReportWarning("cannot play sample " + std::to_string(index) + ": no sample is loaded there");
        return 0;
    }
    Pump(s);
    CheckDeviceLost(s);
    const TSample& sample = s.Samples[size_t(index)];

    // At most MaxPlaysPerSample at once: a further play takes over the
    // channel playing longest, whose handle then names nothing.
    int playing = 0;
    auto oldest = s.Channels.end();
    for (auto it = s.Channels.begin(); it != s.Channels.end(); ++it) {
        TChannel& channel = it->second;
        if (channel.Sample != index || channel.Source.Get() == 0 || channel.Ended || SourceStopped(channel))
            continue;
        ++playing;
        if (oldest == s.Channels.end() || channel.PlayOrder < oldest->second.PlayOrder) oldest = it;
    }
    TALSource source;
    if (playing >= MaxPlaysPerSample) {
        alSourceStop(oldest->second.Source.Get());
        source = std::move(oldest->second.Source);
        s.Channels.erase(oldest);
    } else if (!NewSource(s, source)) {
        ReportWarning("cannot play sample " + std::to_string(index) + ": no OpenAL source left");
        return 0;
    }

    const ALuint name = source.Get();
    alSourcei(name, AL_BUFFER, ALint(sample.Buffer.Get()));
    alSourcei(name, AL_LOOPING, AL_FALSE);
    alSourcef(name, AL_PITCH, 1.0f);
    float gain = float(std::clamp(volume, 0, 100)) / 100.0f;
    // Mono files are held as stereo with both channels alike, so a centred
    // mono file plays as loud as a stereo one, in both speakers. Pan turns
    // both channels to one point on a half circle in front of the listener
    // (left counts positive); two channels there sound twice as loud as the
    // mono source alone would, hence half the gain. Stereo files play as
    // they are.
    std::array<ALfloat, 2> angles{float(std::numbers::pi / 6), float(-std::numbers::pi / 6)};
    if (sample.Mono && pan != 0 && s.StereoAngles) {
        const double angle = double(std::clamp(pan, -100, 100)) / 100.0 * (std::numbers::pi / 2);
        angles = {float(-angle), float(-angle)};
        gain *= 0.5f;
    }
    if (s.StereoAngles) alSourcefv(name, AL_STEREO_ANGLES, angles.data());
    alSourcef(name, AL_GAIN, gain);
    alSourcei(name, AL_SOURCE_RELATIVE, AL_TRUE);
    alSource3f(name, AL_POSITION, 0.0f, 0.0f, -1.0f);
    alSourcePlay(name);

    uint32_t handle = s.NextHandle++;
    if (handle == 0 || s.Channels.count(handle) != 0) {  // wrapped: find a free one
        handle = 1;
        while (s.Channels.count(handle) != 0) ++handle;
        s.NextHandle = handle + 1;
    }
    TChannel& channel = s.Channels[handle];
    channel.Sample = index;
    channel.Source = std::move(source);
    channel.Frequency = uint32_t(sample.SampleRate);
    channel.PlayOrder = s.PlayCounter++;
    channel.OffsetLine.SetMaxLead(s.MaxLead);
    channel.OffsetLine.SetPeriod(s.Period);
    channel.OffsetLine.Reset(0, SteadySeconds(), 1.0);
    channel.OnTimer = s.Lost;
    channel.TimerStart = SteadySeconds();
    return handle;
}

void SetChannelSeconds(uint32_t handle, float seconds) {
    TSoundState& s = State();
    Pump(s);
    CheckDeviceLost(s);
    TChannel* channel = FindChannel(s, handle);
    if (channel == nullptr) return;
    const TSample& sample = s.Samples[size_t(channel->Sample)];
    channel->TimerStart = SteadySeconds();
    double target = seconds;
    if (std::isnan(target) || target < 0) target = 0;
    const ALuint name = channel->Source.Get();
    if (target >= sample.Seconds) {
        alSourceStop(name);
        channel->Ended = true;
        channel->Floor = sample.Seconds;
        return;
    }
    channel->TimerBase = target;
    channel->PausedAt = target;
    if (!s.Lost) channel->OnTimer = false;  // a tail ends with a seek
    if (channel->OnTimer) {
        channel->Ended = false;
        channel->Floor = 0;
        return;
    }
    const bool restart = channel->Ended || SourceStopped(*channel);
    // An offset set on a stopped source applies when it plays.
    alSourcei(name, AL_SAMPLE_OFFSET, ALint(std::floor(target * sample.SampleRate)));
    if (restart) {
        alSourcePlay(name);
        // A paused channel stays paused, now at the new offset.
        if (channel->Paused) alSourcePause(name);
    }
    channel->Ended = false;
    channel->Floor = 0;
    channel->OffsetLine.Reset(SourceOffset(s, *channel), SteadySeconds(), Pitch(s, *channel));
    MarkStart(s, *channel, target);
}

float ChannelSeconds(uint32_t handle) {
    TSoundState& s = State();
    Pump(s);
    TChannel* channel = FindChannel(s, handle);
    if (channel == nullptr) return 0.0f;
    return float(Position(s, *channel));
}

void ScaleChannelFrequency(uint32_t handle, float factor) {
    TSoundState& s = State();
    Pump(s);
    TChannel* channel = FindChannel(s, handle);
    if (channel == nullptr) return;
    if (!std::isfinite(factor) || factor < 0) {
        ReportWarning("frequency factor " + std::to_string(factor) + " refused: it must be 0 or more");
        return;
    }
    const TSample& sample = s.Samples[size_t(channel->Sample)];
    if (channel->OnTimer) {  // continue from the current position at the new pitch
        const double now = SteadySeconds();
        if (!channel->Paused) channel->TimerBase = TimerPosition(s, *channel, now);
        channel->TimerStart = now;
    }
    // frequency x factor, rounded to the nearest integer, halves to even
    // (the default rounding mode).
    const long double scaled = std::nearbyint((long double)channel->Frequency * (long double)factor);
    const long double highest = MaxPitch * sample.SampleRate;
    channel->Frequency = uint32_t(std::min(scaled, highest));
    const double pitch = Pitch(s, *channel);
    alSourcef(channel->Source.Get(), AL_PITCH, float(pitch));
    channel->OffsetLine.SetRate(pitch, SteadySeconds());
}

void SetChannelPaused(uint32_t handle, bool paused) {
    TSoundState& s = State();
    Pump(s);
    TChannel* channel = FindChannel(s, handle);
    if (channel == nullptr || channel->Paused == paused) return;
    // Held where it is heard now. On resuming, the mixer goes on from where
    // it stopped, one output latency ahead of that, so the heard position
    // continues from here.
    if (paused) channel->PausedAt = Position(s, *channel);
    channel->Paused = paused;
    if (channel->Ended) return;  // nothing plays; a later seek restarts it
    if (channel->OnTimer) {  // the device is lost: the timer holds and resumes
        channel->TimerBase = channel->PausedAt;
        channel->TimerStart = SteadySeconds();
        return;
    }
    const ALuint name = channel->Source.Get();
    if (paused) {
        alSourcePause(name);
        return;
    }
    alSourcePlay(name);
    channel->Floor = 0;
    const double offset = SourceOffset(s, *channel);
    channel->OffsetLine.Reset(offset, SteadySeconds(), Pitch(s, *channel));
    MarkStart(s, *channel, channel->PausedAt);
}

bool ChannelPaused(uint32_t handle) {
    TChannel* channel = FindChannel(State(), handle);
    return channel != nullptr && channel->Paused;
}

void SetChannelSpeed(uint32_t handle, float factor) {
    TSoundState& s = State();
    Pump(s);
    TChannel* channel = FindChannel(s, handle);
    if (channel == nullptr) return;
    if (!std::isfinite(factor) || factor <= 0) {
        ReportWarning("speed " + std::to_string(factor) + " refused: it must be above 0");
        return;
    }
    const TSample& sample = s.Samples[size_t(channel->Sample)];
    const long double scaled = std::nearbyint((long double)sample.SampleRate * (long double)factor);
    const long double highest = MaxPitch * sample.SampleRate;
    if (channel->OnTimer) {  // continue from the current position at the new pitch
        const double now = SteadySeconds();
        if (!channel->Paused) channel->TimerBase = TimerPosition(s, *channel, now);
        channel->TimerStart = now;
    }
    channel->Frequency = uint32_t(std::max(1.0L, std::min(scaled, highest)));
    const double pitch = Pitch(s, *channel);
    alSourcef(channel->Source.Get(), AL_PITCH, float(pitch));
    channel->OffsetLine.SetRate(pitch, SteadySeconds());
}

uint32_t ChannelFrequency(uint32_t handle) {
    TChannel* channel = FindChannel(State(), handle);
    return channel != nullptr ? channel->Frequency : 0;
}

double SampleSeconds(int index) {
    const TSoundState& s = State();
    return index >= 0 && index < int(s.Samples.size()) ? s.Samples[size_t(index)].Seconds : 0.0;
}

int SampleCount() { return int(State().Samples.size()); }

std::string LastSoundError() { return State().LastError; }

std::string SoundOutputName() { return State().OutputName; }

double OutputLatencySeconds() {
    const TSoundState& s = State();
    if (s.Output != TOutput::Device) return s.SimulatedLatency;
    return s.Latency.Value() > 0 ? s.Latency.Value() : ReportedLatency(s);
}

void SimulateOutputLatency(double seconds) {
    TSoundState& s = State();
    s.SimulatedLatency = std::isfinite(seconds) ? std::max(seconds, 0.0) : 0.0;
    s.Latency.Reset();
}

bool BeginAudioCapture(int sampleRate) {
    TSoundState& s = State();
    if (s.Output == TOutput::Capture) {
        if (sampleRate == s.Rate) return true;
        ReportWarning("audio capture already runs at " + std::to_string(s.Rate) + " Hz");
        return false;
    }
    if (s.Output != TOutput::None) {
        ReportWarning("cannot begin audio capture: sound output already started (" + s.OutputName + ")");
        return false;
    }
    if (sampleRate < 8000 || sampleRate > 192000) {
        ReportWarning("cannot begin audio capture at " + std::to_string(sampleRate) +
                      " Hz: the rate must be 8000 to 192000");
        return false;
    }
    SetExitHook();
    SetDefaultDrivers();
    std::string error;
    if (StartLoopback(s, sampleRate, TOutput::Capture, error)) return true;
    ReportWarning("cannot begin audio capture: " + error);
    return false;
}

bool RenderCaptureAudio(int frames, std::vector<int16_t>& interleavedStereo) {
    TSoundState& s = State();
    const bool capturing = s.Output == TOutput::Capture;
    if (frames <= 0) return capturing;
    const size_t start = interleavedStereo.size();
    interleavedStereo.resize(start + size_t(frames) * 2, 0);
    if (!capturing) return false;
    s.RenderSamples(s.Device.get(), interleavedStereo.data() + start, frames);
    return true;
}

bool AudioCaptureActive() { return State().Output == TOutput::Capture; }

void ShutdownSound() {
    TSoundState& s = State();
    s.Channels.clear();  // sources first: a buffer in use cannot be deleted
    s.Samples.clear();
    s.Context.reset();
    s.Device.reset();
    s.Output = TOutput::None;
    s.StartFailed = false;
    s.OutputName.clear();
    s.Rate = OutputRate;
    s.RenderSamples = nullptr;
    s.GetSourcedv = nullptr;
    s.GetInteger64v = nullptr;
    s.StereoAngles = false;
    s.CanTellDisconnect = false;
    s.Lost = false;
    s.Latency.Reset();
    s.SimulatedLatency = 0;
    s.LatencyClock = -1;
    s.LatencyAtClock = 0;
    s.LatencyMeasured = false;
    s.DeviceLine = TStepClock{};
    s.MaxLead = 0.1;
    s.Period = 0.025;
    s.PacedFrames = 0;
    s.Scratch.clear();
    s.NextHandle = 1;
    s.PlayCounter = 0;
    s.LastError.clear();
}
