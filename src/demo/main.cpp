// The engine's entry point: runs "karmont.cvl" in the working directory, or
// the script named on the command line.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "demo/demo.h"
#include "demo/report.h"

namespace {

// A modal box only in an interactive desktop run: never under CI, never with
// the offscreen or dummy video driver, never without a display.
bool IsInteractiveDesktop() {
    if (std::getenv("CI")) return false;
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (driver && (std::string(driver) == "offscreen" || std::string(driver) == "dummy")) return false;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

int PlayScript(const std::string& script) {
    try {
        TCDemo demo(script);
        demo.Run();
        return demo.ExitCode();
    } catch (const EApplicationError& error) {
        ReportMessage("Application Error", error.what());
        return 1;
    } catch (const std::exception& error) {
        ReportMessage("Application Error", error.what());
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    SetInteractiveReports(IsInteractiveDesktop());
    if (args.empty()) return PlayScript(DefaultScriptFile);
    return PlayScript(args[0]);
}
