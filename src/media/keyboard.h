// Keyboard state indexed by DirectInput (PC set 1) scan codes: Escape is 1,
// extended keys are 0x80 | code. Filled from window-system key events.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "render/window.h"

constexpr uint8_t ScanEscape = 1;

class TBINKeyboardDevice {
public:
    void InitKeyboard(const TRenderWindow& window, bool exclusive);
    int LastResult = 0;
    // The last state read; a byte with its high bit set means the key is down.
    std::array<uint8_t, 256> KeyState{};
};

extern std::unique_ptr<TBINKeyboardDevice> Keyboard;

void CreateKeyboard(const TRenderWindow& window, bool exclusive);
// Copies the state the key events left into Keyboard->KeyState.
void PollKeyboard();
// True when the last polled state has `code` down. False before any poll.
bool KeyDown(uint8_t code);

// Scan code for a window-system (SDL) scancode; 0 for keys without one.
uint8_t ScanCodeFromSDL(int sdlScancode);
// Records one key event in the live state that the next PollKeyboard copies.
// The window's event loop calls it for every key press and release; keys
// without a scan code are ignored.
void KeyboardEvent(int sdlScancode, bool down);
// Releases every key in the live state (the window lost the keyboard).
void ReleaseAllKeys();
