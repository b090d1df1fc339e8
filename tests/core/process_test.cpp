// The child process runner, with ordinary programs: sh, cat, head, true.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "base/process.h"
#include "support/temp_dir.h"

namespace {

TProcessOptions Capturing(size_t limit = size_t(1) << 20) {
    TProcessOptions options;
    options.CaptureOutput = options.CaptureErrors = true;
    options.OutputLimit = limit;
    return options;
}

TProcessOptions Feeding(size_t limit = size_t(16) << 20) {
    TProcessOptions options = Capturing(limit);
    options.FeedInput = true;
    return options;
}

// True when `pid` is no child of ours any more: reaped, no zombie left.
bool Reaped(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD; }

} // namespace

TEST(Process, ExitStatusOutputAndFolder) {
    EXPECT_EQ(ExitCode(RunProcess({"true"}, {}).Status), 0);
    EXPECT_EQ(ExitCode(RunProcess({"false"}, {}).Status), 1);

    TProcessRun run = RunProcess({"sh", "-c", "echo out; echo err >&2; exit 3"}, Capturing());
    ASSERT_TRUE(run.Started) << run.Error;
    EXPECT_EQ(ExitCode(run.Status), 3);
    EXPECT_EQ(DescribeExit(run.Status), "exited with status 3");
    EXPECT_EQ(run.Output, "out\nerr\n");
    TProcessOptions errorsOnly;
    errorsOnly.CaptureErrors = true;
    EXPECT_EQ(RunProcess({"sh", "-c", "echo out >/dev/null; echo err >&2"}, errorsOnly).Output, "err\n");

    run = RunProcess({"sh", "-c", "kill -9 $$"}, {});
    EXPECT_EQ(ExitCode(run.Status), -1);
    EXPECT_EQ(DescribeExit(run.Status), "was killed by signal 9 (Killed)");

    // Arguments reach the program as they are, without a shell between.
    testutil::TempDir dir;
    TProcessOptions inFolder = Capturing();
    inFolder.Folder = dir.Path().string();
    run = RunProcess({"sh", "-c", "pwd; printf '%s|' \"$@\"", "sh", "a b", "$HOME", "*"}, inFolder);
    EXPECT_EQ(run.Output, dir.Path().string() + "\na b|$HOME|*|");
}

TEST(Process, AMissingProgramOrFolderIsAClearError) {
    TProcess process;
    std::string error;
    EXPECT_FALSE(process.Start({"corvala-no-such-program"}, {}, error));
    EXPECT_EQ(error, "cannot start corvala-no-such-program: No such file or directory");
    EXPECT_FALSE(process.Running());
    EXPECT_EQ(process.Wait(), -1);

    TProcessOptions nowhere;
    nowhere.Folder = "/corvala-no-such-folder";
    const TProcessRun run = RunProcess({"true"}, nowhere);
    EXPECT_FALSE(run.Started);
    EXPECT_EQ(run.Error, "cannot start true: No such file or directory");
    EXPECT_FALSE(RunProcess({}, {}).Started);

    // Only executable files count as found on the PATH.
    testutil::TempDir dir;
    std::filesystem::create_directories(dir.File("bin/folder"));
    dir.Write("bin/plain", "not a program\n");
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (dir.File("bin") + ":" + path).c_str(), 1);
    EXPECT_TRUE(ProgramOnPath("sh"));
    EXPECT_FALSE(ProgramOnPath("folder"));
    EXPECT_FALSE(ProgramOnPath("plain"));
    EXPECT_FALSE(ProgramOnPath("corvala-no-such-program"));
    setenv("PATH", path.c_str(), 1);
}

// Much output is read to its end (the child is never left blocked on a full
// pipe) and only the first bytes are kept.
TEST(Process, CapturedOutputIsBounded) {
    TProcessRun run = RunProcess({"head", "-c", "5000000", "/dev/zero"}, Capturing(1000));
    EXPECT_EQ(ExitCode(run.Status), 0);
    EXPECT_EQ(run.Output, std::string(1000, '\0'));
    EXPECT_TRUE(run.OutputCut);
    run = RunProcess({"sh", "-c", "printf 1234567890"}, Capturing(10));
    EXPECT_EQ(run.Output, "1234567890");
    EXPECT_FALSE(run.OutputCut);
}

// A child that writes while it is fed: it blocks on its full output pipe
// unless that is read while its input is written. `timeout` ends a deadlock
// as a failure instead of a hang.
TEST(Process, FeedingAChildThatAnswersAsItReadsCannotDeadlock) {
    std::string input(4 << 20, 'x');
    for (size_t i = 0; i < input.size(); i += 4099) input[i] = char('a' + i % 26);
    TProcessRun run = RunProcess({"timeout", "20", "cat"}, Feeding(), input);
    EXPECT_EQ(ExitCode(run.Status), 0);
    EXPECT_TRUE(run.InputTaken);
    EXPECT_TRUE(run.Output == input) << run.Output.size() << " of " << input.size() << " bytes came back";

    // Writes its whole answer before it reads anything.
    run = RunProcess({"timeout", "20", "sh", "-c", "head -c 3000000 /dev/zero; wc -c"}, Feeding(), input);
    EXPECT_EQ(ExitCode(run.Status), 0);
    EXPECT_EQ(run.Output, std::string(3000000, '\0') + "4194304\n");
}

// A child that ends before it has read its input: the write fails with a
// reason, SIGPIPE (at its default, which would end this test program) is
// neither delivered nor left pending, and the child is still waited for.
TEST(Process, AChildThatStopsReadingGivesAWriteErrorNotSIGPIPE) {
    void (*previous)(int) = signal(SIGPIPE, SIG_DFL);
    const std::string input(8 << 20, 'x');
    TProcess process;
    std::string error;
    ASSERT_TRUE(process.Start({"sh", "-c", "head -c 10 >/dev/null; echo read; exit 5"}, Feeding(), error)) << error;
    EXPECT_FALSE(process.Write(input, error));
    EXPECT_EQ(error, "Broken pipe");
    EXPECT_EQ(ExitCode(process.Wait()), 5);
    EXPECT_EQ(process.Output(), "read\n");
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);

    const TProcessRun run = RunProcess({"true"}, Feeding(), input);
    EXPECT_FALSE(run.InputTaken);
    EXPECT_EQ(ExitCode(run.Status), 0);
    signal(SIGPIPE, previous);
}

// A runner left by an exception kills and reaps its child; one that waits
// does not wait for a grandchild that holds the output pipe open.
TEST(Process, NoChildIsLeftRunningOrUnreaped) {
    pid_t child = -1;
    try {
        TProcess process;
        std::string error;
        ASSERT_TRUE(process.Start({"sleep", "600"}, Feeding(), error)) << error;
        child = process.Pid();
        throw std::runtime_error("the caller fails");
    } catch (const std::runtime_error&) {
    }
    ASSERT_GT(child, 0);
    EXPECT_TRUE(Reaped(child));

    TProcess process;
    std::string error;
    ASSERT_TRUE(process.Start({"sh", "-c", "sleep 600 & echo $!; exit 4"}, Capturing(), error)) << error;
    child = process.Pid();
    EXPECT_EQ(ExitCode(process.Wait()), 4);
    EXPECT_TRUE(Reaped(child));
    const pid_t grandchild = pid_t(std::stol(process.Output()));
    EXPECT_EQ(::kill(grandchild, 0), 0) << "Wait returned only after the grandchild ended";
    ::kill(grandchild, SIGKILL);
}
