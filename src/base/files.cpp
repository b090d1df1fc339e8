#include "base/files.h"

#include <algorithm>
#include <filesystem>

#include <sys/stat.h>

#include "base/output.h"
#include "base/report.h"

namespace {

namespace fs = std::filesystem;

TInputFileObserver inputObserver;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// A file in the same folder whose name equals `name` but for letter case.
std::string OtherCase(const fs::path& path) {
    std::error_code ec;
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string wanted = Lower(path.filename().string());
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (Lower(entry.path().filename().string()) == wanted)
            return (path.has_parent_path() ? (path.parent_path() / entry.path().filename()) : entry.path().filename())
                .string();
    }
    return {};
}

} // namespace

bool CheckAssetFile(const std::string& name, const std::string& what) {
    std::error_code ec;
    if (name.empty()) {
        ShowScriptError("No " + what + " file named");
        return false;
    }
    // A missing file is watched too: it may appear.
    NoteInputFile(name);
    if (fs::is_regular_file(name, ec)) return true;
    std::string special;
    if (!CheckNotSpecialFile(name, special)) {
        ShowScriptError("The " + what + " file " + special);
        return false;
    }
    const std::string other = OtherCase(fs::path(name));
    if (!other.empty())
        ShowScriptError("The " + what + " file " + name + " is missing, but " + other +
                        " exists: names are case-sensitive on Linux");
    else
        ShowScriptError("The " + what + " file " + name + " is missing (looked in " + LookupFolder() + ")");
    return false;
}

std::string SpecialFileKind(const std::string& name) {
    struct stat info {};
    if (name.empty() || ::stat(name.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return {};
    if (S_ISDIR(info.st_mode)) return "a folder";
    if (S_ISFIFO(info.st_mode)) return "a FIFO (named pipe)";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device";
    if (S_ISSOCK(info.st_mode)) return "a socket";
    return "a special file";
}

bool CheckNotSpecialFile(const std::string& name, std::string& error) {
    const std::string kind = SpecialFileKind(name);
    if (kind.empty()) return true;
    error = name + ": is " + kind + ", not a file";
    return false;
}

std::string LookupFolder() {
    std::error_code ec;
    return fs::current_path(ec).string();
}

std::string AbsoluteFileName(const std::string& name) {
    if (name.empty()) return {};
    std::error_code ec;
    const fs::path path = fs::absolute(name, ec);
    return ec ? name : path.lexically_normal().string();
}

std::string ExecutableFile() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
}

void SetInputFileObserver(TInputFileObserver observer) { inputObserver = std::move(observer); }

void NoteInputFile(const std::string& name) {
    if (name.empty()) return;
    // What the production reads is never written over (CheckOutputPath).
    NoteProtectedInput(name);
    if (inputObserver) inputObserver(name);
}
