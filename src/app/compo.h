// Compo mode (`corvala --compo`): the production as the organisers show it.
// Fullscreen on the desktop's own mode at the display's resolution, the
// picture at the production's aspect, centred, black outside; everything
// loaded and every effect drawn once off screen before anything shows; then
// black until Space or Enter (or the autostart time), and the music starts
// with the first frame. Escape, Q and Alt-F4 end it at once with the exit
// code of the run. It writes nothing.
#pragma once

#include <string>

struct TCompoOptions {
    std::string Script;    // resolved in the current directory
    double Autostart = -1; // seconds of black before the show starts itself; < 0: wait for a key
};

// Plays the production in compo mode; returns the process exit code (0 when
// the show ran or was ended by a key, 1 after a reported error).
int RunCompo(const TCompoOptions& options);

// Set CORVALA_COMPO_TRACE=1 to have compo mode print its steps on stderr:
// "compo: warm-up drew N effects", "compo: ready", "compo: first frame",
// "compo: slot N drew for the first time on stage at frame F" and
// "compo: end, frame F, N first draws on stage".
