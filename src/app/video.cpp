#include "app/video.h"

#include <cstdio>

namespace {

// ffmpeg runs with "-loglevel error": whatever it prints is an error, also
// when it exits with status 0 (it does after failing to write the file's
// end on a full disk). Its standard error is captured (the first MiB), is
// passed on to ours, and makes the run count as failed.
TProcessOptions FFmpegOptions(bool feedFrames) {
    TProcessOptions options;
    options.FeedInput = feedFrames;
    options.CaptureErrors = true;
    return options;
}

// Copies ffmpeg's messages to our standard error; returns their first line,
// "" when there were none.
std::string PassOn(const std::string& messages) {
    if (!messages.empty()) {
        std::fwrite(messages.data(), 1, messages.size(), stderr);
        std::fflush(stderr);
    }
    return messages.substr(0, messages.find('\n'));
}

} // namespace

TVideoEncoder::~TVideoEncoder() {
    // Finish was not reached: the video is abandoned, ffmpeg is stopped.
    if (Process.Running()) {
        Process.Kill();
        PassOn(Process.Output());
    }
}

bool TVideoEncoder::Start(const std::string& file, int width, int height, int fps, std::string& error,
                          const std::string& shownName) {
    File = shownName.empty() ? file : shownName;
    FrameBytes = size_t(width) * size_t(height) * 4;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    // The rows arrive bottom row first: vflip puts the top row on top. The
    // 4:2:0 colour planes need even sides: an odd width or height gets one
    // black column or row at the right or bottom.
    std::vector<std::string> argv = {
        "ffmpeg",     "-nostdin",          "-hide_banner", "-loglevel", "error", "-y",
        "-f",         "rawvideo",          "-pix_fmt",     "rgb0",      "-s",    size,
        "-framerate", std::to_string(fps), "-i",           "pipe:0",    "-vf",   "vflip,pad=ceil(iw/2)*2:ceil(ih/2)*2"};
    for (const std::string& arg : VideoCodecArguments(Profile)) argv.push_back(arg);
    for (const char* arg : {"-pix_fmt", "yuv420p", "-movflags", "+faststart", "-f", "mp4"}) argv.push_back(arg);
    argv.push_back(file);
    std::string why;
    if (!Process.Start(argv, FFmpegOptions(true), why)) {
        error = "Cannot start ffmpeg to make " + File;
        return false;
    }
    return true;
}

bool TVideoEncoder::WriteFrame(const uint8_t* pixels, size_t size, std::string& error) {
    if (!Process.Running() || size != FrameBytes) {
        error = "The video " + File + " takes frames of one size only";
        return false;
    }
    // A write to an ffmpeg that has ended fails (EPIPE); it does not end the
    // engine.
    std::string why;
    if (!Process.Write(pixels, size, why)) {
        error = "ffmpeg stopped while encoding " + File;
        return false;
    }
    return true;
}

bool TVideoEncoder::Finish(std::string& error) {
    if (!Process.Running()) {
        error = "ffmpeg was not started for " + File;
        return false;
    }
    const int status = Process.Wait();
    const std::string reported = PassOn(Process.Output());
    if (ExitCode(status) != 0) {
        error = "ffmpeg " + DescribeExit(status) + " while making " + File;
        return false;
    }
    if (!reported.empty()) {
        error = "ffmpeg failed to make " + File + ": " + reported;
        return false;
    }
    return true;
}

std::vector<std::string> VideoCodecArguments(TVideoProfile profile) {
    if (profile == TVideoProfile::Party)
        // Constant 8 Mbit/s (filler where the picture is simple), a key frame
        // every two seconds, as stream relays take it.
        return {"-c:v",         "libx264",
                "-preset",      "medium",
                "-profile:v",   "main",
                "-level:v",     "4.1",
                "-b:v",         "8M",
                "-minrate",     "8M",
                "-maxrate",     "8M",
                "-bufsize",     "8M",
                "-x264-params", "nal-hrd=cbr",
                "-g",           "60",
                "-r",           std::to_string(PartyVideoFps)};
    return {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18"};
}

std::vector<std::string> AudioCodecArguments(TVideoProfile profile) {
    if (profile == TVideoProfile::Party) return {"-c:a", "aac", "-b:a", "192k", "-ac", "2", "-ar", "48000"};
    return {"-c:a", "aac", "-b:a", "192k"};
}

bool MuxVideoAndAudio(const std::string& video, const std::string& wav, const std::string& output,
                      const std::string& shownName, std::string& error, TVideoProfile profile) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                                     "-i",     video,      "-i",           wav,         "-map",  "0:v:0",
                                     "-map",   "1:a:0",    "-c:v",         "copy"};
    for (const std::string& arg : AudioCodecArguments(profile)) argv.push_back(arg);
    for (const char* arg : {"-movflags", "+faststart", "-f", "mp4"}) argv.push_back(arg);
    argv.push_back(output);
    const TProcessRun run = RunProcess(argv, FFmpegOptions(false));
    const std::string how = run.Started ? DescribeExit(run.Status) : "could not be started";
    const std::string reported = PassOn(run.Output);
    if (ExitCode(run.Status) != 0) {
        error = "ffmpeg " + how + " while adding the sound to " + shownName;
        return false;
    }
    if (!reported.empty()) {
        error = "ffmpeg failed to add the sound to " + shownName + ": " + reported;
        return false;
    }
    return true;
}
