#include "tool.h"

#include "detect.h"
#include "grid_text.h"
#include "shift.h"
#include "tracks_files.h"

#include "base/limits.h"
#include "base/output.h"
#include "media/note_grid.h"
#include "media/song_import.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

constexpr const char* Usage = R"(usage: corvala-tracker COMMAND ...

Makes tracker files (the note grid a demo script's TRACKER line names) from
songs and recordings, and shows or edits them as text.

  import SONG -o OUT.trk [--bpm N] [--rows-per-beat N] [--instruments]
         [--min-volume V] [--channels LIST] [--tracks]
      SONG is a tracker module (MOD, XM, S3M, IT, ...) or a Standard MIDI
      File, told apart by content. Each note goes to the engine row nearest
      to its true time at the BPM (default: the song's own at its start,
      printed to be written in the script).
        --bpm N            make the grid for this BPM
        --rows-per-beat N  module rows to one beat of the song (default 4)
        --instruments      modules: note byte = instrument number
        --min-volume V     leave out notes below volume V (modules: 0-64,
                           MIDI: velocity 0-127)
        --channels LIST    keep only these channels (from 1), e.g. 1,3,5-8;
                           MIDI: MIDI channels (or tracks with --tracks)
        --tracks           MIDI: one group of tracker channels per track
                           instead of per MIDI channel
  detect MUSIC -o OUT.trk [--bpm N]
      For a recording (WAV, OGG, FLAC, MP3): finds the tempo (unless given)
      and writes onsets as note 1 on their nearest rows: channel 0 every
      onset, 1 low (kick), 2 mid (snare), 3 high (hats); channel 4 the beat
      grid on the rows of the music's beats (1 each beat, 2 on each bar's
      first beat). Warns when less than a third of the onsets fall on the
      rows: then give the song's tempo with --bpm.
  shift FILE.trk ROWS -o OUT.trk
      Moves every note ROWS rows later (negative: earlier), for a grid a
      row off or a recording that starts with silence. The grid keeps its
      size; notes moved before row 0 or past the last row are left out and
      counted in a warning.
  show FILE.trk [--from POSITION] [--rows N]
      The grid as a pattern view; POSITION is P:B:b:r or a row number;
      64 rows by default.
  text FILE.trk
      Writes the grid as plain text to standard output.
  build TEXT -o FILE.trk
      Reads that text back into a tracker file (the round trip is exact).
  tracks import EDITOR.rocket -o FILE.tracks
  tracks import --track-dir DIR [--base NAME] -o FILE.tracks
      A sync-tracker editor's project file (XML), or the players' binary
      NAME_TRACK.track files (base "sync" by default), as a tracks file.
  tracks export FILE.tracks -o EDITOR.rocket [--rows N]
  tracks export FILE.tracks --track-dir DIR [--base NAME]
      A tracks file as an editor project (N rows: the tracker's row count;
      by default the patterns up to the last key and one more) or as one
      binary .track file per track. Every key survives a round trip.
)";

// Largest song or text file read (bytes).
constexpr int64_t MaxInputBytes = 256LL * 1024 * 1024;

struct TArgs {
    std::vector<std::string> Positional;
    std::map<std::string, std::string> Values;
    std::map<std::string, bool> Flags;
};

// Splits arguments into positional ones, options taking a value and flags.
bool SplitArgs(const std::vector<std::string>& args, const std::vector<std::string>& valued,
               const std::vector<std::string>& flags, TArgs& parsed, std::string& error) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        // "-3" is a number (shift's ROWS), not an option.
        if (a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9')) {
            if (std::find(flags.begin(), flags.end(), a) != flags.end()) {
                parsed.Flags[a] = true;
                continue;
            }
            if (std::find(valued.begin(), valued.end(), a) == valued.end()) {
                error = "unknown option " + a + " for " + args[0];
                return false;
            }
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            parsed.Values[a] = args[++i];
            continue;
        }
        parsed.Positional.push_back(a);
    }
    return true;
}

bool ParseNumber(const std::string& text, double low, double high, double& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value) && value >= low && value <= high;
}

bool ParseInteger(const std::string& text, int low, int high, int& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= low && value <= high;
}

// "1,3,5-8": numbers from 1 to 4096.
bool ParseList(const std::string& text, std::vector<int>& list) {
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        const size_t dash = part.find('-');
        int first = 0, last = 0;
        if (dash == std::string::npos) {
            if (!ParseInteger(part, 1, 4096, first)) return false;
            last = first;
        } else if (!ParseInteger(part.substr(0, dash), 1, 4096, first) ||
                   !ParseInteger(part.substr(dash + 1), 1, 4096, last) || last < first) {
            return false;
        }
        for (int n = first; n <= last; ++n) list.push_back(n);
    }
    return !list.empty() && text.back() != ',';
}

// The one writer: a full disk or a crash leaves an earlier file as it was.
bool WriteFile(const std::string& name, const std::vector<uint8_t>& bytes, std::ostream& err) {
    std::string error;
    if (!WriteFileWhole(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error)) {
        err << "corvala-tracker: " << error << "\n";
        return false;
    }
    return true;
}

// An output named like the command's own input (also through a link) is a
// command-line mistake, told before anything is read.
bool OutputIsNotInput(const std::string& output, const std::string& input, std::ostream& err) {
    std::string error;
    if (CheckOutputPath(output, {input}, "the tracker file", error)) return true;
    err << "corvala-tracker: " << error << "\n";
    return false;
}

bool ReadGrid(const std::string& name, TNoteGrid& grid, std::ostream& err) {
    std::vector<uint8_t> data;
    std::string error;
    if (!ReadWholeFile(name, 8 + limits::MaxTrackerCells + 1, data, error) ||
        !DecodeTrackerFile(name, data, grid, error)) {
        err << "corvala-tracker: " << error << "\n";
        return false;
    }
    return true;
}

std::string Decimal(double value, int decimals) { return DecimalText(value, decimals); }

// The kind of recording the bytes start like (WAV, OGG, FLAC, MP3), or ""
// for anything else.
std::string RecordingKind(const std::vector<uint8_t>& data) {
    const auto starts = [&](const char* magic, size_t at = 0) {
        const std::string m(magic);
        return data.size() >= at + m.size() && std::equal(m.begin(), m.end(), data.begin() + std::ptrdiff_t(at));
    };
    if (starts("RIFF") && starts("WAVE", 8)) return "WAV";
    if (starts("OggS")) return "OGG";
    if (starts("fLaC")) return "FLAC";
    if (starts("ID3") || (data.size() >= 2 && data[0] == 0xFF && (data[1] & 0xE0) == 0xE0)) return "MP3";
    return "";
}

int Import(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TArgs a;
    std::string error;
    if (!SplitArgs(args, {"-o", "--bpm", "--rows-per-beat", "--min-volume", "--channels"},
                   {"--instruments", "--tracks"}, a, error)) {
        err << "corvala-tracker: " << error << "\n";
        return 2;
    }
    if (a.Positional.size() != 1 || !a.Values.count("-o")) {
        err << "corvala-tracker: import needs one SONG and -o OUT.trk\n";
        return 2;
    }
    if (!OutputIsNotInput(a.Values["-o"], a.Positional[0], err)) return 2;
    TImportOptions options;
    options.Instruments = a.Flags.count("--instruments") > 0;
    options.Tracks = a.Flags.count("--tracks") > 0;
    if (a.Values.count("--bpm") && !ParseNumber(a.Values["--bpm"], 1, 100000, options.Bpm)) {
        err << "corvala-tracker: --bpm needs a number from 1 to 100000, not \"" << a.Values["--bpm"] << "\"\n";
        return 2;
    }
    if (a.Values.count("--rows-per-beat") && !ParseInteger(a.Values["--rows-per-beat"], 1, 64, options.RowsPerBeat)) {
        err << "corvala-tracker: --rows-per-beat needs a whole number from 1 to 64\n";
        return 2;
    }
    if (a.Values.count("--min-volume") && !ParseInteger(a.Values["--min-volume"], 0, 127, options.MinVolume)) {
        err << "corvala-tracker: --min-volume needs a whole number from 0 to 127\n";
        return 2;
    }
    if (a.Values.count("--channels") && !ParseList(a.Values["--channels"], options.Channels)) {
        err << "corvala-tracker: --channels needs a list of channel numbers from 1, like 1,3,5-8\n";
        return 2;
    }
    const std::string& song = a.Positional[0];
    std::vector<uint8_t> data;
    TImportResult result;
    if (!ReadWholeFile(song, MaxInputBytes, data, error)) {
        err << "corvala-tracker: " << error << "\n";
        return 1;
    }
    if (!ImportSong(data, options, result, error)) {
        if (const std::string kind = RecordingKind(data); !kind.empty())
            error = "a " + kind +
                    " recording holds sound, not notes: make its tracker file with "
                    "corvala-tracker detect " +
                    song + " -o " + a.Values["-o"] + " (it finds the tempo and the beats)";
        err << "corvala-tracker: " << song << ": " << error << "\n";
        return 1;
    }
    out << song << ": " << result.Kind << "\n";
    out << "  length: " << Decimal(result.Seconds, 3) << " s, " << result.SongRows
        << (result.Kind.rfind("MIDI", 0) == 0 ? " rows at the song's tempo" : " module rows") << "\n";
    out << (result.TempoChanges ? "  the song's average tempo: " : "  the song's own tempo: ")
        << Decimal(result.SongBpm, 6) << " BPM\n";
    out << "  write in the script:  BPM " << Decimal(result.Bpm, 3);
    if (options.Bpm > 0)
        out << "   (given with --bpm)\n";
    else if (result.TempoChanges)
        out << "   (the song's average beat: its tempo changes)\n";
    else if (double(result.Bpm) != result.SongBpm)
        out << "   (exactly " << Decimal(result.SongBpm, 9) << ")\n";
    else
        out << "   (exact)\n";
    for (const std::string& line : result.ChannelMap) out << "  " << line << "\n";
    if (result.NotesQuiet > 0)
        out << "  " << result.NotesQuiet << " notes below volume " << options.MinVolume << " left out\n";
    for (const std::string& line : result.Warnings) err << "corvala-tracker: " << song << ": warning: " << line << "\n";
    if (!WriteFile(a.Values["-o"], EncodeTrackerFile(result.Grid), err)) return 1;
    out << "wrote " << a.Values["-o"] << ": " << result.Grid.Channels.size() << " channels, " << result.Grid.Rows
        << " rows, " << result.NotesWritten << " notes\n";
    return 0;
}

int Detect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TArgs a;
    std::string error;
    if (!SplitArgs(args, {"-o", "--bpm"}, {}, a, error)) {
        err << "corvala-tracker: " << error << "\n";
        return 2;
    }
    if (a.Positional.size() != 1 || !a.Values.count("-o")) {
        err << "corvala-tracker: detect needs one MUSIC file and -o OUT.trk\n";
        return 2;
    }
    if (!OutputIsNotInput(a.Values["-o"], a.Positional[0], err)) return 2;
    double bpm = 0;
    if (a.Values.count("--bpm") && !ParseNumber(a.Values["--bpm"], 1, 100000, bpm)) {
        err << "corvala-tracker: --bpm needs a number from 1 to 100000, not \"" << a.Values["--bpm"] << "\"\n";
        return 2;
    }
    TDetectResult result;
    if (!DetectMusicFile(a.Positional[0], bpm, result, error)) {
        err << "corvala-tracker: " << a.Positional[0] << ": " << error << "\n";
        return 1;
    }
    out << a.Positional[0] << ": " << Decimal(result.Seconds, 3) << " s of music\n";
    if (bpm > 0)
        out << "  tempo given: " << Decimal(result.Bpm, 3) << " BPM\n";
    else
        out << "  tempo found: " << Decimal(result.DetectedBpm, 3) << " BPM\n";
    out << "  write in the script:  BPM " << Decimal(result.Bpm, 3) << "\n";
    out << "  onsets: " << result.Onsets << " (low " << result.Low << ", mid " << result.Mid << ", high " << result.High
        << ")\n";
    const double offsetMs = 1000 * result.RowOffset;
    out << "  on the rows: " << Decimal(100 * result.Confidence, 0) << "% of the onsets (a fifth at random), "
        << Decimal(std::fabs(offsetMs), 0) << " ms " << (offsetMs < 0 ? "before" : "after")
        << " the rows' start on average\n";
    out << "  beats (channel 4): " << result.Beats << " from row " << result.FirstBeatRow << " ("
        << Decimal(result.FirstBeat, 3) << " s), bars from row " << result.FirstBarRow << "\n";
    for (const std::string& line : result.Warnings)
        err << "corvala-tracker: " << a.Positional[0] << ": warning: " << line << "\n";
    if (!WriteFile(a.Values["-o"], EncodeTrackerFile(result.Grid), err)) return 1;
    out << "wrote " << a.Values["-o"] << ": " << result.Grid.Channels.size() << " channels, " << result.Grid.Rows
        << " rows\n";
    return 0;
}

int Shift(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TArgs a;
    std::string error;
    if (!SplitArgs(args, {"-o"}, {}, a, error)) {
        err << "corvala-tracker: " << error << "\n";
        return 2;
    }
    if (a.Positional.size() != 2 || !a.Values.count("-o")) {
        err << "corvala-tracker: shift needs FILE.trk, ROWS and -o OUT.trk\n";
        return 2;
    }
    const std::string& input = a.Positional[0];
    const std::string text =
        a.Positional[1].size() > 1 && a.Positional[1][0] == '+' ? a.Positional[1].substr(1) : a.Positional[1];
    int rows = 0;
    if (!ParseInteger(text, -INT32_MAX, INT32_MAX, rows)) {
        err << "corvala-tracker: ROWS needs a whole number of rows (negative: earlier), not \"" << a.Positional[1]
            << "\"\n";
        return 2;
    }
    if (!OutputIsNotInput(a.Values["-o"], input, err)) return 2;
    TNoteGrid grid;
    if (!ReadGrid(input, grid, err)) return 1;
    const TShiftResult shifted = ShiftGrid(grid, rows);
    if (shifted.BeforeStart > 0 || shifted.PastEnd > 0) {
        err << "corvala-tracker: " << input << ": warning: left out ";
        if (shifted.BeforeStart > 0)
            err << shifted.BeforeStart << " note" << (shifted.BeforeStart == 1 ? "" : "s") << " moved before row 0";
        if (shifted.BeforeStart > 0 && shifted.PastEnd > 0) err << " and ";
        if (shifted.PastEnd > 0)
            err << shifted.PastEnd << " note" << (shifted.PastEnd == 1 ? "" : "s") << " moved past the last row ("
                << grid.Rows - 1 << ")";
        err << "\n";
    }
    if (!WriteFile(a.Values["-o"], EncodeTrackerFile(shifted.Grid), err)) return 1;
    out << "wrote " << a.Values["-o"] << ": " << shifted.Grid.Channels.size() << " channels, " << shifted.Grid.Rows
        << " rows, " << shifted.Moved << " notes " << std::abs(rows) << (std::abs(rows) == 1 ? " row " : " rows ")
        << (rows < 0 ? "earlier" : "later") << "\n";
    return 0;
}

int Show(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TArgs a;
    std::string error;
    if (!SplitArgs(args, {"--from", "--rows"}, {}, a, error)) {
        err << "corvala-tracker: " << error << "\n";
        return 2;
    }
    if (a.Positional.size() != 1) {
        err << "corvala-tracker: show needs one FILE.trk\n";
        return 2;
    }
    int64_t from = 0;
    int rows = 64;
    if (a.Values.count("--from") && !ParsePosition(a.Values["--from"], from)) {
        err << "corvala-tracker: --from needs a position P:B:b:r or a row number, not \"" << a.Values["--from"]
            << "\"\n";
        return 2;
    }
    if (a.Values.count("--rows") && !ParseInteger(a.Values["--rows"], 1, INT32_MAX, rows)) {
        err << "corvala-tracker: --rows needs a whole number above 0\n";
        return 2;
    }
    TNoteGrid grid;
    if (!ReadGrid(a.Positional[0], grid, err)) return 1;
    out << a.Positional[0] << ": " << grid.Channels.size() << " channels, " << grid.Rows << " rows\n";
    if (from >= grid.Rows) {
        out << "(position " << PositionText(from) << " is past the last row)\n";
        return 0;
    }
    out << ShowGrid(grid, from, rows);
    return 0;
}

int Text(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) {
        err << "corvala-tracker: text needs one FILE.trk\n";
        return 2;
    }
    TNoteGrid grid;
    if (!ReadGrid(args[1], grid, err)) return 1;
    out << GridToText(grid);
    return 0;
}

int Build(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TArgs a;
    std::string error;
    if (!SplitArgs(args, {"-o"}, {}, a, error)) {
        err << "corvala-tracker: " << error << "\n";
        return 2;
    }
    if (a.Positional.size() != 1 || !a.Values.count("-o")) {
        err << "corvala-tracker: build needs one TEXT file and -o FILE.trk\n";
        return 2;
    }
    if (!OutputIsNotInput(a.Values["-o"], a.Positional[0], err)) return 2;
    std::vector<uint8_t> data;
    TNoteGrid grid;
    if (!ReadWholeFile(a.Positional[0], MaxInputBytes, data, error) ||
        !GridFromText(a.Positional[0], std::string(data.begin(), data.end()), grid, error)) {
        err << "corvala-tracker: " << error << "\n";
        return 1;
    }
    if (!WriteFile(a.Values["-o"], EncodeTrackerFile(grid), err)) return 1;
    out << "wrote " << a.Values["-o"] << ": " << grid.Channels.size() << " channels, " << grid.Rows << " rows\n";
    return 0;
}

} // namespace

int RunTrackerTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        (args.empty() ? err : out) << Usage;
        return args.empty() ? 2 : 0;
    }
    // An output written to standard output (-o /dev/stdout) keeps it for
    // the bytes alone: what the command tells goes to standard error.
    for (size_t i = 1; i + 1 < args.size() && &out != &err; ++i)
        if (args[i] == "-o" && IsStandardOutput(args[i + 1])) return RunTrackerTool(args, err, err);
    const std::string& command = args[0];
    if (command == "import") return Import(args, out, err);
    if (command == "detect") return Detect(args, out, err);
    if (command == "shift") return Shift(args, out, err);
    if (command == "show") return Show(args, out, err);
    if (command == "text") return Text(args, out, err);
    if (command == "build") return Build(args, out, err);
    if (command == "tracks") return TracksCommand(args, out, err);
    err << "corvala-tracker: unknown command \"" << command << "\" (try --help)\n";
    return 2;
}
