// The one window and its OpenGL compatibility context, and the frame-present
// step. The window system (SDL) stays behind this interface.
#pragma once

#include <string>

// Describes the open window. Wnd, DC and RC are opaque platform handles
// (null when absent). Width and Height are the requested client size in
// pixels and stay so for the whole run; the viewport follows the drawable.
struct TRenderWindow {
    void* Wnd = nullptr;
    void* DC = nullptr;
    void* RC = nullptr;
    std::string Caption;
    int Width = 0;
    int Height = 0;
    int ColorBits = 0;
};

// A copy of the last record produced by CreateRenderWindow.
extern TRenderWindow CurrentWindow;
// Far clipping distance of every perspective projection; near is 1.0.
constexpr float FarPlane = 100000.0f;

// Prepares the GL library binding (SDL video subsystem). Throws
// EApplicationError when no video driver can be started.
void BindGLLibraries();
// Opens the window and context and sets the initial GL state. On failure the
// record has no RC; the failure has been reported with the title "Error".
TRenderWindow CreateRenderWindow(int width, int height, int colorBits, bool fullscreen,
                                 const std::string& caption);
void DestroyRenderWindow(TRenderWindow& window, bool fullscreen);
void ResizeView(int width, int height);
void InitRenderState();
void SetViewAngle(float fieldOfView);
// Flushes, handles every pending event and presents the back buffer. Returns
// true once the window was asked to close.
bool PresentFrame(const TRenderWindow& window);
// True once the user asked the window to close (close button, quit event).
bool WindowCloseRequested();
