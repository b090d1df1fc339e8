// A GL compatibility context for test programs that draw. One hidden window
// and context per program, opened on first use (SDL's offscreen driver when
// SDL_VIDEODRIVER=offscreen, as in CI).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testgl {

// Makes a context of at least width x height current; false when no GL
// context can be created on this machine (tests then skip).
bool EnsureContext(int width = 64, int height = 64);

// RGBA bytes of the back buffer, bottom row first, read before any swap.
std::vector<uint8_t> ReadPixels(int x, int y, int width, int height);

// One pixel of the back buffer as 0xRRGGBBAA.
uint32_t PixelAt(int x, int y);

// Drains and reports pending GL errors ("" when none).
std::string GLErrors();

} // namespace testgl

#define REQUIRE_GL_CONTEXT(w, h)                                                                                       \
    do {                                                                                                               \
        if (!testgl::EnsureContext(w, h)) GTEST_SKIP() << "no OpenGL context on this machine";                         \
    } while (0)
