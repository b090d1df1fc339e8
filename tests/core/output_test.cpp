#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/files.h"
#include "base/output.h"
#include "support/file_limit.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(OutputFile, WritesWholeOrLeavesTheEarlierFileAsItWas) {
    testutil::TempDir dir;
    const std::string target = dir.Write("music.trk", "the earlier file");
    std::string error;
    ASSERT_TRUE(WriteFileWhole(target, "new bytes", error)) << error;
    EXPECT_EQ(Bytes(target), "new bytes");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"music.trk"}); // no temporary left

    // The disk fills up in the middle of the write: the message says why,
    // the destination keeps every byte and no partial file stays behind.
    {
        testutil::FileSizeLimit limit(4096);
        EXPECT_FALSE(WriteFileWhole(target, std::string(100000, 'x'), error));
    }
    EXPECT_NE(error.find(target), std::string::npos) << error;
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(Bytes(target), "new bytes");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"music.trk"});

    // Written in pieces, then dropped: nothing changes.
    {
        TOutputFile out;
        ASSERT_TRUE(out.Open(target, error)) << error;
        EXPECT_TRUE(out.Write("half"));
        EXPECT_NE(out.TempPath(), target);
        EXPECT_EQ(fs::path(out.TempPath()).parent_path(), fs::path(target).parent_path());
    } // an uncommitted file is discarded
    EXPECT_EQ(Bytes(target), "new bytes");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"music.trk"});

    // A helper process writes the temporary file by name; its extension is kept.
    TOutputFile video;
    ASSERT_TRUE(video.Open(dir.File("demo.mp4"), error)) << error;
    EXPECT_EQ(fs::path(video.TempPath()).extension(), ".mp4");
    video.CloseForHelper();
    std::ofstream(video.TempPath(), std::ios::binary) << "frames";
    ASSERT_TRUE(video.Commit(error)) << error;
    EXPECT_EQ(Bytes(dir.File("demo.mp4")), "frames");

    // Folders and missing folders are refused with the reason.
    EXPECT_FALSE(WriteFileWhole(dir.Path().string(), "x", error));
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
    EXPECT_FALSE(WriteFileWhole(dir.File("missing/x.trk"), "x", error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

// A real full disk where the test may mount a small tmpfs (as root): the
// message says "No space left on device" and the earlier file stays whole.
TEST(OutputFile, AFullDiskKeepsTheEarlierFileAndSaysWhy) {
    testutil::TempDir dir;
    const std::string disk = dir.File("disk");
    const testutil::SmallDisk small(disk);
    if (!small.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    std::string error;
    const std::string target = disk + "/music.trk";
    ASSERT_TRUE(WriteFileWhole(target, std::string(4096, 'a'), error)) << error;
    EXPECT_FALSE(WriteFileWhole(target, std::string(200000, 'b'), error));
    EXPECT_EQ(error, "cannot write " + target + ": No space left on device");
    EXPECT_EQ(Bytes(target), std::string(4096, 'a'));
    EXPECT_EQ(Names(disk), std::vector<std::string>{"music.trk"});
}

// Streams cannot be replaced: a device, a FIFO, this process's standard
// output are written straight, and a link is written through. The streams
// are reached through links in the test folder, so that a writer that
// renamed over them would only replace a link of the test's own.
TEST(OutputFile, WritesThroughLinksAndStraightToStreams) {
    testutil::TempDir dir;
    std::string error;
    const std::string real = dir.Write("real.trk", "old");
    fs::create_symlink(real, dir.File("link.trk"));
    ASSERT_TRUE(WriteFileWhole(dir.File("link.trk"), "new", error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir.File("link.trk")));
    EXPECT_EQ(Bytes(real), "new");

    // A pipe this process holds, named as /proc/self/fd/N is.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    fs::create_symlink("/proc/self/fd/" + std::to_string(pipeFds[1]), dir.File("pipe-link"));
    ASSERT_TRUE(WriteFileWhole(dir.File("pipe-link"), "through the pipe", error)) << error;
    ::close(pipeFds[1]);
    char got[64] = {};
    EXPECT_EQ(::read(pipeFds[0], got, sizeof got), 16);
    EXPECT_STREQ(got, "through the pipe");
    ::close(pipeFds[0]);
    EXPECT_TRUE(fs::is_symlink(dir.File("pipe-link")));

    // Standard output redirected to a file (`--report /dev/stdout > all.txt`):
    // the bytes follow what was printed before, through the same descriptor.
    const std::string all = dir.Write("all.txt", "");
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    const int allFd = ::open(all.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(allFd, 0);
    ::dup2(allFd, STDOUT_FILENO);
    EXPECT_EQ(::write(STDOUT_FILENO, "text\n", 5), 5);
    fs::create_symlink("/proc/self/fd/1", dir.File("stdout-link"));
    const bool written = WriteFileWhole(dir.File("stdout-link"), "{}\n", error);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);
    ::close(allFd);
    EXPECT_TRUE(written) << error;
    EXPECT_EQ(Bytes(all), "text\n{}\n");
    EXPECT_TRUE(fs::is_symlink(dir.File("stdout-link")));

    // A FIFO with a reader gets the bytes; one nobody reads is refused at once.
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(WriteFileWhole(fifo, "x", error));
    EXPECT_NE(error.find(fifo + ": no process reads that pipe"), std::string::npos) << error;
    std::string received;
    std::thread reader([&] { received = Bytes(fifo); });
    bool fifoWritten = false;
    for (int tries = 0; tries < 500 && !fifoWritten; ++tries) {
        fifoWritten = WriteFileWhole(fifo, "to the reader", error);
        if (!fifoWritten) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reader.join();
    EXPECT_TRUE(fifoWritten) << error;
    EXPECT_EQ(received, "to the reader");
    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(Names(dir.Path()),
              (std::vector<std::string>{"all.txt", "fifo", "link.trk", "pipe-link", "real.trk", "stdout-link"}));
}

TEST(OutputFile, RefusesAnOutputThatIsAnInput) {
    testutil::TempDir dir;
    ClearProtectedInputs();
    const std::string song = dir.Write("song.mod", "module");
    fs::create_symlink(song, dir.File("link.mod"));
    std::string error;
    EXPECT_FALSE(CheckOutputPath(song, {song}, "the tracker file", error));
    EXPECT_NE(error.find("refusing to write the tracker file to " + song), std::string::npos) << error;
    // Through a link, and by a name that is not yet a file.
    EXPECT_FALSE(CheckOutputPath(dir.File("link.mod"), {song}, "the tracker file", error));
    EXPECT_FALSE(CheckOutputPath(dir.File("./sub/../new.trk"), {dir.File("new.trk")}, "x", error));
    EXPECT_TRUE(CheckOutputPath(dir.File("song.trk"), {song}, "the tracker file", error)) << error;

    // Files the production reads are protected once they are noted.
    const std::string picture = dir.Write("title.jpg", "jpeg");
    NoteInputFile(picture);
    EXPECT_FALSE(CheckOutputPath(picture, {}, "the video", error));
    EXPECT_NE(error.find("which the production reads"), std::string::npos) << error;
    ClearProtectedInputs();
    EXPECT_TRUE(CheckOutputPath(picture, {}, "the video", error));
}

TEST(Files, SpecialFilesAreRefusedBeforeTheyAreOpened) {
    testutil::TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
    std::string error;
    EXPECT_FALSE(CheckNotSpecialFile(dir.File("pipe"), error));
    EXPECT_NE(error.find("is a FIFO"), std::string::npos) << error;
    EXPECT_FALSE(CheckNotSpecialFile(dir.Path().string(), error));
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
    EXPECT_FALSE(CheckNotSpecialFile("/dev/null", error));
    EXPECT_TRUE(CheckNotSpecialFile(dir.Write("plain", "x"), error));
    EXPECT_TRUE(CheckNotSpecialFile(dir.File("missing"), error));
}
