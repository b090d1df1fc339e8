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

#include "demo/report.h"

namespace fuzzsupport {

inline void QuietReports() {
    SetInteractiveReports(false);
    SetReportSink([](const std::string&, const std::string&) {});
}

inline std::filesystem::path& ScratchPath() {
    static std::filesystem::path path;
    return path;
}

// <temp>/corvala-fuzz-<target>-<pid>, created on first use and removed when
// the process exits normally. /dev/shm is preferred so the file a target
// writes per input costs no disk traffic.
inline const std::filesystem::path& ScratchFolder(const char* target) {
    static const std::filesystem::path folder = [target] {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
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
