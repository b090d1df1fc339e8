#include "app/video.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Starts argv[0] from the PATH with `stdinFd` (or the inherited stdin when
// -1) as its standard input. Returns the process id or -1.
pid_t Spawn(const std::vector<std::string>& argv, int stdinFd) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    pid_t pid = -1;
    const int result = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : -1;
}

// Exit status of a finished child, or -1 when it did not exit normally.
int WaitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

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

int RunProgram(const std::vector<std::string>& argv) {
    const pid_t pid = Spawn(argv, -1);
    return pid > 0 ? WaitFor(pid) : -1;
}

TVideoEncoder::~TVideoEncoder() {
    if (Pipe >= 0) close(Pipe);
    if (Pid > 0) WaitFor(Pid);
}

bool TVideoEncoder::Start(const std::string& file, int width, int height, int fps, std::string& error) {
    File = file;
    FrameBytes = size_t(width) * size_t(height) * 4;
    // A write to a pipe whose reader has died must fail with EPIPE, not end
    // the engine.
    signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = "Cannot open a pipe to ffmpeg for " + file;
        return false;
    }
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    // The rows arrive bottom row first: vflip puts the top row on top. The
    // 4:2:0 colour planes need even sides: an odd width or height gets one
    // black column or row at the right or bottom.
    const std::vector<std::string> argv = {
        "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
        "-f", "rawvideo", "-pix_fmt", "rgb0", "-s", size, "-framerate", std::to_string(fps),
        "-i", "pipe:0", "-vf", "vflip,pad=ceil(iw/2)*2:ceil(ih/2)*2", "-c:v", "libx264", "-preset", "veryfast", "-crf", "18",
        "-pix_fmt", "yuv420p", "-movflags", "+faststart", "-f", "mp4", file};
    Pid = Spawn(argv, fds[0]);
    close(fds[0]);
    if (Pid <= 0) {
        close(fds[1]);
        error = "Cannot start ffmpeg to make " + file;
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
    const int status = WaitFor(Pid);
    Pid = -1;
    if (status != 0) {
        error = "ffmpeg failed to make " + File;
        return false;
    }
    return true;
}

bool MuxVideoAndAudio(const std::string& video, const std::string& wav, const std::string& output,
                      std::string& error) {
    const int status = RunProgram({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                                   "-i", video, "-i", wav, "-map", "0:v:0", "-map", "1:a:0", "-c:v", "copy",
                                   "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", "-f", "mp4",
                                   output});
    if (status != 0) {
        error = "ffmpeg failed to add the sound to " + output;
        return false;
    }
    return true;
}
