#include "tracks_files.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

#include "base/output.h"
#include "media/note_grid.h"

namespace {

namespace fs = std::filesystem;

// Largest editor project or track file read (bytes).
constexpr int64_t MaxProjectBytes = 256LL * 1024 * 1024;

struct TTag {
    std::string Name;
    std::map<std::string, std::string> Attributes;
    bool End = false;         // </name>
    bool SelfClosing = false; // <name ... />
    int Line = 1;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string DecodeEntities(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const size_t semi = text.find(';', i);
        if (semi == std::string::npos || semi - i > 10) {
            out += text[i];
            continue;
        }
        const std::string entity = text.substr(i + 1, semi - i - 1);
        static const std::map<std::string, char> named = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        if (named.count(entity)) {
            out += named.at(entity);
        } else if (entity.size() > 1 && entity[0] == '#') {
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const long code = std::strtol(entity.c_str() + (hex ? 2 : 1), nullptr, hex ? 16 : 10);
            // Track names are ASCII; anything else stays a character the
            // name check refuses.
            out += code > 0 && code < 128 ? char(code) : '?';
        } else {
            out += text.substr(i, semi - i + 1);
        }
        i = semi;
    }
    return out;
}

std::string EscapeAttribute(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The next element tag from `at`, skipping text, comments, declarations and
// processing instructions. False at the end of the text, or with `error`
// set for a tag that does not close.
bool NextTag(const std::string& text, size_t& at, int& line, TTag& tag, std::string& error) {
    auto advance = [&](size_t to) {
        line += int(std::count(text.begin() + std::ptrdiff_t(at), text.begin() + std::ptrdiff_t(to), '\n'));
        at = to;
    };
    for (;;) {
        const size_t open = text.find('<', at);
        if (open == std::string::npos) return false;
        advance(open);
        const char* skipTo = text.compare(at, 4, "<!--") == 0 ? "-->"
                             : text.compare(at, 2, "<?") == 0 ? "?>"
                             : text.compare(at, 2, "<!") == 0 ? ">"
                                                              : nullptr;
        if (skipTo) {
            const size_t close = text.find(skipTo, at);
            if (close == std::string::npos) {
                error = "a comment or declaration that never ends";
                return false;
            }
            advance(close + std::strlen(skipTo));
            continue;
        }
        break;
    }
    tag = TTag{};
    tag.Line = line;
    size_t i = at + 1;
    if (i < text.size() && text[i] == '/') {
        tag.End = true;
        ++i;
    }
    const size_t nameStart = i;
    while (i < text.size() && !IsSpace(text[i]) && text[i] != '>' && text[i] != '/') ++i;
    tag.Name = text.substr(nameStart, i - nameStart);
    for (;;) {
        while (i < text.size() && IsSpace(text[i])) ++i;
        if (i >= text.size()) break;
        if (text[i] == '>') {
            advance(i + 1);
            return true;
        }
        if (text.compare(i, 2, "/>") == 0) {
            tag.SelfClosing = true;
            advance(i + 2);
            return true;
        }
        const size_t keyStart = i;
        while (i < text.size() && !IsSpace(text[i]) && text[i] != '=' && text[i] != '>') ++i;
        const std::string key = text.substr(keyStart, i - keyStart);
        while (i < text.size() && IsSpace(text[i])) ++i;
        if (i >= text.size() || text[i] != '=') break;
        ++i;
        while (i < text.size() && IsSpace(text[i])) ++i;
        if (i >= text.size() || (text[i] != '"' && text[i] != '\'')) break;
        const size_t close = text.find(text[i], i + 1);
        if (close == std::string::npos) break;
        tag.Attributes[key] = DecodeEntities(text.substr(i + 1, close - i - 1));
        i = close + 1;
    }
    error = "the <" + tag.Name + "> tag is malformed or never closes";
    return false;
}

bool ParseRow(const std::string& text, int32_t& row) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) return false;
    row = int32_t(value);
    return true;
}

void PutLE32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(value >> shift));
}

uint32_t ReadLE32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

} // namespace

std::string WriteEditorProject(const TTracks& tracks, int32_t rows) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<sync rows=\"" + std::to_string(rows) + "\">\n\t<tracks>\n";
    for (const TTrack& track : tracks.Tracks) {
        xml += "\t\t<track name=\"" + EscapeAttribute(track.Name) + "\">\n";
        for (const TTrackKey& key : track.Keys)
            xml += "\t\t\t<key row=\"" + std::to_string(key.Row) + "\" value=\"" + KeyValueText(key.Value) +
                   "\" interpolation=\"" + std::to_string(int(key.Type)) + "\"/>\n";
        xml += "\t\t</track>\n";
    }
    return xml + "\t</tracks>\n</sync>\n";
}

bool ReadEditorProject(const std::string& name, const std::string& text, TTracks& tracks, std::string& error) {
    size_t at = 0;
    int line = 1;
    TTag tag;
    TTrack* current = nullptr;
    bool sawSync = false;
    auto fail = [&](const std::string& message) {
        error = name + ":" + std::to_string(tag.Line) + ": " + message;
        return false;
    };
    std::string why;
    while (NextTag(text, at, line, tag, why)) {
        if (tag.Name == "sync" && !tag.End) sawSync = true;
        if (tag.Name == "track") {
            if (tag.End) {
                current = nullptr;
                continue;
            }
            TTrack track;
            track.Name = tag.Attributes["name"];
            track.Line = tag.Line;
            if (!ParseTrackName(track.Name, track.Slot, track.Field, why)) return fail(why);
            if (tracks.Find(track.Name)) return fail("track " + track.Name + " comes twice");
            tracks.Tracks.push_back(std::move(track));
            current = tag.SelfClosing ? nullptr : &tracks.Tracks.back();
        } else if (tag.Name == "key" && !tag.End) {
            if (!current) return fail("a <key> outside a <track>");
            TTrackKey key;
            key.Line = tag.Line;
            const std::string type = tag.Attributes.count("interpolation") ? tag.Attributes["interpolation"] : "0";
            if (!ParseRow(tag.Attributes["row"], key.Row))
                return fail("key row '" + tag.Attributes["row"] + "' is not a whole number from 0");
            if (!ParseKeyValue(tag.Attributes["value"], key.Value, why)) return fail(why);
            if (type.size() != 1 || type[0] < '0' || type[0] > '3')
                return fail("interpolation '" + type + "' is not 0 (step), 1 (linear), 2 (smooth) or 3 (ramp)");
            key.Type = TKeyType(type[0] - '0');
            current->SetKey(key);
        }
    }
    if (!why.empty()) {
        tag.Line = line;
        return fail(why);
    }
    if (!sawSync) {
        error = name + ": not an editor project: no <sync> element";
        return false;
    }
    return true;
}

std::string TrackFileName(const std::string& base, const std::string& trackName) {
    static const char hex[] = "0123456789ABCDEF";
    std::string name = base + "_";
    for (unsigned char c : trackName) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
            c == '/')
            name += char(c);
        else
            name += std::string("-") + hex[c >> 4] + hex[c & 15];
    }
    return name + ".track";
}

bool TrackNameFromFile(const std::string& base, const std::string& fileName, std::string& trackName) {
    const std::string prefix = base + "_", suffix = ".track";
    if (fileName.size() <= prefix.size() + suffix.size() || fileName.compare(0, prefix.size(), prefix) != 0 ||
        fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string escaped = fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
    trackName.clear();
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '-') {
            trackName += escaped[i];
            continue;
        }
        if (i + 2 >= escaped.size() || !std::isxdigit(static_cast<unsigned char>(escaped[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(escaped[i + 2])))
            return false;
        trackName += char(std::strtol(escaped.substr(i + 1, 2).c_str(), nullptr, 16));
        i += 2;
    }
    return true;
}

std::vector<uint8_t> EncodeTrackFile(const TTrack& track) {
    std::vector<uint8_t> data;
    data.reserve(4 + 9 * track.Keys.size());
    PutLE32(data, uint32_t(track.Keys.size()));
    for (const TTrackKey& key : track.Keys) {
        uint32_t bits = 0;
        std::memcpy(&bits, &key.Value, 4);
        PutLE32(data, uint32_t(key.Row));
        PutLE32(data, bits);
        data.push_back(uint8_t(key.Type));
    }
    return data;
}

bool DecodeTrackFile(const std::string& name, const std::vector<uint8_t>& data, TTrack& track, std::string& error) {
    if (data.size() < 4) {
        error = name + ": " + std::to_string(data.size()) + " bytes, shorter than the 4-byte key count";
        return false;
    }
    const int64_t count = int32_t(ReadLE32(data.data()));
    if (count < 0 || uint64_t(data.size()) != 4 + 9 * uint64_t(count)) {
        error = name + ": the key count " + std::to_string(count) + " needs " +
                std::to_string(4 + 9 * std::max<int64_t>(count, 0)) + " bytes, the file has " +
                std::to_string(data.size());
        return false;
    }
    track.Keys.clear();
    for (int64_t k = 0; k < count; ++k) {
        const uint8_t* p = data.data() + 4 + 9 * k;
        TTrackKey key;
        key.Row = int32_t(ReadLE32(p));
        const uint32_t bits = ReadLE32(p + 4);
        std::memcpy(&key.Value, &bits, 4);
        const std::string where = name + ": key " + std::to_string(k) + " (byte " + std::to_string(4 + 9 * k) + ")";
        if (key.Row < 0 || (!track.Keys.empty() && key.Row <= track.Keys.back().Row)) {
            error = where + ": row " + std::to_string(key.Row) + " is negative or not after the key before";
            return false;
        }
        if (!std::isfinite(key.Value)) {
            error = where + ": the value is not a finite number";
            return false;
        }
        if (p[8] > 3) {
            error = where + ": interpolation " + std::to_string(p[8]) + " (0 to 3)";
            return false;
        }
        key.Type = TKeyType(p[8]);
        track.Keys.push_back(key);
    }
    return true;
}

namespace {

struct TTracksArgs {
    std::vector<std::string> Positional;
    std::map<std::string, std::string> Values;
};

bool SplitTracksArgs(const std::vector<std::string>& args, TTracksArgs& parsed, std::string& error) {
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 1 && a[0] == '-') {
            if (a != "-o" && a != "--track-dir" && a != "--base" && a != "--rows") {
                error = "unknown option " + a + " for tracks " + args[1];
                return false;
            }
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            parsed.Values[a] = args[++i];
        } else {
            parsed.Positional.push_back(a);
        }
    }
    return true;
}

bool ReadText(const std::string& name, std::string& text, std::string& error) {
    std::vector<uint8_t> data;
    if (!ReadWholeFile(name, MaxProjectBytes, data, error)) return false;
    text.assign(data.begin(), data.end());
    return true;
}

// A tracks file, its problems printed as FILE:LINE: error|warning: ...
bool ReadTracksInput(const std::string& name, TTracks& tracks, std::ostream& err) {
    std::string text, error;
    if (!ReadText(name, text, error)) {
        err << "corvala-tracker: " << error << "\n";
        return false;
    }
    tracks.Files.push_back({name, name, text});
    std::vector<TTracksProblem> problems;
    const bool good = ReadTracksText(text, 0, tracks, problems);
    for (const TTracksProblem& problem : problems)
        err << name << ":" << problem.Line << ": " << (problem.Error ? "error: " : "warning: ") << problem.Message
            << "\n";
    return good;
}

bool WriteOutput(const std::string& path, std::string_view bytes, std::ostream& err) {
    std::string error;
    if (WriteFileWhole(path, bytes, error)) return true;
    err << "corvala-tracker: " << error << "\n";
    return false;
}

size_t KeyCount(const TTracks& tracks) {
    size_t keys = 0;
    for (const TTrack& track : tracks.Tracks) keys += track.Keys.size();
    return keys;
}

int Import(const TTracksArgs& a, std::ostream& out, std::ostream& err) {
    const bool fromDir = a.Values.count("--track-dir") > 0;
    if (!a.Values.count("-o") || a.Positional.size() != (fromDir ? 0u : 1u) || a.Values.count("--rows")) {
        err << "corvala-tracker: tracks import needs EDITOR.rocket -o FILE.tracks, or --track-dir DIR "
               "[--base NAME] -o FILE.tracks\n";
        return 2;
    }
    const std::string output = a.Values.at("-o");
    const std::string input = fromDir ? a.Values.at("--track-dir") : a.Positional[0];
    std::string error;
    if (!CheckOutputPath(output, {input}, "the tracks file", error)) {
        err << "corvala-tracker: " << error << "\n";
        return 2;
    }
    TTracks tracks;
    tracks.Files.push_back({output, output, {}});
    if (!fromDir) {
        std::string text;
        if (!ReadText(input, text, error) || !ReadEditorProject(input, text, tracks, error)) {
            err << "corvala-tracker: " << error << "\n";
            return 1;
        }
    } else {
        const std::string base = a.Values.count("--base") ? a.Values.at("--base") : "sync";
        std::error_code ec;
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(input, ec))
            if (entry.is_regular_file()) files.push_back(entry.path());
        if (ec) {
            err << "corvala-tracker: cannot read the folder " << input << ": " << ec.message() << "\n";
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            TTrack track;
            if (!TrackNameFromFile(base, file.filename().string(), track.Name)) continue;
            std::vector<uint8_t> data;
            if (!ParseTrackName(track.Name, track.Slot, track.Field, error) ||
                !ReadWholeFile(file.string(), MaxProjectBytes, data, error) ||
                !DecodeTrackFile(file.string(), data, track, error)) {
                err << "corvala-tracker: " << (error.rfind(file.string(), 0) == 0 ? "" : file.string() + ": ") << error
                    << "\n";
                return 1;
            }
            tracks.Tracks.push_back(std::move(track));
        }
        if (tracks.Tracks.empty()) {
            err << "corvala-tracker: no " << base << "_*.track files in " << input << "\n";
            return 1;
        }
    }
    if (!WriteOutput(output, WriteTracksText(tracks, 0), err)) return 1;
    out << "wrote " << output << ": " << tracks.Tracks.size() << " tracks, " << KeyCount(tracks) << " keys\n";
    return 0;
}

int Export(const TTracksArgs& a, std::ostream& out, std::ostream& err) {
    const bool toDir = a.Values.count("--track-dir") > 0;
    if (a.Positional.size() != 1 || toDir == (a.Values.count("-o") > 0)) {
        err << "corvala-tracker: tracks export needs FILE.tracks and either -o EDITOR.rocket [--rows N] or "
               "--track-dir DIR [--base NAME]\n";
        return 2;
    }
    const std::string input = a.Positional[0];
    TTracks tracks;
    int32_t rows = 0;
    if (a.Values.count("--rows")) {
        const std::string& text = a.Values.at("--rows");
        if (!ParseRow(text, rows) || rows < 1) {
            err << "corvala-tracker: --rows needs a row count from 1\n";
            return 2;
        }
    }
    std::string error;
    if (!toDir) {
        if (!CheckOutputPath(a.Values.at("-o"), {input}, "the editor project", error)) {
            err << "corvala-tracker: " << error << "\n";
            return 2;
        }
        if (!ReadTracksInput(input, tracks, err)) return 1;
        if (rows == 0) {
            // Without --rows: the whole patterns up to the last key, and one more.
            int32_t last = 0;
            for (const TTrack& track : tracks.Tracks)
                if (!track.Keys.empty()) last = std::max(last, track.Keys.back().Row);
            rows = int32_t(std::min<int64_t>(INT32_MAX, (int64_t(last) / 64 + 2) * 64));
        }
        if (!WriteOutput(a.Values.at("-o"), WriteEditorProject(tracks, rows), err)) return 1;
        out << "wrote " << a.Values.at("-o") << ": " << tracks.Tracks.size() << " tracks, " << KeyCount(tracks)
            << " keys, " << rows << " rows\n";
        return 0;
    }
    const std::string dir = a.Values.at("--track-dir");
    const std::string base = a.Values.count("--base") ? a.Values.at("--base") : "sync";
    if (!ReadTracksInput(input, tracks, err)) return 1;
    std::error_code ec;
    fs::create_directories(dir, ec);
    for (const TTrack& track : tracks.Tracks) {
        const std::string path = (fs::path(dir) / TrackFileName(base, track.Name)).string();
        if (!CheckOutputPath(path, {input}, "a track file", error)) {
            err << "corvala-tracker: " << error << "\n";
            return 2;
        }
        const std::vector<uint8_t> bytes = EncodeTrackFile(track);
        if (!WriteOutput(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), err))
            return 1;
    }
    out << "wrote " << tracks.Tracks.size() << " track files (" << KeyCount(tracks) << " keys) to " << dir << "\n";
    return 0;
}

} // namespace

int TracksCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TTracksArgs a;
    std::string error;
    if (args.size() < 2 || (args[1] != "import" && args[1] != "export")) {
        err << "corvala-tracker: tracks import ... or tracks export ... (try --help)\n";
        return 2;
    }
    if (!SplitTracksArgs(args, a, error)) {
        err << "corvala-tracker: " << error << "\n";
        return 2;
    }
    return args[1] == "import" ? Import(a, out, err) : Export(a, out, err);
}
