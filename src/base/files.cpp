#include "base/files.h"

#include <algorithm>
#include <filesystem>

#include "base/report.h"

namespace {

namespace fs = std::filesystem;

TInputFileObserver inputObserver;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// A file in the same folder whose name equals `name` but for letter case.
std::string OtherCase(const fs::path& path) {
    std::error_code ec;
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string wanted = Lower(path.filename().string());
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (Lower(entry.path().filename().string()) == wanted)
            return (path.has_parent_path() ? (path.parent_path() / entry.path().filename())
                                           : entry.path().filename())
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
    const std::string other = OtherCase(fs::path(name));
    if (!other.empty())
        ShowScriptError("The " + what + " file " + name + " is missing, but " + other +
                        " exists: names are case-sensitive on Linux");
    else
        ShowScriptError("The " + what + " file " + name + " is missing (looked in " + LookupFolder() +
                        ")");
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

void SetInputFileObserver(TInputFileObserver observer) { inputObserver = std::move(observer); }

void NoteInputFile(const std::string& name) {
    if (inputObserver && !name.empty()) inputObserver(name);
}
