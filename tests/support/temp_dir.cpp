#include "support/temp_dir.h"

#include <sys/mount.h>

#include <fstream>
#include <random>

namespace testutil {

TempDir::TempDir() {
    std::random_device device;
    for (;;) {
        path = std::filesystem::temp_directory_path() / ("corvala-test-" + std::to_string(device()));
        if (std::filesystem::create_directory(path)) break;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& text) const {
    const std::string full = File(name);
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    std::ofstream(full, std::ios::binary) << text;
    return full;
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    return Write(name, std::string(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> TrackerBytes(int32_t channels, int32_t rows, const std::vector<uint8_t>& grid) {
    std::vector<uint8_t> bytes;
    for (int32_t value : {channels, rows})
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(uint32_t(value) >> shift));
    bytes.insert(bytes.end(), grid.begin(), grid.end());
    return bytes;
}

ScopedCwd::ScopedCwd(const std::filesystem::path& dir) : previous(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
    std::error_code ignored;
    std::filesystem::current_path(previous, ignored);
}

SmallDisk::SmallDisk(const std::string& disk) : folder(disk) {
    std::filesystem::create_directories(folder);
    mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
}

} // namespace testutil
