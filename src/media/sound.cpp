// The sample table and the channels playing it, over OpenAL Soft: one AL
// buffer per sample, one AL source per play. Where a channel is heard is
// sound_position.cpp's; the output it plays on is sound_output.cpp's.
#include "media/sound.h"

#include "base/report.h"
#include "media/sound_state.h"
#include "media/sound_decode.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

using namespace sound_detail;

namespace {

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

namespace sound_detail {

bool SourceStopped(const TChannel& channel) {
    ALint state = AL_STOPPED;
    alGetSourcei(channel.Source.Get(), AL_SOURCE_STATE, &state);
    return state == AL_STOPPED;
}

} // namespace sound_detail

int LoadSample(const std::string& fileName) {
    TSoundState& s = State();
    if (!EnsureStarted(s)) {
        Fail(s, "cannot load sound file \"" + fileName + "\": sound output did not start");
        return -1;
    }
    // A freed entry is taken again before the table grows.
    const int freed = FreedSampleIndex(s);
    if (freed < 0 && int(s.Samples.size()) >= MaxSamples) {
        Fail(s, "cannot load sound file \"" + fileName + "\": the sample table is full (" + std::to_string(MaxSamples) +
                    " samples)");
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
    if (mono) { // both channels alike, widened in place from the end
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
        if (channel.Sample != index || channel.Source.Get() == 0 || channel.Ended || SourceStopped(channel)) continue;
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
    if (handle == 0 || s.Channels.count(handle) != 0) { // wrapped: find a free one
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
    if (!s.Lost) channel->OnTimer = false; // a tail ends with a seek
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
    if (channel->OnTimer) { // continue from the current position at the new pitch
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
    if (channel->Ended) return; // nothing plays; a later seek restarts it
    if (channel->OnTimer) {     // the device is lost: the timer holds and resumes
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
    if (channel->OnTimer) { // continue from the current position at the new pitch
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
