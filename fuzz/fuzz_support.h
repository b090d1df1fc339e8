// Shared by the fuzz targets: reports are swallowed (every target feeds
// thousands of broken inputs a second), and each target gets a private
// scratch folder under the system temp folder.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/report.h"

namespace fuzzsupport {

inline void QuietReports() {
    SetInteractiveReports(false);
    SetReportSink([](const std::string&, const std::string&) {});
}

inline std::filesystem::path& ScratchPath() {
    static std::filesystem::path path;
    return path;
}

// Removes scratch folders of fuzz processes that no longer run (libFuzzer
// ends a timed run without the exit handlers).
inline void RemoveStaleFolders(const std::filesystem::path& base) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("corvala-fuzz-", 0) != 0) continue;
        const std::string pid = name.substr(name.rfind('-') + 1);
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        if (!std::filesystem::exists("/proc/" + pid, ec)) std::filesystem::remove_all(entry.path(), ec);
    }
}

// <temp>/corvala-fuzz-<target>-<pid>, created on first use and removed when
// the process exits normally (or by the next target started). /dev/shm is
// preferred so the file a target writes per input costs no disk traffic.
inline const std::filesystem::path& ScratchFolder(const char* target) {
    static const std::filesystem::path folder = [target] {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
        RemoveStaleFolders(base);
        auto path = base / ("corvala-fuzz-" + std::string(target) + "-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        ScratchPath() = path;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchPath(), ignored);
        });
        return path;
    }();
    return folder;
}

inline void WriteBytes(const std::filesystem::path& file, const uint8_t* data, size_t size) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

} // namespace fuzzsupport
