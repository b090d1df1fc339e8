#include "support/run_engine.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace testutil {

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

RunResult RunEngine(const std::string& arguments, const std::string& folder) {
    return RunShell("cd " + Quote(folder) + " && SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null CI=true " +
                    Quote(CORVALA_BINARY) + " " + arguments);
}

RunResult RunShell(const std::string& command) {
    RunResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer;
    size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.Output.append(buffer.data(), got);
    const int status = pclose(pipe);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace testutil
