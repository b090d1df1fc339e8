#include "app/pack.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/check.h"
#include "app/elf_needs.h"
#include "base/files.h"
#include "base/output.h"
#include "base/process.h"
#include "demo/demo.h"
#include "effects/effect.h"
#include "render/font.h"
#include "render/shader_source.h"

namespace {

namespace fs = std::filesystem;

// The pack's own names at its top; a production file may not take one.
constexpr const char* EngineName = "corvala";
constexpr const char* LibraryFolder = "lib";
constexpr const char* RunScriptName = "run.sh";
constexpr const char* ReadmeName = "README.txt";
constexpr const char* ScreenshotName = "screenshot.png";
// Output of a helper kept for messages; the rest is read and dropped.
constexpr size_t MaxHelperOutput = size_t(1) << 20;

// A failed step: the message is printed and the pack dropped.
struct EPackError {
    std::string Message;
};

[[noreturn]] void Fail(const std::string& message) { throw EPackError{message}; }

// Ctrl-C, a hang-up or a termination while packing: the pack stops at the
// next step and removes what it made, rather than leaving a half-made
// hidden folder beside OUT. A helper in the foreground gets Ctrl-C too.
volatile sig_atomic_t interruptedBy = 0;

void OnInterrupt(int signal) { interruptedBy = signal; }

class TInterruptScope {
public:
    TInterruptScope() {
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(Signals); ++i) sigaction(Signals[i], &action, &previous[i]);
    }
    ~TInterruptScope() {
        for (size_t i = 0; i < std::size(Signals); ++i) sigaction(Signals[i], &previous[i], nullptr);
    }
    TInterruptScope(const TInterruptScope&) = delete;
    TInterruptScope& operator=(const TInterruptScope&) = delete;

private:
    static constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction previous[std::size(Signals)]{};
};

void CheckInterrupted() {
    if (interruptedBy != 0) Fail(std::string("interrupted (") + strsignal(interruptedBy) + ")");
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string SizeText(uintmax_t bytes) {
    char text[32];
    if (bytes >= 1000 * 1000)
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    else
        std::snprintf(text, sizeof text, "%.1f kB", double(bytes) / 1e3);
    return text;
}

std::string MinutesText(double seconds) {
    char text[32];
    const int whole = int(std::floor(seconds / 60));
    std::snprintf(text, sizeof text, "%d:%04.1f", whole, seconds - 60.0 * whole);
    return text;
}

// Runs a helper that must succeed; fails with its output otherwise.
std::string Helper(const std::vector<std::string>& argv, const std::string& what, const std::string& folder = {}) {
    CheckInterrupted();
    TProcessOptions options;
    options.Folder = folder;
    options.CaptureOutput = options.CaptureErrors = true;
    options.OutputLimit = MaxHelperOutput;
    const TProcessRun run = RunProcess(argv, options);
    if (!run.Started) Fail("cannot run " + argv[0] + " to " + what);
    CheckInterrupted();
    if (ExitCode(run.Status) != 0) {
        std::string output = run.Output;
        while (!output.empty() && output.back() == '\n') output.pop_back();
        Fail(argv[0] + " failed to " + what + (output.empty() ? "" : ":\n" + output));
    }
    return run.Output;
}

// Removes a folder tree at the end of the scope unless released.
class TScratch {
public:
    explicit TScratch(std::string folder) : path(std::move(folder)) {}
    ~TScratch() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;
    void Release() { path.clear(); }

private:
    std::string path;
};

// Copies `source` to `destination` through the one writer; `patch`, when
// given, runs on the written copy before it takes its name.
void CopyInto(const std::string& source, const std::string& destination, mode_t mode,
              const std::vector<std::string>& patch = {}) {
    std::error_code ec;
    fs::create_directories(fs::path(destination).parent_path(), ec);
    std::ifstream in(source, std::ios::binary);
    if (!in) Fail("cannot read " + source + ": " + std::strerror(errno));
    TOutputFile out;
    std::string error;
    if (!out.Open(destination, error)) Fail(error);
    std::vector<char> buffer(size_t(1) << 20);
    while (in) {
        CheckInterrupted();
        in.read(buffer.data(), std::streamsize(buffer.size()));
        if (in.gcount() > 0) out.Write(buffer.data(), size_t(in.gcount()));
    }
    if (in.bad()) Fail("cannot read " + source);
    if (!patch.empty()) {
        out.CloseForHelper();
        std::vector<std::string> argv = patch;
        argv.push_back(out.TempPath());
        Helper(argv, "set the library path of " + fs::path(destination).filename().string());
    }
    if (::chmod(out.TempPath().c_str(), mode) != 0) Fail("cannot set the mode of " + destination);
    if (!out.Commit(error)) Fail(error);
}

void WriteText(const std::string& destination, const std::string& text, mode_t mode) {
    TOutputFile out;
    std::string error;
    if (!out.Open(destination, error)) Fail(error);
    out.Write(text);
    if (::chmod(out.TempPath().c_str(), mode) != 0) Fail("cannot set the mode of " + destination);
    if (!out.Commit(error)) Fail(error);
}

// What the pre-flight learnt of the production.
struct TProductionFacts {
    bool Passed = false;
    std::string Name, Group, Party, Year;
    int32_t Width = 0, Height = 0;
    double Start = 0; // demo seconds
    double End = 0;   // demo seconds
    double Speed = 1;
    int32_t GLSL = 0; // the newest GLSL a shader effect needs; 0 none
};

TProductionFacts ReadFacts(const TCDemo& demo) {
    TProductionFacts facts;
    facts.Passed = true;
    facts.Name = demo.DemoName;
    facts.Group = demo.GroupName;
    facts.Party = demo.PartyName;
    facts.Year = demo.YearText;
    facts.Width = demo.ResolutionX;
    facts.Height = demo.ResolutionY;
    facts.Start = demo.StartTime;
    facts.End = PlaySeconds(demo);
    facts.Speed = demo.Speed > 0 ? demo.Speed : 1;
    const auto readShader = [](const std::string& path, std::string& text, std::string& why) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return why = "cannot be read", false;
        std::ostringstream bytes;
        bytes << in.rdbuf();
        text = bytes.str();
        return true;
    };
    for (size_t slot = 0; slot < demo.Effects.size() && slot < demo.EffectTypeNames.size(); ++slot) {
        if (!demo.Effects[slot] || demo.EffectTypeNames[slot] != "shader") continue;
        facts.GLSL = std::max(facts.GLSL, AssembleShader(demo.Effects[slot]->A, readShader).NeededVersion);
    }
    return facts;
}

// "OpenGL 2.1 (GLSL 1.20)" for what the production's shaders need.
std::string GLNeedText(int32_t glsl) {
    if (glsl <= 0) return "OpenGL 1.1 or newer in a compatibility context (the production uses no shaders)";
    std::string gl;
    if (glsl <= 110)
        gl = "2.0";
    else if (glsl <= 120)
        gl = "2.1";
    else if (glsl < 330)
        gl = "3." + std::to_string((glsl - 120) / 10 - 1);
    else
        gl = std::to_string(glsl / 100) + "." + std::to_string(glsl % 100 / 10);
    return "OpenGL " + gl + " or newer in a compatibility context (its shaders need GLSL " + GLSLVersionText(glsl) +
           ")";
}

// soname -> the file the dynamic linker loads for the engine, from ldd.
std::map<std::string, std::string> ResolvedLibraries(const std::string& engine) {
    std::map<std::string, std::string> found;
    std::istringstream lines(Helper({"ldd", engine}, "list the engine's libraries"));
    std::string line;
    while (std::getline(lines, line)) {
        const size_t arrow = line.find(" => ");
        if (arrow == std::string::npos) continue;
        std::string name = line.substr(0, arrow);
        name.erase(0, name.find_first_not_of(" \t"));
        std::string path = line.substr(arrow + 4);
        const size_t address = path.rfind(" (0x");
        if (address != std::string::npos) path.resize(address);
        if (path == "not found") path.clear();
        found[name] = path;
    }
    return found;
}

struct TLibrary {
    std::string Soname;
    std::string Source; // the file copied, links followed
};

// The libraries to bundle: what the engine needs, and what those need, up
// to the first library of the system set on each path.
std::vector<TLibrary> LibrariesToBundle(const std::string& engine, std::set<std::string>& systemUsed) {
    const std::map<std::string, std::string> resolved = ResolvedLibraries(engine);
    TElfNeeds needs;
    std::string error;
    if (!ReadElfNeeds(engine, needs, error)) Fail(error);
    std::vector<std::string> queue = needs.Needed;
    std::set<std::string> seen;
    std::vector<TLibrary> libraries;
    for (size_t next = 0; next < queue.size(); ++next) {
        const std::string soname = queue[next];
        if (!seen.insert(soname).second) continue;
        if (IsSystemLibrary(soname)) {
            systemUsed.insert(soname);
            continue;
        }
        const auto at = resolved.find(soname);
        if (at == resolved.end() || at->second.empty())
            Fail("the engine needs " + soname + ", which the dynamic linker does not find here (ldd " + engine + ")");
        std::error_code ec;
        const fs::path source = fs::canonical(at->second, ec);
        if (ec) Fail("cannot resolve " + at->second + ": " + ec.message());
        TElfNeeds libraryNeeds;
        if (!ReadElfNeeds(source.string(), libraryNeeds, error)) Fail(error);
        queue.insert(queue.end(), libraryNeeds.Needed.begin(), libraryNeeds.Needed.end());
        libraries.push_back(TLibrary{soname, source.string()});
    }
    return libraries;
}

// The newest version of one symbol family ("GLIBC_") the packed binaries
// need, which binary needs it and for which symbols.
struct TNewestVersion {
    std::string Version;
    std::string Binary;
    std::vector<std::string> Symbols;
};

TNewestVersion NewestVersion(const std::vector<std::string>& binaries, const std::string& family) {
    TNewestVersion newest;
    for (const std::string& binary : binaries) {
        TElfNeeds needs;
        std::string error;
        if (!ReadElfNeeds(binary, needs, error)) Fail(error);
        for (const TElfVersionNeed& need : needs.Versions) {
            if (!StartsWith(need.Version, family)) continue;
            const int order = newest.Version.empty() ? 1 : CompareSymbolVersions(need.Version, newest.Version);
            if (order > 0)
                newest = TNewestVersion{need.Version, fs::path(binary).filename().string(), need.Symbols};
            else if (order == 0 && newest.Binary != fs::path(binary).filename().string())
                newest.Binary += ", " + fs::path(binary).filename().string();
        }
    }
    return newest;
}

std::string Joined(const std::vector<std::string>& words, const std::string& separator) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
    return text;
}

// Names the binary and symbols that need a version past what Ubuntu 22.04
// and Linux Mint 21 have.
void WarnNewerThan(const TNewestVersion& newest, const char* limit) {
    if (newest.Version.empty() || CompareSymbolVersions(newest.Version, limit) <= 0) return;
    const std::vector<std::string> symbols(newest.Symbols.begin(),
                                           newest.Symbols.begin() + std::min<size_t>(newest.Symbols.size(), 4));
    std::fprintf(stderr,
                 "corvala: --pack: warning: %s needs %s (for %s), newer than the %s of Ubuntu 22.04 and Linux "
                 "Mint 21: the pack does not start there\n",
                 newest.Binary.c_str(), newest.Version.c_str(), Joined(symbols, ", ").c_str(), limit);
}

// Refuses an OUT that exists, unless --overwrite and it is what a pack
// replaces: a file for an archive, a folder holding a pack for a folder.
// Returns whether OUT exists.
bool CheckExisting(const std::string& out, bool archive, bool overwrite) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(out, ec);
    if (!fs::exists(status)) {
        if (!fs::is_directory(fs::path(out).parent_path(), ec))
            throw EPackError{"cannot write the pack to " + out + ": the folder " +
                             fs::path(out).parent_path().string() + " does not exist"};
        return false;
    }
    if (!overwrite) throw EPackError{out + " exists; give --overwrite to replace it, or choose another name"};
    if (archive && !fs::is_regular_file(fs::status(out, ec))) // a link to a file is written through
        throw EPackError{"refusing to replace " + out + ": it is not a file"};
    if (!archive) {
        const fs::path folder(out);
        if (!fs::is_directory(status) || !fs::is_regular_file(folder / RunScriptName, ec) ||
            !fs::is_regular_file(folder / ReadmeName, ec) || !fs::is_regular_file(folder / EngineName, ec))
            throw EPackError{"refusing to replace " + out +
                             ": it is no party pack (run.sh, README.txt and corvala); choose another name"};
    }
    return true;
}

// The production's files as paths relative to the script's folder.
std::vector<std::pair<std::string, std::string>> ProductionFiles(const std::vector<std::string>& inputs,
                                                                 const fs::path& folder) {
    static const std::set<std::string> reserved = {EngineName, LibraryFolder,  RunScriptName,
                                                   ReadmeName, ScreenshotName, BundledFontName};
    std::vector<std::pair<std::string, std::string>> files;
    std::set<std::string> taken;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (!fs::is_regular_file(input, ec)) continue; // looked for and absent: optional
        const fs::path relative = fs::path(input).lexically_relative(folder);
        if (relative.empty() || *relative.begin() == "..")
            Fail("the production reads " + input + ", outside the script's folder " + folder.string() +
                 ": a pack keeps the paths relative to the script, so move the file into that folder");
        if (reserved.count(relative.begin()->string()))
            Fail("the production's file " + relative.string() + " would take the name of the pack's own " +
                 relative.begin()->string() + "; rename it");
        if (taken.insert(relative.string()).second) files.emplace_back(input, relative.string());
    }
    return files;
}

uintmax_t TreeSize(const fs::path& folder) {
    uintmax_t total = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file(ec)) total += it->file_size(ec);
    return total;
}

std::string RunScript(const TProductionFacts& facts, const std::string& script) {
    return "#!/bin/sh\n"
           "# " +
           facts.Name + " by " + facts.Group +
           " in compo mode, from this folder whatever the\n"
           "# working directory: fullscreen at the display's resolution, black until\n"
           "# Space or Enter; Escape, Q or Alt-F4 end it. ./run.sh --autostart 5 starts\n"
           "# by itself after five seconds of black.\n"
           "here=$(dirname \"$(readlink -f \"$0\")\")\n"
           "exec \"$here/" +
           EngineName + "\" --compo \"$@\" \"$here\"/" + ShellQuote(script) + "\n";
}

struct TPackContents {
    std::string Script;
    size_t ProductionFiles = 0;
    uintmax_t ProductionBytes = 0;
    std::vector<TLibrary> Libraries;
    std::set<std::string> SystemLibraries;
    std::string FontSource; // "" when not bundled
    double ShotSeconds = 0;
    TNewestVersion Glibc, Glibcxx;
};

// `text` broken into lines of at most 78 columns, the first starting with
// `label` and the rest indented as deep.
std::string Paragraph(const std::string& label, const std::string& text) {
    constexpr size_t Width = 78;
    std::string result = label, line = label;
    std::istringstream words(text);
    std::string word;
    bool first = true;
    while (words >> word) {
        if (!first && line.size() + 1 + word.size() > Width) {
            result += "\n" + std::string(label.size(), ' ');
            line = std::string(label.size(), ' ');
            first = true;
        }
        if (!first) {
            result += ' ';
            line += ' ';
        }
        result += word;
        line += word;
        first = false;
    }
    return result + "\n";
}

std::string Readme(const TProductionFacts& facts, const TPackContents& pack) {
    const double seconds = (facts.End - facts.Start) / facts.Speed;
    std::vector<std::string> libraries, system(pack.SystemLibraries.begin(), pack.SystemLibraries.end());
    for (const TLibrary& library : pack.Libraries) libraries.push_back(library.Soname);
    std::string text;
    text += facts.Name + " by " + facts.Group + " (" + facts.Party + " " + facts.Year + ")\n";
    text += std::string(text.size() - 1, '=') + "\n\n";
    text += "Length " + MinutesText(seconds) + " (" + std::to_string(int(std::lround(seconds))) +
            " seconds), made for " + std::to_string(facts.Width) + "x" + std::to_string(facts.Height) + ".\n\n";
    text += "Start:  ./run.sh\n"
            "        Fullscreen in the display's own mode (no mode switch), the picture at\n"
            "        the production's aspect, centred, black outside. Everything is loaded\n"
            "        and drawn once first; then the screen stays black until Space or\n"
            "        Enter, and the music starts with the first frame.\n"
            "        ./run.sh --autostart 5 starts by itself after 5 seconds of black.\n"
            "Stop:   Escape, Q or Alt-F4 (exit code 0). It writes no file anywhere, so it\n"
            "        runs from read-only media, and needs no root.\n\n";
    std::string needs =
        "Linux on x86-64 with glibc " + pack.Glibc.Version.substr(pack.Glibc.Version.find('_') + 1) + " or newer";
    if (CompareSymbolVersions(pack.Glibc.Version, PackGlibcLimit) <= 0 &&
        CompareSymbolVersions(pack.Glibcxx.Version, PackGlibcxxLimit) <= 0)
        needs += " (Ubuntu 22.04, Linux Mint 21, Debian 12 and later)";
    if (!pack.Glibcxx.Version.empty())
        needs += ", the system's C++ runtime (libstdc++) with " + pack.Glibcxx.Version + " or newer";
    needs += "; " + GLNeedText(facts.GLSL) + "; an X11 or Wayland desktop; ALSA or PulseAudio sound.";
    text += Paragraph("Needs:  ", needs);
    text += Paragraph("        ", "Nothing needs installing: of the system it uses only " + Joined(system, ", ") +
                                      " (and what those load).");
    std::string bundled = "the engine (corvala " + std::string(EngineVersionText) + ") with " +
                          std::to_string(pack.Libraries.size()) + " libraries in lib/ (" + Joined(libraries, ", ") +
                          ")";
    if (!pack.FontSource.empty())
        bundled += ", the overlay font " + std::string(BundledFontName) + " (" +
                   fs::path(pack.FontSource).filename().string() + ")";
    bundled += ", and the production: " + pack.Script + " and the " + std::to_string(pack.ProductionFiles - 1) +
               " files it reads.";
    text += "\n" + Paragraph("Bundled: ", bundled);
    char shot[64];
    std::snprintf(shot, sizeof shot, "%.1f", pack.ShotSeconds);
    text += "\nscreenshot.png is the frame at " + std::string(shot) + " seconds.\n";
    return text;
}

// Captures the frame at `seconds` with the packed engine into the pack.
void CaptureScreenshot(const std::string& packFolder, const std::string& script, double seconds,
                       const std::string& scratch) {
    char start[32];
    std::snprintf(start, sizeof start, "%.3f", seconds);
    const std::string frames = scratch + "/shot";
    Helper({(fs::path(packFolder) / EngineName).string(), "--capture", frames, "--start", start, "--frames", "1",
            (fs::path(packFolder) / script).string()},
           "capture the screenshot with the packed engine");
    std::ifstream in(frames + "/frame_000000.png", std::ios::binary);
    if (!in) Fail("the packed engine's capture left no frame in " + frames);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string error;
    if (!WriteFileWhole((fs::path(packFolder) / ScreenshotName).string(), bytes.str(), error)) Fail(error);
}

// Puts the finished folder `staged` at `out`: by an exchange when a pack
// is there (then removed), else by a rename that never replaces anything.
void PlaceFolder(const std::string& staged, const std::string& out, bool exists) {
    if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, out.c_str(), exists ? RENAME_EXCHANGE : RENAME_NOREPLACE) != 0)
        Fail("cannot put the pack at " + out + ": " + std::strerror(errno));
}

void ZipFolder(const std::string& stagingRoot, const std::string& top, const std::string& out) {
    TOutputFile archive;
    std::string error;
    if (!archive.Open(out, error)) Fail(error);
    if (archive.WritesStraight()) Fail("cannot write an archive to the stream " + out);
    archive.CloseForHelper();
    // zip adds to an archive it finds: it makes a new one at the reserved name.
    ::unlink(archive.TempPath().c_str());
    Helper({"zip", "-q", "-r", "-X", archive.TempPath(), top}, "write the archive", stagingRoot);
    if (!archive.Commit(error)) Fail(error);
}

int Pack(const TPackOptions& options) {
    std::string out = options.Output;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    const bool archive = Lower(fs::path(out).extension().string()) == ".zip";
    bool exists = false;
    try {
        exists = CheckExisting(out, archive, options.Overwrite);
    } catch (const EPackError& refusal) {
        std::fprintf(stderr, "corvala: --pack: %s\n", refusal.Message.c_str());
        return 2;
    }
    for (const char* tool : {"ldd", "patchelf", archive ? "zip" : "ldd"})
        if (!ProgramOnPath(tool))
            Fail(std::string("needs ") + tool + " (Debian package " + (std::string(tool) == "ldd" ? "libc-bin" : tool) +
                 "; make deps installs it)");

    const fs::path scriptFolder = fs::current_path();
    const std::string script = (scriptFolder / options.Script).lexically_normal().string();
    const std::string engine = ExecutableFile();
    if (engine.empty()) Fail("cannot find the engine's own file (/proc/self/exe)");

    // The pre-flight, noting every file it reads by the name it opens.
    std::vector<std::string> inputs{script};
    TProductionFacts facts;
    SetInputFileObserver([&](const std::string& name) { inputs.push_back(AbsoluteFileName(name)); });
    const int checked = RunCheck(options.Script, [&](const TCDemo& demo) { facts = ReadFacts(demo); });
    SetInputFileObserver(nullptr);
    fs::current_path(scriptFolder); // DATADIR may have moved it
    CheckInterrupted();
    if (checked != 0 || !facts.Passed) {
        std::fprintf(stderr, "corvala: --pack: the pre-flight found errors (above); nothing was packed\n");
        return 1;
    }
    std::string refusal;
    if (!CheckOutputPath(out, {script, engine}, "the pack", refusal)) {
        std::fprintf(stderr, "corvala: --pack: %s\n", refusal.c_str());
        return 2;
    }
    if (exists && !archive)
        for (const std::string& input : inputs)
            if (StartsWith(fs::weakly_canonical(input).string(), fs::weakly_canonical(out).string() + "/")) {
                std::fprintf(stderr, "corvala: --pack: refusing to replace %s: the production reads %s in it\n",
                             out.c_str(), input.c_str());
                return 2;
            }
    const auto files = ProductionFiles(inputs, scriptFolder);

    TPackContents pack;
    pack.Script = fs::path(script).lexically_relative(scriptFolder).string();
    pack.Libraries = LibrariesToBundle(engine, pack.SystemLibraries);

    const std::string stagingRoot = TemporaryNameBeside(out);
    if (::mkdir(stagingRoot.c_str(), 0755) != 0)
        Fail("cannot make the folder " + stagingRoot + ": " + std::strerror(errno));
    TScratch scratch(stagingRoot);
    const std::string top = archive ? fs::path(out).stem().string() : std::string();
    const fs::path folder = archive ? fs::path(stagingRoot) / top : fs::path(stagingRoot);

    for (const auto& [source, relative] : files) {
        CopyInto(source, (folder / relative).string(), 0644);
        std::error_code ec;
        const uintmax_t bytes = fs::file_size(source, ec);
        pack.ProductionBytes += ec ? 0 : bytes;
    }
    pack.ProductionFiles = files.size();
    CopyInto(engine, (folder / EngineName).string(), 0755, {"patchelf", "--set-rpath", "$ORIGIN/lib"});
    std::vector<std::string> binaries{(folder / EngineName).string()};
    for (const TLibrary& library : pack.Libraries) {
        const std::string copy = (folder / LibraryFolder / library.Soname).string();
        CopyInto(library.Source, copy, 0644, {"patchelf", "--set-rpath", "$ORIGIN"});
        binaries.push_back(copy);
    }

    std::string fontFile = BundledFontFile();
    int faceIndex = 0;
    bool embolden = false;
    std::string fontError;
    if (fontFile.empty() &&
        !MatchFontFile(OverlayFontFamily, OverlayFontBold, fontFile, faceIndex, embolden, fontError)) {
        std::fprintf(stderr, "corvala: --pack: warning: no overlay font bundled (%s)\n", fontError.c_str());
    } else if (faceIndex != 0) {
        std::fprintf(stderr,
                     "corvala: --pack: warning: the overlay font is face %d of %s, which cannot be bundled; "
                     "the party machine's fonts draw the text\n",
                     faceIndex, fontFile.c_str());
    } else {
        CopyInto(fontFile, (folder / BundledFontName).string(), 0644);
        pack.FontSource = fontFile;
    }

    // The packed engine itself draws the screenshot: a missing file or
    // library shows here, not on the party machine.
    pack.ShotSeconds = facts.Start + (facts.End - facts.Start) / 2;
    CaptureScreenshot(folder.string(), pack.Script, pack.ShotSeconds, stagingRoot);
    fs::remove_all(stagingRoot + "/shot");

    pack.Glibc = NewestVersion(binaries, "GLIBC_");
    pack.Glibcxx = NewestVersion(binaries, "GLIBCXX_");
    WriteText((folder / RunScriptName).string(), RunScript(facts, pack.Script), 0755);
    WriteText((folder / ReadmeName).string(), Readme(facts, pack), 0644);

    const uintmax_t libraryBytes = TreeSize(folder / LibraryFolder);
    CheckInterrupted();
    if (archive) {
        ZipFolder(stagingRoot, top, out);
    } else {
        PlaceFolder(stagingRoot, out, exists);
        if (!exists) scratch.Release(); // else the scratch now holds the old pack
    }
    std::error_code ec;
    const uintmax_t size = archive ? fs::file_size(out, ec) : TreeSize(out);

    std::vector<std::string> libraries;
    for (const TLibrary& library : pack.Libraries) libraries.push_back(library.Soname);
    std::printf("corvala: packed %s into %s (%s)\n", facts.Name.c_str(), out.c_str(), SizeText(size).c_str());
    std::printf("  production: %s and %zu files it reads (%s)\n", pack.Script.c_str(), pack.ProductionFiles - 1,
                SizeText(pack.ProductionBytes).c_str());
    std::printf("  engine: %s with RUNPATH $ORIGIN/lib\n", EngineName);
    std::printf("  %s/: %zu libraries (%s): %s\n", LibraryFolder, libraries.size(), SizeText(libraryBytes).c_str(),
                Joined(libraries, " ").c_str());
    if (!pack.FontSource.empty()) std::printf("  %s: %s\n", BundledFontName, pack.FontSource.c_str());
    std::printf("  %s, %s, %s (the frame at %.1f s)\n", RunScriptName, ReadmeName, ScreenshotName, pack.ShotSeconds);
    std::printf(
        "  left to the party machine: %s\n",
        Joined(std::vector<std::string>(pack.SystemLibraries.begin(), pack.SystemLibraries.end()), " ").c_str());
    std::printf("  newest C library symbol version needed: %s (%s)\n", pack.Glibc.Version.c_str(),
                pack.Glibc.Binary.c_str());
    if (!pack.Glibcxx.Version.empty())
        std::printf("  newest C++ runtime symbol version needed: %s (%s)\n", pack.Glibcxx.Version.c_str(),
                    pack.Glibcxx.Binary.c_str());
    std::fflush(stdout);
    WarnNewerThan(pack.Glibc, PackGlibcLimit);
    WarnNewerThan(pack.Glibcxx, PackGlibcxxLimit);
    return 0;
}

} // namespace

bool IsSystemLibrary(const std::string& soname) {
    static const std::set<std::string> exact = {
        // The C library family.
        "linux-vdso.so.1", "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1", "libc.so.6", "libm.so.6", "libpthread.so.0",
        "libdl.so.2", "librt.so.1", "libresolv.so.2", "libutil.so.1", "libanl.so.1", "libmvec.so.1",
        // The C++ and GCC runtime: the GL driver links them, and a bundled
        // copy older than the system's would keep a newer driver from loading.
        "libstdc++.so.6", "libgcc_s.so.1",
        // The GL driver stack and what the driver itself loads.
        "libGL.so.1", "libGLX.so.0", "libGLdispatch.so.0", "libOpenGL.so.0", "libEGL.so.1", "libGLESv2.so.2",
        "libglapi.so.0", "libgbm.so.1", "libdrm.so.2", "libexpat.so.1", "libz.so.1",
        // ALSA and PulseAudio.
        "libasound.so.2", "libpulse.so.0", "libpulse-simple.so.0"};
    if (exact.count(soname)) return true;
    // X11 and xcb, and PulseAudio's private library.
    for (const char* prefix : {"libX", "libxcb", "libpulsecommon-"})
        if (StartsWith(soname, prefix)) return true;
    return false;
}

int RunPack(const TPackOptions& options) {
    const TInterruptScope interrupts;
    try {
        return Pack(options);
    } catch (const EPackError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "corvala: --pack: %s; nothing was packed\n", error.Message.c_str());
        return 1;
    }
}
