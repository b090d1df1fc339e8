// Captured frames leave the render thread here: PNG files are compressed and
// written by a few writer threads, and a video thread streams the frames, in
// order, into an encoder. Both sit behind bounded queues, so the memory held
// stays the same however long the production: when the writers fall behind,
// Push waits.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/video.h"

// One frame as read back: Width x Height pixels of R, G, B, A bytes, bottom
// row first.
struct TCapturedFrame {
    int64_t Index = 0;
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgba;
};

// A first-in first-out queue of at most Capacity items shared between threads.
template <class T> class TBoundedQueue {
public:
    explicit TBoundedQueue(size_t capacity) : Capacity(capacity < 1 ? 1 : capacity) {}

    // Waits while the queue is full; false (item dropped) once closed.
    bool Push(T item) {
        std::unique_lock lock(Mutex);
        NotFull.wait(lock, [&] { return Items.size() < Capacity || Closed; });
        if (Closed) return false;
        Items.push_back(std::move(item));
        NotEmpty.notify_one();
        return true;
    }
    // Waits for an item; false when the queue is closed and empty.
    bool Pop(T& item) {
        std::unique_lock lock(Mutex);
        NotEmpty.wait(lock, [&] { return !Items.empty() || Closed; });
        if (Items.empty()) return false;
        item = std::move(Items.front());
        Items.pop_front();
        NotFull.notify_one();
        return true;
    }
    // No more pushes; pops drain what is left.
    void Close() {
        std::lock_guard lock(Mutex);
        Closed = true;
        NotEmpty.notify_all();
        NotFull.notify_all();
    }

private:
    const size_t Capacity;
    std::mutex Mutex;
    std::condition_variable NotEmpty, NotFull;
    std::deque<T> Items;
    bool Closed = false;
};

struct TFrameWriterSettings {
    std::string PNGDir;    // frame_NNNNNN.png files go here (empty: none)
    std::string VideoFile; // H.264 video without sound (empty: none)
    std::string VideoName; // the video as messages name it (empty: VideoFile)
    int Fps = 25;
    int PNGThreads = 2;
    TVideoProfile VideoProfile = TVideoProfile::Default;
};

class TFrameWriter {
public:
    explicit TFrameWriter(TFrameWriterSettings settings);
    ~TFrameWriter(); // Finish
    TFrameWriter(const TFrameWriter&) = delete;
    TFrameWriter& operator=(const TFrameWriter&) = delete;

    // A buffer for the next frame's pixels: one that a written frame gave
    // back, so that steady capturing allocates nothing.
    std::vector<uint8_t> TakeBuffer();
    // Queues a frame for every output; waits while the queues are full.
    // False once a writer has failed (see Error).
    bool Push(TCapturedFrame frame);
    // Waits until every queued frame is written and the video is complete.
    // False when anything failed.
    bool Finish();

    bool Failed() const;
    std::string Error() const; // the first failure, naming the file
    int64_t PNGWritten() const;

private:
    using TFramePtr = std::shared_ptr<TCapturedFrame>;
    void PNGLoop();
    void VideoLoop();
    void Fail(const std::string& error);
    void GiveBack(TCapturedFrame* frame);

    const TFrameWriterSettings Settings;
    TBoundedQueue<TFramePtr> PNGQueue;
    TBoundedQueue<TFramePtr> VideoQueue;
    TVideoEncoder Video;
    std::vector<std::thread> Threads;

    mutable std::mutex StateMutex;
    std::string FirstError;
    bool HasFailed = false;
    int64_t Written = 0;
    std::vector<std::vector<uint8_t>> FreeBuffers;
    bool Finished = false;
};

// Where capture frame k goes: DIR/frame_NNNNNN.png.
std::string CaptureFrameName(const std::string& dir, int64_t k);
