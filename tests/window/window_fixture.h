// The test programs of this folder draw into one window opened through
// CreateRenderWindow itself (SDL's offscreen driver in CI), 64 x 64 so that
// overlay units are pixels.
#pragma once

#include <gtest/gtest.h>

#include "render/window.h"

namespace windowtest {

constexpr int Size = 64;

// Opens the window on first use and makes its context current; false when
// this machine cannot create one.
inline bool OpenWindow() {
    static TRenderWindow window;
    static bool tried = false;
    if (!tried) {
        tried = true;
        try {
            BindGLLibraries();
        } catch (const std::exception&) {
            return false;
        }
        window = CreateRenderWindow(Size, Size, 32, false, "Corvala test");
    }
    return window.RC != nullptr;
}

} // namespace windowtest

#define REQUIRE_WINDOW()                                                                                               \
    do {                                                                                                               \
        if (!windowtest::OpenWindow()) GTEST_SKIP() << "no OpenGL window on this machine";                             \
    } while (0)
