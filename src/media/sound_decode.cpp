#include "media/sound_decode.h"

#include "base/files.h"
#include "base/limits.h"
#include "base/report.h"
#include "media/module_song.h"

#include <sndfile.h>

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
            error = "decodes to more than " + std::to_string(limits::MaxSampleBytes / (1024 * 1024)) +
                    " MiB of audio";
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
    if (status != SF_ERR_NO_ERROR) {
        sound.Note = "decoding stopped after " + std::to_string(frames) + " frames: " + sf_strerror(file.get());
    } else if (!IsMpeg(info.format) && frames < info.frames) {
        sound.Note = "the file ends after " + std::to_string(frames) + " of the " + std::to_string(info.frames) +
                     " frames its header gives";
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
        return true;
    }
    ShowScriptError("The music file " + fileName + " cannot be decoded: " + error);
    return false;
}
