#include <gtest/gtest.h>

#include <filesystem>

#include "media/sound_decode.h"
#include "sound_files.h"

using namespace soundtest;

namespace {

double Rms(const std::vector<int16_t>& samples) {
    double sum = 0;
    for (int16_t v : samples) sum += double(v) * v;
    return samples.empty() ? 0 : std::sqrt(sum / double(samples.size()));
}

} // namespace

TEST(SoundDecode, LosslessFormatsGiveTheSamplesBack) {
    TScratchDir dir("lossless");
    struct TCase {
        const char* name;
        int format;
        int rate;
        int channels;
    };
    const TCase cases[] = {
        {"mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1},
        {"stereo.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2},
    };
    for (const TCase& c : cases) {
        const std::string path = dir.File(c.name);
        ASSERT_TRUE(WriteSoundFile(path, c.format, c.rate, c.channels, 12345)) << c.name;
        TDecodedSound sound;
        std::string error;
        ASSERT_TRUE(DecodeSoundFile(path, sound, error)) << c.name << ": " << error;
        EXPECT_EQ(sound.SampleRate, c.rate);
        EXPECT_EQ(sound.Channels, c.channels);
        EXPECT_EQ(sound.Frames(), 12345);
        EXPECT_EQ(sound.Samples, MakeSignal(12345, c.channels, c.rate)) << c.name;
        EXPECT_TRUE(sound.Note.empty()) << sound.Note;
    }
}

TEST(SoundDecode, LossyFormatsDecodeToTheEnd) {
    TScratchDir dir("lossy");
    struct TCase {
        const char* name;
        int format;
        int rate;
        int channels;
    };
    const TCase cases[] = {
        {"stereo.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 22050, 2},
        {"mono.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 1},
    };
    const int64_t frames = 44100;
    for (const TCase& c : cases) {
        const std::string path = dir.File(c.name);
        if (!WriteSoundFile(path, c.format, c.rate, c.channels, frames)) {
            std::printf("skipping %s: this libsndfile cannot write it\n", c.name);
            continue;
        }
        TDecodedSound sound;
        std::string error;
        ASSERT_TRUE(DecodeSoundFile(path, sound, error)) << c.name << ": " << error;
        EXPECT_EQ(sound.SampleRate, c.rate);
        EXPECT_EQ(sound.Channels, c.channels);
        // Lossy codecs pad and keep their encoder delay: never shorter than
        // what was written, and only a few blocks longer.
        EXPECT_GE(sound.Frames(), frames * 99 / 100) << c.name;
        EXPECT_LE(sound.Frames(), frames + 4096) << c.name;
        EXPECT_GT(Rms(sound.Samples), 12000 * 0.5) << c.name;
    }
}

TEST(SoundDecode, SharedRealWorldFiles) {
    const std::filesystem::path dir = std::filesystem::path(CORVALA_SHARED_TESTDATA) / "audio";
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no test data at " << dir;
    int decoded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        TDecodedSound sound;
        std::string error;
        ASSERT_TRUE(DecodeSoundFile(entry.path().string(), sound, error)) << entry.path() << ": " << error;
        EXPECT_GT(sound.Seconds(), 0.1) << entry.path();
        EXPECT_GE(sound.SampleRate, 8000) << entry.path();
        EXPECT_GT(Rms(sound.Samples), 10) << entry.path();
        ++decoded;
    }
    EXPECT_GT(decoded, 0);
}

TEST(SoundDecode, BrokenFilesFailWithAReason) {
    TScratchDir dir("broken");
    const std::string wav = dir.File("good.wav");
    ASSERT_TRUE(WriteSoundFile(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 1000));
    const std::string flac = dir.File("good.flac");
    ASSERT_TRUE(WriteSoundFile(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 1000));
    WriteBytes(dir.File("empty.wav"), "");
    WriteBytes(dir.File("header.wav"), ReadBytes(wav).substr(0, 30));
    WriteBytes(dir.File("header.flac"), ReadBytes(flac).substr(0, 40));
    WriteBytes(dir.File("text.ogg"), "this is not music\n");
    WriteBytes(dir.File("picture.mp3"), std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + std::string(200, '\x11'));
    std::string noise(4096, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919u + 13u) >> 3);
    WriteBytes(dir.File("noise.bin"), noise);
    // A valid header with no audio behind it.
    const std::string wavBytes = ReadBytes(wav);
    WriteBytes(dir.File("nodata.wav"), wavBytes.substr(0, wavBytes.find("data") + 8));
    std::filesystem::create_directories(dir.File("folder.wav"));

    for (const char* name : {"empty.wav", "header.wav", "header.flac", "text.ogg", "picture.mp3", "noise.bin",
                             "nodata.wav", "folder.wav", "missing.wav"}) {
        TDecodedSound sound;
        std::string error;
        EXPECT_FALSE(DecodeSoundFile(dir.File(name), sound, error)) << name;
        EXPECT_FALSE(error.empty()) << name;
        EXPECT_TRUE(sound.Samples.empty()) << name;
    }
}

TEST(SoundDecode, CutFilesKeepWhatDecodesAndExtraChannelsAreDropped) {
    TScratchDir dir("partial");
    const std::string wav = dir.File("full.wav");
    ASSERT_TRUE(WriteSoundFile(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 1000));
    // Cut after 100 whole frames of data.
    const std::string bytes = ReadBytes(wav);
    WriteBytes(dir.File("cut.wav"), bytes.substr(0, bytes.find("data") + 8 + 100 * 4));
    TDecodedSound sound;
    std::string error;
    ASSERT_TRUE(DecodeSoundFile(dir.File("cut.wav"), sound, error)) << error;
    EXPECT_EQ(sound.Frames(), 100);
    EXPECT_EQ(sound.Samples, MakeSignal(100, 2, 44100));
    EXPECT_EQ(sound.Note, "the file is cut short: it holds 400 of the 4000 bytes of sound its header gives (100 "
                          "frames are played)");
    ASSERT_TRUE(DecodeSoundFile(wav, sound, error)) << error;
    EXPECT_EQ(sound.Note, "");

    // A FLAC stream cut in the middle: the frames before the cut, and a note.
    const std::string flac = dir.File("full.flac");
    ASSERT_TRUE(WriteSoundFile(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 44100));
    const std::string flacBytes = ReadBytes(flac);
    WriteBytes(dir.File("cut.flac"), flacBytes.substr(0, flacBytes.size() * 6 / 10));
    ASSERT_TRUE(DecodeSoundFile(dir.File("cut.flac"), sound, error)) << error;
    EXPECT_GT(sound.Frames(), 0);
    EXPECT_LT(sound.Frames(), 44100);
    EXPECT_FALSE(sound.Note.empty());

    const std::string quad = dir.File("quad.wav");
    ASSERT_TRUE(WriteSoundFile(quad, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 4, 500));
    ASSERT_TRUE(DecodeSoundFile(quad, sound, error)) << error;
    EXPECT_EQ(sound.Channels, 2);
    EXPECT_EQ(sound.Frames(), 500);
    EXPECT_EQ(sound.Samples[2], TestSignal(1, 0, 44100));
    EXPECT_EQ(sound.Samples[3], TestSignal(1, 1, 44100));
    EXPECT_FALSE(sound.Note.empty());
}
