// Offline rendering of a production: headless, at a fixed frame step, to
// numbered PNG frames and the music to a WAV file (and a video when ffmpeg is
// on the PATH).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "demo/position.h"

struct TCaptureOptions {
    std::string Dir;         // output folder, created when missing
    int Fps = 60;            // frame k shows start + k / Fps x SPEED seconds
    int64_t Frames = -1;     // stop after this many frames (-1: no limit)
    double Until = -1;       // stop once k / Fps passes this (-1: no limit)
    std::optional<TDemoPosition> Start; // replaces STARTTIME when set
    std::string Video;       // mux frames and audio into this MP4 (empty: none)
    std::string Script;      // the script to run, already resolved
};

// Runs the capture in the current directory; returns the process exit code.
int RunCapture(const TCaptureOptions& options);
