// Default sample volumes from the module headers, which libopenmpt does not
// expose. Every read is bounded: an offset outside the file reads as absent
// and its volume as 64.
#include "media/module_song.h"

#include <algorithm>
#include <cstring>

namespace {

class TBytes {
public:
    explicit TBytes(const std::vector<uint8_t>& bytes) : data(bytes) {}
    bool Has(uint64_t at, uint64_t count) const { return at <= data.size() && count <= data.size() - at; }
    uint8_t U8(uint64_t at) const { return Has(at, 1) ? data[size_t(at)] : 0; }
    uint32_t U16(uint64_t at) const { return uint32_t(U8(at)) | uint32_t(U8(at + 1)) << 8; }
    uint32_t U32(uint64_t at) const { return U16(at) | U16(at + 2) << 16; }
    bool Tag(uint64_t at, const char* tag) const {
        const size_t n = std::strlen(tag);
        return Has(at, n) && std::memcmp(data.data() + at, tag, n) == 0;
    }

private:
    const std::vector<uint8_t>& data;
};

uint8_t Clamp64(uint32_t v) { return uint8_t(std::min<uint32_t>(v, 64)); }

// MOD: 15 or 31 sample records of 30 bytes after the 20-byte title.
void ReadMod(const TBytes& in, int samples, std::vector<std::vector<uint8_t>>& table) {
    for (int i = 0; i < samples && i < 31; ++i) {
        const uint64_t at = 20 + uint64_t(i) * 30 + 25;
        table.push_back({in.Has(at, 1) ? Clamp64(in.U8(at)) : uint8_t(64)});
    }
}

// S3M: instrument parapointers after the orders; volume at +0x1C.
void ReadS3m(const TBytes& in, std::vector<std::vector<uint8_t>>& table) {
    if (!in.Tag(44, "SCRM")) return;
    const uint32_t orders = in.U16(0x20), instruments = std::min<uint32_t>(in.U16(0x22), 255);
    for (uint32_t i = 0; i < instruments; ++i) {
        const uint64_t at = uint64_t(in.U16(0x60 + orders + 2 * i)) * 16 + 0x1C;
        table.push_back({in.Has(at, 1) ? Clamp64(in.U8(at)) : uint8_t(64)});
    }
}

// XM: skip the patterns, then each instrument maps notes to its samples.
// libopenmpt numbers XM notes 12 above the file (file note 1 = its note 13).
void ReadXm(const TBytes& in, std::vector<std::vector<uint8_t>>& table) {
    if (!in.Tag(0, "Extended Module: ")) return;
    uint64_t at = 60 + uint64_t(in.U32(60));
    const uint32_t patterns = std::min<uint32_t>(in.U16(70), 256), instruments = std::min<uint32_t>(in.U16(72), 255);
    for (uint32_t p = 0; p < patterns; ++p) {
        if (!in.Has(at, 9)) return;
        at += uint64_t(in.U32(at)) + in.U16(at + 7);
    }
    for (uint32_t i = 0; i < instruments; ++i) {
        if (!in.Has(at, 29)) return;
        const uint64_t size = in.U32(at);
        const uint32_t samples = std::min<uint32_t>(in.U16(at + 27), 256);
        std::vector<uint8_t> volumes(121, 64);
        if (samples == 0) {
            at += size;
            table.push_back(volumes);
            continue;
        }
        const uint64_t headerSize = in.U32(at + 29);
        const uint64_t first = at + size;
        std::vector<uint8_t> sampleVolume(samples, 64);
        uint64_t dataBytes = 0;
        for (uint32_t s = 0; s < samples; ++s) {
            const uint64_t h = first + s * headerSize;
            if (in.Has(h + 12, 1)) sampleVolume[s] = Clamp64(in.U8(h + 12));
            dataBytes += in.U32(h);
        }
        for (int note = 13; note <= 120; ++note) {
            const uint64_t mapAt = at + 33 + uint64_t(std::min(note - 13, 95));
            const uint32_t s = in.U8(mapAt);
            volumes[size_t(note)] = s < samples ? sampleVolume[s] : uint8_t(64);
        }
        table.push_back(volumes);
        at = first + samples * headerSize + dataBytes;
    }
}

// IT: samples carry their volume at +0x13; instruments map each note to a
// sample in their keyboard table at +0x40 (note, sample pairs).
void ReadIt(const TBytes& in, std::vector<std::vector<uint8_t>>& table) {
    if (!in.Tag(0, "IMPM")) return;
    const uint32_t orders = in.U16(0x20), instruments = std::min<uint32_t>(in.U16(0x22), 255),
                   samples = std::min<uint32_t>(in.U16(0x24), 255);
    const bool useInstruments = (in.U16(0x2C) & 4) != 0;
    const uint64_t instrumentTable = 0xC0 + uint64_t(orders);
    const uint64_t sampleTable = instrumentTable + 4 * uint64_t(instruments);
    std::vector<uint8_t> sampleVolume(samples, 64);
    for (uint32_t s = 0; s < samples; ++s) {
        const uint64_t h = in.U32(sampleTable + 4 * s);
        if (in.Tag(h, "IMPS") && in.Has(h + 0x13, 1)) sampleVolume[s] = Clamp64(in.U8(h + 0x13));
    }
    if (!useInstruments) {
        for (uint8_t v : sampleVolume) table.push_back({v});
        return;
    }
    for (uint32_t i = 0; i < instruments; ++i) {
        const uint64_t h = in.U32(instrumentTable + 4 * i);
        std::vector<uint8_t> volumes(121, 64);
        if (in.Tag(h, "IMPI")) {
            for (int note = 1; note <= 120; ++note) {
                const uint32_t s = in.U8(h + 0x40 + 2 * uint64_t(note - 1) + 1);
                if (s >= 1 && s <= samples) volumes[size_t(note)] = sampleVolume[s - 1];
            }
        }
        table.push_back(volumes);
    }
}

} // namespace

TSampleVolumes::TSampleVolumes(const std::vector<uint8_t>& data, const std::string& type, int samples) {
    const TBytes in(data);
    if (type == "mod")
        ReadMod(in, samples, table);
    else if (type == "s3m")
        ReadS3m(in, table);
    else if (type == "xm")
        ReadXm(in, table);
    else if (type == "it")
        ReadIt(in, table);
}

int TSampleVolumes::Volume(int instrument, int note) const {
    if (instrument < 1 || size_t(instrument) > table.size()) return 64;
    const auto& volumes = table[size_t(instrument - 1)];
    if (volumes.size() == 1) return volumes[0];
    return note >= 1 && note <= 120 ? volumes[size_t(note)] : 64;
}
