// Offline rendering of a production: headless, at a fixed frame step, to
// numbered PNG frames with the music as a WAV file, to an MP4 video (through
// ffmpeg), or to both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/video.h"
#include "demo/position.h"

struct TCaptureOptions {
    std::string Dir;                    // frame folder, created when missing (empty: no frames)
    int Fps = 60;                       // frame k shows start + k / Fps x SPEED seconds
    int64_t Frames = -1;                // stop after this many frames (-1: no limit)
    double Until = -1;                  // stop once k / Fps passes this (-1: no limit)
    std::optional<TDemoPosition> Start; // replaces STARTTIME when set
    std::string Video;                  // encode frames and audio into this MP4 (empty: none)
    // Party: the video (and the frames) at 1920x1080, the production's
    // picture centred at its aspect, encoded as parties ask for the stream.
    TVideoProfile VideoProfile = TVideoProfile::Default;
    bool RenderOnly = false; // benchmarks: render every frame, read back and write nothing
    std::string Script;      // the script to run, already resolved
    bool Overwrite = false;  // frames of an earlier run in Dir may be replaced
};

// The frame files (frame_NNNNNN.png) an earlier capture left in `dir`.
std::vector<std::string> EarlierFrames(const std::string& dir);

// Runs the capture in the current directory; returns the process exit code
// (2 when an output would replace a file the production reads, or frames of
// an earlier run without Overwrite).
int RunCapture(const TCaptureOptions& options);
