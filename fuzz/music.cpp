// The music decoder: the input is a sound file of any format libsndfile
// reads, written to a scratch file (the decoder reads files by name) and
// decoded to 16-bit PCM in memory; no audio device is opened.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "media/sound_decode.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::QuietReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = (fuzzsupport::ScratchFolder("music") / "fuzz.snd").string();
    fuzzsupport::WriteBytes(file, data, size);
    TDecodedSound sound;
    std::string error;
    if (DecodeSoundFile(file, sound, error)) {
        if (sound.Channels < 1 || sound.Channels > 2 || sound.SampleRate < 1) std::abort();
        if (sound.Samples.size() % size_t(sound.Channels) != 0) std::abort();
    } else {
        if (error.empty() || !sound.Samples.empty()) std::abort();
    }
    return 0;
}
