// Song import: the input is a tracker module (read by libopenmpt) or a
// Standard MIDI File (our reader), imported into a note grid with the default
// options and with instruments, a volume limit, tracks and a fixed BPM.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "media/song_import.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::QuietReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    TImportOptions options[3];
    options[1].Instruments = true;
    options[1].MinVolume = 32;
    options[1].Tracks = true;
    options[2].Bpm = 999;
    options[2].RowsPerBeat = 3;
    for (const TImportOptions& o : options) {
        TImportResult result;
        std::string error;
        if (ImportSong(bytes, o, result, error)) {
            for (const auto& channel : result.Grid.Channels)
                if (int64_t(channel.size()) != result.Grid.Rows) std::abort();
        } else if (error.empty()) {
            std::abort();
        }
        if (!IsSongData(bytes)) break; // one refusal is enough for bytes that are no song
    }
    return 0;
}
