// A fresh folder under the system temp folder, removed with its contents at
// the end of the scope; tests write their scripts, trackers and pictures here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testutil {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path; }
    // Full path of `name` inside the folder.
    std::string File(const std::string& name) const { return (path / name).string(); }
    std::string Write(const std::string& name, const std::string& text) const;
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::filesystem::path path;
};

// Tracker file bytes: channel count, row count, then the grid channel-major.
std::vector<uint8_t> TrackerBytes(int32_t channels, int32_t rows, const std::vector<uint8_t>& grid);

// Runs the current directory change for a scope (DATADIR changes it).
class ScopedCwd {
public:
    explicit ScopedCwd(const std::filesystem::path& dir);
    ~ScopedCwd();

private:
    std::filesystem::path previous;
};

// A 64 KiB tmpfs mounted on `folder` (created), for a real full disk;
// unmounted at the end of the scope. Mounted() is false where this process
// may not mount one: the test skips then.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& folder);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted; }

private:
    std::string folder;
    bool mounted = false;
};

} // namespace testutil
