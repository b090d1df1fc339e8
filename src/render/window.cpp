// The window and its OpenGL context over SDL2. Wnd and DC of the record both
// hold the SDL_Window (the drawable the context renders to), RC holds the
// SDL_GLContext. One window exists at a time; this module owns it.
#include "render/window.h"

#include <SDL.h>

#include <cstring>

#include "base/report.h"
#include "render/gl.h"
#include "render/gl_state.h"
#include "render/shader_program.h"

TRenderWindow CurrentWindow;

namespace {

// The full-screen flag as the caller passed it; a failed switch keeps it.
bool FullscreenRequested = false;
TDisplayPlan displayPlan;
// The picture's rectangle in the drawable, set whenever the drawable changes.
TPictureRect picture;
bool closeRequested = false;
std::function<void()> beforeSwapHook;
std::function<void(const TKeyEvent&)> keyEventHook;

SDL_Window* AsWindow(void* handle) { return static_cast<SDL_Window*>(handle); }

void ReportError(const std::string& text) { ReportMessage("Error", text); }

// The step's own message first, SDL's reason on the next line.
void ReportSDLError(const std::string& text) {
    const char* reason = SDL_GetError();
    ReportError(reason && *reason ? text + "\n" + reason : text);
}

bool OffscreenDriver() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && std::strcmp(driver, "offscreen") == 0;
}

// Window-system stand-ins for the pixel format: an RGBA compatibility
// context (never a core profile), double-buffered, 24-bit depth, 1-bit stencil.
bool RequestPixelFormat() {
    SDL_GL_ResetAttributes();
    return SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY) == 0 &&
           SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1) == 0 && SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24) == 0 &&
           SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 1) == 0;
}

// Switches the shown window to a full-screen display mode of the requested
// size (or the closest larger one the display offers).
bool SwitchToFullscreen(SDL_Window* window, int width, int height) {
    SDL_DisplayMode wanted{};
    wanted.w = width;
    wanted.h = height;
    SDL_DisplayMode mode{};
    const int display = SDL_GetWindowDisplayIndex(window);
    if (display < 0 || !SDL_GetClosestDisplayMode(display, &wanted, &mode)) return false;
    if (SDL_SetWindowDisplayMode(window, &mode) != 0) return false;
    return SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) == 0;
}

// Viewport and projection for the drawable as it is now: the picture's
// rectangle in it.
void FollowDrawable(SDL_Window* window) {
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(window, &width, &height);
    picture = displayPlan.KeepAspect ? FitPicture(width, height, CurrentWindow.Width, CurrentWindow.Height)
                                     : TPictureRect{0, 0, width, height};
    ResizeView(picture.Width, picture.Height);
    if (picture.X != 0 || picture.Y != 0) glViewport(picture.X, picture.Y, picture.Width, picture.Height);
}

// Paints the drawable outside the picture black, right before the swap, so
// that what the frame drew there (a clear, a full-screen quad) never shows.
// Every state it touches comes back as it was.
void BlackOutsidePicture() {
    int width = 0, height = 0;
    DrawableSize(width, height);
    if (picture.Width <= 0 || (picture.Width == width && picture.Height == height)) return;
    const TPictureRect bars[4] = {
        {0, 0, picture.X, height},
        {picture.X + picture.Width, 0, width - picture.X - picture.Width, height},
        {0, 0, width, picture.Y},
        {0, picture.Y + picture.Height, width, height - picture.Y - picture.Height},
    };
    glPushAttrib(GL_SCISSOR_BIT | GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0, 0, 0, 1);
    for (const TPictureRect& bar : bars) {
        if (bar.Width <= 0 || bar.Height <= 0) continue;
        glScissor(bar.X, bar.Y, bar.Width, bar.Height);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glPopAttrib();
}

void HandleEvent(const SDL_Event& event) {
    switch (event.type) {
    case SDL_QUIT:
        closeRequested = true;
        break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
            closeRequested = true;
        } else if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            if (SDL_Window* window = AsWindow(CurrentWindow.Wnd)) FollowDrawable(window);
        } else if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
            if (keyEventHook) keyEventHook(TKeyEvent{0, false, true});
        }
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (keyEventHook) keyEventHook(TKeyEvent{event.key.keysym.scancode, event.type == SDL_KEYDOWN, false});
        break;
    default:
        break;
    }
}

} // namespace

void BindGLLibraries() {
    // GL and GLU are linked with the program; SDL loads the GL driver when
    // the window is created. What can fail here is the video system itself.
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        RaiseApplicationError(std::string("Could not start the video system: ") + SDL_GetError());
}

TRenderWindow CreateRenderWindow(int width, int height, int colorBits, bool fullscreen, const std::string& caption) {
    TRenderWindow window;
    window.Caption = caption;
    window.Width = width;
    window.Height = height;
    window.ColorBits = colorBits;

    // One window at a time: a second creation replaces the first.
    if (CurrentWindow.Wnd) DestroyRenderWindow(CurrentWindow, FullscreenRequested);
    FullscreenRequested = fullscreen;
    closeRequested = false;
    CurrentWindow = window;

    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        ReportSDLError("Failed to register the window class!");
        return window;
    }
    if (!RequestPixelFormat()) {
        ReportSDLError("Unable to find a suitable pixel format");
        return window;
    }

    // The desktop's own mode replaces a mode switch; a plan's pixel size
    // replaces the requested one for the drawable.
    const bool desktop = displayPlan.DesktopFullscreen;
    if (desktop) fullscreen = false;
    FullscreenRequested = fullscreen || desktop;
    int pixelWidth = displayPlan.PixelWidth > 0 ? displayPlan.PixelWidth : width;
    int pixelHeight = displayPlan.PixelHeight > 0 ? displayPlan.PixelHeight : height;
    // Created at the desktop's size from the start: a window that grows into
    // it can keep a drawable of the first size on some drivers.
    SDL_DisplayMode desktopMode{};
    if (desktop && SDL_GetDesktopDisplayMode(0, &desktopMode) == 0 && desktopMode.w > 0 && desktopMode.h > 0) {
        pixelWidth = desktopMode.w;
        pixelHeight = desktopMode.h;
    }
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI;
    if (desktop) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    if (!fullscreen && !desktop) flags |= SDL_WINDOW_RESIZABLE;
    SDL_Window* sdlWindow = SDL_CreateWindow(caption.c_str(), 0, 0, pixelWidth, pixelHeight, flags);
    if (!sdlWindow) {
        const std::string reason = SDL_GetError();
        DestroyRenderWindow(window, fullscreen);
        ReportError("Unable to create window!\n" + reason);
        CurrentWindow = window;
        return window;
    }
    window.Wnd = sdlWindow;
    window.DC = sdlWindow;

    SDL_GLContext context = SDL_GL_CreateContext(sdlWindow);
    if (!context) {
        const std::string reason = SDL_GetError();
        DestroyRenderWindow(window, fullscreen);
        ReportError("Unable to create an OpenGL rendering context\n" + reason);
        CurrentWindow = window;
        return window;
    }
    window.RC = context;
    if (SDL_GL_MakeCurrent(sdlWindow, context) != 0) {
        const std::string reason = SDL_GetError();
        DestroyRenderWindow(window, fullscreen);
        ReportError("Unable to activate OpenGL rendering context\n" + reason);
        CurrentWindow = window;
        return window;
    }

    SDL_ShowWindow(sdlWindow);
    if (desktop) SDL_ShowCursor(SDL_DISABLE);
    if (fullscreen) {
        if (SwitchToFullscreen(sdlWindow, width, height)) {
            SDL_ShowCursor(SDL_DISABLE);
        } else {
            ReportSDLError("Unable to switch to fullscreen!");
            SDL_SetWindowFullscreen(sdlWindow, 0);
            SDL_SetWindowResizable(sdlWindow, SDL_TRUE);
        }
    }
    SDL_RaiseWindow(sdlWindow);

    // Wait for the display's refresh on a real screen so frames do not tear:
    // adaptive sync where offered, else plain. Where the driver does not
    // wait, frames still render back to back.
    if (!OffscreenDriver()) SetVerticalSync(true);

    CurrentWindow = window;
    FollowDrawable(sdlWindow);
    InitRenderState();
    return window;
}

void DestroyRenderWindow(TRenderWindow& window, bool fullscreen) {
    SDL_Window* sdlWindow = AsWindow(window.Wnd);
    if (fullscreen) {
        if (sdlWindow) SDL_SetWindowFullscreen(sdlWindow, 0);
        SDL_ShowCursor(SDL_ENABLE);
    }
    if (window.RC) {
        if (SDL_GL_MakeCurrent(sdlWindow, nullptr) != 0) ReportSDLError("Release of DC and RC failed!");
        SDL_GL_DeleteContext(window.RC);
    }
    if (sdlWindow) SDL_DestroyWindow(sdlWindow);
    // Released handles are cleared so that no copy of the record points at a
    // window or context that no longer exists.
    const bool current = CurrentWindow.Wnd == window.Wnd;
    window.RC = nullptr;
    window.DC = nullptr;
    window.Wnd = nullptr;
    if (current) {
        CurrentWindow.RC = nullptr;
        CurrentWindow.DC = nullptr;
        CurrentWindow.Wnd = nullptr;
    }
}

void ResizeView(int width, int height) {
    if (height == 0) height = 1;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, double(width) / double(height), 1.0, FarPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void InitRenderState() {
    glClearColor(0.2f, 0.2f, 0.4f, 0.0f);
    glClearDepth(1.0);
    // Smooth shading, the depth test with GL_LEQUAL, perspective-correct
    // texturing, sphere-map texture coordinates when switched on, and the
    // rest of the baseline every effect draws from (render/gl_state.h).
    RestoreBaseline();
}

void SetViewAngle(float fieldOfView) {
    // The aspect ratio is the one requested at creation, not the drawable's.
    LoadPerspective(fieldOfView);
    glLoadIdentity();
}

bool PresentFrame(const TRenderWindow& window) {
    glFlush();
    // Every pending event is handled each frame, and the frame is presented
    // whatever arrived: mouse motion alone would otherwise hold frames back.
    SDL_Event event;
    while (SDL_PollEvent(&event)) HandleEvent(event);
    if (SDL_Window* sdlWindow = AsWindow(window.Wnd)) {
        BlackOutsidePicture();
        // The finished picture, for feedback shaders, leaves out the dev HUD.
        CopyFinishedFrame();
        if (beforeSwapHook) beforeSwapHook();
        SDL_GL_SwapWindow(sdlWindow);
        // The offscreen driver's swap waits for nothing: without a wait here
        // a software renderer queues frame after frame and its memory grows
        // by hundreds of MB a second while dev mode runs headless. One frame
        // in flight at most, as a display's swap would allow.
        if (OffscreenDriver()) glFinish();
    }
    return closeRequested;
}

bool WindowCloseRequested() { return closeRequested; }

void DrawableSize(int& width, int& height) {
    width = height = 0;
    if (SDL_Window* sdlWindow = AsWindow(CurrentWindow.Wnd)) SDL_GL_GetDrawableSize(sdlWindow, &width, &height);
}

bool ReadBackBuffer(std::vector<uint8_t>& rgba, int& width, int& height) {
    DrawableSize(width, height);
    if (width <= 0 || height <= 0) return false;
    rgba.resize(size_t(width) * size_t(height) * 4);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glPopClientAttrib();
    return true;
}

bool SetVerticalSync(bool on) {
    if (!CurrentWindow.RC) return false;
    if (!on) return SDL_GL_SetSwapInterval(0) == 0;
    return SDL_GL_SetSwapInterval(-1) == 0 || SDL_GL_SetSwapInterval(1) == 0;
}

void SetBeforeSwapHook(std::function<void()> hook) { beforeSwapHook = std::move(hook); }

void* GLProcAddress(const char* name) {
    if (!SDL_WasInit(SDL_INIT_VIDEO) || SDL_GL_GetCurrentContext() == nullptr) return nullptr;
    return SDL_GL_GetProcAddress(name);
}

void SetKeyEventHook(std::function<void(const TKeyEvent&)> hook) { keyEventHook = std::move(hook); }

void SetDisplayPlan(const TDisplayPlan& plan) { displayPlan = plan; }

TPictureRect FitPicture(int drawableWidth, int drawableHeight, int width, int height) {
    if (drawableWidth <= 0 || drawableHeight <= 0 || width <= 0 || height <= 0)
        return TPictureRect{0, 0, drawableWidth, drawableHeight};
    // Exact in integers: the picture fills the width when the drawable is
    // relatively taller, else the height; odd spare pixels go to the right
    // and the top.
    TPictureRect rect;
    if (int64_t(drawableWidth) * height <= int64_t(drawableHeight) * width) {
        rect.Width = drawableWidth;
        rect.Height = int((int64_t(drawableWidth) * height + width / 2) / width);
    } else {
        rect.Height = drawableHeight;
        rect.Width = int((int64_t(drawableHeight) * width + height / 2) / height);
    }
    rect.X = (drawableWidth - rect.Width) / 2;
    rect.Y = (drawableHeight - rect.Height) / 2;
    return rect;
}

TPictureRect PictureRect() { return picture; }

double PictureScale() {
    if (CurrentWindow.Height <= 0 || picture.Height <= 0) return 1.0;
    return double(picture.Height) / double(CurrentWindow.Height);
}
