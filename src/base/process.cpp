#include "base/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern char** environ;

namespace {

// How long Wait sleeps on a quiet output pipe before it looks whether the
// child has ended (a grandchild may hold the pipe open after it), in ms.
constexpr int WaitPollMs = 100;
// The most a pipe can hold (Linux's largest pipe size): what a child that
// has ended left in its output pipe.
constexpr size_t MaxPipeBytes = size_t(1) << 20;

// Holds SIGPIPE back from this thread while it writes to a child: a write
// to a child that has gone fails with EPIPE, and the signal it raised is
// taken back before the thread's mask is restored, so this works whatever
// the process does with SIGPIPE and from any thread.
class TSigpipeHold {
public:
    TSigpipeHold() {
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        alreadyPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    }
    ~TSigpipeHold() {
        if (raised && !alreadyPending) {
            const timespec none{};
            while (sigtimedwait(&pipeOnly, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    TSigpipeHold(const TSigpipeHold&) = delete;
    TSigpipeHold& operator=(const TSigpipeHold&) = delete;
    void Raised() { raised = true; }

private:
    sigset_t pipeOnly{}, previous{};
    bool alreadyPending = false, raised = false;
};

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// A pipe, both ends close-on-exec and above the standard streams (when this
// process runs with one of them closed, a pipe end could otherwise be fd 0,
// 1 or 2 and be overwritten by the child's own redirections).
bool MakePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        if (fds[i] > STDERR_FILENO) continue;
        const int moved = ::fcntl(fds[i], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(fds[i]);
        fds[i] = moved;
    }
    if (fds[0] >= 0 && fds[1] >= 0) return true;
    CloseFd(fds[0]);
    CloseFd(fds[1]);
    return false;
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

enum class TRead { Data, Idle, End };

// One read from a non-blocking pipe after waiting up to `timeoutMs` for it.
TRead ReadOnce(int fd, int timeoutMs, std::string& chunk) {
    pollfd ready{fd, POLLIN, 0};
    const int events = ::poll(&ready, 1, timeoutMs);
    if (events < 0) return errno == EINTR ? TRead::Idle : TRead::End;
    if (events == 0) return TRead::Idle;
    char buffer[8192];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
        chunk.assign(buffer, size_t(got));
        return TRead::Data;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return TRead::Idle;
    return TRead::End;
}

} // namespace

TProcess::~TProcess() { Kill(); }

bool TProcess::Start(const std::vector<std::string>& argv, const TProcessOptions& options, std::string& error) {
    if (pid > 0) {
        error = "cannot start " + (argv.empty() ? std::string("a program") : argv[0]) + ": one is running already";
        return false;
    }
    if (argv.empty() || argv[0].empty()) {
        error = "cannot start a program: none was named";
        return false;
    }
    output.clear();
    cut = false;
    limit = options.OutputLimit;
    int input[2] = {-1, -1}, captured[2] = {-1, -1};
    const bool capture = options.CaptureOutput || options.CaptureErrors;
    if ((options.FeedInput && !MakePipe(input)) || (capture && !MakePipe(captured))) {
        error = "cannot start " + argv[0] + ": cannot open a pipe (" + std::strerror(errno) + ")";
        CloseFd(input[0]);
        CloseFd(input[1]);
        return false;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.FeedInput) posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    if (options.CaptureOutput) posix_spawn_file_actions_adddup2(&actions, captured[1], STDOUT_FILENO);
    if (options.CaptureErrors) posix_spawn_file_actions_adddup2(&actions, captured[1], STDERR_FILENO);
    if (!options.Folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.Folder.c_str());
    // The child starts with SIGPIPE at its default and not blocked, whatever
    // this process or thread does with it; the rest of the mask is kept.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, mask;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    sigdelset(&mask, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &mask);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t child = -1;
    const int spawned = posix_spawnp(&child, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    CloseFd(input[0]);
    CloseFd(captured[1]);
    if (spawned != 0) {
        CloseFd(input[1]);
        CloseFd(captured[0]);
        error = "cannot start " + argv[0] + ": " + std::strerror(spawned);
        return false;
    }
    pid = child;
    inputFd = input[1];
    outputFd = captured[0];
    // Our ends only: the child's ends stay blocking, as programs expect.
    if (inputFd >= 0) SetNonBlocking(inputFd);
    if (outputFd >= 0) SetNonBlocking(outputFd);
    return true;
}

void TProcess::Keep(const char* data, size_t size) {
    const size_t room = limit - std::min(limit, output.size());
    if (size > room) cut = true;
    output.append(data, std::min(size, room));
}

bool TProcess::Write(const void* data, size_t size, std::string& error) {
    if (inputFd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    TSigpipeHold hold;
    const char* at = static_cast<const char*>(data);
    std::string chunk;
    while (size > 0) {
        pollfd fds[2] = {{inputFd, POLLOUT, 0}, {outputFd, POLLIN, 0}};
        const nfds_t count = outputFd >= 0 ? 2 : 1;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            return false;
        }
        // The child's output first: a child blocked on a full output pipe
        // reads no more input.
        if (count == 2 && fds[1].revents != 0) {
            const TRead got = ReadOnce(outputFd, 0, chunk);
            if (got == TRead::Data) Keep(chunk.data(), chunk.size());
            if (got == TRead::End) CloseFd(outputFd);
        }
        if (fds[0].revents == 0) continue;
        const ssize_t put = ::write(inputFd, at, size);
        if (put < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            if (errno == EPIPE) hold.Raised();
            error = std::strerror(errno);
            return false;
        }
        at += put;
        size -= size_t(put);
    }
    return true;
}

void TProcess::CloseInput() { CloseFd(inputFd); }

void TProcess::TakeWhatIsThere() {
    // Bounded: a grandchild that holds the pipe and keeps writing cannot
    // keep us here.
    std::string chunk;
    for (size_t taken = 0; outputFd >= 0 && taken < MaxPipeBytes; taken += chunk.size())
        if (ReadOnce(outputFd, 0, chunk) == TRead::Data)
            Keep(chunk.data(), chunk.size());
        else
            break;
}

int TProcess::Wait() {
    CloseInput();
    if (pid <= 0) {
        CloseFd(outputFd);
        return -1;
    }
    int status = -1;
    bool reaped = false;
    std::string chunk;
    while (outputFd >= 0 && !reaped) {
        const TRead got = ReadOnce(outputFd, WaitPollMs, chunk);
        if (got == TRead::Data) Keep(chunk.data(), chunk.size());
        if (got == TRead::End) break;
        // Ended, with a grandchild still holding the pipe: what the child
        // wrote is in the pipe already; take it without waiting for more.
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            reaped = true;
            TakeWhatIsThere();
        }
    }
    CloseFd(outputFd);
    if (!reaped)
        while (::waitpid(pid, &status, 0) < 0)
            if (errno != EINTR) {
                status = -1;
                break;
            }
    pid = -1;
    return status;
}

void TProcess::Kill() {
    CloseInput();
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
        TakeWhatIsThere();
    }
    CloseFd(outputFd);
}

TProcessRun RunProcess(const std::vector<std::string>& argv, const TProcessOptions& options, std::string_view input) {
    TProcessRun run;
    TProcess process;
    if (!process.Start(argv, options, run.Error)) return run;
    run.Started = true;
    if (options.FeedInput) {
        std::string ignored;
        run.InputTaken = process.Write(input, ignored);
    }
    run.Status = process.Wait();
    run.Output = process.Output();
    run.OutputCut = process.OutputCut();
    return run;
}

int ExitCode(int status) { return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

std::string DescribeExit(int status) {
    if (status == -1) return "could not be waited for";
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "was killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    return "ended abnormally";
}

bool ProgramOnPath(const std::string& program) {
    // posix_spawnp's own search: PATH, or these folders when it is not set;
    // an empty entry is the current folder.
    const char* path = std::getenv("PATH");
    const std::string list = path ? path : "/bin:/usr/bin";
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(':', start), list.size());
        const std::string folder = end > start ? list.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + program;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}
