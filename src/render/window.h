// The one window and its OpenGL compatibility context, and the frame-present
// step. The window system (SDL) stays behind this interface.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// How the window shows the production; set before CreateRenderWindow. The
// default is a window of the requested size that the picture fills.
struct TDisplayPlan {
    // Fill the desktop in the display's own mode (no mode switch), with the
    // mouse cursor hidden, whatever the fullscreen argument says.
    bool DesktopFullscreen = false;
    // The drawable's size in pixels when above 0 (an offscreen render at
    // another size than the requested one).
    int PixelWidth = 0;
    int PixelHeight = 0;
    // Keep the requested size's aspect: the picture is the largest rectangle
    // of that aspect centred in the drawable, black outside it. Overlay units
    // and every perspective keep mapping the requested size onto the picture.
    bool KeepAspect = false;
};
void SetDisplayPlan(const TDisplayPlan& plan);

// A rectangle in drawable pixels, origin at the lower left.
struct TPictureRect {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
};
// The largest rectangle of the aspect width:height centred in a drawable of
// drawableWidth x drawableHeight (the whole drawable when either is 0).
TPictureRect FitPicture(int drawableWidth, int drawableHeight, int width, int height);
// Where the picture lies in the open window's drawable now: the whole
// drawable unless the plan keeps the aspect of a differently shaped one.
TPictureRect PictureRect();
// Picture pixels per overlay unit (vertically): 1 for a window of the
// requested size, more on a larger screen.
double PictureScale();

// Prepares the GL library binding (SDL video subsystem). Throws
// EApplicationError when no video driver can be started.
void BindGLLibraries();
// Opens the window and context and sets the initial GL state. On failure the
// record has no RC; the failure has been reported with the title "Error".
TRenderWindow CreateRenderWindow(int width, int height, int colorBits, bool fullscreen, const std::string& caption);
void DestroyRenderWindow(TRenderWindow& window, bool fullscreen);
void ResizeView(int width, int height);
// The clear colour and depth of start-up and the GL baseline
// (render/gl_state.h): the state INIT leaves.
void InitRenderState();
// The perspective of fieldOfView degrees at the window's aspect (see
// LoadPerspective) and an identity model-view matrix.
void SetViewAngle(float fieldOfView);
// Flushes, handles every pending event and presents the back buffer. Returns
// true once the window was asked to close.
bool PresentFrame(const TRenderWindow& window);
// True once the user asked the window to close (close button, quit event).
// Playback treats it like Escape. A new CreateRenderWindow clears it.
bool WindowCloseRequested();

// Size of the current window's drawable (framebuffer) in pixels; 0 x 0 when
// no window is open. The viewport follows it, not CurrentWindow's size.
void DrawableSize(int& width, int& height);
// Reads the whole back buffer as RGBA bytes, bottom row first, at the
// drawable size. False (and nothing read) when no window is open.
bool ReadBackBuffer(std::vector<uint8_t>& rgba, int& width, int& height);
// Switches waiting for the display's refresh on or off for the open window
// (on: adaptive sync where offered, else plain). Creation switches it on for
// a window on a real display. False when the driver refused.
bool SetVerticalSync(bool on);
// A keyboard event as the window's event loop hands it on: a key went down
// (a held key repeats going down) or up, named by the window system's (SDL)
// scancode; or the window lost the keyboard, so every key is up.
struct TKeyEvent {
    int Scancode = 0;
    bool Down = false;
    bool FocusLost = false; // Scancode and Down mean nothing then
};
// Where PresentFrame hands every keyboard event, in order; the demo feeds the
// keyboard state (media/keyboard) from it. An empty function removes it.
void SetKeyEventHook(std::function<void(const TKeyEvent&)> hook);
// A call PresentFrame makes every frame after handling the events and right
// before the swap, with the frame still in the back buffer (frame capture).
// An empty function removes it.
void SetBeforeSwapHook(std::function<void()> hook);
// The address of a GL function of the current context's driver (entry
// points newer than GL 1.1); null when the driver has none or no window is
// open. Whether the context offers it is a separate question (version,
// extensions).
void* GLProcAddress(const char* name);
