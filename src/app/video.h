// Video files made by an ffmpeg process: raw frames stream into its stdin
// as they are rendered, and the sound is muxed in at the end.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// True when `program` is an executable file in one of the PATH folders.
bool ProgramOnPath(const std::string& program);

// Runs a program (looked up on the PATH) with these arguments and waits for
// it. Returns its exit status, or -1 when it could not be started or did not
// exit normally; `how` (when given) receives DescribeExit of its wait status.
int RunProgram(const std::vector<std::string>& argv, std::string* how = nullptr);

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
    ~TVideoEncoder(); // ends the process if Finish was not reached
    TVideoEncoder(const TVideoEncoder&) = delete;
    TVideoEncoder& operator=(const TVideoEncoder&) = delete;

    // Starts ffmpeg writing `file`. False, with a message, when it cannot.
    // Messages name the video `shownName` (the destination, when `file` is a
    // temporary file beside it), or `file` when that is empty.
    bool Start(const std::string& file, int width, int height, int fps, std::string& error,
               const std::string& shownName = {});
    bool Started() const { return Pid > 0; }
    // The encoding Start uses.
    TVideoProfile Profile = TVideoProfile::Default;
    // Hands one frame of width x height x 4 bytes to ffmpeg; blocks while
    // ffmpeg is busy. False, with a message, once ffmpeg has stopped.
    bool WriteFrame(const uint8_t* pixels, size_t size, std::string& error);
    // Ends the stream and waits for ffmpeg; false when it failed.
    bool Finish(std::string& error);

private:
    pid_t Pid = -1;
    int Pipe = -1;
    int ErrorLog = -1; // ffmpeg's standard error, an in-memory file
    std::string File;
    size_t FrameBytes = 0;
};

// Copies the video stream of `video` and encodes `wav` as AAC into one MP4
// `output`, arranged for playback while downloading (moov atom first).
// Messages name the result `shownName`.
bool MuxVideoAndAudio(const std::string& video, const std::string& wav, const std::string& output,
                      const std::string& shownName, std::string& error, TVideoProfile profile = TVideoProfile::Default);

// How a child process ended, for messages: "exited with status 1", "was
// killed by signal 9 (Killed)".
std::string DescribeExit(int status);
