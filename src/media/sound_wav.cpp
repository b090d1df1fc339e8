// WriteWav16: the capture output as a plain RIFF/WAVE file, 16-bit PCM stereo.
#include "media/sound.h"

#include "base/output.h"
#include "base/report.h"

#include <array>

namespace {

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
    PutLE(header, 16, 4); // fmt chunk size
    PutLE(header, 1, 2);  // PCM
    PutLE(header, Channels, 2);
    PutLE(header, uint32_t(sampleRate), 4);
    PutLE(header, uint32_t(sampleRate) * BytesPerFrame, 4); // bytes per second
    PutLE(header, BytesPerFrame, 2);                        // block align
    PutLE(header, 16, 2);                                   // bits per sample
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    PutLE(header, uint32_t(dataBytes), 4);

    // The one writer: a failed write leaves an earlier file of this name as it was.
    TOutputFile file;
    std::string error;
    if (!file.Open(path, error)) {
        ReportWarning(error);
        return false;
    }
    file.Write(header.data(), header.size());
    // Samples go out little-endian whatever the host order.
    std::array<unsigned char, 8192> block{};
    size_t filled = 0;
    for (size_t i = 0; i < interleavedStereo.size(); ++i) {
        const auto value = static_cast<uint16_t>(interleavedStereo[i]);
        block[filled++] = static_cast<unsigned char>(value & 0xFF);
        block[filled++] = static_cast<unsigned char>(value >> 8);
        if (filled == block.size()) {
            if (!file.Write(block.data(), filled)) break;
            filled = 0;
        }
    }
    if (filled > 0) file.Write(block.data(), filled);
    if (!file.Commit(error)) {
        ReportWarning(error);
        return false;
    }
    return true;
}
