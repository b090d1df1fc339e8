#include "detect.h"

#include "base/limits.h"
#include "media/song_import.h"
#include "media/sound_decode.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr uint_t OnsetWindow = 1024, OnsetHop = 256;
constexpr uint_t TempoWindow = 1024, TempoHop = 512;

// aubio objects in owners that free them.
template <typename T, void (*Free)(T*)>
struct TAubioFree {
    void operator()(T* p) const { Free(p); }
};
using TFvec = std::unique_ptr<fvec_t, TAubioFree<fvec_t, del_fvec>>;
using TOnset = std::unique_ptr<aubio_onset_t, TAubioFree<aubio_onset_t, del_aubio_onset>>;
using TTempo = std::unique_ptr<aubio_tempo_t, TAubioFree<aubio_tempo_t, del_aubio_tempo>>;

// A second-order Butterworth section (bilinear transform), applied in place.
void Biquad(std::vector<float>& signal, int sampleRate, double cutoff, bool highPass) {
    const double k = std::tan(M_PI * cutoff / sampleRate);
    const double q = M_SQRT1_2;
    const double norm = 1 / (1 + k / q + k * k);
    double b0, b1, b2;
    if (highPass) {
        b0 = norm;
        b1 = -2 * norm;
    } else {
        b0 = k * k * norm;
        b1 = 2 * b0;
    }
    b2 = b0;
    const double a1 = 2 * (k * k - 1) * norm, a2 = (1 - k / q + k * k) * norm;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (float& s : signal) {
        const double x = s;
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        s = float(y);
    }
}

std::vector<float> Band(const std::vector<float>& mono, int sampleRate, double low, double high) {
    std::vector<float> band = mono;
    for (int pass = 0; pass < 2; ++pass) {
        if (low > 0) Biquad(band, sampleRate, low, true);
        if (high > 0) Biquad(band, sampleRate, high, false);
    }
    return band;
}

std::vector<double> Onsets(const std::vector<float>& signal, int sampleRate, const char* method, double threshold) {
    std::vector<double> times;
    TOnset onset(new_aubio_onset(method, OnsetWindow, OnsetHop, uint_t(sampleRate)));
    if (!onset) return times;
    aubio_onset_set_threshold(onset.get(), smpl_t(threshold));
    aubio_onset_set_minioi_ms(onset.get(), 50);
    aubio_onset_set_silence(onset.get(), -60);
    TFvec in(new_fvec(OnsetHop)), out(new_fvec(1));
    for (size_t at = 0; at < signal.size(); at += OnsetHop) {
        for (uint_t i = 0; i < OnsetHop; ++i) in->data[i] = at + i < signal.size() ? signal[at + i] : 0;
        aubio_onset_do(onset.get(), in.get(), out.get());
        if (out->data[0] != 0) times.push_back(aubio_onset_get_last_s(onset.get()));
    }
    return times;
}

// Beat times from aubio's tracker, its last tempo estimate and confidence.
std::vector<double> Beats(const std::vector<float>& mono, int sampleRate, double& bpm, double& confidence) {
    std::vector<double> beats;
    TTempo tempo(new_aubio_tempo("default", TempoWindow, TempoHop, uint_t(sampleRate)));
    if (!tempo) return beats;
    TFvec in(new_fvec(TempoHop)), out(new_fvec(2));
    for (size_t at = 0; at < mono.size(); at += TempoHop) {
        for (uint_t i = 0; i < TempoHop; ++i) in->data[i] = at + i < mono.size() ? mono[at + i] : 0;
        aubio_tempo_do(tempo.get(), in.get(), out.get());
        if (out->data[0] != 0) beats.push_back(aubio_tempo_get_last_s(tempo.get()));
    }
    bpm = aubio_tempo_get_bpm(tempo.get());
    confidence = aubio_tempo_get_confidence(tempo.get());
    return beats;
}

// Least-squares line through the beats numbered by whole periods from the
// first: gives the period and the fitted time of the first beat. The
// median interval numbers them, so a missed or doubled beat does not bend it.
bool FitBeats(const std::vector<double>& beats, double& period, double& first) {
    if (beats.size() < 4) return false;
    std::vector<double> gaps;
    for (size_t i = 1; i < beats.size(); ++i) gaps.push_back(beats[i] - beats[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + std::ptrdiff_t(gaps.size() / 2), gaps.end());
    const double median = gaps[gaps.size() / 2];
    if (!(median > 0)) return false;
    double sk = 0, st = 0, skk = 0, skt = 0;
    const double n = double(beats.size());
    for (double t : beats) {
        const double k = std::round((t - beats[0]) / median);
        sk += k;
        st += t;
        skk += k * k;
        skt += k * t;
    }
    const double d = n * skk - sk * sk;
    if (!(d > 0)) return false;
    period = (n * skt - sk * st) / d;
    first = (st - period * sk) / n;
    return period > 0;
}

// Band onsets that stand out: the band's level just after the onset (RMS of
// the next 40 ms) must reach a tenth of its loud level (the 98th percentile
// of 23 ms frames) and rise by a quarter over the level before it (50 ms
// ending 20 ms before). A hit of another band leaks into this one some 20 dB
// or more below the band's own hits, and is dropped.
std::vector<double> Gate(const std::vector<double>& onsets, const std::vector<float>& band, int sampleRate) {
    auto level = [&](double from, double to) {
        const size_t start = size_t(std::clamp(from * sampleRate, 0.0, double(band.size())));
        const size_t end = size_t(std::clamp(to * sampleRate, 0.0, double(band.size())));
        double sum = 0;
        for (size_t i = start; i < end; ++i) sum += double(band[i]) * band[i];
        return end > start ? std::sqrt(sum / double(end - start)) : 0.0;
    };
    const double frame = 1024.0 / sampleRate;
    std::vector<double> levels;
    for (double t = 0; (t + frame) * sampleRate <= double(band.size()); t += frame) levels.push_back(level(t, t + frame));
    if (levels.empty()) return onsets;
    std::sort(levels.begin(), levels.end());
    const double loud = levels[std::min(levels.size() - 1, levels.size() * 98 / 100)];
    std::vector<double> kept;
    for (double t : onsets) {
        const double after = level(t, t + 0.04), before = level(t - 0.07, t - 0.02);
        if (after >= 0.1 * loud && after >= 1.25 * before) kept.push_back(t);
    }
    return kept;
}

// How well onsets line up with a grid of `period` seconds: the length of the
// mean of unit vectors at each onset's phase, 0 (none) to 1 (all), taken on
// the beat and on the half beat (off-beat hats line up there).
double Alignment(const std::vector<double>& onsets, double period, double& phase) {
    double c1 = 0, s1 = 0, c2 = 0, s2 = 0;
    for (double t : onsets) {
        const double a = 2 * M_PI * t / period;
        c1 += std::cos(a);
        s1 += std::sin(a);
        c2 += std::cos(2 * a);
        s2 += std::sin(2 * a);
    }
    const double n = double(std::max<size_t>(onsets.size(), 1));
    phase = std::atan2(s1, c1) / (2 * M_PI) * period;
    return (std::hypot(c1, s1) + std::hypot(c2, s2)) / (2 * n);
}

// The tempo near aubio's estimate (within 6%) at which the onsets line up
// best, searched in steps of 0.02%; aubio's own beats are spaced in whole
// analysis hops and drift by up to a few percent.
double RefinePeriod(const std::vector<double>& onsets, double estimate, double& phase, double& alignment) {
    double best = estimate, bestScore = -1;
    for (double f = 0.94; f <= 1.06; f += 0.0002) {
        double p = 0;
        const double score = Alignment(onsets, estimate * f, p);
        if (score > bestScore) {
            bestScore = score;
            best = estimate * f;
        }
    }
    alignment = Alignment(onsets, best, phase);
    return best;
}

} // namespace

bool DetectRhythm(const std::vector<float>& mono, int sampleRate, double bpm, TDetectResult& result, std::string& error) {
    result = TDetectResult{};
    if (sampleRate < 8000 || mono.size() < size_t(sampleRate)) {
        error = "at least one second of audio at 8000 Hz or more is needed";
        return false;
    }
    result.Seconds = double(mono.size()) / sampleRate;
    result.Times[DetectAll] = Onsets(mono, sampleRate, "hfc", 0.3);
    const std::vector<float> low = Band(mono, sampleRate, 0, 150), mid = Band(mono, sampleRate, 300, 3000),
                             high = Band(mono, sampleRate, 6000, 0);
    result.Times[DetectLow] = Gate(Onsets(low, sampleRate, "energy", 0.5), low, sampleRate);
    result.Times[DetectMid] = Gate(Onsets(mid, sampleRate, "specflux", 0.5), mid, sampleRate);
    result.Times[DetectHigh] = Gate(Onsets(high, sampleRate, "specflux", 0.5), high, sampleRate);

    // Tempo: aubio's beat tracker gives the estimate, the onsets refine it.
    double aubioBpm = 0, aubioConfidence = 0, period = 0, fittedFirst = 0, phase = 0;
    const std::vector<double> beats = Beats(mono, sampleRate, aubioBpm, aubioConfidence);
    const double estimate = FitBeats(beats, period, fittedFirst) ? period : aubioBpm > 0 ? 60 / aubioBpm : 0;
    const std::vector<double>& onsets = result.Times[DetectAll];
    if (bpm > 0) {
        result.Bpm = float(bpm);
        result.Confidence = Alignment(onsets, 60 / bpm, phase);
    } else {
        if (!(estimate > 0) || onsets.size() < 8) {
            error = "no tempo found (too few beats or onsets); give one with --bpm";
            return false;
        }
        result.DetectedBpm = 60 / RefinePeriod(onsets, estimate, phase, result.Confidence);
        result.Bpm = ScriptBpm(result.DetectedBpm);
    }
    // The beat grid at the script's BPM, in phase with the kicks when there
    // are enough of them (else with all onsets), from the first beat found.
    const double beat = 60.0 / double(result.Bpm);
    const std::vector<double>& phaseOnsets = result.Times[DetectLow].size() >= 8 ? result.Times[DetectLow] : onsets;
    Alignment(phaseOnsets, beat, phase);
    const double start = beats.empty() ? (onsets.empty() ? 0 : onsets[0]) : beats[0];
    double first = phase + beat * std::round((start - phase) / beat);
    while (first < 0) first += beat;
    result.FirstBeat = first;

    const int64_t rows = int64_t(std::ceil(result.Seconds * 4 / 60 * double(result.Bpm)));
    if (rows > limits::MaxTrackerCells / DetectChannels) {
        error = "the grid at BPM " + std::to_string(result.Bpm) + " would be larger than the engine accepts";
        return false;
    }
    result.Grid.Resize(DetectChannels, int32_t(std::max<int64_t>(rows, 1)));
    auto mark = [&](int channel, double seconds, uint8_t note) {
        const int64_t row = NearestRow(seconds, result.Bpm);
        if (row >= 0 && row < result.Grid.Rows) result.Grid.Channels[size_t(channel)][size_t(row)] = note;
    };
    for (int c = DetectAll; c <= DetectHigh; ++c)
        for (double t : result.Times[c]) mark(c, t, 1);
    result.Onsets = int64_t(result.Times[DetectAll].size());
    result.Low = int64_t(result.Times[DetectLow].size());
    result.Mid = int64_t(result.Times[DetectMid].size());
    result.High = int64_t(result.Times[DetectHigh].size());
    for (int64_t k = 0;; ++k) {
        const double t = result.FirstBeat + double(k) * beat;
        if (t >= result.Seconds) break;
        mark(DetectBeats, t, k % 4 == 0 ? 2 : 1);
        ++result.Beats;
    }
    return true;
}

bool DetectMusicFile(const std::string& fileName, double bpm, TDetectResult& result, std::string& error) {
    TDecodedSound sound;
    if (!DecodeSoundFile(fileName, sound, error)) return false;
    std::vector<float> mono(size_t(sound.Frames()));
    for (size_t i = 0; i < mono.size(); ++i) {
        float sum = 0;
        for (int c = 0; c < sound.Channels; ++c) sum += sound.Samples[i * size_t(sound.Channels) + size_t(c)];
        mono[i] = sum / (32768.0f * float(sound.Channels));
    }
    return DetectRhythm(mono, sound.SampleRate, bpm, result, error);
}
