// The script reader and command executor: the input is a whole script,
// executed as a pre-flight check (no window, no GL, no sound output) in a
// fresh empty working folder, so every file it names is missing unless the
// script names itself.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "demo/demo.h"
#include "effects/effect.h"
#include "base/report.h"
#include "fuzz_support.h"

namespace fs = std::filesystem;

namespace {
// The fuzzer reads and writes its corpus relative to where it started.
fs::path StartFolder;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::QuietReports();
    StartFolder = fs::current_path();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& base = fuzzsupport::ScratchFolder("script");
    const fs::path work = base / "work";
    std::error_code ec;
    // A DATADIR line may have left the process anywhere.
    if (::chdir(base.c_str()) != 0) std::abort();
    fs::remove_all(work, ec);
    fs::create_directories(work);
    if (::chdir(work.c_str()) != 0) std::abort();
    fuzzsupport::WriteBytes(work / DefaultScriptFile, data, size);

    ResetScriptErrorCount();
    ClearScriptLocation();
    DemoQuit = false;
    try {
        TDemoOptions options;
        options.CheckOnly = true;
        TCDemo demo(DefaultScriptFile, options);
        (void)demo.ExitCode();
    } catch (const EApplicationError&) {
        // Ends start-up with its report; the entry point exits with code 1.
    }
    ClearScriptLocation();
    if (::chdir(StartFolder.c_str()) != 0) std::abort();
    return 0;
}
