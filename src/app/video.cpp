#include "app/video.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Starts argv[0] from the PATH with `stdinFd` (or the inherited stdin when
// -1) as its standard input and `stderrFd` (or the inherited one) as its
// standard error. Returns the process id or -1.
pid_t Spawn(const std::vector<std::string>& argv, int stdinFd, int stderrFd = -1) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    pid_t pid = -1;
    const int result = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : -1;
}

// Exit status of a finished child, or -1 when it did not exit normally;
// `how` receives DescribeExit of the wait status.
int WaitFor(pid_t pid, std::string* how = nullptr) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) {
            if (how) *how = "could not be waited for";
            return -1;
        }
    if (how) *how = DescribeExit(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ffmpeg runs with "-loglevel error": whatever it prints is an error, also
// when it exits with status 0 (it does after failing to write the file's
// end on a full disk). Its messages go to an in-memory file, are passed on
// to our standard error, and make the run count as failed.
int OpenErrorLog() { return memfd_create("ffmpeg-errors", MFD_CLOEXEC); }

// What the log holds (copied to standard error), "" when nothing; closes it.
std::string CloseErrorLog(int fd) {
    if (fd < 0) return {};
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = pread(fd, buffer, sizeof buffer, off_t(text.size()))) > 0 && text.size() < (1 << 20))
        text.append(buffer, size_t(got));
    close(fd);
    if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
    const size_t end = text.find('\n');
    return text.substr(0, end);
}

} // namespace

std::string DescribeExit(int status) {
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "was killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    return "ended abnormally";
}

bool ProgramOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    const std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(':', start), list.size());
        const fs::path candidate = fs::path(list.substr(start, end - start)) / program;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

int RunProgram(const std::vector<std::string>& argv, std::string* how) {
    const pid_t pid = Spawn(argv, -1);
    if (pid <= 0) {
        if (how) *how = "could not be started";
        return -1;
    }
    return WaitFor(pid, how);
}

TVideoEncoder::~TVideoEncoder() {
    if (Pipe >= 0) close(Pipe);
    if (Pid > 0) WaitFor(Pid);
    CloseErrorLog(ErrorLog);
}

bool TVideoEncoder::Start(const std::string& file, int width, int height, int fps, std::string& error,
                          const std::string& shownName) {
    File = shownName.empty() ? file : shownName;
    FrameBytes = size_t(width) * size_t(height) * 4;
    // A write to a pipe whose reader has died must fail with EPIPE, not end
    // the engine.
    signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = "Cannot open a pipe to ffmpeg for " + File;
        return false;
    }
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    // The rows arrive bottom row first: vflip puts the top row on top. The
    // 4:2:0 colour planes need even sides: an odd width or height gets one
    // black column or row at the right or bottom.
    std::vector<std::string> argv = {
        "ffmpeg",     "-nostdin",          "-hide_banner", "-loglevel", "error", "-y",
        "-f",         "rawvideo",          "-pix_fmt",     "rgb0",      "-s",    size,
        "-framerate", std::to_string(fps), "-i",           "pipe:0",    "-vf",   "vflip,pad=ceil(iw/2)*2:ceil(ih/2)*2"};
    for (const std::string& arg : VideoCodecArguments(Profile)) argv.push_back(arg);
    for (const char* arg : {"-pix_fmt", "yuv420p", "-movflags", "+faststart", "-f", "mp4"}) argv.push_back(arg);
    argv.push_back(file);
    ErrorLog = OpenErrorLog();
    Pid = Spawn(argv, fds[0], ErrorLog);
    close(fds[0]);
    if (Pid <= 0) {
        close(fds[1]);
        error = "Cannot start ffmpeg to make " + File;
        return false;
    }
    Pipe = fds[1];
    return true;
}

bool TVideoEncoder::WriteFrame(const uint8_t* pixels, size_t size, std::string& error) {
    if (Pipe < 0 || size != FrameBytes) {
        error = "The video " + File + " takes frames of one size only";
        return false;
    }
    while (size > 0) {
        const ssize_t done = write(Pipe, pixels, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            error = "ffmpeg stopped while encoding " + File;
            return false;
        }
        pixels += done;
        size -= size_t(done);
    }
    return true;
}

bool TVideoEncoder::Finish(std::string& error) {
    if (Pid <= 0) {
        error = "ffmpeg was not started for " + File;
        return false;
    }
    close(Pipe);
    Pipe = -1;
    std::string how;
    const int status = WaitFor(Pid, &how);
    Pid = -1;
    const std::string reported = CloseErrorLog(ErrorLog);
    ErrorLog = -1;
    if (status != 0) {
        error = "ffmpeg " + how + " while making " + File;
        return false;
    }
    if (!reported.empty()) {
        error = "ffmpeg failed to make " + File + ": " + reported;
        return false;
    }
    return true;
}

std::vector<std::string> VideoCodecArguments(TVideoProfile profile) {
    if (profile == TVideoProfile::Party)
        // Constant 8 Mbit/s (filler where the picture is simple), a key frame
        // every two seconds, as stream relays take it.
        return {"-c:v",         "libx264",
                "-preset",      "medium",
                "-profile:v",   "main",
                "-level:v",     "4.1",
                "-b:v",         "8M",
                "-minrate",     "8M",
                "-maxrate",     "8M",
                "-bufsize",     "8M",
                "-x264-params", "nal-hrd=cbr",
                "-g",           "60",
                "-r",           std::to_string(PartyVideoFps)};
    return {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18"};
}

std::vector<std::string> AudioCodecArguments(TVideoProfile profile) {
    if (profile == TVideoProfile::Party) return {"-c:a", "aac", "-b:a", "192k", "-ac", "2", "-ar", "48000"};
    return {"-c:a", "aac", "-b:a", "192k"};
}

bool MuxVideoAndAudio(const std::string& video, const std::string& wav, const std::string& output,
                      const std::string& shownName, std::string& error, TVideoProfile profile) {
    std::string how;
    const int errorLog = OpenErrorLog();
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                                     "-i",     video,      "-i",           wav,         "-map",  "0:v:0",
                                     "-map",   "1:a:0",    "-c:v",         "copy"};
    for (const std::string& arg : AudioCodecArguments(profile)) argv.push_back(arg);
    for (const char* arg : {"-movflags", "+faststart", "-f", "mp4"}) argv.push_back(arg);
    argv.push_back(output);
    const pid_t pid = Spawn(argv, -1, errorLog);
    const int status = pid > 0 ? WaitFor(pid, &how) : -1;
    if (pid <= 0) how = "could not be started";
    const std::string reported = CloseErrorLog(errorLog);
    if (status != 0) {
        error = "ffmpeg " + how + " while adding the sound to " + shownName;
        return false;
    }
    if (!reported.empty()) {
        error = "ffmpeg failed to add the sound to " + shownName + ": " + reported;
        return false;
    }
    return true;
}
