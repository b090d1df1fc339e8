// Overlay drawing in immediate mode. BeginOrtho maps CurrentWindow's requested
// size onto the viewport; EndOrtho always restores the baseline's 45-degree
// perspective at the window's aspect and leaves the model-view matrix alone.
#include "render/overlay.h"

#include <cstring>
#include <vector>

#include "render/gl.h"
#include "render/gl_state.h"
#include "render/material.h"
#include "render/window.h"

TRGBAColor TextColor;
float TextX = 0, TextY = 0;
TVec3 BillboardRight, BillboardUp;

namespace {

void SetColor(const TRGBAColor& color) { glColor4f(color.R, color.G, color.B, color.A); }

// One plain quad at z = 0 in overlay units, with the blend function given.
void DrawPlainRect(const TRGBAColor& color, float x, float y, float width, float height, GLenum dstFactor) {
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, dstFactor);
    BeginOrtho();
    SetColor(color);
    glBegin(GL_QUADS);
    glVertex3f(x, y, 0.0f);
    glVertex3f(x + width, y, 0.0f);
    glVertex3f(x + width, y + height, 0.0f);
    glVertex3f(x, y + height, 0.0f);
    glEnd();
    EndOrtho();
    glPopAttrib();
}

// Corner of a billboard: position + size * (sr * right + su * up), computed
// in extended precision and narrowed per component.
void BillboardVertex(const TVec3& p, float size, int sr, int su) {
    const long double s = size;
    glVertex3f(float(p.X + s * (sr * (long double)BillboardRight.X + su * (long double)BillboardUp.X)),
               float(p.Y + s * (sr * (long double)BillboardRight.Y + su * (long double)BillboardUp.Y)),
               float(p.Z + s * (sr * (long double)BillboardRight.Z + su * (long double)BillboardUp.Z)));
}

} // namespace

int OverlayWidth() { return CurrentWindow.Width > 0 ? CurrentWindow.Width : 800; }
int OverlayHeight() { return CurrentWindow.Height > 0 ? CurrentWindow.Height : 600; }

void BeginOrtho() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, CurrentWindow.Width, 0.0, CurrentWindow.Height, -1.0, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void EndOrtho() {
    // The baseline's perspective, at the window's aspect: a fixed 4:3 here
    // stretched every later 3D draw on a window of another shape.
    LoadPerspective(45.0);
}

void PushView() {
    glPushMatrix();
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -1.0f);
}

void PopView() { glPopMatrix(); }

void PrintText(const char* text, int x, int y, const TRGBAColor& color) {
    TextColor = color;
    TextX = float(x);
    TextY = float(y);
    if (!text) return;

    glDisable(GL_DEPTH_TEST);
    glPushAttrib(GL_LIGHTING_BIT);
    SetColor(TextColor);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    BeginOrtho();
    glLoadIdentity();
    glRasterPos2f(TextX, float(CurrentWindow.Height) - TextY);

    // Only codes with a glyph list are called: codes from 200 up, and every
    // code before a font exists, would run display lists that belong to
    // other parts of the program.
    std::vector<GLubyte> codes;
    if (FontListBase != 0) {
        codes.reserve(std::strlen(text));
        for (const char* c = text; *c; ++c)
            if (static_cast<unsigned char>(*c) < FontGlyphCount) codes.push_back(static_cast<GLubyte>(*c));
    }
    glPushAttrib(GL_LIST_BIT);
    glListBase(FontListBase);
    if (!codes.empty()) glCallLists(GLsizei(codes.size()), GL_UNSIGNED_BYTE, codes.data());
    glPopAttrib();

    glEnable(GL_TEXTURE_2D);
    glEnable(GL_LIGHTING);
    glPopAttrib();
    EndOrtho();
    glEnable(GL_DEPTH_TEST);
}

namespace {

// One textured quad in the current projection, texture coordinates from lo
// to hi on both axes, counter-clockwise from the lower-left corner.
void TexturedQuad(float x, float y, float width, float height, float lo, float hi) {
    glBegin(GL_QUADS);
    glTexCoord2f(lo, lo);
    glVertex3f(x, y, 0.0f);
    glTexCoord2f(hi, lo);
    glVertex3f(x + width, y, 0.0f);
    glTexCoord2f(hi, hi);
    glVertex3f(x + width, y + height, 0.0f);
    glTexCoord2f(lo, hi);
    glVertex3f(x, y + height, 0.0f);
    glEnd();
}

} // namespace

void DrawPicture(uint32_t texture, float x, float y, float width, float height) {
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glBindTexture(GL_TEXTURE_2D, texture);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    BeginOrtho();
    // Coordinates inset from the edges keep linear filtering from pulling in
    // the opposite edge of a repeating texture.
    TexturedQuad(x, y, width, height, 0.0001f, 0.9999f);
    EndOrtho();
    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_COLOR_MATERIAL);
    ResetMaterial();
}

void DrawTexturedRect(float x, float y, float height, float width) {
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    BeginOrtho();
    TexturedQuad(x, y, width, height, 0.0f, 1.0f);
    EndOrtho();
}

void DrawBlendRect(const TRGBAColor& color, float x, float y, float width, float height) {
    DrawPlainRect(color, x, y, width, height, GL_ONE_MINUS_SRC_ALPHA);
}

void DrawAddRect(const TRGBAColor& color, float x, float y, float width, float height) {
    DrawPlainRect(color, x, y, width, height, GL_ONE);
}

void GetBillboardAxes(TVec3& up, TVec3& right) {
    float m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    right = MakeVec3(m[0], m[4], m[8]);
    up = MakeVec3(m[1], m[5], m[9]);
}

void DrawBillboard(const TVec3& position, float size) {
    GetBillboardAxes(BillboardUp, BillboardRight);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    BillboardVertex(position, size, -1, -1);
    glTexCoord2f(1.0f, 0.0f);
    BillboardVertex(position, size, 1, -1);
    glTexCoord2f(1.0f, 1.0f);
    BillboardVertex(position, size, 1, 1);
    glTexCoord2f(0.0f, 1.0f);
    BillboardVertex(position, size, -1, 1);
    glEnd();
}
