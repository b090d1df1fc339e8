#include "render/shader_source.h"

#include <algorithm>
#include <cctype>
#include <regex>

namespace {

// The uniforms a web-form shader gets declared, in the order they are
// declared: the web sites' set (also those the engine's table lacks, which
// pasted shaders still use) and the engine's musical time and fields.
struct TDeclaration {
    const char* Name;
    const char* Text;
};
const TDeclaration WebDeclarations[] = {
    {"iResolution", "uniform vec3 iResolution;"},
    {"iTime", "uniform float iTime;"},
    {"iGlobalTime", "uniform float iGlobalTime;"},
    {"iTimeDelta", "uniform float iTimeDelta;"},
    {"iFrameRate", "uniform float iFrameRate;"},
    {"iFrame", "uniform int iFrame;"},
    {"iChannelTime", "uniform float iChannelTime[4];"},
    {"iChannelResolution", "uniform vec3 iChannelResolution[4];"},
    {"iMouse", "uniform vec4 iMouse;"},
    {"iDate", "uniform vec4 iDate;"},
    {"iSampleRate", "uniform float iSampleRate;"},
    {"iChannel0", "uniform sampler2D iChannel0;"},
    {"iChannel1", "uniform sampler2D iChannel1;"},
    {"iChannel2", "uniform sampler2D iChannel2;"},
    {"iChannel3", "uniform sampler2D iChannel3;"},
    {"iBarTime", "uniform float iBarTime;"},
    {"iRow", "uniform float iRow;"},
    {"iBeat", "uniform float iBeat;"},
    {"iBpm", "uniform float iBpm;"},
    {"iInput", "uniform float iInput[10];"},
    {"iX", "uniform float iX;"},
    {"iY", "uniform float iY;"},
    {"iZ", "uniform float iZ;"},
    {"iH", "uniform float iH;"},
    {"iW", "uniform float iW;"},
    {"iD", "uniform float iD;"},
    {"iVX", "uniform float iVX;"},
    {"iVY", "uniform float iVY;"},
    {"iVZ", "uniform float iVZ;"},
    {"iS", "uniform float iS;"},
};

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (end == text.size()) break;
        start = end + 1;
    }
    if (!lines.empty() && lines.back().empty() && !text.empty() && text.back() == '\n') lines.pop_back();
    return lines;
}

// Blanks out comments, keeping line breaks, so that searches see code only.
std::string StripComments(const std::string& text) {
    std::string out = text;
    enum { Code, Line, Block } state = Code;
    for (size_t i = 0; i < out.size(); ++i) {
        const char next = i + 1 < out.size() ? out[i + 1] : '\0';
        if (state == Code) {
            if (out[i] == '/' && next == '/')
                state = Line;
            else if (out[i] == '/' && next == '*')
                state = Block, out[i + 1] = ' ';
            else
                continue;
            out[i] = ' ';
        } else if (state == Line) {
            if (out[i] == '\n')
                state = Code;
            else
                out[i] = ' ';
        } else {
            if (out[i] == '*' && next == '/') {
                out[i] = out[i + 1] = ' ';
                ++i;
                state = Code;
            } else if (out[i] != '\n') {
                out[i] = ' ';
            }
        }
    }
    return out;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Trimmed(const std::string& text) {
    size_t a = 0, b = text.size();
    while (a < b && std::isspace(static_cast<unsigned char>(text[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1]))) --b;
    return text.substr(a, b - a);
}

// Expands one file and its includes into `out`, line by line.
class TAssembler {
public:
    TAssembler(TShaderSource& target, const TShaderFileReader& reader) : out(target), read(reader) {}

    std::vector<std::string> lines; // code, before the #version line is placed
    std::vector<TShaderLineOrigin> origins;

    void Expand(const std::string& path, const TShaderMessage& from, int depth) {
        std::string text, why;
        if (!read(path, text, why)) {
            if (stack.empty()) out.Files.push_back(path);
            Fail(from, stack.empty() ? why : "#include \"" + path + "\": " + why);
            return;
        }
        const int32_t file = int32_t(out.Files.size());
        out.Files.push_back(path);
        stack.push_back(path);
        const std::vector<std::string> fileLines = SplitLines(text);
        const std::vector<std::string> codeLines = SplitLines(StripComments(text));
        static const std::regex include(R"(^\s*#\s*include\b\s*(.*)$)");
        static const std::regex quoted(R"re(^"([^"]+)"\s*$)re");
        for (size_t i = 0; i < fileLines.size(); ++i) {
            const std::string& code = i < codeLines.size() ? codeLines[i] : fileLines[i];
            std::smatch match;
            if (!std::regex_match(code, match, include)) {
                lines.push_back(fileLines[i]);
                origins.push_back({file, int32_t(i + 1)});
                continue;
            }
            const TShaderMessage here{path, int32_t(i + 1), false, ""};
            std::smatch name;
            const std::string argument = match[1].str();
            if (!std::regex_match(argument, name, quoted)) {
                Fail(here, "#include needs a file name in double quotes: #include \"common.glsl\"");
                continue;
            }
            const std::string target = name[1].str();
            const std::string joined = !target.empty() && target[0] == '/' ? target : FolderOf(path) + target;
            if (std::find(stack.begin(), stack.end(), joined) != stack.end()) {
                std::string chain;
                for (const std::string& step : stack) chain += step + " -> ";
                Fail(here, "#include \"" + target + "\" makes a loop: " + chain + joined);
                continue;
            }
            if (depth + 1 > MaxShaderIncludeDepth) {
                Fail(here, "#include \"" + target + "\" nests deeper than " + std::to_string(MaxShaderIncludeDepth) +
                               " files");
                continue;
            }
            // The include line itself becomes empty: nothing after it moves.
            lines.push_back("");
            origins.push_back({file, int32_t(i + 1)});
            Expand(joined, here, depth + 1);
        }
        stack.pop_back();
    }

    void Fail(const TShaderMessage& at, const std::string& text) {
        TShaderMessage message = at;
        message.Text = text;
        out.Errors.push_back(message);
    }

private:
    TShaderSource& out;
    const TShaderFileReader& read;
    std::vector<std::string> stack;
};

struct TFeature {
    const char* Pattern;
    int32_t Version;
    const char* Name;
};

// The newest GLSL the code uses, from the features 1.20 lacks.
void FindNeededVersion(const std::string& code, TShaderSource& source) {
    static const TFeature features[] = {
        {R"(\btexture\s*\()", 130, "texture()"},
        {R"(\btexelFetch\s*\()", 130, "texelFetch()"},
        {R"(\btextureSize\s*\()", 130, "textureSize()"},
        {R"(\btextureLod\s*\()", 130, "textureLod()"},
        {R"((^|[;{}])\s*((flat|smooth|noperspective|layout\s*\([^)]*\))\s+)*(in|out)\s+\w+\s+\w+\s*(\[[^\]]*\])?\s*;)",
         130, "in/out variables"},
        {R"(\b(uint|uvec[234])\b)", 130, "unsigned integers"},
        {R"(\bswitch\s*\()", 130, "switch"},
    };
    // Each run of blanks becomes one space: the patterns read them alike, and
    // std::regex recurses once for each character a \s* takes, so a long run
    // (a large comment, blanked) would overflow the stack.
    std::string compact;
    compact.reserve(code.size());
    for (const char c : code) {
        const bool blank = std::isspace(static_cast<unsigned char>(c)) != 0;
        if (!blank)
            compact += c;
        else if (compact.empty() || compact.back() != ' ')
            compact += ' ';
    }
    for (const TFeature& feature : features) {
        if (feature.Version <= source.NeededVersion) continue;
        if (std::regex_search(compact, std::regex(feature.Pattern))) {
            source.NeededVersion = feature.Version;
            source.NeededFor = feature.Name;
        }
    }
}

} // namespace

std::string TShaderMessage::Format() const {
    std::string text = File;
    if (Line > 0) text += ":" + std::to_string(Line);
    return text + (Warning ? ": warning: " : ": error: ") + Text;
}

bool TShaderSource::DeclaresUniform(const std::string& name) const {
    const std::regex declared("\\buniform\\s+(\\w+\\s+)*\\w+\\s+" + name + "\\b");
    // Only the user's lines count, not the declarations the engine added.
    const std::vector<std::string> lines = SplitLines(StripComments(Text));
    for (size_t i = 0; i < lines.size() && i < Lines.size(); ++i)
        if (Lines[i].File >= 0 && std::regex_search(lines[i], declared)) return true;
    return false;
}

std::vector<TDeclaredUniform> TShaderSource::DeclaredFloatUniforms() const {
    static const std::regex declaration(R"(\buniform\s+((lowp|mediump|highp)\s+)?float\s+([^;]*);)");
    static const std::regex name(R"(^\s*([A-Za-z_]\w*)\s*(=.*)?$)");
    std::vector<TDeclaredUniform> found;
    const std::vector<std::string> lines = SplitLines(StripComments(Text));
    for (size_t i = 0; i < lines.size() && i < Lines.size(); ++i) {
        const TShaderLineOrigin origin = Lines[i];
        if (origin.File < 0 || size_t(origin.File) >= Files.size()) continue;
        for (std::sregex_iterator it(lines[i].begin(), lines[i].end(), declaration), end; it != end; ++it) {
            // "a, b = 1.0, c[2]": each name; arrays are left out.
            const std::string list = (*it)[3].str();
            size_t from = 0;
            while (from <= list.size()) {
                const size_t comma = std::min(list.find(',', from), list.size());
                const std::string part = list.substr(from, comma - from);
                std::smatch match;
                if (std::regex_match(part, match, name))
                    found.push_back({match[1].str(), match[2].matched, Files[size_t(origin.File)], origin.Line});
                from = comma + 1;
            }
        }
    }
    return found;
}

TShaderSource AssembleShader(const std::string& name, const TShaderFileReader& read) {
    TShaderSource source;
    TAssembler assembler(source, read);
    assembler.Expand(name, {name, 0, false, ""}, 0);
    if (!source.Errors.empty()) return source;

    std::vector<std::string>& lines = assembler.lines;
    std::vector<TShaderLineOrigin>& origins = assembler.origins;
    std::string code;
    for (const std::string& line : lines) code += line + "\n";
    code = StripComments(code);
    const std::vector<std::string> codeLines = SplitLines(code);

    // The #version line of the shader itself moves to the top.
    static const std::regex versionLine(R"(^\s*#\s*version\s+(\d+)\s*(\w*)\s*$)");
    TShaderLineOrigin versionOrigin;
    for (size_t i = 0; i < codeLines.size() && i < lines.size(); ++i) {
        std::smatch match;
        if (!std::regex_match(codeLines[i], match, versionLine)) {
            if (Trimmed(codeLines[i]).empty()) continue;
            break; // #version may only follow comments and blank lines
        }
        source.ExplicitVersion = true;
        source.Version = std::stoi(match[1].str().substr(0, 6));
        source.Profile = match[2].str();
        versionOrigin = origins[i];
        lines[i].clear();
        break;
    }

    static const std::regex mainDefinition(R"(\bvoid\s+main\s*\()");
    static const std::regex mainImageDefinition(R"(\bvoid\s+mainImage\s*\()");
    const bool hasMain = std::regex_search(code, mainDefinition);
    const bool hasMainImage = std::regex_search(code, mainImageDefinition);
    if (!hasMain && !hasMainImage) {
        assembler.Fail({name, 0, false, ""},
                       "defines neither void main() nor void mainImage(out vec4 fragColor, in vec2 fragCoord)");
        return source;
    }
    source.Dialect = hasMain ? TShaderDialect::Main : TShaderDialect::MainImage;

    FindNeededVersion(code, source);
    if (source.ExplicitVersion) {
        source.NeededVersion = source.Version;
        source.NeededFor =
            "#version " + std::to_string(source.Version) + (source.Profile.empty() ? "" : " " + source.Profile);
    } else if (source.Dialect == TShaderDialect::MainImage) {
        // A pasted web shader gets the GLSL its code needs.
        source.Version = std::max<int32_t>(120, source.NeededVersion);
    }

    // gl_FragCoord counts from the window's corner; the shader sees it from
    // the viewport's (the picture's rectangle, which lies inside black bars
    // when the window's shape differs from the production's). A line that
    // redeclares gl_FragCoord keeps it.
    static const std::regex fragCoord(R"(\bgl_FragCoord\b)");
    static const std::regex redeclared(R"(\b(in|varying)\s+(\w+\s+)*vec4\s+gl_FragCoord\b)");
    bool movedFragCoord = source.Dialect == TShaderDialect::MainImage;
    for (size_t i = 0; i < lines.size() && i < codeLines.size(); ++i) {
        if (!std::regex_search(codeLines[i], fragCoord) || std::regex_search(codeLines[i], redeclared)) continue;
        lines[i] = std::regex_replace(lines[i], fragCoord, "(gl_FragCoord - corvalaViewportOrigin)");
        movedFragCoord = true;
    }
    const std::string originDeclaration =
        std::string("uniform ") + (source.Profile == "es" ? "highp " : "") + "vec4 corvalaViewportOrigin;";

    auto add = [&](const std::string& line, TShaderLineOrigin origin) {
        source.Text += line;
        source.Text += '\n';
        source.Lines.push_back(origin);
    };
    add("#version " + std::to_string(source.Version) + (source.Profile.empty() ? "" : " " + source.Profile),
        versionOrigin);
    // A core or ES shader has no gl_FragColor; from 1.30 on an output works
    // in every profile.
    const bool declaredOutput = source.Dialect == TShaderDialect::MainImage && source.Version >= 130;
    if (source.Dialect == TShaderDialect::MainImage) {
        if (source.Profile == "es") add("precision highp float;", {});
        // Only the user's lines are in Lines yet: declarations the file makes
        // itself are not added twice.
        TShaderSource user;
        user.Lines = origins;
        for (const std::string& line : lines) user.Text += line + "\n";
        for (const TDeclaration& declaration : WebDeclarations)
            if (!user.DeclaresUniform(declaration.Name)) add(declaration.Text, {});
        if (declaredOutput) add("out vec4 corvalaFragColor;", {});
        add(originDeclaration, {});
    }
    // The origin's declaration goes before the first line of code, after
    // the directives that must come first (#extension).
    bool declared = source.Dialect == TShaderDialect::MainImage || !movedFragCoord;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!declared && i < codeLines.size()) {
            const std::string trimmed = Trimmed(codeLines[i]);
            if (!trimmed.empty() && trimmed[0] != '#') {
                add(originDeclaration, {});
                declared = true;
            }
        }
        add(lines[i], origins[i]);
    }
    if (source.Dialect == TShaderDialect::MainImage) {
        add("void main() {", {});
        add("    vec4 color = vec4(0.0, 0.0, 0.0, 1.0);", {});
        add("    mainImage(color, gl_FragCoord.xy - corvalaViewportOrigin.xy);", {});
        add(declaredOutput ? "    corvalaFragColor = color;" : "    gl_FragColor = color;", {});
        add("}", {});
    }
    return source;
}

std::vector<TShaderMessage> ParseShaderLog(const std::string& log, const TShaderSource& source) {
    // Each form: (string):(line), then the severity word, then the text.
    static const std::regex mesa(R"(^\s*\d+:(\d+)\(\d+\):\s*(\w[\w ]*?)\s*:\s*(.*)$)");
    static const std::regex nvidia(R"(^\s*\d+\((\d+)\)\s*:\s*(error|warning|fatal error)\s*(.*)$)", std::regex::icase);
    static const std::regex upper(R"(^\s*(ERROR|WARNING):\s*\d+:(\d+):\s*(.*)$)");
    const std::string top = source.Files.empty() ? std::string("shader") : source.Files[0];
    std::vector<TShaderMessage> messages;
    for (const std::string& raw : SplitLines(log)) {
        std::smatch match;
        std::string lineText, severity, text;
        if (std::regex_match(raw, match, mesa)) {
            lineText = match[1], severity = match[2], text = match[3];
        } else if (std::regex_match(raw, match, nvidia)) {
            lineText = match[1], severity = match[2], text = match[3];
            // NVIDIA puts a code before the text: "C1008: undefined variable".
            static const std::regex code(R"(^([A-Z]\d+)\s*:\s*(.*)$)");
            std::smatch parts;
            if (std::regex_match(text, parts, code)) text = parts[2].str() + " (" + parts[1].str() + ")";
        } else if (std::regex_match(raw, match, upper)) {
            severity = match[1], lineText = match[2], text = match[3];
        } else {
            continue;
        }
        text = Trimmed(text);
        // glslang's follow-up to its first error says nothing of its own.
        if (text == "'' : compilation terminated") continue;
        TShaderMessage message;
        std::string lower = severity;
        for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
        message.Warning = lower.find("warning") != std::string::npos;
        message.Text = text;
        message.File = top;
        const long assembled = std::strtol(lineText.c_str(), nullptr, 10);
        if (assembled >= 1 && size_t(assembled) <= source.Lines.size()) {
            const TShaderLineOrigin origin = source.Lines[size_t(assembled - 1)];
            if (origin.File >= 0 && size_t(origin.File) < source.Files.size()) {
                message.File = source.Files[size_t(origin.File)];
                message.Line = origin.Line;
            }
        }
        messages.push_back(message);
    }
    if (messages.empty() && !Trimmed(log).empty()) messages.push_back({top, 0, false, Trimmed(log)});
    return messages;
}

std::string GLSLVersionText(int32_t version) {
    const int32_t minor = version % 100;
    return std::to_string(version / 100) + "." + (minor < 10 ? "0" : "") + std::to_string(minor);
}

int32_t ParseGLSLVersion(const std::string& text) {
    static const std::regex number(R"((\d+)\.(\d+))");
    std::smatch match;
    if (!std::regex_search(text, match, number)) return 0;
    const int major = std::atoi(match[1].str().substr(0, 3).c_str());
    std::string minor = match[2].str().substr(0, 2);
    if (minor.size() == 1) minor += "0";
    return major * 100 + std::atoi(minor.c_str());
}
