// Keyboard state indexed by DirectInput (PC set 1) scan codes: Escape is 1,
// extended keys are 0x80 | code. Filled from window-system (SDL) key events
// that whoever pumps the window's events hands to KeyboardEvent.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

constexpr uint8_t ScanEscape = 1;
// Further keys by their scan codes, for the modes that read them.
constexpr uint8_t ScanMinus = 0x0C, ScanEquals = 0x0D, ScanTab = 0x0F, ScanR = 0x13;
constexpr uint8_t ScanL = 0x26, ScanLeftShift = 0x2A, ScanRightShift = 0x36, ScanSpace = 0x39;
constexpr uint8_t ScanKeypadMinus = 0x4A, ScanKeypadPlus = 0x4E, ScanF12 = 0x58;
constexpr uint8_t ScanHome = 0xC7, ScanPageUp = 0xC9, ScanLeft = 0xCB, ScanRight = 0xCD;
constexpr uint8_t ScanPageDown = 0xD1;

class TBINKeyboardDevice {
public:
    // The window handle is not needed with SDL (null is fine): key events
    // come with the window's events.
    void InitKeyboard(void* windowHandle, bool exclusive);
    int LastResult = 0;
    // The last state read; a byte with its high bit set means the key is down.
    std::array<uint8_t, 256> KeyState{};
    // Presses per scan code between the last two polls, without and with
    // the repeats of held keys.
    std::array<uint8_t, 256> Presses{};
    std::array<uint8_t, 256> Strokes{};
};

extern std::unique_ptr<TBINKeyboardDevice> Keyboard;

void CreateKeyboard(void* windowHandle, bool exclusive);
// Copies the state the key events left into Keyboard->KeyState.
void PollKeyboard();
// True when the last polled state has `code` down. False before any poll.
bool KeyDown(uint8_t code);
// Presses of `code` between the last two polls: a tap shorter than a frame
// still counts once. With `repeats`, the window system's repeats of a held
// key count as presses too (for keys that step, not for keys that toggle).
int KeyPresses(uint8_t code, bool repeats = false);

// Scan code for a window-system (SDL) scancode; 0 for keys without one.
uint8_t ScanCodeFromSDL(int sdlScancode);
// Records one key event in the live state that the next PollKeyboard copies.
// Whoever pumps the window's events calls it for every key press and
// release; keys without a scan code are ignored.
void KeyboardEvent(int sdlScancode, bool down);
// Releases every key in the live state (the window lost the keyboard).
void ReleaseAllKeys();
