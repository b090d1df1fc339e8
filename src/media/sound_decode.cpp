#include "media/sound_decode.h"

#include "base/files.h"
#include "base/limits.h"
#include "base/report.h"
#include "media/module_song.h"

#include <sndfile.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

struct TSndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using TSndFile = std::unique_ptr<SNDFILE, TSndFileCloser>;

constexpr int64_t BlockFrames = 4096;

bool IsMpeg(int format) { return (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG; }

// True when the file starts with a MIDI header chunk ("MThd").
bool IsMidiFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    char magic[4] = {};
    return file.read(magic, 4) && std::string(magic, 4) == "MThd";
}

// A RIFF WAV file whose data chunk declares more bytes than the file holds
// after it. libsndfile counts only the bytes there, so such a file would
// read as a shorter sound without a word. A size of 0 or 0xFFFFFFFF (a
// stream whose writer could not go back) declares nothing.
bool WavCutShort(const std::string& fileName, uint64_t& declared, uint64_t& present) {
    std::ifstream file(fileName, std::ios::binary | std::ios::ate);
    if (!file) return false;
    const uint64_t size = uint64_t(file.tellg());
    file.seekg(0);
    unsigned char header[12] = {};
    if (!file.read(reinterpret_cast<char*>(header), 12) || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0)
        return false;
    uint64_t at = 12;
    for (int chunks = 0; chunks < 64 && at + 8 <= size; ++chunks) {
        unsigned char chunk[8] = {};
        file.seekg(std::streamoff(at));
        if (!file.read(reinterpret_cast<char*>(chunk), 8)) return false;
        const uint64_t length =
            uint64_t(chunk[4]) | uint64_t(chunk[5]) << 8 | uint64_t(chunk[6]) << 16 | uint64_t(chunk[7]) << 24;
        if (std::memcmp(chunk, "data", 4) == 0) {
            declared = length;
            present = size - (at + 8);
            return length != 0 && length != 0xFFFFFFFFu && present < length;
        }
        at += 8 + length + (length & 1);
    }
    return false;
}

} // namespace

bool DecodeSoundFile(const std::string& fileName, TDecodedSound& sound, std::string& error) {
    sound = TDecodedSound{};
    NoteInputFile(fileName);
    // Refused before it is opened: a FIFO would block the open.
    if (const std::string kind = SpecialFileKind(fileName); !kind.empty()) {
        error = "is " + kind + ", not a sound file";
        return false;
    }

    // Tracker modules are rendered once through, as a recording of them.
    if (IsModuleFile(fileName)) return DecodeModuleFile(fileName, sound, error);

    if (IsMidiFile(fileName)) {
        error = "it is a MIDI file, which holds notes but no sound. Render it to a WAV, OGG or FLAC file "
                "with a synthesizer and a sound font (for example: fluidsynth -F song.wav FONT.sf2 " +
                std::filesystem::path(fileName).filename().string() +
                ") and load that; corvala-tracker import makes the tracker file from the MIDI file itself";
        return false;
    }

    SF_INFO info{};
    TSndFile file(sf_open(fileName.c_str(), SFM_READ, &info));
    if (!file) {
        error = sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1) {
        error = "the file declares no audio channels";
        return false;
    }
    if (info.samplerate < 1 || info.samplerate > limits::MaxSampleRate) {
        error = "unsupported sample rate " + std::to_string(info.samplerate) + " Hz (at most " +
                std::to_string(limits::MaxSampleRate) + ")";
        return false;
    }
    // Float sources (Vorbis, MP3, float WAV) are scaled to 16 bits; clip
    // rather than wrap values beyond full scale.
    sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

    const int fileChannels = info.channels;
    const int keptChannels = fileChannels >= 2 ? 2 : 1;
    const int64_t maxFrames = limits::MaxSampleBytes / (int64_t(sizeof(int16_t)) * keptChannels);
    sound.SampleRate = info.samplerate;
    sound.Channels = keptChannels;

    // Sized once from the header's frame count instead of growing (and
    // copying) block by block; MP3 counts are estimates, and a count past
    // the limit is left to the check below.
    if (!IsMpeg(info.format) && info.frames > 0 && info.frames <= maxFrames)
        sound.Samples.reserve(size_t(info.frames) * size_t(keptChannels));
    std::vector<int16_t> block(size_t(BlockFrames * fileChannels));
    int64_t frames = 0;
    for (;;) {
        const sf_count_t got = sf_readf_short(file.get(), block.data(), BlockFrames);
        if (got <= 0) break;
        if (frames + got > maxFrames) {
            error = "decodes to more than " + std::to_string(limits::MaxSampleBytes / (1024 * 1024)) + " MiB of audio";
            sound = TDecodedSound{};
            return false;
        }
        if (fileChannels == keptChannels) {
            sound.Samples.insert(sound.Samples.end(), block.begin(), block.begin() + got * fileChannels);
        } else {
            for (sf_count_t i = 0; i < got; ++i)
                for (int c = 0; c < keptChannels; ++c) sound.Samples.push_back(block[size_t(i * fileChannels + c)]);
        }
        frames += got;
    }

    const int status = sf_error(file.get());
    if (frames == 0) {
        error = status != SF_ERR_NO_ERROR ? sf_strerror(file.get()) : "no audio could be decoded (empty or cut short)";
        sound = TDecodedSound{};
        return false;
    }
    uint64_t declared = 0, present = 0;
    if (status != SF_ERR_NO_ERROR) {
        sound.Note = "decoding stopped after " + std::to_string(frames) + " frames: " + sf_strerror(file.get());
    } else if (!IsMpeg(info.format) && frames < info.frames) {
        sound.Note = "the file ends after " + std::to_string(frames) + " of the " + std::to_string(info.frames) +
                     " frames its header gives";
    } else if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && WavCutShort(fileName, declared, present)) {
        sound.Note = "the file is cut short: it holds " + std::to_string(present) + " of the " +
                     std::to_string(declared) + " bytes of sound its header gives (" + std::to_string(frames) +
                     " frames are played)";
    }
    if (fileChannels > keptChannels) {
        if (!sound.Note.empty()) sound.Note += "; ";
        sound.Note += "only the first two of " + std::to_string(fileChannels) + " channels are played";
    }
    return true;
}

bool CheckSoundFile(const std::string& fileName) {
    double seconds = 0;
    return CheckSoundFile(fileName, seconds);
}

bool CheckSoundFile(const std::string& fileName, double& seconds) {
    seconds = 0;
    if (!CheckAssetFile(fileName, "music")) return false;
    TDecodedSound sound;
    std::string error;
    if (DecodeSoundFile(fileName, sound, error)) {
        seconds = sound.Seconds();
        if (!sound.Note.empty()) ReportWarning("The music file " + fileName + ": " + sound.Note);
        return true;
    }
    ShowScriptError("The music file " + fileName + " cannot be decoded: " + error);
    return false;
}
