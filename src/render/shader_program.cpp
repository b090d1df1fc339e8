// epoxy must come before any other GL header: it resolves the GL 2.0 and
// later entry points at run time, for whatever context is current.
#include <epoxy/gl.h>

#include "render/shader_program.h"

#include <utility>

namespace {

bool keepFinished = false;   // an effect asked for this frame's finished picture
int64_t presented = 0;       // PresentFrame calls so far
int64_t finishedSerial = -1; // the PresentFrame call whose picture `finished` holds

TGLTexture& FinishedTexture() {
    // Never destroyed: the context is gone when static objects are.
    static TGLTexture* texture = new TGLTexture();
    return *texture;
}

std::string ShaderLog(GLuint shader) {
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(size_t(length > 0 ? length : 0), '\0');
    if (length > 0) glGetShaderInfoLog(shader, length, nullptr, log.data());
    while (!log.empty() && log.back() == '\0') log.pop_back();
    return log;
}

std::string ProgramLog(GLuint program) {
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::string log(size_t(length > 0 ? length : 0), '\0');
    if (length > 0) glGetProgramInfoLog(program, length, nullptr, log.data());
    while (!log.empty() && log.back() == '\0') log.pop_back();
    return log;
}

} // namespace

TGLProgram::~TGLProgram() {
    if (name != 0) glDeleteProgram(name);
}

TGLProgram& TGLProgram::operator=(TGLProgram&& other) noexcept {
    if (this != &other) {
        if (name != 0) glDeleteProgram(name);
        name = std::exchange(other.name, 0u);
    }
    return *this;
}

int32_t TGLProgram::Uniform(const char* uniformName) const {
    return name != 0 ? glGetUniformLocation(name, uniformName) : -1;
}

TGLTexture::~TGLTexture() {
    if (name != 0) glDeleteTextures(1, &name);
}

TGLTexture::TGLTexture(TGLTexture&& other) noexcept
    : name(std::exchange(other.name, 0u)), width(other.width), height(other.height) {}

TGLTexture& TGLTexture::operator=(TGLTexture&& other) noexcept {
    if (this != &other) {
        if (name != 0) glDeleteTextures(1, &name);
        name = std::exchange(other.name, 0u);
        width = other.width;
        height = other.height;
    }
    return *this;
}

void TGLTexture::CopyFromFrame(int x, int y, int copyWidth, int copyHeight) {
    if (copyWidth <= 0 || copyHeight <= 0) return;
    if (name == 0) glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    if (copyWidth != width || copyHeight != height) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, x, y, copyWidth, copyHeight, 0);
        width = copyWidth;
        height = copyHeight;
    } else {
        glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, x, y, copyWidth, copyHeight);
    }
}

int32_t DriverGLSLVersion() {
    const GLubyte* text = glGetString(GL_SHADING_LANGUAGE_VERSION);
    // A GL 1.x context has no GLSL at all.
    return text ? ParseGLSLVersion(reinterpret_cast<const char*>(text)) : 0;
}

bool BuildShaderProgram(const TShaderSource& source, TGLProgram& program, std::vector<TShaderMessage>& messages) {
    program = TGLProgram();
    const GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
    const GLchar* text = source.Text.c_str();
    const GLint length = GLint(source.Text.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        messages = ParseShaderLog(ShaderLog(shader), source);
        if (messages.empty())
            messages.push_back({source.Files.empty() ? "shader" : source.Files[0], 0, false,
                                "the driver refused the shader and gave no reason"});
        glDeleteShader(shader);
        return false;
    }
    TGLProgram linked(glCreateProgram());
    glAttachShader(linked.Name(), shader);
    glLinkProgram(linked.Name());
    glDeleteShader(shader); // the program keeps it while attached
    GLint ok = GL_FALSE;
    glGetProgramiv(linked.Name(), GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        messages = ParseShaderLog(ProgramLog(linked.Name()), source);
        if (messages.empty())
            messages.push_back({source.Files.empty() ? "shader" : source.Files[0], 0, false,
                                "the driver could not link the shader and gave no reason"});
        return false;
    }
    program = std::move(linked);
    return true;
}

void KeepFinishedFrame() { keepFinished = true; }

void CopyFinishedFrame() {
    if (keepFinished) {
        GLint viewport[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_VIEWPORT, viewport);
        GLint unit = GL_TEXTURE0;
        glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
        GLint bound = 0;
        glActiveTexture(GL_TEXTURE0);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        glReadBuffer(GL_BACK);
        FinishedTexture().CopyFromFrame(viewport[0], viewport[1], viewport[2], viewport[3]);
        glBindTexture(GL_TEXTURE_2D, GLuint(bound));
        glActiveTexture(GLenum(unit));
        finishedSerial = presented;
        keepFinished = false;
    }
    ++presented;
}

const TGLTexture* FinishedFrame() {
    return finishedSerial >= 0 && finishedSerial + 1 == presented ? &FinishedTexture() : nullptr;
}

int64_t PresentedFrames() { return presented; }

uint32_t BlackTexture() {
    static GLuint black = 0;
    if (black == 0) {
        const GLubyte pixel[4] = {0, 0, 0, 0};
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        glGenTextures(1, &black);
        glBindTexture(GL_TEXTURE_2D, black);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
        glBindTexture(GL_TEXTURE_2D, GLuint(bound));
    }
    return black;
}
