// Test helpers: a scratch folder per test and small sound files written with
// libsndfile.
#pragma once

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace soundtest {

// A fresh folder under the system's temporary directory, removed at the end.
class TScratchDir {
public:
    explicit TScratchDir(const std::string& name) {
        path = std::filesystem::temp_directory_path() / ("corvala_sound_" + name + "_" + std::to_string(::getpid()));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string File(const std::string& name) const { return (path / name).string(); }

private:
    std::filesystem::path path;
};

// Value of frame i, channel c of the test signal: a 441 Hz sine at 44.1 kHz,
// the right channel a quarter period behind.
inline int16_t TestSignal(int64_t i, int c, int rate) {
    const double phase = 2 * M_PI * 441.0 * double(i) / rate + (c == 1 ? M_PI / 2 : 0.0);
    return int16_t(std::lrint(12000 * std::sin(phase)));
}

inline std::vector<int16_t> MakeSignal(int64_t frames, int channels, int rate) {
    std::vector<int16_t> samples(size_t(frames * channels));
    for (int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) samples[size_t(i * channels + c)] = TestSignal(i, c, rate);
    return samples;
}

// Writes the test signal in `format` (SF_FORMAT_* major | subtype); false when
// this libsndfile cannot write it.
inline bool WriteSoundFile(const std::string& path, int format, int rate, int channels, int64_t frames) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    if (!sf_format_check(&info)) return false;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    const std::vector<int16_t> samples = MakeSignal(frames, channels, rate);
    const bool ok = sf_writef_short(file, samples.data(), frames) == frames;
    sf_close(file);
    return ok;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace soundtest
