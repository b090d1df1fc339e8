#include "music.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gen {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Rate = song::SampleRate;

double NoteHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

// Deterministic white noise in [-1, 1).
struct TNoise {
    uint32_t State;
    explicit TNoise(uint32_t seed) : State(seed * 2654435761u + 12345u) {}
    double Next() {
        State = State * 1664525u + 1013904223u;
        return double(State >> 8) / double(1u << 23) - 1.0;
    }
};

// One-pole filters; Alpha from a cutoff in Hz.
struct TOnePole {
    double Alpha = 0, Z = 0;
    explicit TOnePole(double hz) : Alpha(1.0 - std::exp(-2.0 * Pi * hz / Rate)) {}
    double Low(double x) { return Z += Alpha * (x - Z); }
    double High(double x) { return x - Low(x); }
};

// Band-limited sawtooth (polyBLEP), phase in cycles.
struct TSaw {
    double Phase = 0;
    static double Blep(double t, double dt) {
        if (t < dt) {
            t /= dt;
            return t + t - t * t - 1.0;
        }
        if (t > 1.0 - dt) {
            t = (t - 1.0) / dt;
            return t * t + t + t + 1.0;
        }
        return 0.0;
    }
    double Next(double hz) {
        const double dt = hz / Rate;
        const double v = 2.0 * Phase - 1.0 - Blep(Phase, dt);
        Phase += dt;
        if (Phase >= 1.0) Phase -= 1.0;
        return v;
    }
};

// Resonant low-pass (trapezoidal state-variable filter).
struct TLowPass {
    double Ic1 = 0, Ic2 = 0;
    double Next(double x, double hz, double q) {
        const double g = std::tan(Pi * std::min(hz, Rate * 0.45) / Rate);
        const double k = 1.0 / q;
        const double a1 = 1.0 / (1.0 + g * (g + k)), a2 = g * a1, a3 = g * a2;
        const double v3 = x - Ic2;
        const double v1 = a1 * Ic1 + a2 * v3;
        const double v2 = Ic2 + a2 * Ic1 + a3 * v3;
        Ic1 = 2.0 * v1 - Ic1;
        Ic2 = 2.0 * v2 - Ic2;
        return v2;
    }
};

// Buses: `dry` is not ducked, `duck` is ducked by the kick, `send` feeds the
// reverb, `lead` and `arp` go through their echoes first.
struct TBuses {
    size_t Frames;
    std::vector<float> DryL, DryR, DuckL, DuckR, Send, Lead, Arp;
    explicit TBuses(size_t frames)
        : Frames(frames), DryL(frames), DryR(frames), DuckL(frames), DuckR(frames), Send(frames), Lead(frames),
          Arp(frames) {}
};

// Renders `seconds` of one note from frame `start`; `f(t, i)` gives the
// sample at time t (seconds since the note start), `put(frame, v)` mixes it.
template <class Voice, class Put> void RenderNote(size_t start, double seconds, size_t frames, Voice voice, Put put) {
    const size_t count = size_t(seconds * Rate);
    for (size_t i = 0; i < count && start + i < frames; ++i) put(start + i, voice(double(i) / Rate));
}

void Kick(TBuses& b, size_t at, double vel, uint32_t seed) {
    TNoise noise(seed);
    double phase = 0;
    RenderNote(
        at, 0.5, b.Frames,
        [&](double t) {
            const double hz = 46.0 + 125.0 * std::exp(-t / 0.035);
            phase += hz / Rate;
            const double body = std::sin(2.0 * Pi * phase) * std::exp(-t / 0.3);
            const double click = noise.Next() * std::exp(-t / 0.0025) * 0.25;
            return (std::tanh(1.4 * body) * 0.8 + click) * vel;
        },
        [&](size_t i, double v) {
            b.DryL[i] += float(v);
            b.DryR[i] += float(v);
        });
}

void Snare(TBuses& b, size_t at, double vel, uint32_t seed) {
    TNoise noise(seed);
    TOnePole hp(1200.0), lp(9000.0);
    RenderNote(
        at, 0.4, b.Frames,
        [&](double t) {
            const double tone =
                (std::sin(2.0 * Pi * 185.0 * t) + 0.5 * std::sin(2.0 * Pi * 330.0 * t)) * std::exp(-t / 0.045) * 0.45;
            const double hiss = lp.Low(hp.High(noise.Next())) * std::exp(-t / 0.11) * 0.9;
            return (tone + hiss) * vel * 0.55;
        },
        [&](size_t i, double v) {
            b.DryL[i] += float(v);
            b.DryR[i] += float(v);
            b.Send[i] += float(v * 0.25);
        });
}

void Hat(TBuses& b, size_t at, double vel, bool open, uint32_t seed) {
    TNoise noise(seed);
    TOnePole hp1(6500.0), hp2(6500.0);
    const double decay = open ? 0.15 : 0.022;
    RenderNote(
        at, open ? 0.5 : 0.12, b.Frames,
        [&](double t) { return hp2.High(hp1.High(noise.Next())) * std::exp(-t / decay) * vel * 0.32; },
        [&](size_t i, double v) {
            b.DryL[i] += float(v * 0.75);
            b.DryR[i] += float(v);
        });
}

void Crash(TBuses& b, size_t at, double vel, uint32_t seed) {
    TNoise left(seed), right(seed + 77);
    TOnePole hpL(4000.0), hpR(4000.0);
    const size_t count = size_t(2.6 * Rate);
    for (size_t i = 0; i < count && at + i < b.Frames; ++i) {
        const double t = double(i) / Rate;
        const double env = std::exp(-t / 0.75) * (1.0 - std::exp(-t / 0.002)) * vel * 0.22;
        b.DryL[at + i] += float(hpL.High(left.Next()) * env);
        b.DryR[at + i] += float(hpR.High(right.Next()) * env);
    }
}

// Attack-hold-release envelope for a note of `length` seconds.
double HoldEnvelope(double t, double length, double attack, double release) {
    if (t < attack) return t / attack;
    if (t < length) return 1.0;
    return std::max(0.0, 1.0 - (t - length) / release);
}

void Bass(TBuses& b, size_t at, double length, uint8_t note, double vel) {
    TSaw saw;
    TLowPass filter;
    double subPhase = 0;
    const double hz = NoteHz(note);
    const double release = 0.03;
    RenderNote(
        at, length + release, b.Frames,
        [&](double t) {
            subPhase += hz / Rate;
            const double osc = 0.55 * saw.Next(hz) + 0.6 * std::sin(2.0 * Pi * subPhase);
            const double cutoff = 170.0 + 1500.0 * vel * std::exp(-t / 0.08);
            return filter.Next(osc, cutoff, 1.3) * HoldEnvelope(t, length, 0.003, release) * vel * 0.42;
        },
        [&](size_t i, double v) {
            b.DuckL[i] += float(v);
            b.DuckR[i] += float(v);
        });
}

void Lead(TBuses& b, size_t at, double length, uint8_t note, double vel) {
    TSaw a, c;
    TLowPass filter;
    double sinePhase = 0;
    const double release = 0.14;
    RenderNote(
        at, length + release, b.Frames,
        [&](double t) {
            const double vibrato = 0.14 * std::min(1.0, std::max(0.0, (t - 0.22) / 0.3)) * std::sin(2.0 * Pi * 5.5 * t);
            const double hz = NoteHz(note + vibrato);
            sinePhase += hz / Rate;
            const double osc = a.Next(hz * 1.0035) + c.Next(hz / 1.0035) + 0.6 * std::sin(2.0 * Pi * sinePhase);
            const double cutoff = 1100.0 + 3600.0 * std::exp(-t / 0.25);
            const double decay = 0.72 + 0.28 * std::exp(-t / 0.3);
            return filter.Next(osc, cutoff, 1.4) * decay * HoldEnvelope(t, length, 0.006, release) * vel * 0.16;
        },
        [&](size_t i, double v) { b.Lead[i] += float(v); });
}

void Arp(TBuses& b, size_t at, uint8_t note, double vel) {
    const double hz = NoteHz(note);
    RenderNote(
        at, 0.7, b.Frames,
        [&](double t) {
            const double mod = std::sin(2.0 * Pi * 2.0 * hz * t) * 1.8 * std::exp(-t / 0.05);
            return std::sin(2.0 * Pi * hz * t + mod) * std::exp(-t / 0.2) * (1.0 - std::exp(-t / 0.001)) * vel * 0.1;
        },
        [&](size_t i, double v) { b.Arp[i] += float(v); });
}

void PadNote(TBuses& b, size_t at, double length, uint8_t note, double vel, uint32_t seed) {
    const double release = 0.9;
    const double hz = NoteHz(note);
    const double detuneL[3] = {-0.09, 0.0, 0.08}, detuneR[3] = {-0.11, 0.03, 0.1};
    TSaw left[3], right[3];
    TNoise start(seed);
    for (int k = 0; k < 3; ++k) {
        left[k].Phase = (start.Next() + 1.0) * 0.5;
        right[k].Phase = (start.Next() + 1.0) * 0.5;
    }
    TOnePole lpL1(1400.0), lpL2(1400.0), lpR1(1400.0), lpR2(1400.0);
    const size_t count = size_t((length + release) * Rate);
    for (size_t i = 0; i < count && at + i < b.Frames; ++i) {
        const double t = double(i) / Rate;
        double l = 0, r = 0;
        for (int k = 0; k < 3; ++k) {
            l += left[k].Next(hz * std::pow(2.0, detuneL[k] / 12.0));
            r += right[k].Next(hz * std::pow(2.0, detuneR[k] / 12.0));
        }
        const double env = HoldEnvelope(t, length, 0.45, release) * vel * 0.06;
        l = lpL2.Low(lpL1.Low(l)) * env;
        r = lpR2.Low(lpR1.Low(r)) * env;
        b.DuckL[at + i] += float(l);
        b.DuckR[at + i] += float(r);
        b.Send[at + i] += float((l + r) * 0.4);
    }
}

// Ping-pong echo of a mono bus into a stereo pair.
void PingPong(const std::vector<float>& in, size_t delay, double feedback, double wet, std::vector<float>& outL,
              std::vector<float>& outR, std::vector<float>& send, double sendLevel) {
    std::vector<float> lineL(delay, 0.0f), lineR(delay, 0.0f);
    size_t pos = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        const double x = in[i];
        const double echoL = lineL[pos], echoR = lineR[pos];
        lineL[pos] = float(x + echoR * feedback);
        lineR[pos] = float(echoL * feedback);
        pos = pos + 1 == delay ? 0 : pos + 1;
        outL[i] += float(x + echoL * wet);
        outR[i] += float(x + echoR * wet);
        send[i] += float(x * sendLevel);
    }
}

// A small plate: four damped combs and two all-passes per side.
struct TReverbSide {
    std::vector<float> Comb[4];
    size_t CombPos[4] = {};
    double CombLow[4] = {};
    std::vector<float> Pass[2];
    size_t PassPos[2] = {};
    TReverbSide(const size_t* combs, const size_t* passes) {
        for (int i = 0; i < 4; ++i) Comb[i].assign(combs[i], 0.0f);
        for (int i = 0; i < 2; ++i) Pass[i].assign(passes[i], 0.0f);
    }
    double Next(double x) {
        double sum = 0;
        for (int i = 0; i < 4; ++i) {
            const double y = Comb[i][CombPos[i]];
            CombLow[i] = y * 0.7 + CombLow[i] * 0.3;
            Comb[i][CombPos[i]] = float(x + CombLow[i] * 0.82);
            CombPos[i] = CombPos[i] + 1 == Comb[i].size() ? 0 : CombPos[i] + 1;
            sum += y;
        }
        for (int i = 0; i < 2; ++i) {
            const double buffered = Pass[i][PassPos[i]];
            Pass[i][PassPos[i]] = float(sum + buffered * 0.5);
            PassPos[i] = PassPos[i] + 1 == Pass[i].size() ? 0 : PassPos[i] + 1;
            sum = buffered - sum * 0.5;
        }
        return sum;
    }
};

} // namespace

std::vector<float> RenderMusic(const TSong& s) {
    const size_t frames = size_t(s.Rows) * size_t(song::FramesPerRow);
    const double rowSeconds = double(song::FramesPerRow) / Rate;
    TBuses b(frames);
    std::vector<size_t> kicks;
    uint32_t seed = 1;
    for (const TNoteEvent& e : s.Events) {
        const size_t at = size_t(e.Row) * size_t(song::FramesPerRow);
        const double length = e.LengthRows * rowSeconds;
        const double vel = e.Velocity;
        ++seed;
        switch (e.Voice) {
        case TVoice::Kick:
            Kick(b, at, vel, seed);
            kicks.push_back(at);
            break;
        case TVoice::Snare:
            Snare(b, at, vel, seed);
            break;
        case TVoice::ClosedHat:
            Hat(b, at, vel, false, seed);
            break;
        case TVoice::OpenHat:
            Hat(b, at, vel, true, seed);
            break;
        case TVoice::Crash:
            Crash(b, at, vel, seed);
            break;
        case TVoice::Bass:
            Bass(b, at, length * 0.9, e.Note, vel);
            break;
        case TVoice::Lead:
            Lead(b, at, length * 0.92, e.Note, vel);
            break;
        case TVoice::Arp:
            Arp(b, at, e.Note, vel);
            break;
        case TVoice::Pad:
            PadNote(b, at, length, e.Note, vel, seed);
            break;
        }
    }

    // Echoes: three rows, the dotted eighth that sits well at this tempo.
    const size_t echo = size_t(3 * song::FramesPerRow);
    PingPong(b.Lead, echo, 0.38, 0.32, b.DryL, b.DryR, b.Send, 0.3);
    PingPong(b.Arp, echo, 0.42, 0.45, b.DuckL, b.DuckR, b.Send, 0.35);

    // The kick ducks pads, bass and arpeggio for a gentle pump.
    std::vector<float> gain(frames, 1.0f);
    for (size_t k : kicks) {
        const size_t count = size_t(0.45 * Rate);
        for (size_t i = 0; i < count && k + i < frames; ++i)
            gain[k + i] = float(std::min<double>(gain[k + i], 1.0 - 0.5 * std::exp(-double(i) / Rate / 0.09)));
    }

    const size_t combsL[4] = {1557, 1617, 1491, 1422}, combsR[4] = {1580, 1640, 1514, 1445};
    const size_t passesL[2] = {556, 441}, passesR[2] = {579, 464};
    TReverbSide reverbL(combsL, passesL), reverbR(combsR, passesR);

    std::vector<double> mix(frames * 2);
    TOnePole dcL(12.0), dcR(12.0);
    for (size_t i = 0; i < frames; ++i) {
        const double wetL = reverbL.Next(b.Send[i] * 0.22), wetR = reverbR.Next(b.Send[i] * 0.22);
        double l = b.DryL[i] + b.DuckL[i] * gain[i] + wetL;
        double r = b.DryR[i] + b.DuckR[i] * gain[i] + wetR;
        mix[2 * i] = dcL.High(l);
        mix[2 * i + 1] = dcR.High(r);
    }
    // Gentle saturation that only rounds the loudest kick peaks: the mix
    // is scaled to a peak of 1.25 first, where tanh takes off about 1.5 dB.
    double rawPeak = 1e-9;
    for (double v : mix) rawPeak = std::max(rawPeak, std::fabs(v));
    for (double& v : mix) v = std::tanh(v * (1.25 / rawPeak));
    // Fade the last second so the file ends in silence.
    const size_t fade = size_t(1.2 * Rate);
    for (size_t i = 0; i < fade && i < frames; ++i) {
        const double g = double(i) / double(fade);
        mix[2 * (frames - 1 - i)] *= g;
        mix[2 * (frames - 1 - i) + 1] *= g;
    }
    double peak = 1e-9;
    for (double v : mix) peak = std::max(peak, std::fabs(v));
    std::vector<float> out(mix.size());
    for (size_t i = 0; i < mix.size(); ++i) out[i] = float(mix[i] * (0.85 / peak));
    return out;
}

namespace {

// libsndfile virtual I/O over a growing byte vector.
struct TMemoryFile {
    std::vector<uint8_t> Bytes;
    sf_count_t Pos = 0;
};

sf_count_t MemLength(void* user) { return sf_count_t(static_cast<TMemoryFile*>(user)->Bytes.size()); }
sf_count_t MemSeek(sf_count_t offset, int whence, void* user) {
    auto* f = static_cast<TMemoryFile*>(user);
    sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->Pos : sf_count_t(f->Bytes.size());
    const sf_count_t pos = base + offset;
    if (pos < 0) return -1;
    f->Pos = pos;
    return pos;
}
sf_count_t MemRead(void* ptr, sf_count_t count, void* user) {
    auto* f = static_cast<TMemoryFile*>(user);
    const sf_count_t size = sf_count_t(f->Bytes.size());
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - f->Pos));
    if (n > 0) std::memcpy(ptr, f->Bytes.data() + f->Pos, size_t(n));
    f->Pos += n;
    return n;
}
sf_count_t MemWrite(const void* ptr, sf_count_t count, void* user) {
    auto* f = static_cast<TMemoryFile*>(user);
    const size_t end = size_t(f->Pos + count);
    if (f->Bytes.size() < end) f->Bytes.resize(end, 0);
    std::memcpy(f->Bytes.data() + f->Pos, ptr, size_t(count));
    f->Pos += count;
    return count;
}
sf_count_t MemTell(void* user) { return static_cast<TMemoryFile*>(user)->Pos; }

uint32_t OggCrc(const uint8_t* data, size_t size) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            table[i] = r;
        }
        ready = true;
    }
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

} // namespace

bool SetOggSerial(std::vector<uint8_t>& bytes, uint32_t serial) {
    size_t pos = 0;
    if (bytes.empty()) return false;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 27 || std::memcmp(bytes.data() + pos, "OggS", 4) != 0) return false;
        const size_t segments = bytes[pos + 26];
        if (bytes.size() - pos < 27 + segments) return false;
        size_t body = 0;
        for (size_t i = 0; i < segments; ++i) body += bytes[pos + 27 + i];
        const size_t pageSize = 27 + segments + body;
        if (bytes.size() - pos < pageSize) return false;
        uint8_t* page = bytes.data() + pos;
        for (int i = 0; i < 4; ++i) page[14 + i] = uint8_t(serial >> (8 * i));
        for (int i = 0; i < 4; ++i) page[22 + i] = 0;
        const uint32_t crc = OggCrc(page, pageSize);
        for (int i = 0; i < 4; ++i) page[22 + i] = uint8_t(crc >> (8 * i));
        pos += pageSize;
    }
    return true;
}

bool EncodeOggVorbis(const std::vector<float>& samples, int channels, int sampleRate, double quality,
                     std::vector<uint8_t>& bytes, std::string& error) {
    TMemoryFile file;
    SF_VIRTUAL_IO io{MemLength, MemSeek, MemRead, MemWrite, MemTell};
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE* sf = sf_open_virtual(&io, SFM_WRITE, &info, &file);
    if (!sf) {
        error = std::string("the OGG Vorbis encoder could not start: ") + sf_strerror(nullptr);
        return false;
    }
    sf_command(sf, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    const sf_count_t frames = sf_count_t(samples.size() / size_t(channels));
    // Small blocks: the Vorbis analysis buffer is sized by each write.
    sf_count_t written = 0;
    while (written < frames) {
        const sf_count_t block = std::min<sf_count_t>(4096, frames - written);
        const sf_count_t n = sf_writef_float(sf, samples.data() + written * channels, block);
        if (n != block) break;
        written += n;
    }
    const std::string writeError = sf_strerror(sf);
    sf_close(sf);
    if (written != frames) {
        error = "the OGG Vorbis encoder stopped: " + writeError;
        return false;
    }
    if (!SetOggSerial(file.Bytes, 0x544D524Bu)) {
        error = "the OGG Vorbis encoder wrote something that is not an Ogg stream";
        return false;
    }
    bytes = std::move(file.Bytes);
    return true;
}

} // namespace gen
