// The party pack (`corvala --pack OUT [SCRIPT]`): everything the party's
// compo machine needs to show the production, in one folder or zip archive
// that runs where nothing is installed.
//
// The pre-flight runs first; a production with errors is not packed. The
// pack holds the script and every file the check saw it read (paths kept
// relative to the script's folder), the engine with RUNPATH $ORIGIN/lib, the
// shared libraries it needs that a desktop install is not sure to have in
// lib/ (each with RUNPATH $ORIGIN), the overlay font beside the engine,
// run.sh (compo mode on the production, from any working directory),
// README.txt and screenshot.png (a frame from the middle, captured by the
// packed engine itself). The pack is assembled in a hidden folder beside OUT
// and appears whole or not at all; OUT is never an input, and an existing
// OUT is replaced only with --overwrite (a folder only when it is a pack).
#pragma once

#include <string>

struct TPackOptions {
    std::string Output; // absolute: "NAME.zip" for an archive, else a folder
    std::string Script; // resolved in the current directory (the script's folder)
    bool Overwrite = false;
};

// Makes the pack and prints what it holds; returns the process exit code:
// 0 packed, 1 the pre-flight or a step failed, 2 OUT was refused.
int RunPack(const TPackOptions& options);

// The libraries a pack leaves to the party machine, by soname: the C
// library family, the C++ and GCC runtime, the GL driver stack (libGL,
// GLX, EGL, GBM, DRM, and the expat and zlib the driver itself loads),
// X11/xcb, ALSA and PulseAudio.
bool IsSystemLibrary(const std::string& soname);

// The newest C library (glibc) a pack may need: Ubuntu 22.04's and Linux
// Mint 21's, the oldest systems parties run.
inline constexpr const char* PackGlibcLimit = "GLIBC_2.35";
// The newest C++ runtime (libstdc++, left to the system) a pack may need:
// GCC 12's, as on those systems.
inline constexpr const char* PackGlibcxxLimit = "GLIBCXX_3.4.30";
