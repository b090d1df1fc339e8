#include <SDL.h>
#include <gtest/gtest.h>

#include "media/keyboard.h"

TEST(Keyboard, PressesBetweenPollsWithAndWithoutRepeats) {
    CreateKeyboard(nullptr, true);
    // A tap within one frame, then a key held with two repeats.
    KeyboardEvent(SDL_SCANCODE_SPACE, true);
    KeyboardEvent(SDL_SCANCODE_SPACE, false);
    KeyboardEvent(SDL_SCANCODE_RIGHT, true);
    KeyboardEvent(SDL_SCANCODE_RIGHT, true);
    KeyboardEvent(SDL_SCANCODE_RIGHT, true);
    PollKeyboard();
    EXPECT_EQ(KeyPresses(ScanSpace), 1);
    EXPECT_EQ(KeyPresses(ScanRight), 1);
    EXPECT_EQ(KeyPresses(ScanRight, true), 3);
    EXPECT_TRUE(KeyDown(ScanRight));

    // Counted once: the next poll starts from none, even for a held key.
    KeyboardEvent(SDL_SCANCODE_RIGHT, true);
    PollKeyboard();
    EXPECT_EQ(KeyPresses(ScanSpace), 0);
    EXPECT_EQ(KeyPresses(ScanRight), 0);
    EXPECT_EQ(KeyPresses(ScanRight, true), 1);

    // Losing focus releases keys; the next press is a fresh one.
    ReleaseAllKeys();
    KeyboardEvent(SDL_SCANCODE_RIGHT, true);
    PollKeyboard();
    EXPECT_EQ(KeyPresses(ScanRight), 1);
}
