// The malformed-input corpus: every file under tests/data/malformed/<format>/
// is a damaged input (many found by the fuzz targets); NAME.expect beside it
// says what the engine must now report. Lines of an .expect file:
//   message: TEXT   TEXT must appear in the report (one line per text)
//   exit: N         scripts only: the exit code of the pre-flight check
//   unnamed: WHY    the report is known not to name the file (a fault to mend)
// Every other report must name the file. A new regression case is a pair of
// files; no code changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "assets/file3ds.h"
#include "render/loader3ds.h"
#include "assets/picture.h"
#include "media/sound_decode.h"
#include "base/report.h"
#include "demo/tracker.h"
#include "render/mesh.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const fs::path CorpusDir = fs::path(CORVALA_SOURCE_DIR) / "tests" / "data" / "malformed";

struct TExpect {
    std::vector<std::string> Messages;
    int ExitCode = -1; // -1: not checked
    bool Unnamed = false;
};

TExpect ReadExpect(const fs::path& file) {
    TExpect expect;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("message: ", 0) == 0)
            expect.Messages.push_back(line.substr(9));
        else if (line.rfind("exit: ", 0) == 0)
            expect.ExitCode = std::stoi(line.substr(6));
        else if (line.rfind("unnamed: ", 0) == 0)
            expect.Unnamed = true;
    }
    return expect;
}

// Collects every report made while it lives.
struct TReports {
    TReports() {
        SetReportSink(
            [this](const std::string& caption, const std::string& text) { All += caption + ": " + text + "\n"; });
    }
    ~TReports() { SetReportSink(nullptr); }
    std::string All;
};

// What the engine says about one damaged file, by format. `failed` is false
// when the reader accepted the file as it is.
std::string Report(const std::string& format, const fs::path& file, bool& failed, int& exitCode) {
    const std::string path = file.string();
    failed = true;
    if (format == "script") {
        testutil::TempDir dir;
        fs::copy_file(file, dir.Path() / "karmont.cvl");
        const testutil::RunResult run = testutil::RunEngine("--check karmont.cvl", dir.Path().string());
        exitCode = run.ExitCode;
        failed = run.ExitCode != 0;
        return run.Output;
    }
    if (format == "bmp" || format == "tga" || format == "jpeg") {
        TPicture picture;
        TPictureError error;
        const bool ok = format == "bmp"   ? DecodeBMPFile(path, picture, error)
                        : format == "tga" ? DecodeTGAFile(path, picture, error)
                                          : DecodeJPEGFile(path, picture, error);
        failed = !ok;
        return error.Caption + ": " + error.Text;
    }
    if (format == "3ds") {
        TReports reports; // warnings about faces left out
        std::string text;
        try {
            T3DSLoader loader;
            loader.OpenModel(path);
            for (const std::string& warning : loader.File->Warnings()) text += warning + "\n";
            for (int32_t i = 0; i < loader.MeshCount; ++i) {
                std::unique_ptr<TMeshDataNM> mesh = loader.MakeMesh(i);
                mesh->Weld();
            }
            text += reports.All;
            failed = !text.empty();
        } catch (const E3DSError& error) {
            text += error.what();
        }
        return text;
    }
    TReports reports;
    if (format == "tracker") {
        TDemoTracker tracker;
        failed = !tracker.LoadTrack(path);
    } else if (format == "music") {
        failed = !CheckSoundFile(path);
    } else {
        ADD_FAILURE() << "no reader for format folder " << format;
    }
    return reports.All;
}

} // namespace

TEST(MalformedInputs, EachFileGivesItsMessage) {
    ASSERT_TRUE(fs::is_directory(CorpusDir)) << CorpusDir;
    int files = 0;
    for (const auto& formatDir : fs::directory_iterator(CorpusDir)) {
        if (!formatDir.is_directory()) continue;
        const std::string format = formatDir.path().filename().string();
        for (const auto& entry : fs::directory_iterator(formatDir.path())) {
            const fs::path file = entry.path();
            if (file.extension() == ".expect") continue;
            SCOPED_TRACE(file.string());
            ++files;
            fs::path expectFile = file;
            expectFile += ".expect";
            ASSERT_TRUE(fs::exists(expectFile)) << "each malformed file needs NAME.expect beside it";
            const TExpect expect = ReadExpect(expectFile);
            ASSERT_FALSE(expect.Messages.empty()) << expectFile << " names no message";

            bool failed = false;
            int exitCode = -1;
            const std::string report = Report(format, file, failed, exitCode);
            EXPECT_TRUE(failed) << "accepted without a report";
            // Scripts run under the engine's fixed script name.
            const std::string shownName = format == "script" ? "karmont.cvl" : file.filename().string();
            if (!expect.Unnamed) {
                EXPECT_NE(report.find(shownName), std::string::npos) << "the report does not name the file:\n"
                                                                     << report;
            }
            for (const std::string& message : expect.Messages)
                EXPECT_NE(report.find(message), std::string::npos) << "missing \"" << message << "\" in:\n" << report;
            if (expect.ExitCode >= 0) {
                EXPECT_EQ(exitCode, expect.ExitCode) << report;
            }
        }
    }
    EXPECT_GT(files, 0);
}
