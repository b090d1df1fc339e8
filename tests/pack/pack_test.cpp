// The party pack: a small production packed, then run from the pack by
// another user with an empty environment, as on the organisers' machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/elf_needs.h"
#include "app/pack.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testutil::Quote;

using TShell = testutil::RunResult;
const auto Shell = testutil::RunShell;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every file under `folder` with its size and change time: what a run
// must leave as it was.
std::map<std::string, std::string> Listing(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto stamp = fs::last_write_time(entry.path()).time_since_epoch().count();
        files[entry.path().lexically_relative(folder).string()] =
            std::to_string(entry.is_regular_file() ? entry.file_size() : 0) + "@" + std::to_string(stamp);
    }
    return files;
}

// The word after `label` in `text`; "" when the label is not there.
std::string WordAfter(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    if (at == std::string::npos) return {};
    const size_t begin = at + label.size();
    return text.substr(begin, text.find_first_of(" \n", begin) - begin);
}

// 80 x 60 at 150 BPM, 4 seconds: a picture in a subfolder of the data
// folder, a flash on the note at 2 s, and the timer's text in the overlay
// font.
void WriteProduction(const testutil::TempDir& dir, const std::string& picture = "pictures/ramp.tga") {
    std::vector<uint8_t> notes(40, 0);
    notes[20] = 36;
    dir.Write("data/beat.trk", testutil::TrackerBytes(1, 40, notes));
    std::string tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 32, 0, 24, 0};
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) tga += {char(x * y), char(y * 8), char(x * 8)};
    dir.Write("data/pictures/ramp.tga", tga);
    dir.Write("demo.cvl", "DATADIR data\nRESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nTRACKER beat.trk\nBPM 150\n"
                          "SHOWTIMER true\nCLEARCOLOR 0 0 0 255\n"
                          "LOAD plaintexture 0\nA " +
                              picture +
                              "\n"
                              "LOAD flash 1\nE 0\nF 0\nG 255\n"
                              "BAR picture\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\n"
                              "BAR flash\nMOUNT 0\nLENGTH 0 2\nEFFECT 1\nINPUT 0 0 36 50 0\n");
}

// Runs a command as the unprivileged user nobody when the test runs as
// root (else as the test's user), with an empty environment but the
// headless drivers.
std::string AsPartyUser(const std::string& command) {
    // A sanitizer build keeps its settings (leak checks off under Mesa).
    std::string kept;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* value = std::getenv(name)) kept += std::string(name) + "=" + Quote(value) + " ";
    const std::string clean =
        "env -i SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null CORVALA_COMPO_TRACE=1 " + kept + command;
    return ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " + clean : clean;
}

TEST(ElfNeeds, ReadsTheEngineAndRefusesBrokenFiles) {
    TElfNeeds needs;
    std::string error;
    ASSERT_TRUE(ReadElfNeeds(CORVALA_BINARY, needs, error)) << error;
    EXPECT_TRUE(needs.Soname.empty());
    const std::set<std::string> needed(needs.Needed.begin(), needs.Needed.end());
    EXPECT_TRUE(needed.count("libc.so.6") && needed.count("libSDL2-2.0.so.0"));
    bool glibc = false;
    for (const TElfVersionNeed& need : needs.Versions)
        if (need.File == "libc.so.6" && need.Version.rfind("GLIBC_2.", 0) == 0 && !need.Symbols.empty()) glibc = true;
    EXPECT_TRUE(glibc);

    testutil::TempDir dir;
    const std::string engine = Bytes(CORVALA_BINARY);
    std::string headerOnly = engine.substr(0, 64);
    std::string tableOutside = engine.substr(0, 4096);
    const std::map<std::string, std::string> broken = {
        {"text", "not an ELF file at all\n"},
        {"short", engine.substr(0, 20)},
        {"header-only", headerOnly},
        {"table-outside", tableOutside},
    };
    for (const auto& [name, bytes] : broken) {
        const std::string file = dir.Write(name, bytes);
        EXPECT_FALSE(ReadElfNeeds(file, needs, error)) << name;
        EXPECT_EQ(error.rfind(file + ": ", 0), 0u) << error;
    }
    EXPECT_FALSE(ReadElfNeeds(dir.File("missing"), needs, error));

    EXPECT_LT(CompareSymbolVersions("GLIBC_2.9", "GLIBC_2.34"), 0);
    EXPECT_GT(CompareSymbolVersions("GLIBC_2.36", "GLIBC_2.35"), 0);
    EXPECT_EQ(CompareSymbolVersions("GLIBC_2.34", "GLIBC_2.34"), 0);
    EXPECT_GT(CompareSymbolVersions("GLIBCXX_3.4.30", "GLIBCXX_3.4"), 0);
}

TEST(Pack, RunsFromItsOwnFolderAndLibrariesAsAnotherUser) {
    testutil::TempDir dir;
    WriteProduction(dir);
    const fs::path pack = dir.Path() / "party";
    const auto made = testutil::RunEngine("--pack party demo.cvl", dir.Path().string());
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    // The build keeps the C and C++ runtimes it needs at Ubuntu 22.04's.
    const std::string glibc = WordAfter(made.Output, "newest C library symbol version needed: ");
    const std::string glibcxx = WordAfter(made.Output, "newest C++ runtime symbol version needed: ");
    EXPECT_EQ(glibc.rfind("GLIBC_2.", 0), 0u) << made.Output;
    EXPECT_EQ(glibcxx.rfind("GLIBCXX_3.4", 0), 0u) << made.Output;
    EXPECT_LE(CompareSymbolVersions(glibc, PackGlibcLimit), 0) << made.Output;
    EXPECT_LE(CompareSymbolVersions(glibcxx, PackGlibcxxLimit), 0) << made.Output;

    // The layout: the production at its relative paths, the engine with its
    // libraries and font, the start script, the notes and a picture.
    for (const char* file : {"demo.cvl", "data/beat.trk", "data/pictures/ramp.tga", "corvala", "run.sh", "README.txt",
                             "screenshot.png", "overlay-font.ttf", "lib/libSDL2-2.0.so.0"})
        EXPECT_TRUE(fs::is_regular_file(pack / file)) << file;
    EXPECT_EQ(Bytes(pack / "data/pictures/ramp.tga"), Bytes(dir.File("data/pictures/ramp.tga")));
    EXPECT_EQ(Bytes(pack / "screenshot.png").substr(1, 3), "PNG");
    EXPECT_TRUE((fs::status(pack / "run.sh").permissions() & fs::perms::others_exec) != fs::perms::none);
    const std::string readme = Bytes(pack / "README.txt");
    for (const char* text : {"./run.sh", "Escape", "glibc 2.", "OpenGL 1.1", "demo.cvl and the 2 files it reads"})
        EXPECT_NE(readme.find(text), std::string::npos) << text << "\n" << readme;
    EXPECT_FALSE(fs::exists(pack / "corvala-tracker"));
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_NE(entry.path().filename().string().rfind(".corvala-", 0), 0u) << entry.path();

    // Every library a packed binary names is in lib/ or left to the system,
    // and each finds its neighbours through its RUNPATH.
    std::set<std::string> bundled;
    for (const auto& entry : fs::directory_iterator(pack / "lib")) bundled.insert(entry.path().filename().string());
    std::vector<fs::path> binaries{pack / "corvala"};
    for (const std::string& name : bundled) binaries.push_back(pack / "lib" / name);
    std::map<fs::path, std::vector<std::string>> needed;
    for (const fs::path& binary : binaries) {
        TElfNeeds needs;
        std::string error;
        ASSERT_TRUE(ReadElfNeeds(binary.string(), needs, error)) << error;
        EXPECT_EQ(needs.RunPath, binary.filename() == "corvala" ? "$ORIGIN/lib" : "$ORIGIN") << binary;
        for (const std::string& soname : needs.Needed)
            EXPECT_TRUE(bundled.count(soname) || IsSystemLibrary(soname)) << binary << " needs " << soname;
        needed[binary] = needs.Needed;
    }
    EXPECT_FALSE(bundled.count("libc.so.6") || bundled.count("libGL.so.1") || bundled.count("libX11.so.6"));

    // Unprivileged, root's read-only pack, nothing in the environment.
    const auto before = Listing(pack);
    const fs::path frames = dir.Path() / "frames";
    fs::create_directory(frames);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(frames.c_str(), 65534, 65534), 0);
    }
    for (const fs::path& binary : binaries) {
        const TShell ldd = Shell(AsPartyUser("ldd " + Quote(binary.string())));
        ASSERT_EQ(ldd.ExitCode, 0) << ldd.Output;
        EXPECT_EQ(ldd.Output.find("not found"), std::string::npos) << ldd.Output;
        // What it names comes from lib/; the engine loads every bundled
        // library from there (a system library then finds it loaded).
        const std::set<std::string> named(needed[binary].begin(), needed[binary].end());
        for (const std::string& name : binary.filename() == "corvala" ? bundled : named) {
            if (!bundled.count(name)) continue;
            EXPECT_NE(ldd.Output.find(name + " => " + (pack / "lib" / name).string()), std::string::npos)
                << binary << ": " << name << "\n"
                << ldd.Output;
        }
    }

    const TShell packed =
        Shell(AsPartyUser(Quote((pack / "corvala").string()) + " --capture " + Quote(frames.string()) +
                          " --fps 10 --frames 30 " + Quote((pack / "demo.cvl").string())));
    ASSERT_EQ(packed.ExitCode, 0) << packed.Output;
    const auto built = testutil::RunEngine("--capture built --fps 10 --frames 30 demo.cvl", dir.Path().string());
    ASSERT_EQ(built.ExitCode, 0) << built.Output;
    size_t compared = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path() / "built")) {
        EXPECT_EQ(Bytes(entry.path()), Bytes(frames / entry.path().filename())) << entry.path().filename();
        ++compared;
    }
    EXPECT_EQ(compared, 30u); // a production without music leaves no sound file

    // run.sh plays compo mode from anywhere.
    const TShell compo = Shell("cd / && " + AsPartyUser(Quote((pack / "run.sh").string()) + " --autostart 0"));
    EXPECT_EQ(compo.ExitCode, 0) << compo.Output;
    EXPECT_NE(compo.Output.find("compo: first frame"), std::string::npos) << compo.Output;
    EXPECT_EQ(Listing(pack), before);
}

TEST(Pack, ArchiveHoldsOneFolderNamedAfterIt) {
    testutil::TempDir dir;
    WriteProduction(dir);
    auto made = testutil::RunEngine("--pack out/party.zip demo.cvl", dir.Path().string());
    EXPECT_EQ(made.ExitCode, 2) << made.Output; // no folder out/
    EXPECT_NE(made.Output.find("does not exist"), std::string::npos) << made.Output;
    made = testutil::RunEngine("--pack party.zip demo.cvl", dir.Path().string());
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    const TShell listing = Shell("unzip -Z1 " + Quote(dir.File("party.zip")));
    ASSERT_EQ(listing.ExitCode, 0) << listing.Output;
    for (const char* file : {"party/run.sh", "party/corvala", "party/lib/libSDL2-2.0.so.0", "party/data/beat.trk"})
        EXPECT_NE(listing.Output.find(std::string(file) + "\n"), std::string::npos) << file;
    std::istringstream names(listing.Output);
    for (std::string name; std::getline(names, name);) EXPECT_EQ(name.rfind("party/", 0), 0u) << name;

    made = testutil::RunEngine("--pack party.zip demo.cvl", dir.Path().string());
    EXPECT_EQ(made.ExitCode, 2) << made.Output;
    EXPECT_NE(made.Output.find("--overwrite"), std::string::npos) << made.Output;
    made = testutil::RunEngine("--pack party.zip --overwrite demo.cvl", dir.Path().string());
    EXPECT_EQ(made.ExitCode, 0) << made.Output;
}

TEST(Pack, RefusesABrokenProductionAndNeverWritesOverWhatIsThere) {
    testutil::TempDir dir;
    WriteProduction(dir, "pictures/missing.tga");
    auto made = testutil::RunEngine("--pack party demo.cvl", dir.Path().string());
    EXPECT_EQ(made.ExitCode, 1) << made.Output;
    EXPECT_NE(made.Output.find("missing.tga"), std::string::npos) << made.Output;
    EXPECT_NE(made.Output.find("nothing was packed"), std::string::npos) << made.Output;
    EXPECT_FALSE(fs::exists(dir.File("party")));

    WriteProduction(dir);
    const std::string script = Bytes(dir.File("demo.cvl"));
    // The script, and a production folder that is not a pack, stay as they are.
    made = testutil::RunEngine("--pack demo.cvl --overwrite demo.cvl", dir.Path().string());
    EXPECT_EQ(made.ExitCode, 2) << made.Output;
    EXPECT_NE(made.Output.find("refusing"), std::string::npos) << made.Output;
    made = testutil::RunEngine("--pack data --overwrite demo.cvl", dir.Path().string());
    EXPECT_EQ(made.ExitCode, 2) << made.Output;
    EXPECT_NE(made.Output.find("no party pack"), std::string::npos) << made.Output;
    EXPECT_EQ(Bytes(dir.File("demo.cvl")), script);
    EXPECT_TRUE(fs::is_regular_file(dir.File("data/pictures/ramp.tga")));

    // Stopped half-way, it leaves nothing behind (or, stopped too late, the
    // whole pack).
    const TShell stopped =
        Shell("cd " + Quote(dir.Path().string()) + " && { SDL_VIDEODRIVER=offscreen " + Quote(CORVALA_BINARY) +
              " --pack party demo.cvl & sleep 0.4; kill -TERM $!; wait $!; }");
    EXPECT_TRUE(!fs::exists(dir.File("party")) || fs::is_regular_file(dir.File("party/README.txt")));
    fs::remove_all(dir.File("party"));
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_NE(entry.path().filename().string().rfind(".corvala-", 0), 0u) << entry.path();

    // A file outside the script's folder cannot keep its relative path.
    testutil::TempDir other;
    WriteProduction(other);
    dir.Write("outside.cvl", "DATADIR " + other.File("data") + "\n" + Bytes(other.File("demo.cvl")).substr(13));
    made = testutil::RunEngine("--pack party outside.cvl", dir.Path().string());
    EXPECT_EQ(made.ExitCode, 1) << made.Output;
    EXPECT_NE(made.Output.find("outside the script's folder"), std::string::npos) << made.Output;
    EXPECT_FALSE(fs::exists(dir.File("party")));
}

} // namespace
