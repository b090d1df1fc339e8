#include "media/module_song.h"

#include "base/files.h"
#include "base/limits.h"
#include "media/note_grid.h"

#include <libopenmpt/libopenmpt.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace {

// Rows are timed by playing the song in steps of this many frames at this
// rate: a row's start is known to a third of a millisecond.
constexpr int32_t WalkRate = 48000;
constexpr size_t WalkStep = 16;
// The longest song played through (seconds); a longer one is cut there.
constexpr double MaxSongSeconds = double(limits::MaxSampleBytes) / 4 / 44100;

// libopenmpt's pattern cells: set-volume in the volume column and in the
// effect column (the MOD and XM Cxx effect).
constexpr int VolumeColumnSetVolume = 1;
constexpr int EffectSetVolume = 13;
constexpr int LastNote = 120;
// Largest module file read (bytes).
constexpr int64_t MaxModuleBytes = 256LL * 1024 * 1024;

std::unique_ptr<openmpt::module> OpenModule(const std::vector<uint8_t>& data, bool skipSamples, std::string& error) {
    std::ostringstream log;
    std::map<std::string, std::string> ctls{{"play.at_end", "stop"}};
    if (skipSamples) ctls["load.skip_samples"] = "1";
    try {
        auto module = std::make_unique<openmpt::module>(data, log, ctls);
        module->set_repeat_count(0);
        return module;
    } catch (const std::exception& e) {
        error = std::string("libopenmpt cannot read it as a module: ") + e.what();
    } catch (...) {
        error = "libopenmpt cannot read it as a module";
    }
    return nullptr;
}

// Bytes appended to a module to find out whether its loader reads past the
// end of the file (see CutShortPlace).
constexpr size_t ProbeBytes = size_t(1) << 20;

// Where a file cut short lost its pattern data, as "pattern P from row R
// on", or "" when it lost none. libopenmpt takes the missing bytes of a file
// that ends early for empty cells and says nothing, so the module is loaded
// once more with other bytes appended: a cell that reads differently, or a
// pattern that only the first load has, was read past the end. Patterns
// only the second load has are not compared: bytes after a whole module are
// ignored by its loader, or taken for extra patterns by some. Only the
// patterns in `played` count, the first of them in that order.
std::string CutShortPlace(const std::vector<uint8_t>& data, openmpt::module& read, const std::vector<int>& played) {
    std::vector<uint8_t> padded;
    padded.reserve(data.size() + ProbeBytes);
    padded.assign(data.begin(), data.end());
    uint32_t seed = 0x2545F491u;
    for (size_t i = 0; i < ProbeBytes; ++i) {
        seed = seed * 1664525u + 1013904223u; // any bytes that are not all zero
        padded.push_back(uint8_t(seed >> 24));
    }
    std::string unused;
    const std::unique_ptr<openmpt::module> probe = OpenModule(padded, true, unused);
    if (!probe) return {};
    // The first row of each pattern that was read past the end; -1 for a
    // whole pattern. A pattern the first load has and the second lacks had
    // its data in the appended bytes, where the loader refused it (formats
    // that point to their patterns by offset).
    const int patterns = read.get_num_patterns();
    const int channels = std::min(read.get_num_channels(), probe->get_num_channels());
    std::vector<int> cutAt(size_t(std::max(patterns, 0)), -1);
    for (int p = 0; p < patterns; ++p) {
        if (p >= probe->get_num_patterns()) {
            cutAt[size_t(p)] = 0;
            continue;
        }
        const int rows = std::min(read.get_pattern_num_rows(p), probe->get_pattern_num_rows(p));
        for (int r = 0; r < rows && cutAt[size_t(p)] < 0; ++r)
            for (int c = 0; c < channels && cutAt[size_t(p)] < 0; ++c)
                for (int command = openmpt::module::command_note; command <= openmpt::module::command_parameter;
                     ++command)
                    if (read.get_pattern_row_channel_command(p, r, c, command) !=
                        probe->get_pattern_row_channel_command(p, r, c, command)) {
                        cutAt[size_t(p)] = r;
                        break;
                    }
        if (cutAt[size_t(p)] < 0 && read.get_pattern_num_rows(p) != probe->get_pattern_num_rows(p))
            cutAt[size_t(p)] = rows;
    }
    // Only a pattern the song plays loses notes: the first in play order.
    for (const int p : played)
        if (p >= 0 && p < patterns && cutAt[size_t(p)] >= 0)
            return "pattern " + std::to_string(p) + " from row " + std::to_string(cutAt[size_t(p)]) + " on";
    return {};
}

} // namespace

bool IsModuleData(const std::vector<uint8_t>& data) {
    if (data.empty()) return false;
    return openmpt::probe_file_header(openmpt::probe_file_header_flags_default2, data.data(), data.size(),
                                      data.size()) == openmpt::probe_file_header_result_success;
}

bool IsModuleFile(const std::string& fileName) {
    if (!SpecialFileKind(fileName).empty()) return false;
    std::ifstream file(fileName, std::ios::binary | std::ios::ate);
    if (!file) return false;
    const std::streamoff size = file.tellg();
    if (size <= 0) return false;
    std::vector<uint8_t> head(std::min<size_t>(size_t(size), openmpt::probe_file_header_get_recommended_size()));
    file.seekg(0);
    file.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
    if (!file) return false;
    return openmpt::probe_file_header(openmpt::probe_file_header_flags_default2, head.data(), head.size(),
                                      uint64_t(size)) == openmpt::probe_file_header_result_success;
}

bool DecodeModuleFile(const std::string& fileName, TDecodedSound& sound, std::string& error) {
    std::vector<uint8_t> data;
    if (!ReadWholeFile(fileName, MaxModuleBytes, data, error)) {
        // ReadWholeFile names the file; callers add it themselves.
        error = error.substr(std::min(error.size(), fileName.size() + 2));
        return false;
    }
    return RenderModule(data, 44100, sound, error);
}

bool ReadModuleSong(const std::vector<uint8_t>& data, TModuleSong& song, std::string& error) {
    song = TModuleSong{};
    // The sample headers are read from the bytes, so libopenmpt can skip
    // loading the sample data: the walk below mixes nothing.
    std::unique_ptr<openmpt::module> module = OpenModule(data, true, error);
    if (!module) return false;
    try {
        openmpt::module& m = *module;
        song.Type = m.get_metadata("type");
        song.Channels = m.get_num_channels();
        song.InstrumentNames = m.get_num_instruments() > 0 ? m.get_instrument_names() : m.get_sample_names();
        const TSampleVolumes volumes(data, song.Type, m.get_num_samples());
        std::vector<int> instrumentOf(size_t(song.Channels), 0);
        std::vector<int16_t> buffer(WalkStep);
        std::vector<int> played; // patterns in play order (a repeat kept when something came between)
        int64_t frames = 0;
        int lastOrder = -1, lastRow = -1, lastSpeed = 0, lastTempo = 0;
        double secondRowStart = -1;
        const int64_t maxFrames = int64_t(MaxSongSeconds * WalkRate);
        for (;;) {
            const int64_t chunkStart = frames;
            const size_t got = m.read(WalkRate, WalkStep, buffer.data());
            const int order = m.get_current_order(), row = m.get_current_row();
            if (got > 0 && (order != lastOrder || row != lastRow)) {
                // The row began inside this step; its middle is the best guess.
                const double start = song.RowsPlayed == 0 ? 0.0 : (double(chunkStart) + WalkStep / 2.0) / WalkRate;
                const int pattern = m.get_current_pattern();
                if (played.empty() || played.back() != pattern) played.push_back(pattern);
                const int speed = m.get_current_speed(), tempo = m.get_current_tempo();
                if (song.RowsPlayed == 0) {
                    song.FirstSpeed = speed;
                    song.FirstTempo = tempo;
                } else {
                    if (song.RowsPlayed == 1) secondRowStart = start;
                    if (speed != lastSpeed || tempo != lastTempo) {
                        if (song.TempoChanges++ == 0) {
                            song.ChangeOrder = order;
                            song.ChangePattern = pattern;
                            song.ChangeRow = row;
                            song.ChangeSpeed = speed;
                            song.ChangeTempo = tempo;
                        }
                    }
                }
                lastSpeed = speed;
                lastTempo = tempo;
                lastOrder = order;
                lastRow = row;
                ++song.RowsPlayed;
                for (int c = 0; c < song.Channels; ++c) {
                    const int note = m.get_pattern_row_channel_command(pattern, row, c, openmpt::module::command_note);
                    const int instrument =
                        m.get_pattern_row_channel_command(pattern, row, c, openmpt::module::command_instrument);
                    if (instrument > 0) instrumentOf[size_t(c)] = instrument;
                    if (note < 1 || note > LastNote) continue;
                    TModuleNote n;
                    n.Seconds = start;
                    n.Channel = c;
                    n.Note = note;
                    n.Instrument = instrumentOf[size_t(c)];
                    n.Order = order;
                    n.Pattern = pattern;
                    n.Row = row;
                    if (m.get_pattern_row_channel_command(pattern, row, c, openmpt::module::command_volumeffect) ==
                        VolumeColumnSetVolume)
                        n.Volume = std::min<int>(
                            m.get_pattern_row_channel_command(pattern, row, c, openmpt::module::command_volume), 64);
                    else if (m.get_pattern_row_channel_command(pattern, row, c, openmpt::module::command_effect) ==
                             EffectSetVolume)
                        n.Volume = std::min<int>(
                            m.get_pattern_row_channel_command(pattern, row, c, openmpt::module::command_parameter), 64);
                    else
                        n.Volume = volumes.Volume(n.Instrument, note);
                    song.Notes.push_back(n);
                }
            }
            if (got == 0) break;
            frames += int64_t(got);
            if (frames > maxFrames) {
                error = "the song plays longer than " + std::to_string(int(MaxSongSeconds)) + " seconds";
                return false;
            }
        }
        song.Seconds = double(frames) / WalkRate;
        song.CutShort = CutShortPlace(data, m, played);
        if (song.RowsPlayed == 0) {
            error = "the song plays no rows";
            return false;
        }
        // Speed ticks of 2.5 / tempo seconds each; a song whose first row
        // is timed otherwise (another tempo mode, a pattern delay) is taken
        // at its measured length.
        const double classic = song.FirstTempo > 0 ? 2.5 * song.FirstSpeed / song.FirstTempo : 0;
        const double measured = secondRowStart > 0 ? secondRowStart : song.Seconds;
        song.FirstRowSeconds = classic > 0 && std::fabs(classic - measured) < 0.001 ? classic : measured;
        return true;
    } catch (const std::exception& e) {
        error = std::string("libopenmpt failed while playing it: ") + e.what();
    }
    return false;
}

bool RenderModule(const std::vector<uint8_t>& data, int sampleRate, TDecodedSound& sound, std::string& error) {
    sound = TDecodedSound{};
    std::unique_ptr<openmpt::module> module = OpenModule(data, false, error);
    if (!module) return false;
    try {
        sound.SampleRate = sampleRate;
        sound.Channels = 2;
        const int64_t maxFrames = limits::MaxSampleBytes / 4;
        std::vector<int16_t> block(2 * 4096);
        std::vector<int> played; // patterns in play order, seen at each block (a pattern lasts longer)
        for (;;) {
            const size_t got = module->read_interleaved_stereo(sampleRate, 4096, block.data());
            if (got == 0) break;
            if (const int pattern = module->get_current_pattern(); played.empty() || played.back() != pattern)
                played.push_back(pattern);
            if (sound.Frames() + int64_t(got) > maxFrames) {
                error =
                    "renders to more than " + std::to_string(limits::MaxSampleBytes / (1024 * 1024)) + " MiB of audio";
                sound = TDecodedSound{};
                return false;
            }
            sound.Samples.insert(sound.Samples.end(), block.begin(), block.begin() + std::ptrdiff_t(2 * got));
        }
        if (sound.Samples.empty()) {
            error = "the module renders no audio";
            return false;
        }
        // Cut short, the missing patterns play as silence without a word
        // from libopenmpt: all silence is an error, some a note to tell.
        if (const std::string cut = CutShortPlace(data, *module, played); !cut.empty()) {
            if (std::all_of(sound.Samples.begin(), sound.Samples.end(), [](int16_t v) { return v == 0; })) {
                error = "the file is cut short (" + cut + " lies past its end) and renders only silence";
                sound = TDecodedSound{};
                return false;
            }
            sound.Note = "the file is cut short: " + cut + " lies past its end and plays as silence";
        }
        return true;
    } catch (const std::exception& e) {
        error = std::string("libopenmpt failed while rendering it: ") + e.what();
    }
    sound = TDecodedSound{};
    return false;
}

double SuggestedModuleBpm(const TModuleSong& song, int rowsPerBeat) {
    rowsPerBeat = std::max(rowsPerBeat, 1);
    if (song.TempoChanges > 0 && song.Seconds > 0 && song.RowsPlayed > 0)
        return 60.0 * double(song.RowsPlayed) / (rowsPerBeat * song.Seconds);
    return 60.0 / (rowsPerBeat * song.FirstRowSeconds);
}
