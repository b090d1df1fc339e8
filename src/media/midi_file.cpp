#include "media/midi_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Tracks and notes taken from one file; each note costs at least two bytes
// of the file, so the note cap only matters for files of many megabytes.
constexpr int MaxTracks = 65535;
constexpr size_t MaxNotes = 16 * 1024 * 1024;
// Ticks beyond this (about 2^53) would lose precision as seconds.
constexpr int64_t MaxTick = int64_t(1) << 52;

struct TReadError {
    size_t Offset;
    std::string Reason;
};

// A bounded cursor over [pos, end) of the file.
class TCursor {
public:
    TCursor(const std::vector<uint8_t>& bytes, size_t from, size_t to) : data(bytes), pos(from), end(to) {}
    size_t Offset() const { return pos; }
    bool AtEnd() const { return pos >= end; }
    uint8_t Byte(const char* what) {
        if (pos >= end) throw TReadError{pos, std::string("the chunk ends inside ") + what};
        return data[pos++];
    }
    uint8_t Peek() const { return data[pos]; }
    void Skip(uint64_t count, const char* what) {
        if (count > end - pos) throw TReadError{pos, std::string("the chunk ends inside ") + what};
        pos += size_t(count);
    }
    uint32_t Big(int bytes, const char* what) {
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | Byte(what);
        return value;
    }
    // Variable-length quantity: at most 4 bytes, 28 bits.
    uint32_t VarLen(const char* what) {
        const size_t start = pos;
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t b = Byte(what);
            value = value << 7 | (b & 0x7F);
            if (!(b & 0x80)) return value;
        }
        throw TReadError{start, std::string("a variable-length number longer than 4 bytes in ") + what};
    }

private:
    const std::vector<uint8_t>& data;
    size_t pos;
    size_t end;
};

struct TRawNote {
    int64_t Tick;
    int Track, Channel, Key, Velocity, Program;
    size_t Order;
};

struct TTempo {
    int64_t Tick;
    int64_t Micros;
    size_t Order;
};

void ReadTrack(TCursor& in, int track, std::vector<TRawNote>& notes, std::vector<TTempo>& tempos, int64_t& lastTick) {
    int programs[16] = {};
    uint8_t status = 0; // running status; 0 = none yet
    int64_t tick = 0;
    while (!in.AtEnd()) {
        tick += in.VarLen("an event's delta time");
        if (tick > MaxTick) throw TReadError{in.Offset(), "the track is longer than 2^52 ticks"};
        lastTick = std::max(lastTick, tick);
        const size_t eventAt = in.Offset();
        uint8_t first = in.Byte("an event");
        if (first == 0xFF) {
            const uint8_t type = in.Byte("a meta event");
            const uint32_t length = in.VarLen("a meta event");
            if (type == 0x2F) return; // end of track
            if (type == 0x51) {
                if (length != 3)
                    throw TReadError{eventAt, "a tempo event of " + std::to_string(length) + " bytes, not 3"};
                const int64_t micros = in.Big(3, "a tempo event");
                if (micros == 0) throw TReadError{eventAt, "a tempo of 0 microseconds per quarter note"};
                tempos.push_back({tick, micros, tempos.size()});
            } else {
                in.Skip(length, "a meta event");
            }
            continue; // meta events leave running status as it was
        }
        if (first == 0xF0 || first == 0xF7) {
            in.Skip(in.VarLen("a system exclusive event"), "a system exclusive event");
            status = 0;
            continue;
        }
        if (first >= 0xF1)
            throw TReadError{eventAt, "status byte " + std::to_string(first) + " is not allowed in a file"};
        uint8_t data1;
        if (first & 0x80) {
            status = first;
            data1 = in.Byte("a channel event");
        } else {
            if (status == 0) throw TReadError{eventAt, "a data byte without a status byte before it"};
            data1 = first;
        }
        const int kind = status >> 4;
        const int channel = status & 0x0F;
        if (data1 & 0x80) throw TReadError{eventAt, "a channel event's data byte is above 127"};
        if (kind == 0xC || kind == 0xD) {
            if (kind == 0xC) programs[channel] = data1;
            continue;
        }
        const uint8_t data2 = in.Byte("a channel event");
        if (data2 & 0x80) throw TReadError{eventAt, "a channel event's data byte is above 127"};
        if (kind == 0x9 && data2 > 0) {
            if (notes.size() >= MaxNotes) throw TReadError{eventAt, "more than " + std::to_string(MaxNotes) + " notes"};
            notes.push_back({tick, track, channel, data1, data2, programs[channel], notes.size()});
        }
    }
}

} // namespace

bool IsMidiData(const std::vector<uint8_t>& data) {
    return data.size() >= 4 && std::memcmp(data.data(), "MThd", 4) == 0;
}

bool ReadMidiSong(const std::vector<uint8_t>& data, TMidiSong& song, std::string& error) {
    song = TMidiSong{};
    try {
        TCursor file(data, 0, data.size());
        if (!IsMidiData(data)) throw TReadError{0, "not a MIDI file (no \"MThd\" header)"};
        file.Skip(4, "the header");
        const uint32_t headerLength = file.Big(4, "the header");
        if (headerLength < 6)
            throw TReadError{4, "a header chunk of " + std::to_string(headerLength) + " bytes, fewer than 6"};
        const size_t headerEnd = file.Offset();
        TCursor header(data, headerEnd, headerEnd + std::min<size_t>(headerLength, data.size() - headerEnd));
        song.Format = int(header.Big(2, "the header"));
        const int declaredTracks = int(header.Big(2, "the header"));
        const uint16_t division = uint16_t(header.Big(2, "the header"));
        if (song.Format > 1)
            throw TReadError{8, "MIDI format " + std::to_string(song.Format) + "; formats 0 and 1 are read"};
        if (declaredTracks > MaxTracks) throw TReadError{10, "too many tracks"};
        double secondsPerTickSmpte = 0;
        if (division & 0x8000) {
            const int fps = 256 - (division >> 8);
            const int ticksPerFrame = division & 0xFF;
            if (fps <= 0 || ticksPerFrame == 0) throw TReadError{12, "an SMPTE time division with 0 frames or ticks"};
            secondsPerTickSmpte = 1.0 / (double(fps == 29 ? 29.97 : fps) * ticksPerFrame);
            song.FirstTempo = 0;
        } else {
            if (division == 0) throw TReadError{12, "a time division of 0 ticks per quarter note"};
            song.TicksPerQuarter = division;
        }
        file.Skip(headerLength, "the header");

        std::vector<TRawNote> notes;
        std::vector<TTempo> tempos;
        int64_t lastTick = 0;
        int track = 0;
        while (!file.AtEnd() && track < declaredTracks) {
            const size_t chunkAt = file.Offset();
            char id[4];
            for (char& c : id) c = char(file.Byte("a chunk header"));
            const uint32_t length = file.Big(4, "a chunk header");
            const size_t bodyAt = file.Offset();
            if (length > data.size() - bodyAt)
                throw TReadError{chunkAt,
                                 "a chunk of " + std::to_string(length) + " bytes runs past the end of the file"};
            file.Skip(length, "a chunk");
            if (std::memcmp(id, "MTrk", 4) != 0) continue; // unknown chunks are skipped
            TCursor body(data, bodyAt, bodyAt + length);
            ReadTrack(body, track, notes, tempos, lastTick);
            ++track;
        }
        if (track < declaredTracks)
            throw TReadError{data.size(), "the file ends after " + std::to_string(track) + " of its " +
                                              std::to_string(declaredTracks) + " tracks"};
        song.TrackCount = track;

        // Tempo map: changes in tick order; at one tick the last one read wins.
        std::stable_sort(tempos.begin(), tempos.end(),
                         [](const TTempo& a, const TTempo& b) { return a.Tick < b.Tick; });
        struct TSegment {
            int64_t Tick;
            double Seconds;
            double SecondsPerTick;
        };
        std::vector<TSegment> map;
        if (secondsPerTickSmpte > 0) {
            map.push_back({0, 0, secondsPerTickSmpte});
        } else {
            map.push_back({0, 0, 500000e-6 / song.TicksPerQuarter});
            for (const TTempo& t : tempos) {
                const TSegment& last = map.back();
                const double seconds = last.Seconds + double(t.Tick - last.Tick) * last.SecondsPerTick;
                const double perTick = double(t.Micros) * 1e-6 / song.TicksPerQuarter;
                if (t.Tick == last.Tick) {
                    map.back().SecondsPerTick = perTick;
                } else {
                    map.push_back({t.Tick, seconds, perTick});
                }
                if (t.Tick == 0) song.FirstTempo = t.Micros;
            }
            for (size_t i = 1; i < map.size(); ++i)
                song.TempoChanges.push_back(
                    {map[i].Tick, map[i].Seconds,
                     int64_t(std::llround(map[i].SecondsPerTick * 1e6 * song.TicksPerQuarter))});
        }
        auto secondsAt = [&map](int64_t tick) {
            auto it =
                std::upper_bound(map.begin(), map.end(), tick, [](int64_t t, const TSegment& s) { return t < s.Tick; });
            const TSegment& s = *(it - 1);
            return s.Seconds + double(tick - s.Tick) * s.SecondsPerTick;
        };
        std::stable_sort(notes.begin(), notes.end(), [](const TRawNote& a, const TRawNote& b) {
            if (a.Tick != b.Tick) return a.Tick < b.Tick;
            if (a.Track != b.Track) return a.Track < b.Track;
            return a.Order < b.Order;
        });
        song.Notes.reserve(notes.size());
        for (const TRawNote& n : notes)
            song.Notes.push_back({secondsAt(n.Tick), n.Tick, n.Track, n.Channel, n.Key, n.Velocity, n.Program});
        song.Seconds = secondsAt(lastTick);
        return true;
    } catch (const TReadError& e) {
        error = "offset " + std::to_string(e.Offset) + ": " + e.Reason;
        song = TMidiSong{};
        return false;
    }
}
