#include "app/capture.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "assets/png.h"
#include "demo/demo.h"
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

std::string FrameName(const std::string& dir, int64_t k) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(k));
    return (fs::path(dir) / name).string();
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(':', start), list.size());
        const fs::path candidate = fs::path(list.substr(start, end - start)) / program;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec)) return true;
        start = end + 1;
    }
    return false;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

int RunCapture(const TCaptureOptions& options) {
    // No window appears: SDL renders offscreen, and the script's clock is the
    // frame counter (the music clock follows the rendered audio).
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    std::error_code ec;
    fs::create_directories(options.Dir, ec);
    if (!fs::is_directory(options.Dir)) {
        ReportMessage("Capture", "Cannot create the output folder " + options.Dir);
        return 1;
    }

    captureFrame = 0;
    TDemoOptions demoOptions;
    demoOptions.Capture = true;
    demoOptions.Clock = TClockSource{CaptureClock, options.Fps};
    demoOptions.Start = options.Start;
    TCDemo demo(options.Script, demoOptions);

    int64_t written = 0;
    bool writeFailed = false;
    SetBeforeSwapHook([&] {
        TPicture frame;
        frame.Channels = 4;
        if (!ReadBackBuffer(frame.Pixels, frame.Width, frame.Height)) return;
        // Drop the alpha channel: the frames are what the viewer saw.
        frame.Channels = 3;
        std::vector<uint8_t> rgb(size_t(frame.Width) * size_t(frame.Height) * 3);
        for (size_t i = 0, j = 0; j < rgb.size(); i += 4, j += 3) {
            rgb[j] = frame.Pixels[i];
            rgb[j + 1] = frame.Pixels[i + 1];
            rgb[j + 2] = frame.Pixels[i + 2];
        }
        frame.Pixels = std::move(rgb);
        std::string error;
        if (!WritePNG(FrameName(options.Dir, captureFrame), frame, error)) {
            if (!writeFailed) ReportMessage("Capture", error);
            writeFailed = true;
            return;
        }
        ++written;
    });

    std::vector<int16_t> audio;
    int64_t audioFrames = 0;
    const auto started = std::chrono::steady_clock::now();
    auto lastProgress = started;
    // On a terminal the progress line rewrites itself; in a log it is a line
    // every few seconds.
    const bool terminal = isatty(STDERR_FILENO);
    const auto progressEvery = std::chrono::milliseconds(terminal ? 250 : 5000);
    int64_t k = 0;
    for (; !DemoQuit && !writeFailed; ++k) {
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
            std::fprintf(stderr, "%scapture: %lld frames, demo time %.2f s, %.1f frames/s%s",
                         terminal ? "\r" : "", static_cast<long long>(k + 1), double(demo.DemoTime),
                         (k + 1) / seconds, terminal ? "   " : "\n");
            std::fflush(stderr);
        }
    }
    SetBeforeSwapHook(nullptr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "%scapture: %lld frames, demo time %.2f s, %.1f frames/s\n", terminal ? "\r" : "",
                 static_cast<long long>(k), double(demo.DemoTime), seconds > 0 ? k / seconds : 0.0);

    const std::string wav = (fs::path(options.Dir) / "audio.wav").string();
    if (demo.MusicLoaded) {
        // Everything the viewer heard up to the end of the last frame.
        const int64_t target = AudioFramesBefore(k, options.Fps);
        RenderCaptureAudio(int(target - audioFrames), audio);
        if (!WriteWav16(wav, AudioRate, audio)) return 1;
    }
    std::fprintf(stderr, "capture: %lld frames written to %s%s\n", static_cast<long long>(written),
                 options.Dir.c_str(), demo.MusicLoaded ? " with audio.wav" : "");

    if (!options.Video.empty()) {
        if (!OnPath("ffmpeg")) {
            ReportMessage("Capture", "ffmpeg is not installed (not found on the PATH), so no video "
                                     "was made; the frames are in " + options.Dir);
            return 1;
        }
        std::string command = "ffmpeg -loglevel error -y -framerate " + std::to_string(options.Fps) +
                              " -i " + Quote((fs::path(options.Dir) / "frame_%06d.png").string());
        if (demo.MusicLoaded) command += " -i " + Quote(wav) + " -c:a aac -b:a 192k";
        command += " -c:v libx264 -pix_fmt yuv420p -crf 18 " + Quote(options.Video);
        if (std::system(command.c_str()) != 0) {
            ReportMessage("Capture", "ffmpeg failed to make " + options.Video);
            return 1;
        }
        std::fprintf(stderr, "capture: video written to %s\n", options.Video.c_str());
    }
    if (writeFailed) return 1;
    return demo.ExitCode();
}
