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
template <typename T, void (*Free)(T*)> struct TAubioFree {
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

// Least-squares line through the beats, each numbered from the one before
// by whole periods of `unit` (aubio's tempo; the median interval without
// one): gives the period and the fitted time of the first beat. Numbering
// gap by gap keeps a missed or doubled beat from bending the line, and a
// unit a few percent off from drifting it.
bool FitBeats(const std::vector<double>& beats, double unit, double& period, double& first) {
    if (beats.size() < 4) return false;
    if (!(unit > 0)) {
        std::vector<double> gaps;
        for (size_t i = 1; i < beats.size(); ++i) gaps.push_back(beats[i] - beats[i - 1]);
        std::nth_element(gaps.begin(), gaps.begin() + std::ptrdiff_t(gaps.size() / 2), gaps.end());
        unit = gaps[gaps.size() / 2];
        if (!(unit > 0)) return false;
    }
    double sk = 0, st = 0, skk = 0, skt = 0, k = 0;
    const double n = double(beats.size());
    for (size_t i = 0; i < beats.size(); ++i) {
        if (i > 0) k += std::max(1.0, std::round((beats[i] - beats[i - 1]) / unit));
        const double t = beats[i];
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

// RMS of the signal from `from` to `to` seconds (clipped to the signal); 0
// for an empty span.
double Level(const std::vector<float>& signal, int sampleRate, double from, double to) {
    const size_t start = size_t(std::clamp(from * sampleRate, 0.0, double(signal.size())));
    const size_t end = size_t(std::clamp(to * sampleRate, 0.0, double(signal.size())));
    double sum = 0;
    for (size_t i = start; i < end; ++i) sum += double(signal[i]) * signal[i];
    return end > start ? std::sqrt(sum / double(end - start)) : 0.0;
}

// How loud each onset is: the signal's RMS over the 40 ms after it.
std::vector<double> OnsetLevels(const std::vector<double>& onsets, const std::vector<float>& signal, int sampleRate) {
    std::vector<double> levels;
    levels.reserve(onsets.size());
    for (double t : onsets) levels.push_back(Level(signal, sampleRate, t, t + 0.04));
    return levels;
}

// Band onsets that stand out: the band's level just after the onset (RMS of
// the next 40 ms) must reach a tenth of its loud level (the 98th percentile
// of 23 ms frames) and rise by a quarter over the level before it (50 ms
// ending 20 ms before). A hit of another band leaks into this one some 20 dB
// or more below the band's own hits, and is dropped.
std::vector<double> Gate(const std::vector<double>& onsets, const std::vector<float>& band, int sampleRate) {
    auto level = [&](double from, double to) { return Level(band, sampleRate, from, to); };
    const double frame = 1024.0 / sampleRate;
    std::vector<double> levels;
    for (double t = 0; (t + frame) * sampleRate <= double(band.size()); t += frame)
        levels.push_back(level(t, t + frame));
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
// the beat, on the half beat (off-beat hats line up there) and on the row
// (the finest, so the most exact about the tempo).
double Alignment(const std::vector<double>& onsets, double period) {
    double c1 = 0, s1 = 0, c2 = 0, s2 = 0, c4 = 0, s4 = 0;
    for (double t : onsets) {
        const double a = 2 * M_PI * t / period;
        c1 += std::cos(a);
        s1 += std::sin(a);
        c2 += std::cos(2 * a);
        s2 += std::sin(2 * a);
        c4 += std::cos(4 * a);
        s4 += std::sin(4 * a);
    }
    const double n = double(std::max<size_t>(onsets.size(), 1));
    return (std::hypot(c1, s1) + std::hypot(c2, s2) + std::hypot(c4, s4)) / (3 * n);
}

// The tempo at which the onsets line up best near each estimate (within
// 6%) or near 2/3, 3/2, 3/4 or 4/3 of it: aubio's tracker can lock on to a
// pattern of three hits over two beats. Searched in steps of 0.02%, then
// around the best in steps of 0.001% (a step of 0.02% drifts by a third of
// a row at 160 BPM in three minutes). Twice or half the tempo is not
// tried: the grid lines up there as well.
double RefinePeriod(const std::vector<double>& onsets, const std::vector<double>& estimates) {
    double best = 0, bestScore = -1;
    auto search = [&](double center, double from, double to, double step) {
        for (double f = from; f <= to; f += step) {
            const double score = Alignment(onsets, center * f);
            if (score > bestScore) {
                bestScore = score;
                best = center * f;
            }
        }
    };
    for (double estimate : estimates)
        for (double ratio : {1.0, 2.0 / 3, 3.0 / 2, 3.0 / 4, 4.0 / 3}) search(estimate * ratio, 0.94, 1.06, 0.0002);
    if (best > 0) search(best, 0.9998, 1.0002, 0.00001);
    // Songs are mostly made at a whole BPM: take it where the onsets line up
    // there all but as well (over a long song a tempo a little off drifts
    // far from them, so this tolerance shrinks with the song's length).
    const double whole = 60 / std::round(60 / best);
    if (best > 0 && Alignment(onsets, whole) >= 0.995 * bestScore) return whole;
    return best;
}

// The share of onsets within a tenth of a row of a row of the grid, its
// rows at the sub-row phase that fits the onsets best; onsets at random
// times score a fifth. `offset` is that phase: seconds the onsets sit after
// the rows' starts, within half a row either way. The phase is the circular
// mean at the row's period, then the mean offset of the onsets within a
// quarter row of it, so that onsets off the grid do not pull it.
double RowFit(const std::vector<double>& onsets, double row, double& offset) {
    offset = 0;
    if (onsets.empty()) return 0;
    double c = 0, s = 0;
    for (double t : onsets) {
        c += std::cos(2 * M_PI * t / row);
        s += std::sin(2 * M_PI * t / row);
    }
    const double circular = std::atan2(s, c) / (2 * M_PI);
    auto off = [&](double t, double phase) {
        const double rows = t / row - phase;
        return rows - std::round(rows);
    };
    double sum = 0;
    size_t near = 0;
    for (double t : onsets)
        if (const double d = off(t, circular); std::fabs(d) <= 0.25) {
            sum += d;
            ++near;
        }
    const double phase = circular + (near > 0 ? sum / double(near) : 0);
    offset = phase * row;
    near = 0;
    for (double t : onsets) near += std::fabs(off(t, phase)) <= 0.1;
    return double(near) / double(onsets.size());
}

// Which row of every 4 holds the beat (0-3): the one on which the onsets
// are loudest together (the music hits hardest on the beat; off-beat hats
// and ghost notes are quieter). Neither the kicks alone (a syncopated
// pattern has more of them off the beat) nor aubio's beats (they follow
// loud off-beat hats) place it as well.
int BeatRow(const std::vector<double>& onsets, const std::vector<double>& levels, float bpm) {
    double loud[4] = {};
    for (size_t i = 0; i < onsets.size(); ++i) loud[NearestRow(onsets[i], bpm) % 4] += levels[i];
    return int(std::max_element(loud, loud + 4) - loud);
}

// The row of the first bar at or after `firstBeatRow`: the beat of every 4
// with the loudest kicks (`hits`: the low onsets, or all onsets where there
// are few kicks) starts the bar. Kicks on beats 1 and 3 are alike, so every
// beat within 70% of the loudest counts, and the first of them from the
// music's first beat on wins: music starts on a bar more often than not.
int64_t FirstBarRow(const std::vector<double>& hits, const std::vector<double>& levels, float bpm,
                    int64_t firstBeatRow) {
    double loud[4] = {};
    for (size_t i = 0; i < hits.size(); ++i) {
        const int64_t d = NearestRow(hits[i], bpm) - firstBeatRow;
        if (d % 4 == 0) loud[((d / 4) % 4 + 4) % 4] += levels[i];
    }
    const double loudest = *std::max_element(loud, loud + 4);
    int beat = 0;
    while (beat < 3 && loud[beat] < 0.7 * loudest) ++beat;
    return firstBeatRow + 4 * beat;
}

} // namespace

bool DetectRhythm(const std::vector<float>& mono, int sampleRate, double bpm, TDetectResult& result,
                  std::string& error) {
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

    // Tempo: aubio's beat tracker gives estimates (its own tempo, and a line
    // through its beats, which are spaced in whole analysis hops and can
    // jump by half a beat), the onsets refine them.
    double aubioBpm = 0, aubioConfidence = 0, period = 0, fittedFirst = 0;
    const std::vector<double> beats = Beats(mono, sampleRate, aubioBpm, aubioConfidence);
    std::vector<double> estimates;
    if (aubioBpm > 0) estimates.push_back(60 / aubioBpm);
    if (FitBeats(beats, aubioBpm > 0 ? 60 / aubioBpm : 0, period, fittedFirst)) estimates.push_back(period);
    const std::vector<double>& onsets = result.Times[DetectAll];
    if (bpm > 0) {
        result.Bpm = float(bpm);
    } else {
        if (estimates.empty() || onsets.size() < 8) {
            error = "no tempo found (too few beats or onsets); give one with --bpm";
            return false;
        }
        result.DetectedBpm = 60 / RefinePeriod(onsets, estimates);
        result.Bpm = ScriptBpm(result.DetectedBpm);
    }
    const double row = 15.0 / double(result.Bpm);
    result.Confidence = RowFit(onsets, row, result.RowOffset);
    if (onsets.size() >= 8 && result.Confidence < 1.0 / 3) {
        const std::string share = "only " + DecimalText(100 * result.Confidence, 0) +
                                  "% of the onsets fall on the rows at BPM " + DecimalText(result.Bpm, 3) +
                                  " (about a fifth would at random): ";
        result.Warnings.push_back(
            share + (bpm > 0 ? "the BPM given is likely not the song's" : "the tempo found is likely wrong") +
            "; give the song's tempo with --bpm N");
    }

    // The beat grid on the engine's rows: a beat on the row of every 4 where
    // the music's beat falls, from the beat nearest the first onset on, and
    // bars on the beat of every 4 with the loudest kicks.
    const std::vector<double> levels = OnsetLevels(onsets, mono, sampleRate);
    const int beatRow = BeatRow(onsets, levels, result.Bpm);
    const int64_t firstOnsetRow = onsets.empty() ? 0 : NearestRow(onsets[0], result.Bpm);
    result.FirstBeatRow = beatRow + 4 * int64_t(std::llround(double(firstOnsetRow - beatRow) / 4));
    if (result.FirstBeatRow < 0) result.FirstBeatRow += 4;
    result.FirstBeat = double(result.FirstBeatRow) * row;
    const bool kicks = result.Times[DetectLow].size() >= 8;
    result.FirstBarRow =
        kicks ? FirstBarRow(result.Times[DetectLow], OnsetLevels(result.Times[DetectLow], low, sampleRate), result.Bpm,
                            result.FirstBeatRow)
              : FirstBarRow(onsets, levels, result.Bpm, result.FirstBeatRow);

    const int64_t rows = int64_t(std::ceil(result.Seconds * 4 / 60 * double(result.Bpm)));
    if (rows > limits::MaxTrackerCells / DetectChannels) {
        error = "the grid at BPM " + std::to_string(result.Bpm) + " would be larger than the engine accepts";
        return false;
    }
    result.Grid.Resize(DetectChannels, int32_t(std::max<int64_t>(rows, 1)));
    auto mark = [&](int channel, double seconds, uint8_t note) {
        const int64_t at = NearestRow(seconds, result.Bpm);
        if (at >= 0 && at < result.Grid.Rows) result.Grid.Channels[size_t(channel)][size_t(at)] = note;
    };
    for (int c = DetectAll; c <= DetectHigh; ++c)
        for (double t : result.Times[c]) mark(c, t, 1);
    result.Onsets = int64_t(result.Times[DetectAll].size());
    result.Low = int64_t(result.Times[DetectLow].size());
    result.Mid = int64_t(result.Times[DetectMid].size());
    result.High = int64_t(result.Times[DetectHigh].size());
    for (int64_t r = result.FirstBeatRow; r < result.Grid.Rows; r += 4) {
        result.Grid.Channels[DetectBeats][size_t(r)] =
            r >= result.FirstBarRow && (r - result.FirstBarRow) % 16 == 0 ? 2 : 1;
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
