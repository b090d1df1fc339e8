// Child processes (ffmpeg, glslangValidator, the pack's helpers) started by
// an argument list, never through a shell. The child's input can be a pipe
// we feed; its standard output and error can be captured, together, into a
// string of bounded size (the rest is read and dropped, so the child never
// blocks on a full pipe). Feeding and capturing run in one poll() loop, so a
// child that writes much before it has read all of its input cannot
// deadlock us. A child that stops reading makes Write fail (EPIPE), without
// SIGPIPE ending this process. A TProcess that goes out of scope with its
// child still running kills and reaps it: no child is left running or as a
// zombie when the caller throws or returns early.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct TProcessOptions {
    std::string Folder;                   // the child starts in this folder; "" ours
    bool FeedInput = false;               // standard input is a pipe fed by Write; else ours
    bool CaptureOutput = false;           // standard output into Output(); else ours
    bool CaptureErrors = false;           // standard error into Output(); else ours
    size_t OutputLimit = size_t(1) << 20; // bytes of Output() kept at most
};

class TProcess {
public:
    TProcess() = default;
    ~TProcess(); // a child still running is killed (SIGKILL) and reaped
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    // Starts argv[0] (looked up on the PATH unless it holds a '/') with
    // `argv`, SIGPIPE at its default in the child. False, with "cannot start
    // NAME: REASON" in `error`, when it could not be started (no such
    // program, not executable, no such folder).
    bool Start(const std::vector<std::string>& argv, const TProcessOptions& options, std::string& error);
    bool Running() const { return pid > 0; }
    pid_t Pid() const { return pid; }

    // Writes all `size` bytes to the child's input (FeedInput), reading its
    // captured output meanwhile. Blocks while the child is busy. False, with
    // the system's reason, once the child no longer reads (it closed its
    // input or ended).
    bool Write(const void* data, size_t size, std::string& error);
    bool Write(std::string_view bytes, std::string& error) { return Write(bytes.data(), bytes.size(), error); }
    // Ends the child's input: it reads end of file.
    void CloseInput();
    // Closes the input, reads the captured output until the child has ended,
    // and reaps it. Returns the wait status (WIFEXITED, DescribeExit), or -1
    // when no child was running or it could not be waited for.
    int Wait();
    // Kills the child (SIGKILL) and reaps it; nothing when none runs. What it
    // wrote before stays in Output().
    void Kill();

    // What the child wrote to the captured streams, at most OutputLimit
    // bytes from its start; OutputCut tells that more was dropped.
    const std::string& Output() const { return output; }
    bool OutputCut() const { return cut; }

private:
    void Keep(const char* data, size_t size);
    // Reads, without waiting, what the ended child left in its output pipe.
    void TakeWhatIsThere();
    void CloseFds();

    pid_t pid = -1;
    int inputFd = -1;  // our end of the child's standard input
    int outputFd = -1; // our end of its captured output
    size_t limit = 0;
    std::string output;
    bool cut = false;
};

// The end of RunProcess: Started false with Error when it could not start.
struct TProcessRun {
    bool Started = false;
    std::string Error;
    int Status = -1;    // the wait status; -1 when not started or not waited for
    std::string Output; // captured output, at most OutputLimit bytes
    bool OutputCut = false;
    bool InputTaken = true; // false when the child ended before reading all of `input`
};

// Runs `argv` to its end, feeding it `input` (when options.FeedInput).
TProcessRun RunProcess(const std::vector<std::string>& argv, const TProcessOptions& options,
                       std::string_view input = {});

// The exit code of a wait status, or -1 when the child did not exit
// normally (killed by a signal) or the status is -1.
int ExitCode(int status);

// How a child process ended, for messages: "exited with status 1", "was
// killed by signal 9 (Killed)".
std::string DescribeExit(int status);

// True when `program` is an executable file in one of the PATH folders (the
// system's default folders when PATH is not set), as Start would find it.
bool ProgramOnPath(const std::string& program);
