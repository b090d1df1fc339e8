// STUB: replaced by the overlay module.
#include "render/overlay.h"
uint32_t FontListBase = 0;
void BeginOrtho() {}
void EndOrtho() {}
void PushView() {}
void PopView() {}
uint32_t BuildFont(const char*, int, bool) { return 0; }
void PrintText(const char*, int, int, const TRGBAColor&) {}
void DrawPicture(uint32_t, float, float, float, float) {}
void DrawTexturedRect(float, float, float, float) {}
void DrawBlendRect(const TRGBAColor&, float, float, float, float) {}
void DrawAddRect(const TRGBAColor&, float, float, float, float) {}
void GetBillboardAxes(TVec3&, TVec3&) {}
void DrawBillboard(const TVec3&, float) {}
