#include "app/capture.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "app/frame_writer.h"
#include "app/video.h"
#include "demo/demo.h"
#include "base/files.h"
#include "base/output.h"
#include "base/report.h"
#include "media/sound.h"
#include "render/window.h"

namespace {

namespace fs = std::filesystem;

// The capture clock counts frames: frame k reads exactly k / fps seconds.
int64_t captureFrame = 0;
int64_t CaptureClock() { return captureFrame; }

constexpr int AudioRate = 44100;

// Total audio frames that belong before video frame k.
int64_t AudioFramesBefore(int64_t k, int fps) { return k * AudioRate / fps; }

// Writer threads for the PNG frames: what the cores leave beside the render
// thread, at least two so that one can wait on the disk while another
// compresses.
int PNGThreadCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::clamp(cores > 1 ? cores - 1 : 1u, 2u, 4u));
}

void RemoveQuietly(const std::string& file) {
    std::error_code ec;
    fs::remove(file, ec);
}

bool IsFrameName(const std::string& name) {
    // frame_ + at least six digits + .png, as CaptureFrameName makes them.
    constexpr size_t Prefix = 6, Suffix = 4;
    if (name.size() < Prefix + 6 + Suffix || name.compare(0, Prefix, "frame_") != 0 ||
        name.compare(name.size() - Suffix, Suffix, ".png") != 0)
        return false;
    for (size_t i = Prefix; i < name.size() - Suffix; ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return true;
}

// Refuses outputs that would replace what the production reads: the video,
// and the frames and sound file in the capture folder. Run once the script
// is loaded, so that every file it read has been noted.
bool OutputsAreNotInputs(const TCaptureOptions& options, std::string& error) {
    if (!options.Video.empty() && !CheckOutputPath(options.Video, {}, "the video", error)) return false;
    if (options.Dir.empty()) return true;
    for (const std::string& input : ProtectedInputs()) {
        const fs::path path(input);
        const std::string name = path.filename().string();
        if ((IsFrameName(name) || name == "audio.wav") && SameFile(path.parent_path().string(), options.Dir)) {
            error = "refusing to capture into " + options.Dir + ": " + input +
                    " there is a file the production reads; choose another folder";
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<std::string> EarlierFrames(const std::string& dir) {
    std::vector<std::string> frames;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (IsFrameName(entry.path().filename().string())) frames.push_back(entry.path().string());
    std::sort(frames.begin(), frames.end());
    return frames;
}

namespace {

// The frame folder and the video's folder exist (made when missing) and
// take this capture: no frames of an earlier run are left in the frame
// folder (unless --overwrite), ffmpeg is there for a video, and the video
// names a file. Checked before rendering: finding out after minutes of
// frames would waste them. The exit code of a refusal (after its message),
// or 0.
int CheckOutputFolders(const TCaptureOptions& options) {
    std::error_code ec;
    if (!options.Dir.empty()) {
        fs::create_directories(options.Dir, ec);
        if (!fs::is_directory(options.Dir)) {
            ReportMessage("Capture", "Cannot create the output folder " + options.Dir);
            return 1;
        }
        // Frames of a longer earlier run would stay mixed in with these.
        if (!options.Overwrite && !options.RenderOnly) {
            const std::vector<std::string> earlier = EarlierFrames(options.Dir);
            if (!earlier.empty()) {
                ReportMessage("Capture", "The folder " + options.Dir + " holds " + std::to_string(earlier.size()) +
                                             " frames of an earlier capture (" + earlier.front() +
                                             "); give --overwrite to replace them, or choose another folder");
                return 2;
            }
        }
    }
    if (!options.Video.empty()) {
        if (!ProgramOnPath("ffmpeg")) {
            ReportMessage("Capture", "ffmpeg is not installed (not found on the PATH), so the video " + options.Video +
                                         " cannot be made");
            return 1;
        }
        // ffmpeg writes an MP4 by seeking back to its index: a pipe or a
        // device (/dev/stdout) cannot take one, and must not be replaced.
        const std::string kind = IsStandardOutput(options.Video) ? "standard output" : SpecialFileKind(options.Video);
        if (!kind.empty() && kind != "a folder") {
            ReportMessage("Capture", "Cannot write the video to " + options.Video + ": it is " + kind +
                                         ", and an MP4 video must be written to a file; name one");
            return 2;
        }
        const fs::path folder = fs::path(options.Video).parent_path();
        if (!folder.empty()) fs::create_directories(folder, ec);
        if (fs::is_directory(options.Video) || (!folder.empty() && !fs::is_directory(folder))) {
            ReportMessage("Capture", "Cannot write the video " + options.Video);
            return 1;
        }
    }
    return 0;
}

} // namespace

int RunCapture(const TCaptureOptions& options) {
    // No window appears: SDL renders offscreen, and the script's clock is the
    // frame counter (the music clock follows the rendered audio).
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (options.VideoProfile == TVideoProfile::Party) {
        TDisplayPlan plan;
        plan.PixelWidth = PartyVideoWidth;
        plan.PixelHeight = PartyVideoHeight;
        plan.KeepAspect = true;
        SetDisplayPlan(plan);
    }
    if (const int refused = CheckOutputFolders(options)) return refused;

    captureFrame = 0;
    TDemoOptions demoOptions;
    demoOptions.Capture = true;
    demoOptions.Clock = TClockSource{CaptureClock, options.Fps};
    demoOptions.Start = options.Start;
    TCDemo demo(options.Script, demoOptions);
    {
        // The script is read: every file it named has been noted.
        std::string error;
        if (!OutputsAreNotInputs(options, error)) {
            ReportMessage("Capture", error);
            return 2;
        }
    }
    if (options.Overwrite && !options.RenderOnly && !options.Dir.empty())
        for (const std::string& frame : EarlierFrames(options.Dir)) RemoveQuietly(frame);

    // The video is made under a temporary name beside it (its extension kept)
    // and renamed over the destination only when ffmpeg made it whole: a
    // failed or killed ffmpeg leaves an earlier video as it was.
    TOutputFile videoOut;
    if (!options.Video.empty() && !options.RenderOnly) {
        std::string error;
        if (!videoOut.Open(options.Video, error) || videoOut.WritesStraight()) {
            ReportMessage("Capture", videoOut.WritesStraight()
                                         ? "Cannot write the video to " + options.Video + ": it is no longer a file"
                                         : error);
            return 1;
        }
        videoOut.CloseForHelper();
    }
    // With music the picture goes to another temporary file first and the
    // sound is muxed in at the end; without, ffmpeg writes the video itself.
    const bool muxLater = !options.Video.empty() && demo.MusicLoaded;
    const std::string videoStream = muxLater ? TemporaryNameBeside(options.Video) : videoOut.TempPath();
    const std::string wav = !options.Dir.empty() ? (fs::path(options.Dir) / "audio.wav").string()
                                                 : TemporaryNameBeside(options.Video + ".wav");
    TFrameWriterSettings settings;
    if (!options.RenderOnly) {
        settings.PNGDir = options.Dir;
        settings.VideoFile = videoStream;
        settings.VideoName = options.Video;
    }
    settings.Fps = options.Fps;
    settings.VideoProfile = options.VideoProfile;
    settings.PNGThreads = PNGThreadCount();
    TFrameWriter writer(settings);
    struct TUnhook {
        ~TUnhook() { SetBeforeSwapHook(nullptr); }
    } unhook; // the hook must not outlive the writer, also when a frame throws
    if (!options.RenderOnly) {
        SetBeforeSwapHook([&] {
            TCapturedFrame frame;
            frame.Index = captureFrame;
            frame.Rgba = writer.TakeBuffer();
            if (ReadBackBuffer(frame.Rgba, frame.Width, frame.Height)) writer.Push(std::move(frame));
        });
    }

    std::vector<int16_t> audio;
    int64_t audioFrames = 0;
    const auto started = std::chrono::steady_clock::now();
    auto lastProgress = started;
    // On a terminal the progress line rewrites itself; in a log it is a line
    // every few seconds.
    const bool terminal = isatty(STDERR_FILENO);
    const auto progressEvery = std::chrono::milliseconds(terminal ? 250 : 5000);
    int64_t k = 0;
    for (; !DemoQuit && !writer.Failed(); ++k) {
        if (options.Frames >= 0 && k >= options.Frames) break;
        if (options.Until >= 0 && static_cast<long double>(k) / options.Fps > options.Until) break;
        captureFrame = k;
        if (demo.MusicLoaded) {
            const int64_t target = AudioFramesBefore(k, options.Fps);
            RenderCaptureAudio(int(target - audioFrames), audio);
            audioFrames = target;
        }
        demo.RenderFrame();

        const auto now = std::chrono::steady_clock::now();
        if (now - lastProgress > progressEvery) {
            lastProgress = now;
            const double seconds = std::chrono::duration<double>(now - started).count();
            std::fprintf(stderr, "%scapture: %lld frames, demo time %.2f s, %.1f frames/s%s", terminal ? "\r" : "",
                         static_cast<long long>(k) + 1, double(demo.DemoTime), (k + 1) / seconds,
                         terminal ? "   " : "\n");
            std::fflush(stderr);
        }
    }
    SetBeforeSwapHook(nullptr);
    // The frames still queued are written before the time is taken.
    const bool written = writer.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "%scapture: %lld frames, demo time %.2f s, %.1f frames/s\n", terminal ? "\r" : "",
                 static_cast<long long>(k), double(demo.DemoTime), seconds > 0 ? k / seconds : 0.0);
    auto removeParts = [&] {
        if (muxLater) RemoveQuietly(videoStream);
        if (options.Dir.empty() && !options.Video.empty()) RemoveQuietly(wav);
    };
    if (!written) {
        ReportMessage("Capture", writer.Error());
        removeParts();
        return 1;
    }
    if (options.RenderOnly) {
        std::fprintf(stderr, "capture: %lld frames rendered, nothing written\n", static_cast<long long>(k));
        return demo.ExitCode();
    }

    if (demo.MusicLoaded && (!options.Dir.empty() || muxLater)) {
        // Everything the viewer heard up to the end of the last frame.
        const int64_t target = AudioFramesBefore(k, options.Fps);
        RenderCaptureAudio(int(target - audioFrames), audio);
        if (!WriteWav16(wav, AudioRate, audio)) {
            removeParts();
            return 1;
        }
    }
    if (!options.Dir.empty())
        std::fprintf(stderr, "capture: %lld frames written to %s%s\n", static_cast<long long>(writer.PNGWritten()),
                     options.Dir.c_str(), demo.MusicLoaded ? " with audio.wav" : "");
    if (!options.Video.empty()) {
        std::string error;
        if (muxLater &&
            !MuxVideoAndAudio(videoStream, wav, videoOut.TempPath(), options.Video, error, options.VideoProfile)) {
            ReportMessage("Capture", error);
            removeParts();
            return 1;
        }
        removeParts();
        // An ffmpeg that ended well must also have written the file.
        std::error_code sizeError;
        const auto size = fs::file_size(videoOut.TempPath(), sizeError);
        if (sizeError || size == 0) {
            ReportMessage("Capture", "ffmpeg ended without writing the video " + options.Video +
                                         (fs::exists(options.Video) ? "; the earlier file is left as it was" : ""));
            return 1;
        }
        if (!videoOut.Commit(error)) {
            ReportMessage("Capture", error);
            return 1;
        }
        std::fprintf(stderr, "capture: video written to %s\n", options.Video.c_str());
    }
    return demo.ExitCode();
}
