// The sound output: a real device through OpenAL Soft, or, without one, the
// loopback device mixed here as the steady clock advances (paced) or frame by
// frame (capture). Closed by ShutdownSound, registered with atexit.
#include "media/sound.h"

#include "base/report.h"
#include "media/sound_state.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace sound_detail;

namespace {

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

template <typename T> T ALCProc(ALCdevice* device, const char* name) {
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

bool StartDevice(TSoundState& s) {
    ALCdevice* device = alcOpenDevice(nullptr);
    if (device == nullptr) return false;
    const ALCint attributes[] = {ALC_FREQUENCY, OutputRate, 0};
    if (!OpenContext(s, device, attributes)) return false;
    s.Output = TOutput::Device;
    const ALCchar* name = alcGetString(device, ALC_DEVICE_SPECIFIER);
    s.OutputName = name != nullptr ? name : "audio device";
    ALCint refresh = 0; // mixes per second
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
    const ALCint attributes[] = {
        ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_SHORT_SOFT, ALC_FREQUENCY, rate, 0};
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

bool AnyPlaying(const TSoundState& s) {
    for (const auto& entry : s.Channels)
        if (entry.second.Source.Get() != 0 && !entry.second.Ended && !SourceStopped(entry.second)) return true;
    return false;
}

} // namespace

namespace sound_detail {

bool HasDeviceClock(const TSoundState& s) { return s.GetSourcedv != nullptr && s.GetInteger64v != nullptr; }

double DeviceClockSeconds(const TSoundState& s) {
    ALCint64SOFT nanoseconds = 0;
    s.GetInteger64v(s.Device.get(), ALC_DEVICE_CLOCK_SOFT, 1, &nanoseconds);
    return double(nanoseconds) * 1e-9;
}

bool EnsureStarted(TSoundState& s) {
    if (s.Output == TOutput::None && !s.StartFailed) InitSound(nullptr);
    return s.Output != TOutput::None;
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

} // namespace sound_detail

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

std::string SoundOutputName() { return State().OutputName; }

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
    s.Channels.clear(); // sources first: a buffer in use cannot be deleted
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
