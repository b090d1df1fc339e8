// Video files made by an ffmpeg process: raw frames stream into its stdin
// as they are rendered, and the sound is muxed in at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/process.h"

// How a video is encoded: the default (x264 at constant quality), or what
// parties ask for the stream to remote viewers: H.264 Main profile, level
// 4.1, 1920x1080 at 30 frames a second, 8 Mbit/s constant, AAC stereo at
// 192 kbit/s, 48 kHz.
enum class TVideoProfile { Default, Party };
constexpr int PartyVideoWidth = 1920, PartyVideoHeight = 1080, PartyVideoFps = 30;
// The ffmpeg arguments that encode the picture, and the sound, by a profile.
std::vector<std::string> VideoCodecArguments(TVideoProfile profile);
std::vector<std::string> AudioCodecArguments(TVideoProfile profile);

// An ffmpeg process encoding H.264 (yuv420p, starting at frame 0) into an
// MP4 file from frames of 4 bytes per pixel (R, G, B, unused), rows stored
// bottom row first as OpenGL reads them back.
class TVideoEncoder {
public:
    TVideoEncoder() = default;
    ~TVideoEncoder(); // kills ffmpeg if Finish was not reached
    TVideoEncoder(const TVideoEncoder&) = delete;
    TVideoEncoder& operator=(const TVideoEncoder&) = delete;

    // Starts ffmpeg writing `file`. False, with a message, when it cannot.
    // Messages name the video `shownName` (the destination, when `file` is a
    // temporary file beside it), or `file` when that is empty.
    bool Start(const std::string& file, int width, int height, int fps, std::string& error,
               const std::string& shownName = {});
    bool Started() const { return Process.Running(); }
    // The encoding Start uses.
    TVideoProfile Profile = TVideoProfile::Default;
    // Hands one frame of width x height x 4 bytes to ffmpeg; blocks while
    // ffmpeg is busy. False, with a message, once ffmpeg has stopped.
    bool WriteFrame(const uint8_t* pixels, size_t size, std::string& error);
    // Ends the stream and waits for ffmpeg; false when it failed.
    bool Finish(std::string& error);

private:
    TProcess Process; // ffmpeg: frames to its input, its errors captured
    std::string File;
    size_t FrameBytes = 0;
};

// Copies the video stream of `video` and encodes `wav` as AAC into one MP4
// `output`, arranged for playback while downloading (moov atom first).
// Messages name the result `shownName`.
bool MuxVideoAndAudio(const std::string& video, const std::string& wav, const std::string& output,
                      const std::string& shownName, std::string& error, TVideoProfile profile = TVideoProfile::Default);
