#include "render/draw_timer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "render/gl.h"
#include "render/window.h"

namespace {

// GL 3.3 / GL_ARB_timer_query values, spelt out so that no newer header is
// needed.
constexpr GLenum TimeElapsed = 0x88BF;
constexpr GLenum QueryResult = 0x8866;
constexpr GLenum QueryResultAvailable = 0x8867;

using TGenQueries = void (*)(GLsizei, GLuint*);
using TBeginQuery = void (*)(GLenum, GLuint);
using TEndQuery = void (*)(GLenum);
using TGetQueryObjectiv = void (*)(GLuint, GLenum, GLint*);
using TGetQueryObjectui64v = void (*)(GLuint, GLenum, uint64_t*);

TGenQueries genQueries = nullptr;
TGenQueries deleteQueries = nullptr;
TBeginQuery beginQuery = nullptr;
TEndQuery endQuery = nullptr;
TGetQueryObjectiv getQueryObjectiv = nullptr;
TGetQueryObjectui64v getQueryObjectui64v = nullptr;

// True when the current context offers timer queries and every entry point
// was found.
bool LoadTimerQueries() {
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    if (renderer && SoftwareRenderer(renderer)) return false;
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const auto* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    int major = 0, minor = 0;
    if (version) std::sscanf(version, "%d.%d", &major, &minor);
    const bool offered =
        major > 3 || (major == 3 && minor >= 3) || (extensions && std::strstr(extensions, "GL_ARB_timer_query"));
    if (!offered) return false;
    genQueries = reinterpret_cast<TGenQueries>(GLProcAddress("glGenQueries"));
    deleteQueries = reinterpret_cast<TGenQueries>(GLProcAddress("glDeleteQueries"));
    beginQuery = reinterpret_cast<TBeginQuery>(GLProcAddress("glBeginQuery"));
    endQuery = reinterpret_cast<TEndQuery>(GLProcAddress("glEndQuery"));
    getQueryObjectiv = reinterpret_cast<TGetQueryObjectiv>(GLProcAddress("glGetQueryObjectiv"));
    getQueryObjectui64v = reinterpret_cast<TGetQueryObjectui64v>(GLProcAddress("glGetQueryObjectui64v"));
    return genQueries && deleteQueries && beginQuery && endQuery && getQueryObjectiv && getQueryObjectui64v;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

bool SoftwareRenderer(const std::string& renderer) {
    std::string lower = renderer;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "software rasterizer", "swiftshader"})
        if (lower.find(name) != std::string::npos) return true;
    return false;
}

TDrawTimer::TDrawTimer() : queries(LoadTimerQueries()) {}

TDrawTimer::~TDrawTimer() {
    if (queries && !allQueries.empty()) deleteQueries(GLsizei(allQueries.size()), allQueries.data());
}

void TDrawTimer::Begin(int32_t tag, int64_t frame) {
    if (open) End();
    open = true;
    current = TPending{tag, frame, 0, 0};
    if (queries) {
        if (freeQueries.empty()) {
            GLuint query = 0;
            genQueries(1, &query);
            allQueries.push_back(query);
            freeQueries.push_back(query);
        }
        current.Query = freeQueries.back();
        freeQueries.pop_back();
        beginQuery(TimeElapsed, current.Query);
    } else {
        glFinish();
    }
    start = std::chrono::steady_clock::now();
}

void TDrawTimer::End() {
    if (!open) return;
    open = false;
    if (queries) {
        current.CpuMs = Since(start);
        endQuery(TimeElapsed);
    } else {
        glFinish();
        current.CpuMs = Since(start);
    }
    pending.push_back(current);
}

void TDrawTimer::Collect(std::vector<TResult>& results, bool wait) {
    while (!pending.empty()) {
        const TPending& next = pending.front();
        double ms = next.CpuMs;
        if (queries) {
            // Results become available in the order the queries ended.
            GLint available = 0;
            if (!wait) getQueryObjectiv(next.Query, QueryResultAvailable, &available);
            if (!wait && !available) return;
            uint64_t nanoseconds = 0;
            getQueryObjectui64v(next.Query, QueryResult, &nanoseconds);
            ms = std::max(ms, double(nanoseconds) / 1e6);
            freeQueries.push_back(next.Query);
        }
        results.push_back(TResult{next.Tag, next.Frame, ms});
        pending.pop_front();
    }
}
