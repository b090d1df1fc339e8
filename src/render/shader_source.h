// Fragment shader source as the engine hands it to a compiler, and the
// compiler's log turned back into the user's files and lines. No GL here:
// assembly, the line map and the log parser are plain text work.
//
// Assembly expands `#include "file"` (a file beside the including one, at
// most MaxShaderIncludeDepth deep, a loop refused), puts a `#version` line
// first (the file's own, else 120), and for a file that defines
// `void mainImage(out vec4 fragColor, in vec2 fragCoord)` and no `main` adds
// the declarations of the web shader sites' uniforms and a `main` that calls
// it. Every line of the result remembers the file and line it came from, so
// added lines and included files never shift a reported line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

inline constexpr int MaxShaderIncludeDepth = 16;

enum class TShaderDialect {
    Main,      // the file defines void main(): GLSL as the driver takes it
    MainImage, // the file defines mainImage() only: the web sites' form
};

// Where a line of the assembled text came from. File indexes
// TShaderSource::Files; -1 marks a line the engine added.
struct TShaderLineOrigin {
    int32_t File = -1;
    int32_t Line = 0; // 1-based
};

// One message about a shader, counted in the user's files.
struct TShaderMessage {
    std::string File; // as the script or the #include named it
    int32_t Line = 0; // 0: the file as a whole
    bool Warning = false;
    std::string Text;
    // "name.frag:12: error: TEXT" ("name.frag: error: TEXT" without a line).
    std::string Format() const;
};

// A `uniform float NAME` the user's files declare (not an array).
struct TDeclaredUniform {
    std::string Name;
    bool Initialized = false; // `= VALUE` gives it a value of its own
    std::string File;         // where it is declared
    int32_t Line = 0;
};

struct TShaderSource {
    std::string Text;                     // what the compiler gets
    std::vector<std::string> Files;       // [0] the shader, then each included file
    std::vector<TShaderLineOrigin> Lines; // origin of each line of Text
    TShaderDialect Dialect = TShaderDialect::Main;
    int32_t Version = 120;        // of Text's #version line (120 = GLSL 1.20)
    std::string Profile;          // "compatibility", "core", "es" or ""
    bool ExplicitVersion = false; // the file has its own #version line
    int32_t NeededVersion = 120;  // the GLSL the file needs
    std::string NeededFor;        // why: "#version 330", "texture()", ...
    // Problems found while assembling (missing include, loop, no main); the
    // source is unusable when any is here.
    std::vector<TShaderMessage> Errors;

    // The shader (any of its files) declares `uniform TYPE name`.
    bool DeclaresUniform(const std::string& name) const;
    // Every `uniform float` the user's files declare, in the order of the
    // assembled text (the declarations the engine adds are left out).
    std::vector<TDeclaredUniform> DeclaredFloatUniforms() const;
};

// Reads a file for assembly: true with its bytes in `text`, or false with a
// reason in `why` ("no such file in FOLDER", "larger than ..."). `path` is
// the shader's name as given, or an include's name joined to the folder of
// the file that includes it.
using TShaderFileReader = std::function<bool(const std::string& path, std::string& text, std::string& why)>;

TShaderSource AssembleShader(const std::string& name, const TShaderFileReader& read);

// Turns a compiler or linker log into messages at the user's lines. Mesa's
// "0:12(5): error: MSG", NVIDIA's "0(12) : error C1008: MSG" and
// "ERROR: 0:12: MSG" (glslang, AMD) parse; assembled line numbers are
// mapped through source.Lines. A log of which no line parses becomes one
// message holding the whole log; a blank log gives none.
std::vector<TShaderMessage> ParseShaderLog(const std::string& log, const TShaderSource& source);

// "1.30" for 130.
std::string GLSLVersionText(int32_t version);
// The driver's GL_SHADING_LANGUAGE_VERSION string ("4.50", "1.20 NVIDIA ...",
// "OpenGL ES GLSL ES 3.00") as 450, 120, 300; 0 when unreadable.
int32_t ParseGLSLVersion(const std::string& text);
