// Times stretches of drawing (one effect's Update and Draw) for the
// rehearsal. A stretch is charged with the larger of two times: what the
// CPU spent issuing it, and what the GPU spent carrying it out, measured by
// a GL timer query (GL_TIME_ELAPSED) where the context offers them (GL 3.3,
// or GL_ARB_timer_query). Without timer queries, and on a software renderer
// (whose deferred rasterising on worker threads lands in whatever stretch
// flushes it: a small overlay drawn after the cylinder field was charged
// with part of the field), each stretch is bracketed by glFinish and charged
// with the wall time between, which serialises CPU and GPU: a
// rehearsal-only cost.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// True for a GL renderer that draws on the CPU (llvmpipe, softpipe, swrast,
// SwiftShader), by its GL_RENDERER string.
bool SoftwareRenderer(const std::string& renderer);

class TDrawTimer {
public:
    // Needs the current GL context the stretches are drawn in.
    TDrawTimer();
    ~TDrawTimer();
    TDrawTimer(const TDrawTimer&) = delete;
    TDrawTimer& operator=(const TDrawTimer&) = delete;

    // True when the GPU time comes from timer queries.
    bool UsesTimerQueries() const { return queries; }

    // One stretch, tagged by the caller (a bar and a frame); stretches do
    // not nest.
    void Begin(int32_t tag, int64_t frame);
    void End();

    struct TResult {
        int32_t Tag = 0;
        int64_t Frame = 0;
        double Milliseconds = 0;
    };
    // Appends the stretches whose times are known, in the order they ran.
    // Timer query results arrive a frame or two late; `wait` waits for all.
    void Collect(std::vector<TResult>& results, bool wait);

private:
    struct TPending {
        int32_t Tag = 0;
        int64_t Frame = 0;
        double CpuMs = 0;
        uint32_t Query = 0;
    };
    bool queries = false;
    bool open = false;
    TPending current;
    std::chrono::steady_clock::time_point start;
    std::deque<TPending> pending;
    std::vector<uint32_t> freeQueries;
    std::vector<uint32_t> allQueries;
};
