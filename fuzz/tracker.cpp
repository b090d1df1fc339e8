// The tracker loader and the note envelopes: the input is a tracker file;
// every channel (and one on each side) is sampled with InputValue around the
// rows of the grid at several tempos.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "effects/effect.h"
#include "demo/tracker.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::QuietReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    TDemoTracker tracker;
    if (!tracker.LoadTrackData("fuzz.trk", bytes)) return 0;
    DemoQuit = false;

    // Channels and rows looked at are capped so one input stays fast; the
    // grid may declare millions of rows.
    const int32_t channels = std::min(tracker.ChannelCount(), 6);
    const int32_t rows = std::min(tracker.RowCount(), 96);
    volatile float sink = 0;
    for (const float bpm : {0.0f, 120.0f, 37.5f, 999.0f}) {
        tracker.BPM = bpm;
        for (int32_t row = -1; row <= rows + 1; ++row) {
            const float time = tracker.RowTime(row);
            sink = sink + float(tracker.RowAt(time));
            for (int32_t channel = -1; channel <= channels; ++channel) {
                const uint8_t here = tracker.Note(channel, row);
                sink = sink + tracker.InputValue(channel, here, 0.5f, 0.25f, time);
                sink = sink + tracker.InputValue(channel, 0, 0.125f, 0.0f, time + 0.01f);
            }
        }
        // The last declared row and a time far past it.
        const int32_t last = tracker.RowCount() - 1;
        sink = sink + tracker.InputValue(0, tracker.Note(0, last), 1.0f, 1.0f, tracker.RowTime(last));
        sink = sink + tracker.InputValue(0, 1, 0.5f, 0.5f, 1e30f);
    }
    (void)sink;
    return 0;
}
