#include "base/output.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Reason(int err) { return std::strerror(err); }

std::string FolderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// Syncs a folder so that a rename in it survives a crash. Failure is not an
// error: some file systems do not sync folders.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string Normalised(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) absolute = path;
    const fs::path canonical = fs::weakly_canonical(absolute, ec);
    return (ec ? absolute.lexically_normal() : canonical).string();
}

std::vector<std::string>& Protected() {
    static std::vector<std::string> inputs;
    return inputs;
}

// STDOUT_FILENO or STDERR_FILENO when `info` is the file this process's
// standard output or error writes to, else 0.
int IsStandardStream(const struct stat& info) {
    for (const int standard : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat own {};
        if (::fstat(standard, &own) == 0 && own.st_dev == info.st_dev && own.st_ino == info.st_ino) return standard;
    }
    return 0;
}

} // namespace

std::string TemporaryNameBeside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const fs::path target(path);
    const std::string name =
        ".corvala-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + target.filename().string();
    return (target.parent_path() / name).string();
}

TOutputFile::~TOutputFile() { Discard(); }

TOutputFile::TOutputFile(TOutputFile&& other) noexcept
    : destination(std::move(other.destination)), renameTarget(std::move(other.renameTarget)),
      tempPath(std::move(other.tempPath)), straight(other.straight), file(other.file), writeErrno(other.writeErrno) {
    other.file = nullptr;
    other.tempPath.clear();
    other.straight = false;
}

TOutputFile& TOutputFile::operator=(TOutputFile&& other) noexcept {
    if (this != &other) {
        Discard();
        destination = std::move(other.destination);
        renameTarget = std::move(other.renameTarget);
        tempPath = std::move(other.tempPath);
        straight = other.straight;
        file = other.file;
        writeErrno = other.writeErrno;
        other.file = nullptr;
        other.tempPath.clear();
        other.straight = false;
    }
    return *this;
}

bool TOutputFile::Open(const std::string& path, std::string& error) {
    Discard();
    destination = path;
    renameTarget = path;
    straight = false;
    writeErrno = 0;
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        error = "cannot write " + path + ": it is a folder";
        return false;
    }
    if (exists && (S_ISBLK(info.st_mode) || S_ISSOCK(info.st_mode))) {
        error = "cannot write " + path + ": it is a " + (S_ISBLK(info.st_mode) ? "block device" : "socket") +
                ", not a file";
        return false;
    }
    if (exists && (!S_ISREG(info.st_mode) || IsStandardStream(info))) return OpenStream(path, info, error);
    struct stat linkInfo {};
    if (exists && ::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        // Replace the file the link names; renaming over the link itself
        // would turn the link into a file and leave its target stale.
        std::error_code ec;
        const fs::path target = fs::canonical(path, ec);
        if (!ec) renameTarget = target.string();
    }
    tempPath = TemporaryNameBeside(renameTarget);
    // O_EXCL: never follow or reuse something that sits at the temporary name.
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + path + ": " + Reason(errno);
        tempPath.clear();
        return false;
    }
    file = ::fdopen(fd, "wb");
    if (!file) {
        error = "cannot write " + path + ": " + Reason(errno);
        ::close(fd);
        ::unlink(tempPath.c_str());
        tempPath.clear();
        return false;
    }
    return true;
}

bool TOutputFile::OpenStream(const std::string& path, const struct stat& info, std::string& error) {
    // This process's own standard output or error (/dev/stdout, also when
    // it is redirected to a file): write through the descriptor it has, so
    // the bytes follow what was printed there before.
    const int standard = IsStandardStream(info);
    int fd = standard != 0 ? ::fcntl(standard, F_DUPFD_CLOEXEC, 0) : -1;
    if (fd < 0) {
        // Non-blocking, so that a FIFO nobody reads is refused at once
        // (ENXIO) instead of waiting for a reader forever.
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            error =
                "cannot write " + path + ": " +
                (errno == ENXIO && S_ISFIFO(info.st_mode) ? std::string("no process reads that pipe") : Reason(errno));
            return false;
        }
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    file = ::fdopen(fd, "wb");
    if (!file) {
        error = "cannot write " + path + ": " + Reason(errno);
        ::close(fd);
        return false;
    }
    straight = true;
    return true;
}

bool TOutputFile::Write(const void* data, size_t size) {
    if (writeErrno != 0) return false;
    if (!file) {
        writeErrno = EBADF;
        return false;
    }
    if (size > 0 && std::fwrite(data, 1, size, file) != size) {
        writeErrno = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

void TOutputFile::CloseForHelper() {
    if (!file) return;
    if (std::fclose(file) != 0 && writeErrno == 0) writeErrno = errno != 0 ? errno : EIO;
    file = nullptr;
}

bool TOutputFile::Commit(std::string& error) {
    if (straight) {
        int err = writeErrno;
        if (file) {
            if (err == 0 && std::fflush(file) != 0) err = errno != 0 ? errno : EIO;
            // Pipes and terminals cannot be synced (EINVAL); that is no failure.
            if (err == 0 && ::fsync(::fileno(file)) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP)
                err = errno;
            if (std::fclose(file) != 0 && err == 0) err = errno != 0 ? errno : EIO;
            file = nullptr;
        }
        straight = false;
        if (err != 0) {
            error = "cannot write " + destination + ": " + Reason(err);
            return false;
        }
        return true;
    }
    if (tempPath.empty()) {
        error = "cannot write " + destination + ": it was not opened";
        return false;
    }
    int err = writeErrno;
    if (file) {
        if (err == 0 && std::fflush(file) != 0) err = errno != 0 ? errno : EIO;
        if (err == 0 && ::fsync(::fileno(file)) != 0) err = errno;
        if (std::fclose(file) != 0 && err == 0) err = errno != 0 ? errno : EIO;
        file = nullptr;
    } else if (err == 0) {
        // A helper process wrote the file by name: sync what it left.
        const int fd = ::open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            err = errno;
        } else {
            if (::fsync(fd) != 0) err = errno;
            ::close(fd);
        }
    }
    if (err == 0 && ::rename(tempPath.c_str(), renameTarget.c_str()) != 0) err = errno;
    if (err != 0) {
        error = "cannot write " + destination + ": " + Reason(err);
        ::unlink(tempPath.c_str());
        tempPath.clear();
        return false;
    }
    tempPath.clear();
    SyncFolder(FolderOf(renameTarget));
    return true;
}

void TOutputFile::Discard() {
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
    straight = false;
    if (!tempPath.empty()) {
        ::unlink(tempPath.c_str());
        tempPath.clear();
    }
}

bool IsStandardOutput(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && IsStandardStream(info) == STDOUT_FILENO;
}

bool WriteFileWhole(const std::string& path, std::string_view bytes, std::string& error) {
    TOutputFile out;
    if (!out.Open(path, error)) return false;
    out.Write(bytes);
    return out.Commit(error);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat infoA {};
    struct stat infoB {};
    if (::stat(a.c_str(), &infoA) == 0 && ::stat(b.c_str(), &infoB) == 0)
        return infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
    return Normalised(a) == Normalised(b);
}

void NoteProtectedInput(const std::string& path) {
    if (path.empty()) return;
    const std::string absolute = Normalised(path);
    for (const auto& known : Protected())
        if (known == absolute) return;
    Protected().push_back(absolute);
}

const std::vector<std::string>& ProtectedInputs() { return Protected(); }

void ClearProtectedInputs() { Protected().clear(); }

bool CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs, const std::string& role,
                     std::string& error) {
    auto refuse = [&](const std::string& input, const std::string& what) {
        error = "refusing to write " + role + " to " + output + ": that file is " + input + ", " + what +
                "; choose another name";
        return false;
    };
    for (const auto& input : inputs)
        if (!input.empty() && SameFile(output, input)) return refuse(input, "which this command reads");
    for (const auto& input : Protected())
        if (SameFile(output, input)) return refuse(input, "which the production reads");
    return true;
}
