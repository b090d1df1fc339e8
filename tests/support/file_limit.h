// A full disk, made for a scope: files this process (and the programs it
// starts) writes may grow to a given size only. A write past it fails with
// EFBIG ("File too large") the way a full disk fails with ENOSPC; SIGXFSZ is
// ignored meanwhile so the failure reaches the writer.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace testutil {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous{};
    sighandler_t oldHandler{};
};

} // namespace testutil
