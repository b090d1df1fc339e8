// Shader assembly, the line map and the driver log parser: no GL.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "render/shader_source.h"

namespace {

// Files in memory, read as the effect's reader would.
TShaderFileReader Files(const std::map<std::string, std::string>& files) {
    return [files](const std::string& path, std::string& text, std::string& why) {
        const auto found = files.find(path);
        if (found == files.end()) {
            why = "no such file";
            return false;
        }
        text = found->second;
        return true;
    };
}

// The assembled line (1-based) that holds `needle`.
int AssembledLine(const TShaderSource& source, const std::string& needle) {
    int line = 1;
    for (size_t at = 0; at < source.Text.size();) {
        const size_t end = source.Text.find('\n', at);
        if (source.Text.substr(at, end - at).find(needle) != std::string::npos) return line;
        at = end + 1;
        ++line;
    }
    return 0;
}

const std::map<std::string, std::string> Shader = {
    {"fx/main.frag", "// a comment first\n"
                     "uniform float iTime;\n"
                     "#include \"lib/common.glsl\"\n"
                     "void main() {\n"
                     "    gl_FragColor = vec4(wave(iTime) + nope);\n"
                     "}\n"},
    {"fx/lib/common.glsl", "float wave(float t) {\n    return sin(t) + broken;\n}\n"},
};

TEST(ShaderSource, IncludesAndVersionKeepEveryLineTraceable) {
    const TShaderSource source = AssembleShader("fx/main.frag", Files(Shader));
    ASSERT_TRUE(source.Errors.empty()) << source.Errors[0].Format();
    EXPECT_EQ(source.Dialect, TShaderDialect::Main);
    EXPECT_EQ(source.Text.rfind("#version 120\n", 0), 0u); // 1.20 without a #version line
    ASSERT_EQ(source.Files.size(), 2u);
    EXPECT_EQ(source.Files[1], "fx/lib/common.glsl"); // named beside the including file

    // Recorded logs of each driver form, at the assembled lines of two errors.
    const int user = AssembledLine(source, "nope"), included = AssembledLine(source, "broken");
    const std::string mesa = "0:" + std::to_string(user) +
                             "(34): error: `nope' undeclared\n0:" + std::to_string(included) +
                             "(21): warning: `broken' unused\n";
    const std::string nvidia = "0(" + std::to_string(user) + ") : error C1008: undefined variable \"nope\"\n";
    const std::string glslang = "ERROR: 0:" + std::to_string(included) +
                                ": 'broken' : undeclared identifier\nERROR: 0:" + std::to_string(included) +
                                ": '' : compilation terminated\nERROR: 2 compilation errors.  No code generated.\n";

    auto messages = ParseShaderLog(mesa, source);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].Format(), "fx/main.frag:5: error: `nope' undeclared");
    EXPECT_EQ(messages[1].Format(), "fx/lib/common.glsl:2: warning: `broken' unused");
    messages = ParseShaderLog(nvidia, source);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Format(), "fx/main.frag:5: error: undefined variable \"nope\" (C1008)");
    messages = ParseShaderLog(glslang, source);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Format(), "fx/lib/common.glsl:2: error: 'broken' : undeclared identifier");

    // A log of no known form is shown whole; an added line names the file alone.
    messages = ParseShaderLog("Shader compile failed\nout of registers\n", source);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Format(), "fx/main.frag: error: Shader compile failed\nout of registers");
    EXPECT_EQ(ParseShaderLog("0:1(1): error: bad version", source)[0].Format(), "fx/main.frag: error: bad version");
    EXPECT_TRUE(ParseShaderLog("  \n", source).empty());

    // An explicit #version after comments moves to the top, mapped to its line.
    const TShaderSource versioned = AssembleShader(
        "v.frag", Files({{"v.frag", "/* header\n*/\n#version 330 core\nout vec4 c;\nvoid main() { c = vec4(x); }\n"}}));
    EXPECT_EQ(versioned.Text.rfind("#version 330 core\n", 0), 0u);
    EXPECT_EQ(versioned.NeededVersion, 330);
    EXPECT_EQ(ParseShaderLog("0:1(1): error: v", versioned)[0].Line, 3);
    EXPECT_EQ(
        ParseShaderLog("0:" + std::to_string(AssembledLine(versioned, "c = vec4(x)")) + "(1): error: x", versioned)[0]
            .Line,
        5);
}

TEST(ShaderSource, WebFormGetsDeclarationsAndMain) {
    const TShaderSource source = AssembleShader(
        "web.frag", Files({{"web.frag", "uniform float iBeat; // its own\n"
                                        "void mainImage(out vec4 fragColor, in vec2 fragCoord) {\n"
                                        "    fragColor = texture(iChannel0, fragCoord / iResolution.xy) * iBeat;\n"
                                        "}\n"}}));
    ASSERT_TRUE(source.Errors.empty());
    EXPECT_EQ(source.Dialect, TShaderDialect::MainImage);
    EXPECT_EQ(source.NeededVersion, 130);
    EXPECT_EQ(source.NeededFor, "texture()");
    EXPECT_EQ(source.Version, 130);
    for (const char* declared :
         {"uniform float iGlobalTime;", "uniform float iFrameRate;", "uniform float iChannelTime[4];",
          "uniform vec4 iMouse;", "uniform vec4 iDate;", "uniform float iSampleRate;", "uniform float iInput[10];",
          "uniform float iVZ;", "mainImage(color, gl_FragCoord.xy - corvalaViewportOrigin.xy);"})
        EXPECT_NE(source.Text.find(declared), std::string::npos) << declared;
    // What the file declares itself is not declared twice.
    EXPECT_EQ(source.Text.find("uniform float iBeat;"), source.Text.rfind("uniform float iBeat;"));
    EXPECT_TRUE(source.DeclaresUniform("iBeat"));
    EXPECT_FALSE(source.DeclaresUniform("iTime")); // the engine's, not the file's

    // A plain 1.20 file needs nothing newer; `in`/`out` parameters are no
    // in/out variables.
    const TShaderSource plain = AssembleShader(
        "p.frag", Files({{"p.frag", "void f(out vec4 c, in vec2 p) { c = vec4(p, 0.0, 1.0); }\n"
                                    "void main() { f(gl_FragColor, gl_FragCoord.xy); } // texture(x)\n"}}));
    EXPECT_EQ(plain.NeededVersion, 120);

    // gl_FragCoord counts from the viewport's corner: the origin's uniform
    // is declared after the directives that lead the file, no user line
    // moves, and a redeclaration of gl_FragCoord is left as it is.
    const TShaderSource moved = AssembleShader(
        "m.frag", Files({{"m.frag", "#extension GL_ARB_shader_texture_lod : enable\n#define AT gl_FragCoord.xy\n"
                                    "uniform vec3 iResolution;\nvoid main() { gl_FragColor = vec4(AT / iResolution.xy,"
                                    " gl_FragCoord.z, 1.0); }\n"}}));
    EXPECT_NE(moved.Text.find("#define AT (gl_FragCoord - corvalaViewportOrigin).xy\n"
                              "uniform vec4 corvalaViewportOrigin;\nuniform vec3 iResolution;\n"),
              std::string::npos)
        << moved.Text;
    EXPECT_EQ(ParseShaderLog("0:" + std::to_string(AssembledLine(moved, "void main")) + "(1): error: x", moved)[0].Line,
              4);
    const TShaderSource kept =
        AssembleShader("k.frag", Files({{"k.frag", "#version 150\nlayout(origin_upper_left) in vec4 gl_FragCoord;\n"
                                                   "void main() { gl_FragColor = vec4(1.0); }\n"}}));
    EXPECT_NE(kept.Text.find("layout(origin_upper_left) in vec4 gl_FragCoord;"), std::string::npos) << kept.Text;
    EXPECT_EQ(kept.Text.find("corvalaViewportOrigin"), std::string::npos) << kept.Text;
    EXPECT_EQ(AssembleShader("o.frag", Files({{"o.frag", "out vec4 color;\nvoid main() { color = vec4(1.0); }\n"}}))
                  .NeededFor,
              "in/out variables");
}

TEST(ShaderSource, BrokenIncludesAreNamedAtTheirLine) {
    auto first = [](const std::map<std::string, std::string>& files) {
        const TShaderSource source = AssembleShader("a.frag", Files(files));
        return source.Errors.empty() ? std::string("no error") : source.Errors[0].Format();
    };
    EXPECT_EQ(first({{"a.frag", "void main() {}\n#include \"gone.glsl\"\n"}}),
              "a.frag:2: error: #include \"gone.glsl\": no such file");
    EXPECT_EQ(first({{"a.frag", "#include <x.glsl>\nvoid main() {}\n"}}),
              "a.frag:1: error: #include needs a file name in double quotes: #include \"common.glsl\"");
    EXPECT_EQ(first({{"a.frag", "#include \"b.glsl\"\nvoid main() {}\n"}, {"b.glsl", "\n#include \"a.frag\"\n"}}),
              "b.glsl:2: error: #include \"a.frag\" makes a loop: a.frag -> b.glsl -> a.frag");
    // A chain of 17 files nests one too deep.
    std::map<std::string, std::string> chain = {{"a.frag", "#include \"f1.glsl\"\nvoid main() {}\n"}};
    for (int i = 1; i <= 17; ++i)
        chain["f" + std::to_string(i) + ".glsl"] = "#include \"f" + std::to_string(i + 1) + ".glsl\"\n";
    chain["f18.glsl"] = "";
    EXPECT_EQ(first(chain), "f16.glsl:1: error: #include \"f17.glsl\" nests deeper than 16 files");
    EXPECT_EQ(first({{"a.frag", "// void main() {}\nvoid other() {}\n"}}),
              "a.frag: error: defines neither void main() nor void mainImage(out vec4 fragColor, in vec2 fragCoord)");
    EXPECT_EQ(first({}), "a.frag: error: no such file");

    EXPECT_EQ(ParseGLSLVersion("4.50"), 450);
    EXPECT_EQ(ParseGLSLVersion("1.20 NVIDIA via Cg compiler"), 120);
    EXPECT_EQ(ParseGLSLVersion("OpenGL ES GLSL ES 3.00"), 300);
    EXPECT_EQ(GLSLVersionText(130), "1.30");
}

// Files near the size limit with a megabyte-long line, blank run or
// unclosed bracket are read as any other (such runs once overflowed the
// stack of the pattern matcher).
TEST(ShaderSource, MegabyteLinesAndRunsAreReadAsAnyOther) {
    const std::string mega(1 << 20, ' ');
    const auto assemble = [](const std::string& text) {
        return AssembleShader("big.frag", Files({{"big.frag", text}}));
    };

    std::string commented = "uniform int mode;\nvoid main() {\n/*\n";
    for (int i = 0; i < 32000; ++i) commented += "    gl_FragColor = vec4(0.0); // an older attempt, kept for later\n";
    commented += "*/\n    switch (mode) { default: gl_FragColor = vec4(1.0); }\n}\n";
    TShaderSource source = assemble(commented);
    EXPECT_TRUE(source.Errors.empty());
    EXPECT_EQ(source.NeededFor, "switch");

    source = assemble("#version 330" + mega + "core\nvoid /*" + std::string(1 << 20, 'x') + "*/ main" + mega +
                      "() { gl_FragColor = gl_FragCoord; }\n");
    EXPECT_TRUE(source.Errors.empty());
    EXPECT_EQ(source.Version, 330);
    EXPECT_EQ(source.Profile, "core");
    EXPECT_EQ(source.Dialect, TShaderDialect::Main);

    source = assemble("#include " + std::string(1 << 20, 'a') + "\nvoid main() {}\n");
    ASSERT_EQ(source.Errors.size(), 1u);
    EXPECT_EQ(source.Errors[0].Line, 1);
    EXPECT_NE(source.Errors[0].Text.find("double quotes"), std::string::npos);

    std::string words;
    for (int i = 0; i < 300000; ++i) words += "a ";
    source = assemble("layout(" + std::string(1 << 20, 'b') + "\nin " + words +
                      "vec4 gl_FragCoord;\nvoid main() { gl_FragColor = gl_FragCoord; }\n");
    EXPECT_TRUE(source.Errors.empty());
    EXPECT_NE(source.Text.find("a vec4 gl_FragCoord;"), std::string::npos) << "its redeclaration stays as written";
}

} // namespace
