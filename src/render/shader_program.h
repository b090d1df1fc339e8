// GLSL programs and the frame copies shader effects read: move-only owners
// of GL program and texture names, compiling an assembled fragment shader,
// and the two pictures a shader can sample besides its own (the previous
// frame as finished, and the current frame as drawn so far).
//
// A program holds a fragment shader only; vertices go through the fixed
// function, so a quad drawn with glVertex reaches the shader with
// gl_FragCoord and gl_TexCoord[0] as usual. Every call needs a current
// context, except on an empty wrapper's destruction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/shader_source.h"

class TGLProgram {
public:
    TGLProgram() = default;
    explicit TGLProgram(uint32_t programName) : name(programName) {}
    ~TGLProgram();
    TGLProgram(TGLProgram&& other) noexcept : name(other.name) { other.name = 0; }
    TGLProgram& operator=(TGLProgram&& other) noexcept;
    TGLProgram(const TGLProgram&) = delete;
    TGLProgram& operator=(const TGLProgram&) = delete;

    uint32_t Name() const { return name; }
    explicit operator bool() const { return name != 0; }
    // Location of a uniform the program uses; -1 when it declares none by
    // that name or the compiler dropped it as unused.
    int32_t Uniform(const char* uniformName) const;

private:
    uint32_t name = 0;
};

class TGLTexture {
public:
    TGLTexture() = default;
    ~TGLTexture();
    TGLTexture(TGLTexture&& other) noexcept;
    TGLTexture& operator=(TGLTexture&& other) noexcept;
    TGLTexture(const TGLTexture&) = delete;
    TGLTexture& operator=(const TGLTexture&) = delete;

    // Copies the rectangle (x, y, width, height) of the read buffer into the
    // texture, resizing it when the size changed. Leaves the texture bound
    // to the active unit.
    void CopyFromFrame(int x, int y, int width, int height);
    uint32_t Name() const { return name; }
    int Width() const { return width; }
    int Height() const { return height; }

private:
    uint32_t name = 0;
    int width = 0, height = 0;
};

// The GLSL version the current context compiles (450 for "4.50"); 0 without
// a context.
int32_t DriverGLSLVersion();

// Compiles and links `source`; on failure `program` stays empty and
// `messages` holds the compiler's or linker's log at the user's lines.
bool BuildShaderProgram(const TShaderSource& source, TGLProgram& program, std::vector<TShaderMessage>& messages);

// Feedback: an effect that samples the previous frame calls
// KeepFinishedFrame while it draws; PresentFrame then copies the finished
// back buffer (before the dev HUD) with CopyFinishedFrame. FinishedFrame
// returns that copy while it is of the frame presented last, else null.
void KeepFinishedFrame();
void CopyFinishedFrame();
const TGLTexture* FinishedFrame();
// PresentFrame calls so far (CopyFinishedFrame counts them).
int64_t PresentedFrames();
// A 1 x 1 transparent black texture: what a sampler reads when its picture is
// missing. Lives until the process ends.
uint32_t BlackTexture();
