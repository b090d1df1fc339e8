// WriteWav16: the capture output as a plain RIFF/WAVE file, 16-bit PCM stereo.
#include "media/sound.h"

#include "base/report.h"

#include <array>
#include <cstdio>
#include <memory>

namespace {

struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void PutLE(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

} // namespace

bool WriteWav16(const std::string& path, int sampleRate, const std::vector<int16_t>& interleavedStereo) {
    const auto fail = [&](const std::string& why) {
        ReportWarning("cannot write WAV file \"" + path + "\": " + why);
        return false;
    };
    constexpr int Channels = 2;
    constexpr int BytesPerFrame = Channels * 2;
    if (sampleRate <= 0) return fail("sample rate " + std::to_string(sampleRate) + " Hz");
    if (interleavedStereo.size() % Channels != 0) return fail("the samples are not whole stereo frames");
    const uint64_t dataBytes = uint64_t(interleavedStereo.size()) * 2;
    if (dataBytes > 0xFFFFFFFFull - 36) return fail("more audio than a WAV file can hold (4 GiB)");

    std::vector<unsigned char> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    PutLE(header, uint32_t(36 + dataBytes), 4);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLE(header, 16, 4);                                  // fmt chunk size
    PutLE(header, 1, 2);                                   // PCM
    PutLE(header, Channels, 2);
    PutLE(header, uint32_t(sampleRate), 4);
    PutLE(header, uint32_t(sampleRate) * BytesPerFrame, 4); // bytes per second
    PutLE(header, BytesPerFrame, 2);                       // block align
    PutLE(header, 16, 2);                                  // bits per sample
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    PutLE(header, uint32_t(dataBytes), 4);

    std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return fail("cannot open it for writing");
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    // Samples go out little-endian whatever the host order.
    std::array<unsigned char, 8192> block{};
    size_t filled = 0;
    for (size_t i = 0; ok && i < interleavedStereo.size(); ++i) {
        const auto value = static_cast<uint16_t>(interleavedStereo[i]);
        block[filled++] = static_cast<unsigned char>(value & 0xFF);
        block[filled++] = static_cast<unsigned char>(value >> 8);
        if (filled == block.size()) {
            ok = std::fwrite(block.data(), 1, filled, file.get()) == filled;
            filled = 0;
        }
    }
    if (ok && filled > 0) ok = std::fwrite(block.data(), 1, filled, file.get()) == filled;
    ok = std::fclose(file.release()) == 0 && ok;
    if (!ok) return fail("writing failed (disk full?)");
    return true;
}
