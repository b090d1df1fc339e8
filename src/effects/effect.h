// The effect base class, the per-frame input values and the globals through
// which effects see time and can stop the demo.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Ten input values of the bar in play; element i belongs to input i. A
// disabled input is 0; an enabled one is >= 0 and may exceed 1.
using TInputValues = std::array<float, 10>;

// Seconds since the start row of the bar in play; set before every Update/Draw.
extern float BarTime;
// Real seconds between the last two timer readings (not scaled by Speed).
extern float FrameTime;
// The frame's demo time in seconds (the music position when music plays),
// its tracker row with the fraction (4 rows a beat), and the script's BPM;
// set once per frame before the first Update.
extern float DemoSeconds;
extern float DemoRow;
extern float DemoBpm;
// Set to true to stop playback before the next frame (or before it starts,
// when set during Load).
extern bool DemoQuit;
// True while a script is only checked: no window, no GL, no sound output.
// Effects then verify their files in Check instead of loading them.
extern bool DemoCheckOnly;

// Base of every effect a script can LOAD. The fields are general-purpose
// parameters set by the one- and two-letter script commands; each effect
// decides what it reads. All start zero or empty.
class TCEffect {
public:
    TCEffect() = default;
    virtual ~TCEffect() = default;
    TCEffect(const TCEffect&) = delete;
    TCEffect& operator=(const TCEffect&) = delete;

    // Once per installed effect, in slot order, after the whole script ran.
    virtual void Load() {}
    // Once per active bar naming the effect, right after Update. It starts
    // from the GL baseline (render/gl_state.h) and may leave any state: the
    // frame loop puts the baseline back after it. The base enables GL
    // blending and draws nothing.
    virtual void Draw(const TInputValues& inputs);
    // Once per active bar naming the effect, right before Draw.
    virtual void Update(const TInputValues& inputs) { (void)inputs; }
    // Pre-flight instead of Load: decode the files the effect would load
    // (without GL) and report what is missing or broken as script errors.
    virtual void Check() {}

    float X = 0, Y = 0, Z = 0;
    float H = 0, W = 0, D = 0;
    float VX = 0, VY = 0, VZ = 0;
    float S = 0;
    std::string A, B, C;
    int32_t ALine = 0; // script line of the last A command; 0 when none
    int E = 0, F = 0, G = 0;
    int SlotIndex = 0;
};

// Named tracks (TRACKS files) of the demo in play (provided by the demo,
// demo/tracks.cpp), for effects that bind
// them, as shader effects bind uniforms. The index of the named track whose
// uniform name (its name with every character but letters, digits and '_'
// turned into '_') is `uniformName`, or -1. Asking marks the track as read,
// so call it from Check as well as from Load: the pre-flight warns about
// named tracks nothing asks for. Indices stay valid for the demo's life.
int32_t FindTrackUniform(const std::string& uniformName);
// The track's value at the frame's row with its fraction; 0 for -1.
float TrackValue(int32_t index);
