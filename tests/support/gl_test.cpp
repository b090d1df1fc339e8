#include "support/gl_test.h"

#include <SDL.h>

#include "render/gl.h"

namespace testgl {
namespace {

SDL_Window* window = nullptr;
SDL_GLContext context = nullptr;
int windowWidth = 0, windowHeight = 0;

} // namespace

bool EnsureContext(int width, int height) {
    if (window && width <= windowWidth && height <= windowHeight) {
        SDL_GL_MakeCurrent(window, context);
        return true;
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    if (window) {
        SDL_GL_DeleteContext(context);
        SDL_DestroyWindow(window);
        window = nullptr;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 1);
    window = SDL_CreateWindow("test", 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) return false;
    context = SDL_GL_CreateContext(window);
    if (!context) {
        SDL_DestroyWindow(window);
        window = nullptr;
        return false;
    }
    SDL_GL_MakeCurrent(window, context);
    windowWidth = width;
    windowHeight = height;
    glViewport(0, 0, width, height);
    return true;
}

std::vector<uint8_t> ReadPixels(int x, int y, int width, int height) {
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

uint32_t PixelAt(int x, int y) {
    const auto p = ReadPixels(x, y, 1, 1);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::string GLErrors() {
    std::string errors;
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError()) {
        if (!errors.empty()) errors += ", ";
        errors += "0x" + std::to_string(e);
    }
    return errors;
}

} // namespace testgl
