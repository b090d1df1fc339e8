// Hot reload for dev mode: the demo is built again from its script while
// the window, the GL context and the sound output stay open. Pictures and
// models whose files did not change come from memory, the music is taken
// over unless its file changed, and playback goes on at the same demo time.
// Every build runs the pre-flight's checks (TDemoOptions::Checked); a new
// version with any error keeps the previous demo playing.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/report.h"
#include "demo/demo.h"

// Size and modification time of a file; equal stamps mean unchanged.
struct TFileStamp {
    bool Exists = false;
    int64_t ModifiedNs = 0; // nanoseconds since the epoch
    uintmax_t Size = 0;
    bool operator==(const TFileStamp&) const = default;
};
TFileStamp StampOf(const std::string& path);

class TDevReloader {
public:
    // Builds the first demo from `script` (relative to the current folder,
    // which every rebuild starts from again). Script errors are reported as
    // in a normal run; an EApplicationError passes through.
    TDevReloader(const std::string& script, const TDemoOptions& options = {});
    ~TDevReloader();
    TDevReloader(const TDevReloader&) = delete;
    TDevReloader& operator=(const TDevReloader&) = delete;

    TCDemo& Demo() { return *demo; }

    // True once the script, the tracker, or a picture, model or music file
    // the script names has changed on disk since the last build (or since
    // the last failed Reload). Cheap enough for every frame: the files are
    // looked at no more than every PollInterval.
    bool FilesChanged();

    // Executes the script again into a new demo that continues the current
    // one at its demo time, and runs the pre-flight's checks on it. True:
    // the new demo replaced the old one, whose effects and what they owned
    // (textures, display lists, meshes, a replaced music) are freed. False:
    // the new version had an error (a script error, a file that failed, a
    // bar on an empty slot, an INPUT on a channel the new tracker lacks...);
    // the old demo is kept and plays on, and Refusal() holds the first
    // error. The caller gives the next frame FrameTime 0 and applies its own
    // pause and speed to the music when it was loaded anew
    // (MusicReplaced()).
    bool Reload();

    // The first error of the last failed Reload; empty after a good one.
    const std::optional<TReport>& Refusal() const { return refusal; }
    // A warning of the refused version, new against the playing one, at or
    // above the refusal's line (a misspelt keyword the error follows from);
    // null when there is none.
    const TReport* RefusalCause() const { return refusalCause ? &*refusalCause : nullptr; }
    // Refusal() as "file:line: message"; "" after a good Reload.
    std::string Error() const;
    // What the checks said of the playing version: its warnings, and the
    // errors of a first build that played on after them, in line order.
    const std::vector<TReport>& Reports() const { return reports; }
    // The last successful Reload loaded the music again (its file changed).
    bool MusicReplaced() const { return musicReplaced; }
    // Absolute names of the files watched for changes.
    std::vector<std::string> WatchedFiles() const;

    static constexpr std::chrono::milliseconds PollInterval{200};

private:
    using TStamps = std::map<std::string, TFileStamp>;
    // Builds a demo in `folder`, stamping every input file it reads.
    std::unique_ptr<TCDemo> Build(const TDemoOptions& buildOptions, TStamps& noted);

    std::string script;
    std::string folder; // absolute; every build starts here
    TDemoOptions options;
    std::unique_ptr<TCDemo> demo;
    TStamps loaded;  // files of the playing demo, stamped when they were read
    TStamps watched; // what FilesChanged compares against
    std::optional<TReport> refusal;
    std::optional<TReport> refusalCause;
    std::vector<TReport> reports;
    bool musicReplaced = false;
    bool changeSeen = false;
    std::chrono::steady_clock::time_point lastPoll{};
};
