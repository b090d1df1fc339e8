#include "app/frame_writer.h"

#include <cstdio>
#include <filesystem>

#include "assets/png.h"

std::string CaptureFrameName(const std::string& dir, int64_t k) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(k));
    return (std::filesystem::path(dir) / name).string();
}

namespace {

// Frames queued per output beyond those being written.
constexpr size_t QueuedPNGFramesPerThread = 2;
constexpr size_t QueuedVideoFrames = 4;

} // namespace

TFrameWriter::TFrameWriter(TFrameWriterSettings settings)
    : Settings(std::move(settings)), PNGQueue(QueuedPNGFramesPerThread * size_t(std::max(Settings.PNGThreads, 1))),
      VideoQueue(QueuedVideoFrames) {
    if (!Settings.PNGDir.empty())
        for (int i = 0; i < std::max(Settings.PNGThreads, 1); ++i) Threads.emplace_back([this] { PNGLoop(); });
    if (!Settings.VideoFile.empty()) Threads.emplace_back([this] { VideoLoop(); });
}

TFrameWriter::~TFrameWriter() { Finish(); }

std::vector<uint8_t> TFrameWriter::TakeBuffer() {
    std::lock_guard lock(StateMutex);
    if (FreeBuffers.empty()) return {};
    std::vector<uint8_t> buffer = std::move(FreeBuffers.back());
    FreeBuffers.pop_back();
    return buffer;
}

void TFrameWriter::GiveBack(TCapturedFrame* frame) {
    {
        std::lock_guard lock(StateMutex);
        FreeBuffers.push_back(std::move(frame->Rgba));
    }
    delete frame;
}

bool TFrameWriter::Push(TCapturedFrame frame) {
    if (Failed()) return false;
    // The last output done with the frame returns its buffer to the pool.
    const TFramePtr shared(new TCapturedFrame(std::move(frame)), [this](TCapturedFrame* f) { GiveBack(f); });
    if (!Settings.PNGDir.empty() && !PNGQueue.Push(shared)) return false;
    if (!Settings.VideoFile.empty() && !VideoQueue.Push(shared)) return false;
    return !Failed();
}

bool TFrameWriter::Finish() {
    if (!Finished) {
        Finished = true;
        PNGQueue.Close();
        VideoQueue.Close();
        for (std::thread& thread : Threads) thread.join();
        Threads.clear();
        // Frames left behind by a failure go back to the pool now, while it
        // still exists.
        TFramePtr rest;
        while (PNGQueue.Pop(rest)) rest.reset();
        while (VideoQueue.Pop(rest)) rest.reset();
        if (Video.Started()) {
            std::string error;
            if (!Video.Finish(error)) Fail(error);
        } else if (!Settings.VideoFile.empty() && !Failed()) {
            Fail("No frame was rendered, so there is no video " +
                 (Settings.VideoName.empty() ? Settings.VideoFile : Settings.VideoName));
        }
    }
    return !Failed();
}

bool TFrameWriter::Failed() const {
    std::lock_guard lock(StateMutex);
    return HasFailed;
}

std::string TFrameWriter::Error() const {
    std::lock_guard lock(StateMutex);
    return FirstError;
}

int64_t TFrameWriter::PNGWritten() const {
    std::lock_guard lock(StateMutex);
    return Written;
}

void TFrameWriter::Fail(const std::string& error) {
    {
        std::lock_guard lock(StateMutex);
        if (!HasFailed) FirstError = error;
        HasFailed = true;
    }
    // Wakes a render thread waiting in Push and stops the other writers.
    PNGQueue.Close();
    VideoQueue.Close();
}

void TFrameWriter::PNGLoop() {
    TFramePtr frame;
    TPicture picture;
    std::string error;
    while (PNGQueue.Pop(frame)) {
        if (Failed()) break;
        // The file holds what the viewer saw: the alpha channel is dropped.
        picture.Width = frame->Width;
        picture.Height = frame->Height;
        picture.Channels = 3;
        picture.Pixels.resize(size_t(frame->Width) * size_t(frame->Height) * 3);
        const uint8_t* in = frame->Rgba.data();
        for (size_t j = 0; j < picture.Pixels.size(); j += 3, in += 4) {
            picture.Pixels[j] = in[0];
            picture.Pixels[j + 1] = in[1];
            picture.Pixels[j + 2] = in[2];
        }
        const int64_t index = frame->Index;
        frame.reset();
        if (!WritePNG(CaptureFrameName(Settings.PNGDir, index), picture, error, TPNGCompression::Fast)) {
            Fail(error);
            break;
        }
        std::lock_guard lock(StateMutex);
        ++Written;
    }
}

void TFrameWriter::VideoLoop() {
    TFramePtr frame;
    std::string error;
    while (VideoQueue.Pop(frame)) {
        if (Failed()) break;
        Video.Profile = Settings.VideoProfile;
        if (!Video.Started() &&
            !Video.Start(Settings.VideoFile, frame->Width, frame->Height, Settings.Fps, error, Settings.VideoName)) {
            Fail(error);
            break;
        }
        if (!Video.WriteFrame(frame->Rgba.data(), frame->Rgba.size(), error)) {
            Fail(error);
            break;
        }
        frame.reset();
    }
}
