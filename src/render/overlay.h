// The 2D overlay: rectangles, pictures, billboards and bitmap-font text in
// overlay units (the pixel size requested at window creation, origin at the
// bottom-left, y up; text y counts down from the top edge).
#pragma once

#include <cstdint>

#include "render/vecmath.h"

// First of the 200 display lists (codes 0 to 199) of the font built last;
// 0 until BuildFont ran. Text printed while it is 0 draws no glyphs.
extern uint32_t FontListBase;
// Colour and position (x from the left, y down from the top, overlay units)
// of the text printed last.
extern TRGBAColor TextColor;
extern float TextX, TextY;
// Camera axes taken by the last DrawBillboard.
extern TVec3 BillboardRight, BillboardUp;
// Codes at or above this have no glyph and print nothing.
constexpr int FontGlyphCount = 200;

// The overlay's extent in its units: the window's requested size
// (RESOLUTIONX x RESOLUTIONY), or 800 x 600 while no window is open.
int OverlayWidth();
int OverlayHeight();

void BeginOrtho();
void EndOrtho();
void PushView();
void PopView();
// Builds 200 glBitmap display lists for codes 0 to 199 (Windows-1252) of the
// face fontconfig matches for faceName at the weight, `height` pixels of
// character cell (a negative height is the em size). Returns the list base,
// also stored in FontListBase; a missing face is reported and gives empty
// lists. Needs a current GL context (returns 0 without one).
uint32_t BuildFont(const char* faceName, int height, bool bold);
// One line of text whose baseline starts at (x, Height - y) in overlay units.
// Leaves texturing and depth testing on and the current colour `color`.
void PrintText(const char* text, int x, int y, const TRGBAColor& color);
// The texture alpha-blended over the rectangle; leaves lighting and depth
// testing on, blending and colour material off, texturing on.
void DrawPicture(uint32_t texture, float x, float y, float width, float height);
// Note the order: `height` extends along y, `width` along x. Leaves lighting
// and depth testing off; texture, colour and blending are the caller's.
void DrawTexturedRect(float x, float y, float height, float width);
// Plain rectangles; every enable, the blend function and the colour come
// back as they were.
void DrawBlendRect(const TRGBAColor& color, float x, float y, float width, float height);
void DrawAddRect(const TRGBAColor& color, float x, float y, float width, float height);
// The camera's x (right) and y (up) axes in model coordinates, read from the
// current model-view matrix.
void GetBillboardAxes(TVec3& up, TVec3& right);
// A camera-facing square of side 2 x size around position, texture
// coordinates (0,0) to (1,1); changes no state.
void DrawBillboard(const TVec3& position, float size);
