// The 2D overlay: rectangles, pictures, billboards and bitmap-font text in
// overlay units (the pixel size requested at window creation, origin at the
// bottom-left, y up; text y counts down from the top edge).
#pragma once

#include <cstdint>

#include "render/vecmath.h"

extern uint32_t FontListBase;

void BeginOrtho();
void EndOrtho();
void PushView();
void PopView();
uint32_t BuildFont(const char* faceName, int height, bool bold);
void PrintText(const char* text, int x, int y, const TRGBAColor& color);
void DrawPicture(uint32_t texture, float x, float y, float width, float height);
void DrawTexturedRect(float x, float y, float height, float width);
void DrawBlendRect(const TRGBAColor& color, float x, float y, float width, float height);
void DrawAddRect(const TRGBAColor& color, float x, float y, float width, float height);
void GetBillboardAxes(TVec3& up, TVec3& right);
void DrawBillboard(const TVec3& position, float size);
