#include <SDL.h>

#include <cmath>
#include <set>

#include "media/keyboard.h"
#include "render/gl.h"
#include "support/gl_test.h"
#include "window_fixture.h"

namespace {

float GetFloat(GLenum name) {
    float v = 0;
    glGetFloatv(name, &v);
    return v;
}

int GetInt(GLenum name) {
    int v = 0;
    glGetIntegerv(name, &v);
    return v;
}

void ExpectPerspective(float fovDegrees, double aspect) {
    float m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    const double f = 1.0 / std::tan(fovDegrees / 2.0 * M_PI / 180.0);
    EXPECT_NEAR(m[0], f / aspect, 1e-5);
    EXPECT_NEAR(m[5], f, 1e-5);
    // Near 1, far 100000: m10 = (far + near) / (near - far).
    EXPECT_NEAR(m[10], (100000.0 + 1.0) / (1.0 - 100000.0), 1e-6);
    EXPECT_NEAR(m[14], 2.0 * 100000.0 / (1.0 - 100000.0), 1e-4);
    EXPECT_EQ(GetInt(GL_MATRIX_MODE), GL_MODELVIEW);
    float mv[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(mv[i], i % 5 == 0 ? 1.0f : 0.0f);
}

void PushKey(SDL_Scancode scancode, bool down) {
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = scancode;
    ASSERT_EQ(SDL_PushEvent(&event), 1);
}

int PendingEvents() {
    SDL_PumpEvents();
    return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
}

} // namespace

TEST(RenderWindow, CreationSetsInitialStateAndViewport) {
    REQUIRE_WINDOW();
    // A second creation replaces the window with a fresh one.
    const TRenderWindow window = CreateRenderWindow(windowtest::Size, windowtest::Size, 32, false, "Corvala test");
    ASSERT_NE(window.RC, nullptr);
    EXPECT_EQ(CurrentWindow.RC, window.RC);
    EXPECT_EQ(CurrentWindow.Width, windowtest::Size);
    EXPECT_EQ(CurrentWindow.Height, windowtest::Size);
    EXPECT_EQ(CurrentWindow.Caption, "Corvala test");

    float clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_FLOAT_EQ(clear[0], 0.2f);
    EXPECT_FLOAT_EQ(clear[1], 0.2f);
    EXPECT_FLOAT_EQ(clear[2], 0.4f);
    EXPECT_FLOAT_EQ(clear[3], 0.0f);
    EXPECT_EQ(GetInt(GL_SHADE_MODEL), GL_SMOOTH);
    EXPECT_EQ(GetFloat(GL_DEPTH_CLEAR_VALUE), 1.0f);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_EQ(GetInt(GL_DEPTH_FUNC), GL_LEQUAL);
    EXPECT_EQ(GetInt(GL_PERSPECTIVE_CORRECTION_HINT), GL_NICEST);
    int mode = 0;
    glGetTexGeniv(GL_S, GL_TEXTURE_GEN_MODE, &mode);
    EXPECT_EQ(mode, GL_SPHERE_MAP);
    glGetTexGeniv(GL_T, GL_TEXTURE_GEN_MODE, &mode);
    EXPECT_EQ(mode, GL_SPHERE_MAP);
    for (GLenum off : {GL_LIGHTING, GL_BLEND, GL_CULL_FACE, GL_TEXTURE_2D, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T})
        EXPECT_FALSE(glIsEnabled(off)) << off;

    int width = 0, height = 0;
    DrawableSize(width, height);
    int viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], width);
    EXPECT_EQ(viewport[3], height);
    ExpectPerspective(45.0f, double(width) / height);
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST(RenderWindow, ResizeViewAndViewAngle) {
    REQUIRE_WINDOW();
    // A zero height is taken as 1.
    ResizeView(40, 0);
    int viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 40);
    EXPECT_EQ(viewport[3], 1);
    ExpectPerspective(45.0f, 40.0);

    ResizeView(48, 32);
    ExpectPerspective(45.0f, 1.5);

    // SetViewAngle keeps the viewport and uses the requested (square) size.
    SetViewAngle(90.0f);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 48);
    EXPECT_EQ(viewport[3], 32);
    ExpectPerspective(90.0f, 1.0);
    ResizeView(windowtest::Size, windowtest::Size);
    EXPECT_EQ(testgl::GLErrors(), "");
}

TEST(RenderWindow, PresentFrameHandlesEveryEventAndStillPresents) {
    REQUIRE_WINDOW();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    CreateKeyboard(CurrentWindow.Wnd, true);
    // The window hands key events on; the demo feeds the keyboard with them.
    std::vector<TKeyEvent> keys;
    SetKeyEventHook([&](const TKeyEvent& key) {
        keys.push_back(key);
        if (key.FocusLost)
            ReleaseAllKeys();
        else
            KeyboardEvent(key.Scancode, key.Down);
    });

    int swaps = 0;
    uint32_t centre = 0;
    SetBeforeSwapHook([&] {
        ++swaps;
        std::vector<uint8_t> rgba;
        int w = 0, h = 0;
        ASSERT_TRUE(ReadBackBuffer(rgba, w, h));
        const size_t at = (size_t(h / 2) * size_t(w) + size_t(w / 2)) * 4;
        centre = uint32_t(rgba[at]) << 24 | uint32_t(rgba[at + 1]) << 16 | uint32_t(rgba[at + 2]) << 8;
    });

    glClearColor(0.0f, 1.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SDL_Event user{};
    user.type = SDL_USEREVENT;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(SDL_PushEvent(&user), 1);
    PushKey(SDL_SCANCODE_ESCAPE, true);
    ASSERT_GE(PendingEvents(), 4);

    const bool closing = WindowCloseRequested();
    EXPECT_EQ(PresentFrame(CurrentWindow), closing) << "no close request among the events";
    EXPECT_EQ(swaps, 1);
    EXPECT_EQ(centre, 0x00FF0000u);
    EXPECT_EQ(PendingEvents(), 0);

    // The key event of that frame reached the keyboard state.
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].Scancode, SDL_SCANCODE_ESCAPE);
    EXPECT_TRUE(keys[0].Down);
    EXPECT_FALSE(keys[0].FocusLost);
    EXPECT_FALSE(KeyDown(ScanEscape));
    PollKeyboard();
    EXPECT_TRUE(KeyDown(ScanEscape));
    PushKey(SDL_SCANCODE_ESCAPE, false);
    PresentFrame(CurrentWindow);
    EXPECT_EQ(swaps, 2);
    EXPECT_TRUE(KeyDown(ScanEscape)) << "KeyDown reads the last poll only";
    PollKeyboard();
    EXPECT_FALSE(KeyDown(ScanEscape));

    // Losing the focus is handed on as every key up.
    PushKey(SDL_SCANCODE_SPACE, true);
    SDL_Event focus{};
    focus.type = SDL_WINDOWEVENT;
    focus.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    ASSERT_EQ(SDL_PushEvent(&focus), 1);
    PresentFrame(CurrentWindow);
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_TRUE(keys[3].FocusLost);
    PollKeyboard();
    EXPECT_FALSE(KeyDown(ScanSpace));

    SetKeyEventHook({});
    SetBeforeSwapHook({});
    InitRenderState();
}

TEST(RenderWindow, CloseRequestIsReported) {
    REQUIRE_WINDOW();
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&quit), 1);
    EXPECT_TRUE(PresentFrame(CurrentWindow));
    EXPECT_TRUE(WindowCloseRequested());
    EXPECT_TRUE(PresentFrame(CurrentWindow)) << "the request stays";
}

TEST(Keyboard, ScanCodeTable) {
    struct TCase {
        SDL_Scancode Sdl;
        uint8_t Code;
    };
    const TCase cases[] = {
        {SDL_SCANCODE_ESCAPE, 0x01},      {SDL_SCANCODE_1, 0x02},        {SDL_SCANCODE_0, 0x0B},
        {SDL_SCANCODE_Q, 0x10},           {SDL_SCANCODE_P, 0x19},        {SDL_SCANCODE_A, 0x1E},
        {SDL_SCANCODE_L, 0x26},           {SDL_SCANCODE_Z, 0x2C},        {SDL_SCANCODE_M, 0x32},
        {SDL_SCANCODE_SPACE, 0x39},       {SDL_SCANCODE_RETURN, 0x1C},   {SDL_SCANCODE_F1, 0x3B},
        {SDL_SCANCODE_F10, 0x44},         {SDL_SCANCODE_F11, 0x57},      {SDL_SCANCODE_F12, 0x58},
        {SDL_SCANCODE_KP_7, 0x47},        {SDL_SCANCODE_KP_0, 0x52},     {SDL_SCANCODE_KP_PERIOD, 0x53},
        {SDL_SCANCODE_KP_MULTIPLY, 0x37}, {SDL_SCANCODE_KP_ENTER, 0x9C}, {SDL_SCANCODE_KP_DIVIDE, 0xB5},
        {SDL_SCANCODE_RCTRL, 0x9D},       {SDL_SCANCODE_RALT, 0xB8},     {SDL_SCANCODE_UP, 0xC8},
        {SDL_SCANCODE_LEFT, 0xCB},        {SDL_SCANCODE_RIGHT, 0xCD},    {SDL_SCANCODE_DOWN, 0xD0},
        {SDL_SCANCODE_HOME, 0xC7},        {SDL_SCANCODE_DELETE, 0xD3},   {SDL_SCANCODE_LGUI, 0xDB},
    };
    for (const TCase& c : cases) EXPECT_EQ(ScanCodeFromSDL(c.Sdl), c.Code) << SDL_GetScancodeName(c.Sdl);
    EXPECT_EQ(ScanCodeFromSDL(SDL_SCANCODE_UNKNOWN), 0);
    EXPECT_EQ(ScanCodeFromSDL(-1), 0);
    EXPECT_EQ(ScanCodeFromSDL(SDL_NUM_SCANCODES), 0);

    // No two keys share a code, apart from the keys that are one key on a
    // PC keyboard.
    const std::set<SDL_Scancode> aliases = {SDL_SCANCODE_NONUSHASH, SDL_SCANCODE_AUDIOMUTE, SDL_SCANCODE_SYSREQ};
    std::set<uint8_t> seen;
    int mapped = 0;
    for (int s = 0; s < SDL_NUM_SCANCODES; ++s) {
        const uint8_t code = ScanCodeFromSDL(s);
        if (code == 0 || aliases.count(SDL_Scancode(s))) continue;
        ++mapped;
        EXPECT_TRUE(seen.insert(code).second)
            << "code " << int(code) << " twice, at " << SDL_GetScancodeName(SDL_Scancode(s));
    }
    EXPECT_GE(mapped, 104) << "a full PC keyboard";
}

TEST(Keyboard, PollSeesOnlyTheStateAtPollTime) {
    CreateKeyboard(nullptr, true);
    for (int code = 0; code < 256; ++code) ASSERT_FALSE(KeyDown(uint8_t(code)));

    KeyboardEvent(SDL_SCANCODE_A, true);
    KeyboardEvent(SDL_SCANCODE_A, false);
    KeyboardEvent(SDL_SCANCODE_RCTRL, true);
    KeyboardEvent(SDL_SCANCODE_UNKNOWN, true);
    PollKeyboard();
    EXPECT_FALSE(KeyDown(0x1E)) << "pressed and released between polls";
    EXPECT_TRUE(KeyDown(0x9D));
    EXPECT_EQ(Keyboard->KeyState[0x9D], 0x80);
    EXPECT_EQ(Keyboard->KeyState[0], 0);

    Keyboard->KeyState[5] = 0x7F;
    EXPECT_FALSE(KeyDown(5));
    ReleaseAllKeys();
    EXPECT_TRUE(KeyDown(0x9D)) << "until the next poll";
    PollKeyboard();
    EXPECT_FALSE(KeyDown(0x9D));
}

// The picture keeps the production's aspect inside any drawable: centred,
// as large as fits, whole pixels; a drawable of the same aspect is filled.
TEST(RenderWindow, FitPictureCentresTheLargestRectangleOfTheAspect) {
    const auto expect = [](TPictureRect r, int x, int y, int w, int h) {
        EXPECT_EQ(r.X, x);
        EXPECT_EQ(r.Y, y);
        EXPECT_EQ(r.Width, w);
        EXPECT_EQ(r.Height, h);
    };
    expect(FitPicture(1920, 1080, 800, 600), 240, 0, 1440, 1080);  // 4:3 on 16:9: bars left and right
    expect(FitPicture(1280, 1024, 1920, 1080), 0, 152, 1280, 720); // 16:9 on 5:4: bars above and below
    expect(FitPicture(1920, 1080, 1280, 720), 0, 0, 1920, 1080);
    expect(FitPicture(800, 600, 800, 600), 0, 0, 800, 600);
    expect(FitPicture(1366, 768, 1920, 1080), 0, 0, 1365, 768); // the spare column at the right
    expect(FitPicture(640, 480, 0, 0), 0, 0, 640, 480);         // no production size: the drawable
}
