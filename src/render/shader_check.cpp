#include "render/shader_check.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace {

// Reads everything `fd` gives until end of file, at most `limit` bytes kept.
std::string ReadAll(int fd, size_t limit) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (text.size() < limit) text.append(buffer, size_t(got));
    }
    return text;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += size_t(put);
    }
    return true;
}

} // namespace

std::string ShaderValidatorProgram() {
    const char* chosen = std::getenv("CORVALA_GLSLANG");
    return chosen && *chosen ? chosen : "glslangValidator";
}

TShaderValidation ValidateShader(const TShaderSource& source) {
    TShaderValidation result;
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0) return result;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]), close(input[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, output[1], 2);
    const std::string program = ShaderValidatorProgram();
    char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--stdin"), const_cast<char*>("-S"),
                          const_cast<char*>("frag"), nullptr};
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    if (spawned != 0) {
        close(input[1]);
        close(output[0]);
        return result;
    }
    // The validator reads all of its input before it writes: the whole
    // source goes first. A broken pipe (it died) must not end the engine.
    void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
    WriteAll(input[1], source.Text);
    close(input[1]);
    signal(SIGPIPE, previous);
    const std::string log = ReadAll(output[0], 1 << 20);
    close(output[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // posix_spawnp reports a missing program as exit code 127 from the child.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return result;
    result.Ran = true;
    result.Compiled = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!result.Compiled) {
        result.Messages = ParseShaderLog(log, source);
        if (result.Messages.empty())
            result.Messages.push_back(
                {source.Files.empty() ? "shader" : source.Files[0], 0, false, program + " failed without a message"});
    }
    return result;
}
