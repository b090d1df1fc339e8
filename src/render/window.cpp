// STUB: replaced by the window module.
#include "render/window.h"
TRenderWindow CurrentWindow;
void BindGLLibraries() {}
TRenderWindow CreateRenderWindow(int width, int height, int colorBits, bool, const std::string& caption) {
    TRenderWindow w;
    w.Width = width; w.Height = height; w.ColorBits = colorBits; w.Caption = caption;
    CurrentWindow = w;
    return w;
}
void DestroyRenderWindow(TRenderWindow&, bool) {}
void ResizeView(int, int) {}
void InitRenderState() {}
void SetViewAngle(float) {}
bool PresentFrame(const TRenderWindow&) { return false; }
bool WindowCloseRequested() { return false; }
