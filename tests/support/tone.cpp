#include "support/tone.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace testutil {

bool WriteToneWav(const std::string& path, int seconds, int amplitude) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    std::vector<short> samples(size_t(44100 * seconds * 2));
    for (size_t i = 0; i < samples.size(); i += 2)
        samples[i] = samples[i + 1] = short(amplitude * std::sin(2 * M_PI * 440 * double(i / 2) / 44100));
    const bool written = sf_write_short(file, samples.data(), sf_count_t(samples.size())) == sf_count_t(samples.size());
    sf_close(file);
    return written;
}

bool WriteSoundWav(const std::string& path, const std::vector<float>& samples, int sampleRate) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    std::vector<short> pcm(samples.size());
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = short(std::lround(32767 * std::clamp(samples[i], -1.f, 1.f)));
    const bool written = sf_write_short(file, pcm.data(), sf_count_t(pcm.size())) == sf_count_t(pcm.size());
    sf_close(file);
    return written;
}

} // namespace testutil
