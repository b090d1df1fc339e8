// STUB: replaced by the keyboard module.
#include "media/keyboard.h"
std::unique_ptr<TBINKeyboardDevice> Keyboard;
void TBINKeyboardDevice::InitKeyboard(const TRenderWindow&, bool) {}
void CreateKeyboard(const TRenderWindow& window, bool exclusive) {
    Keyboard = std::make_unique<TBINKeyboardDevice>();
    Keyboard->InitKeyboard(window, exclusive);
}
void PollKeyboard() {}
bool KeyDown(uint8_t code) { return Keyboard && Keyboard->KeyState[code] >= 0x80; }
