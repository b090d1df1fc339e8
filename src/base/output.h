// The one writer. Every file the engine and its tools write (frames, shots,
// videos, reports, tracker files, tracks, packs) goes through TOutputFile or
// WriteFileWhole: the bytes go to a temporary file beside the destination,
// are flushed and synced, and only a complete file is renamed over the
// destination. A full disk, a killed helper process or a crash leaves the
// previous file as it was and no half-written one.
//
// A destination that is a link is written through it: the file the link
// names is replaced and the link stays. A destination that is a character
// device or a FIFO (/dev/stdout, /dev/null, a named pipe), or this process's
// own standard output or error, cannot be replaced: the bytes are written
// straight to it, as they come. A block device or a socket is refused.
//
// Before any work starts, a command refuses an output that is, or resolves
// through links to, one of its inputs (CheckOutputPath): the script, a file
// the production reads (NoteProtectedInput), or the tool's own input.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct stat;

class TOutputFile {
public:
    TOutputFile() = default;
    ~TOutputFile(); // an uncommitted file is discarded
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;
    TOutputFile(TOutputFile&& other) noexcept;
    TOutputFile& operator=(TOutputFile&& other) noexcept;

    // Creates the temporary file beside `path` (or opens a stream destination
    // for writing straight). False with a message naming the file and the
    // system's reason ("No space left on device").
    bool Open(const std::string& path, std::string& error);
    // Appends bytes; the first failure is kept and reported by Commit.
    bool Write(const void* data, size_t size);
    bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
    // Flushes, syncs and closes the temporary file, then renames it over the
    // destination and syncs the folder. False (destination untouched, the
    // temporary removed) when any step or an earlier Write failed.
    bool Commit(std::string& error);
    // Removes the temporary file; the destination stays as it was.
    void Discard();

    bool IsOpen() const { return file != nullptr || !tempPath.empty(); }
    // True when the destination is a stream (a device, a FIFO, standard
    // output) written straight, without a temporary file; TempPath is empty.
    bool WritesStraight() const { return straight; }
    const std::string& Path() const { return destination; }
    // The temporary file's name. It ends with the destination's own name, so
    // its extension is kept (a helper such as ffmpeg that picks its format by
    // extension can write there, after CloseForHelper).
    const std::string& TempPath() const { return tempPath; }
    // Closes our handle on the temporary file so another process can write
    // it by name; Commit then syncs and renames what that process left.
    void CloseForHelper();

private:
    bool OpenStream(const std::string& path, const struct stat& info, std::string& error);

    std::string destination;
    std::string renameTarget; // the destination with its links resolved
    std::string tempPath;
    bool straight = false;
    std::FILE* file = nullptr;
    int writeErrno = 0; // first failure of Write, 0 when none
};

// True when `path` is (through links) where this process's standard output
// goes (/dev/stdout, or the file it is redirected to): a command writing
// there prints its own messages on standard error instead.
bool IsStandardOutput(const std::string& path);

// Writes `bytes` to `path` whole or not at all (TOutputFile).
bool WriteFileWhole(const std::string& path, std::string_view bytes, std::string& error);

// The name of a temporary file beside `path` for the one writer:
// "FOLDER/.corvala-PID-N-NAME", N counting up within the process.
std::string TemporaryNameBeside(const std::string& path);

// True when `a` and `b` name the same file: the same device and inode for
// existing files (links followed), else the same absolute, normalised path.
bool SameFile(const std::string& a, const std::string& b);

// Files the production reads, noted as they are read (the script, tracker,
// music, pictures, models, tracks, shaders). Paths are kept absolute.
void NoteProtectedInput(const std::string& path);
const std::vector<std::string>& ProtectedInputs();
void ClearProtectedInputs();

// Refuses an output path that is one of `inputs` or a noted protected input
// (links resolved). False with "refusing to write ROLE to OUTPUT: that file
// is INPUT, which ... reads; choose another name" in `error`. `role` names what the output is ("the video").
bool CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs, const std::string& role,
                     std::string& error);
