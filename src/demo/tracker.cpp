#include "demo/tracker.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "effects/effect.h"
#include "base/files.h"
#include "base/limits.h"
#include "base/report.h"

namespace {

int32_t ReadInt32(const std::vector<uint8_t>& data, size_t at) {
    return int32_t(uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
                   uint32_t(data[at + 3]) << 24);
}

bool TrackError(const std::string& text) {
    ShowScriptError(text);
    DemoQuit = true;
    return false;
}

} // namespace

bool TDemoTracker::LoadTrack(const std::string& fileName) {
    NoteInputFile(fileName);
    // A FIFO or a folder is refused before it is opened (a FIFO would block).
    if (const std::string kind = SpecialFileKind(fileName); !kind.empty())
        return TrackError("Tracker file " + fileName + " is " + kind + ", not a file");
    std::ifstream file(fileName, std::ios::binary);
    if (!file) RaiseApplicationError("Cannot open file " + fileName);
    // Never read more than the largest grid the engine accepts.
    std::vector<uint8_t> data;
    const size_t cap = size_t(8 + limits::MaxTrackerCells);
    char buffer[65536];
    while (file && data.size() < cap) {
        file.read(buffer, std::streamsize(std::min(sizeof buffer, cap - data.size())));
        data.insert(data.end(), buffer, buffer + file.gcount());
    }
    return LoadTrackData(fileName, data);
}

bool TDemoTracker::LoadTrackData(const std::string& name, const std::vector<uint8_t>& data) {
    Channels.clear();
    Rows = 0;
    if (data.size() < 8)
        return TrackError("Tracker file " + name + " is " + std::to_string(data.size()) +
                          " bytes long, shorter than its 8-byte header");
    const int32_t channels = ReadInt32(data, 0);
    const int32_t rows = ReadInt32(data, 4);
    if (channels < 0 || rows < 0)
        return TrackError("Tracker file " + name + " has a negative count (" + std::to_string(channels) +
                          " channels, " + std::to_string(rows) + " rows)");
    if (channels > limits::MaxTrackerChannels || int64_t(channels) * int64_t(rows) > limits::MaxTrackerCells)
        return TrackError("Tracker file " + name + " declares " + std::to_string(channels) + " channels of " +
                          std::to_string(rows) + " rows, more than the engine accepts (" +
                          std::to_string(limits::MaxTrackerChannels) + " channels, " +
                          std::to_string(limits::MaxTrackerCells) + " notes)");
    // A file cut short (a full disk, an interrupted copy) is refused rather
    // than played with silent channels.
    const uint64_t declared = uint64_t(channels) * uint64_t(rows);
    if (data.size() - 8 < declared)
        return TrackError("Tracker file " + name + " is " + std::to_string(data.size()) +
                          " bytes long, shorter than the " + std::to_string(8 + declared) +
                          " bytes its header declares (" + std::to_string(channels) + " channels of " +
                          std::to_string(rows) + " rows): the file is cut short");
    Rows = rows;
    Channels.resize(size_t(channels));
    const size_t available = data.size() - 8;
    for (size_t c = 0; c < size_t(channels); ++c) {
        const size_t begin = c * size_t(rows);
        if (begin >= available) break;
        const size_t count = std::min(size_t(rows), available - begin);
        Channels[c].assign(data.begin() + std::ptrdiff_t(8 + begin), data.begin() + std::ptrdiff_t(8 + begin + count));
    }
    return true;
}

int32_t TDemoTracker::RowAt(float seconds) const {
    const long double rows = (static_cast<long double>(seconds) * 4 / 60) * BPM;
    if (!(std::fabs(rows) < 2147483648.0L)) return rows < 0 ? INT32_MIN : INT32_MAX;
    int64_t row = int64_t(std::trunc(rows));
    // Times are floats, so a row's start is RowTime(row), its exact start
    // rounded to the nearest float. A time at or past that lies in the row
    // and a time before it does not, whichever way the rounding went: a
    // frame whose time is a row's start shows that row (at 125 BPM, 0.48f
    // is row 4 although it is a hair below 0.48).
    if (seconds > 0 && BPM > 0) {
        if (row < INT32_MAX && RowTime(int32_t(row + 1)) <= seconds)
            ++row;
        else if (row > 0 && RowTime(int32_t(row)) > seconds)
            --row;
    }
    return int32_t(row);
}

float TDemoTracker::RowTime(int32_t row) const { return float((60.0L / BPM) * (static_cast<long double>(row) / 4)); }

uint8_t TDemoTracker::Note(int32_t channel, int32_t row) const {
    if (channel < 0 || size_t(channel) >= Channels.size() || row < 0) return 0;
    const auto& notes = Channels[size_t(channel)];
    return size_t(row) < notes.size() ? notes[size_t(row)] : 0;
}

float TDemoTracker::InputValue(int32_t channel, uint8_t note, float fadeTime, float leadTime, float time) const {
    const int64_t back = RowAt(fadeTime);
    const int64_t ahead = RowAt(leadTime);
    const int64_t current = RowAt(time);
    if (channel < 0 || size_t(channel) >= Channels.size()) {
        if (std::find(reportedChannels.begin(), reportedChannels.end(), channel) == reportedChannels.end()) {
            reportedChannels.push_back(channel);
            ShowScriptError("Error reading demotrack " + std::to_string(channel));
            DemoQuit = true;
        }
        return 0;
    }
    const auto& notes = Channels[size_t(channel)];
    // Only rows with data can match a nonzero note; rows past the data read
    // as 0, which matches note 0 up to the declared row count.
    const int64_t lastRow = note == 0 ? int64_t(Rows) - 1 : int64_t(notes.size()) - 1;
    const int64_t first = std::max<int64_t>(current - back, 1);
    const int64_t last = std::min<int64_t>(current + ahead, lastRow);
    float sum = 0;
    for (int64_t i = first; i <= last; ++i) {
        const uint8_t value = size_t(i) < notes.size() ? notes[size_t(i)] : 0;
        if (value != note) continue;
        const float d = float(std::fabs(static_cast<long double>(time) - RowTime(int32_t(i))));
        float v = float((static_cast<long double>(fadeTime) - d) / fadeTime);
        if (!(v >= 0)) v = 0;
        sum = float(static_cast<long double>(sum) + v);
    }
    return sum;
}
