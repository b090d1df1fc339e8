#include "render/shader_source.h"

#include <regex.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace {

// A POSIX extended expression with glibc's \s, \w and \b (outside brackets;
// inside, a backslash is itself), matched by
// glibc's automaton, whose stack depth does not grow with the text: shader
// files of up to 4 MiB may hold a megabyte-long line or blank run, and
// std::regex recurses once for every character a repetition takes.
class TPattern {
public:
    static constexpr size_t MaxGroups = 8;
    struct TMatch {
        regmatch_t Groups[MaxGroups];
        size_t Begin() const { return size_t(Groups[0].rm_so); }
        size_t End() const { return size_t(Groups[0].rm_eo); }
        bool Matched(size_t group) const { return Groups[group].rm_so >= 0; }
        std::string Text(const std::string& text, size_t group) const {
            return Matched(group)
                       ? text.substr(size_t(Groups[group].rm_so), size_t(Groups[group].rm_eo - Groups[group].rm_so))
                       : std::string();
        }
    };

    // The patterns are the engine's own: one that does not compile is a
    // fault of the engine, not of a shader.
    explicit TPattern(const std::string& pattern, int flags = 0) : compiled(std::make_unique<regex_t>()) {
        if (regcomp(compiled.get(), pattern.c_str(), REG_EXTENDED | flags) != 0) compiled.reset();
    }
    ~TPattern() {
        if (compiled) regfree(compiled.get());
    }
    TPattern(const TPattern&) = delete;
    TPattern& operator=(const TPattern&) = delete;

    // The first match in `text` at or after `from` (^ matches only at 0).
    bool Find(const std::string& text, TMatch& match, size_t from = 0) const {
        if (!compiled || from > text.size()) return false;
        match.Groups[0].rm_so = regoff_t(from);
        match.Groups[0].rm_eo = regoff_t(text.size());
        // REG_STARTEND: the range is given, so NUL bytes in it are text.
        const int flags = REG_STARTEND | (from > 0 ? REG_NOTBOL : 0);
        return regexec(compiled.get(), text.c_str(), MaxGroups, match.Groups, flags) == 0;
    }
    bool Find(const std::string& text) const {
        TMatch match;
        return Find(text, match);
    }
    // Each match replaced by `with` (the patterns replaced never match empty).
    std::string ReplaceAll(const std::string& text, const std::string& with) const {
        std::string out;
        TMatch match;
        size_t at = 0;
        while (Find(text, match, at) && match.End() > match.Begin()) {
            out.append(text, at, match.Begin() - at).append(with);
            at = match.End();
        }
        return out.append(text, at, std::string::npos);
    }

private:
    std::unique_ptr<regex_t> compiled;
};

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
        static const TPattern include(R"(^\s*#\s*include\b\s*(.*)$)");
        static const TPattern quoted(R"re(^"([^"]+)"\s*$)re");
        for (size_t i = 0; i < fileLines.size(); ++i) {
            const std::string& code = i < codeLines.size() ? codeLines[i] : fileLines[i];
            TPattern::TMatch match;
            if (!include.Find(code, match)) {
                lines.push_back(fileLines[i]);
                origins.push_back({file, int32_t(i + 1)});
                continue;
            }
            const TShaderMessage here{path, int32_t(i + 1), false, ""};
            TPattern::TMatch name;
            const std::string argument = match.Text(code, 1);
            if (!quoted.Find(argument, name)) {
                Fail(here, "#include needs a file name in double quotes: #include \"common.glsl\"");
                continue;
            }
            const std::string target = name.Text(argument, 1);
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
        {R"((^|[;{}])\s*((flat|smooth|noperspective|layout\s*\([^)]*\))\s+)*(in|out)\s+\w+\s+\w+\s*(\[[^]]*\])?\s*;)",
         130, "in/out variables"},
        {R"(\b(uint|uvec[234])\b)", 130, "unsigned integers"},
        {R"(\bswitch\s*\()", 130, "switch"},
    };
    for (const TFeature& feature : features) {
        if (feature.Version <= source.NeededVersion) continue;
        if (TPattern(feature.Pattern).Find(code)) {
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
    const TPattern declared("\\buniform\\s+(\\w+\\s+)*\\w+\\s+" + name + "\\b");
    // Only the user's lines count, not the declarations the engine added.
    const std::vector<std::string> lines = SplitLines(StripComments(Text));
    for (size_t i = 0; i < lines.size() && i < Lines.size(); ++i)
        if (Lines[i].File >= 0 && declared.Find(lines[i])) return true;
    return false;
}

std::vector<TDeclaredUniform> TShaderSource::DeclaredFloatUniforms() const {
    static const TPattern declaration(R"(\buniform\s+((lowp|mediump|highp)\s+)?float\s+([^;]*);)");
    static const TPattern name(R"(^\s*([A-Za-z_]\w*)\s*(=.*)?$)");
    std::vector<TDeclaredUniform> found;
    const std::vector<std::string> lines = SplitLines(StripComments(Text));
    for (size_t i = 0; i < lines.size() && i < Lines.size(); ++i) {
        const TShaderLineOrigin origin = Lines[i];
        if (origin.File < 0 || size_t(origin.File) >= Files.size()) continue;
        TPattern::TMatch declared;
        for (size_t at = 0; declaration.Find(lines[i], declared, at); at = declared.End()) {
            // "a, b = 1.0, c[2]": each name; arrays are left out.
            const std::string list = declared.Text(lines[i], 3);
            size_t from = 0;
            while (from <= list.size()) {
                const size_t comma = std::min(list.find(',', from), list.size());
                const std::string part = list.substr(from, comma - from);
                TPattern::TMatch match;
                if (name.Find(part, match))
                    found.push_back({match.Text(part, 1), match.Matched(2), Files[size_t(origin.File)], origin.Line});
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
    static const TPattern versionLine(R"(^\s*#\s*version\s+([0-9]+)\s*(\w*)\s*$)");
    TShaderLineOrigin versionOrigin;
    for (size_t i = 0; i < codeLines.size() && i < lines.size(); ++i) {
        TPattern::TMatch match;
        if (!versionLine.Find(codeLines[i], match)) {
            if (Trimmed(codeLines[i]).empty()) continue;
            break; // #version may only follow comments and blank lines
        }
        source.ExplicitVersion = true;
        source.Version = std::stoi(match.Text(codeLines[i], 1).substr(0, 6));
        source.Profile = match.Text(codeLines[i], 2);
        versionOrigin = origins[i];
        lines[i].clear();
        break;
    }

    static const TPattern mainDefinition(R"(\bvoid\s+main\s*\()");
    static const TPattern mainImageDefinition(R"(\bvoid\s+mainImage\s*\()");
    const bool hasMain = mainDefinition.Find(code);
    const bool hasMainImage = mainImageDefinition.Find(code);
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
    static const TPattern fragCoord(R"(\bgl_FragCoord\b)");
    static const TPattern redeclared(R"(\b(in|varying)\s+(\w+\s+)*vec4\s+gl_FragCoord\b)");
    bool movedFragCoord = source.Dialect == TShaderDialect::MainImage;
    for (size_t i = 0; i < lines.size() && i < codeLines.size(); ++i) {
        if (!fragCoord.Find(codeLines[i]) || redeclared.Find(codeLines[i])) continue;
        lines[i] = fragCoord.ReplaceAll(lines[i], "(gl_FragCoord - corvalaViewportOrigin)");
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
    // (The severity takes the blanks before its colon; they are trimmed.)
    static const TPattern mesa(R"(^\s*[0-9]+:([0-9]+)\([0-9]+\):\s*(\w[_[:alnum:] ]*):\s*(.*)$)");
    static const TPattern nvidia(R"(^\s*[0-9]+\(([0-9]+)\)\s*:\s*(error|warning|fatal error)\s*(.*)$)", REG_ICASE);
    static const TPattern upper(R"(^\s*(ERROR|WARNING):\s*[0-9]+:([0-9]+):\s*(.*)$)");
    const std::string top = source.Files.empty() ? std::string("shader") : source.Files[0];
    std::vector<TShaderMessage> messages;
    for (const std::string& raw : SplitLines(log)) {
        TPattern::TMatch match;
        std::string lineText, severity, text;
        if (mesa.Find(raw, match)) {
            lineText = match.Text(raw, 1), severity = Trimmed(match.Text(raw, 2)), text = match.Text(raw, 3);
        } else if (nvidia.Find(raw, match)) {
            lineText = match.Text(raw, 1), severity = match.Text(raw, 2), text = match.Text(raw, 3);
            // NVIDIA puts a code before the text: "C1008: undefined variable".
            static const TPattern code(R"(^([A-Z][0-9]+)\s*:\s*(.*)$)");
            TPattern::TMatch parts;
            if (code.Find(text, parts)) text = parts.Text(text, 2) + " (" + parts.Text(text, 1) + ")";
        } else if (upper.Find(raw, match)) {
            severity = match.Text(raw, 1), lineText = match.Text(raw, 2), text = match.Text(raw, 3);
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
    static const TPattern number(R"(([0-9]+)\.([0-9]+))");
    TPattern::TMatch match;
    if (!number.Find(text, match)) return 0;
    const int major = std::atoi(match.Text(text, 1).substr(0, 3).c_str());
    std::string minor = match.Text(text, 2).substr(0, 2);
    if (minor.size() == 1) minor += "0";
    return major * 100 + std::atoi(minor.c_str());
}
