// epoxy first: it keeps the system GL header out and resolves GL 2.0 calls.
#include <epoxy/gl.h>

#include "effects/shader.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/limits.h"
#include "base/report.h"
#include "effects/effect_files.h"
#include "render/material.h"
#include "render/shader_check.h"
#include "render/shader_program.h"
#include "render/shader_source.h"

namespace fs = std::filesystem;

namespace {

// Locations of the uniforms a program uses; -1 for those it does not.
struct TUniforms {
    int32_t Resolution = -1, Time = -1, GlobalTime = -1, TimeDelta = -1, FrameRate = -1, Frame = -1;
    int32_t BarTime = -1, Row = -1, Beat = -1, Bpm = -1, Input = -1;
    int32_t Fields[10] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    int32_t Channels[4] = {-1, -1, -1, -1};
    int32_t ChannelResolution = -1, ChannelTime = -1, Mouse = -1, Date = -1, SampleRate = -1;
    int32_t ViewportOrigin = -1; // the engine's own: gl_FragCoord counts from the viewport's corner
};

const char* const FieldUniforms[10] = {"iX", "iY", "iZ", "iH", "iW", "iD", "iVX", "iVY", "iVZ", "iS"};

// The float uniforms the engine sets itself; a named track of one of these
// names does not reach the shader.
bool EngineUniform(const std::string& name) {
    static const char* const names[] = {"iTime", "iGlobalTime", "iTimeDelta", "iFrameRate", "iBarTime",
                                        "iRow",  "iBeat",       "iBpm",       "iSampleRate"};
    for (const char* engine : names)
        if (name == engine) return true;
    for (const char* field : FieldUniforms)
        if (name == field) return true;
    return false;
}

// A `uniform float` bound to a named track: its location and the track.
struct TTrackUniform {
    int32_t Location = -1;
    int32_t Track = -1;
};

// Reads shader files for assembly; each is announced so dev mode watches it.
bool ReadShaderFile(const std::string& path, std::string& text, std::string& why) {
    NoteInputFile(path);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        why = "no such file (looked in " + LookupFolder() + ")";
        return false;
    }
    const uintmax_t size = fs::file_size(path, ec);
    if (ec || size > uintmax_t(limits::MaxShaderFileBytes)) {
        why = "larger than " + std::to_string(limits::MaxShaderFileBytes / (1024 * 1024)) + " MiB";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    text.assign(size_t(size), '\0');
    if (!in.read(text.data(), std::streamsize(size))) {
        why = "cannot be read";
        return false;
    }
    return true;
}

// "karmont.cvl:30", the script line being run (a LOAD line).
std::string ScriptPlace() { return ScriptLocationText(); }
// The script line `line` of the script being run.
std::string ScriptPlace(int32_t line) {
    return line > 0 ? ScriptLocationFile() + ":" + std::to_string(line) : ScriptLocationText();
}

// Reports a failed shader once, at its first error's own file and line;
// the other errors follow on lines of their own. `suffix` names the script
// line. Warnings are reported one by one when `warningsToo`.
void ReportShader(const std::vector<TShaderMessage>& messages, const std::string& suffix, bool warningsToo) {
    constexpr size_t MaxListed = 10;
    auto report = [](TReportKind kind, const TShaderMessage& message, std::string text) {
        TReport out;
        out.Kind = kind;
        out.File = message.File;
        out.Line = message.Line;
        out.Message = std::move(text);
        Report(out);
    };
    const TShaderMessage* first = nullptr;
    std::string others;
    size_t listed = 0, unlisted = 0;
    for (const TShaderMessage& message : messages) {
        if (message.Warning) {
            if (warningsToo) report(TReportKind::Warning, message, message.Text + suffix);
        } else if (!first) {
            first = &message;
        } else if (listed < MaxListed) {
            others += "\n  " + message.Format();
            ++listed;
        } else {
            ++unlisted;
        }
    }
    if (!first) return;
    if (unlisted > 0) others += "\n  and " + std::to_string(unlisted) + " more";
    report(TReportKind::Error, *first, first->Text + suffix + others);
}

std::string NeedText(const TShaderSource& source) {
    return "needs GLSL " + GLSLVersionText(source.NeededVersion) + " (it uses " + source.NeededFor + ")";
}

void PictureSize(uint32_t texture, float size[3]) {
    size[0] = size[1] = 0;
    size[2] = 1;
    if (texture == 0) return;
    GLint bound = 0, width = 0, height = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    glBindTexture(GL_TEXTURE_2D, GLuint(bound));
    size[0] = float(width);
    size[1] = float(height);
}

} // namespace

struct TShaderEffectState {
    TGLProgram Program;
    TUniforms Uniforms;
    std::vector<TTrackUniform> TrackUniforms;
    uint32_t Pictures[2] = {0, 0};
    float PictureSizes[2][3] = {{0, 0, 1}, {0, 0, 1}};
    TGLTexture FrameSoFar;    // iChannel3's copy
    int32_t FrameCount = 0;   // iFrame
    int64_t LastPresent = -2; // PresentedFrames() at the last draw
    float LastBarTime = 0;
};

TShaderEffect::TShaderEffect() : state(std::make_unique<TShaderEffectState>()) {}
TShaderEffect::~TShaderEffect() = default;

bool TShaderEffect::Ready() const { return bool(state->Program); }

void TShaderEffect::Load() {
    if (A.empty()) {
        ShowScriptError("Effect shader needs a fragment shader file in parameter A, Effect number " +
                        std::to_string(SlotIndex));
        return;
    }
    // A picture that fails is reported here; the sampler then reads black.
    const std::string* pictures[2] = {&B, &C};
    for (int i = 0; i < 2; ++i) {
        if (pictures[i]->empty()) continue;
        state->Pictures[i] = BindableTexture(LoadEffectTexture(*pictures[i]));
        PictureSize(state->Pictures[i], state->PictureSizes[i]);
    }
    {
        // A missing file is reported at the A line.
        const TFileReportScope about(A);
        if (!CheckAssetFile(A, "shader")) return;
    }
    const std::string suffix = " (shader of the LOAD at " + ScriptPlace() + ")";
    const TShaderSource source = AssembleShader(A, ReadShaderFile);
    if (!source.Errors.empty()) return ReportShader(source.Errors, suffix, false);
    const int32_t driver = DriverGLSLVersion();
    if (source.NeededVersion > driver) {
        return ReportShader({{A, 0, false, NeedText(source) + "; the driver offers GLSL " + GLSLVersionText(driver)}},
                            suffix, false);
    }
    std::vector<TShaderMessage> messages;
    if (!BuildShaderProgram(source, state->Program, messages)) {
        // A file without #version is compiled as 1.20: say what it needs.
        if (source.NeededVersion > source.Version && !messages.empty())
            messages[0].Text += " (the file " + NeedText(source) + ": begin it with #version " +
                                std::to_string(source.NeededVersion) + ")";
        return ReportShader(messages, suffix, false);
    }
    const TGLProgram& p = state->Program;
    TUniforms& u = state->Uniforms;
    u.Resolution = p.Uniform("iResolution");
    u.Time = p.Uniform("iTime");
    u.GlobalTime = p.Uniform("iGlobalTime");
    u.TimeDelta = p.Uniform("iTimeDelta");
    u.FrameRate = p.Uniform("iFrameRate");
    u.Frame = p.Uniform("iFrame");
    u.BarTime = p.Uniform("iBarTime");
    u.Row = p.Uniform("iRow");
    u.Beat = p.Uniform("iBeat");
    u.Bpm = p.Uniform("iBpm");
    u.Input = p.Uniform("iInput");
    for (int i = 0; i < 10; ++i) u.Fields[i] = p.Uniform(FieldUniforms[i]);
    for (int i = 0; i < 4; ++i) u.Channels[i] = p.Uniform(("iChannel" + std::to_string(i)).c_str());
    u.ChannelResolution = p.Uniform("iChannelResolution");
    u.ChannelTime = p.Uniform("iChannelTime");
    u.Mouse = p.Uniform("iMouse");
    u.Date = p.Uniform("iDate");
    u.SampleRate = p.Uniform("iSampleRate");
    u.ViewportOrigin = p.Uniform("corvalaViewportOrigin");
    // A uniform float named as a named track gets the track's value.
    for (const TDeclaredUniform& declared : source.DeclaredFloatUniforms()) {
        if (EngineUniform(declared.Name)) continue;
        TTrackUniform bound;
        bound.Track = FindTrackUniform(declared.Name);
        bound.Location = p.Uniform(declared.Name.c_str());
        if (bound.Track >= 0 && bound.Location >= 0) state->TrackUniforms.push_back(bound);
    }
}

void TShaderEffect::Check() {
    if (E < 0 || E > 2)
        ReportWarning("Effect shader: E is " + std::to_string(E) +
                      "; 0 blends by alpha, 1 adds, 2 replaces (it blends)");
    // A missing or unnamed file is reported by the table's check of A.
    std::error_code ec;
    if (A.empty() || !fs::is_regular_file(A, ec)) return;
    const std::string suffix = " (A at " + ScriptPlace(ALine) + ")";
    const TShaderSource source = AssembleShader(A, ReadShaderFile);
    if (!source.Errors.empty()) return ReportShader(source.Errors, suffix, false);
    if (source.NeededVersion > 120)
        ReportShader({{A, 0, true, NeedText(source) + "; a driver with GLSL 1.20 only (OpenGL 2.1) refuses it"}},
                     suffix, true);
    // A uniform float of the user's is a named track's, or reads 0 (unless
    // it is given a value) and is most likely a misspelt track name.
    // A named track of an engine uniform's name does not reach it.
    for (const TDeclaredUniform& declared : source.DeclaredFloatUniforms()) {
        const bool engine = EngineUniform(declared.Name), track = FindTrackUniform(declared.Name) >= 0;
        std::string text;
        if (engine && track)
            text = "uniform float " + declared.Name + " is the engine's: the named track " + declared.Name +
                   " does not reach it";
        else if (!engine && !track && !declared.Initialized)
            text = "uniform float " + declared.Name +
                   " is none of the engine's and no named track's (TRACKS): it "
                   "reads 0";
        if (!text.empty()) ReportShader({{declared.File, declared.Line, true, text}}, suffix, true);
    }
    const TShaderValidation validation = ValidateShader(source);
    if (!validation.Ran) {
        static bool told = false;
        if (!told)
            ReportWarning(ShaderValidatorProgram() +
                          " could not be run (Debian package glslang-tools): shaders are not compiled "
                          "before the run");
        told = true;
        return;
    }
    ReportShader(validation.Messages, suffix, false);
}

void TShaderEffect::Draw(const TInputValues& inputs) {
    TShaderEffectState& s = *state;
    if (!s.Program) return;

    // iFrame counts draws in consecutive frames; a bar that starts, a jump
    // back, or a jump seen as a frame time of 0 starts it again.
    const int64_t now = PresentedFrames();
    if (now != s.LastPresent) {
        const bool jumped = BarTime < s.LastBarTime || (FrameTime == 0 && BarTime != s.LastBarTime);
        s.FrameCount = s.LastPresent == now - 1 && !jumped ? s.FrameCount + 1 : 0;
    }
    s.LastPresent = now;
    s.LastBarTime = BarTime;

    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const TUniforms& u = s.Uniforms;
    glActiveTexture(GL_TEXTURE0);
    if (u.Channels[3] >= 0) {
        glReadBuffer(GL_BACK);
        s.FrameSoFar.CopyFromFrame(viewport[0], viewport[1], viewport[2], viewport[3]);
    }
    const TGLTexture* finished = nullptr;
    if (u.Channels[2] >= 0) {
        KeepFinishedFrame();
        finished = FinishedFrame();
    }

    // State for one quad over the viewport, written by the shader alone.
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    if (E == 2) {
        glDisable(GL_BLEND);
    } else {
        glEnable(GL_BLEND);
        if (E == 1)
            glBlendFunc(GL_ONE, GL_ONE);
        else
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glUseProgram(s.Program.Name());

    const float width = float(viewport[2]), height = float(viewport[3]);
    if (u.Resolution >= 0) glUniform3f(u.Resolution, width, height, 1.0f);
    if (u.ViewportOrigin >= 0) glUniform4f(u.ViewportOrigin, float(viewport[0]), float(viewport[1]), 0.0f, 0.0f);
    if (u.Time >= 0) glUniform1f(u.Time, DemoSeconds);
    if (u.GlobalTime >= 0) glUniform1f(u.GlobalTime, DemoSeconds);
    if (u.TimeDelta >= 0) glUniform1f(u.TimeDelta, FrameTime);
    if (u.FrameRate >= 0) glUniform1f(u.FrameRate, FrameTime > 0 ? 1.0f / FrameTime : 0.0f);
    if (u.Frame >= 0) glUniform1i(u.Frame, s.FrameCount);
    if (u.BarTime >= 0) glUniform1f(u.BarTime, BarTime);
    if (u.Row >= 0) glUniform1f(u.Row, DemoRow);
    if (u.Beat >= 0) glUniform1f(u.Beat, float(static_cast<long double>(DemoRow) / 4));
    if (u.Bpm >= 0) glUniform1f(u.Bpm, DemoBpm);
    if (u.Input >= 0) glUniform1fv(u.Input, GLsizei(inputs.size()), inputs.data());
    const float fields[10] = {X, Y, Z, H, W, D, VX, VY, VZ, S};
    for (int i = 0; i < 10; ++i)
        if (u.Fields[i] >= 0) glUniform1f(u.Fields[i], fields[i]);
    if (u.ChannelTime >= 0) {
        const float times[4] = {DemoSeconds, DemoSeconds, DemoSeconds, DemoSeconds};
        glUniform1fv(u.ChannelTime, 4, times);
    }
    if (u.ChannelResolution >= 0) {
        const float sizes[12] = {s.PictureSizes[0][0],
                                 s.PictureSizes[0][1],
                                 1,
                                 s.PictureSizes[1][0],
                                 s.PictureSizes[1][1],
                                 1,
                                 width,
                                 height,
                                 1,
                                 width,
                                 height,
                                 1};
        glUniform3fv(u.ChannelResolution, 4, sizes);
    }
    if (u.Mouse >= 0) glUniform4f(u.Mouse, 0, 0, 0, 0);
    if (u.Date >= 0) {
        const std::time_t clock = std::time(nullptr);
        std::tm local{};
        localtime_r(&clock, &local);
        glUniform4f(u.Date, float(local.tm_year + 1900), float(local.tm_mon), float(local.tm_mday),
                    float(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec));
    }
    if (u.SampleRate >= 0) glUniform1f(u.SampleRate, 44100.0f);
    for (const TTrackUniform& bound : s.TrackUniforms) glUniform1f(bound.Location, TrackValue(bound.Track));

    const uint32_t textures[4] = {s.Pictures[0], s.Pictures[1], finished ? finished->Name() : 0u, s.FrameSoFar.Name()};
    for (int i = 3; i >= 0; --i) {
        if (u.Channels[i] < 0) continue;
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, textures[i] != 0 ? textures[i] : BlackTexture());
        glUniform1i(u.Channels[i], i);
    }
    glActiveTexture(GL_TEXTURE0);

    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0), glVertex2f(-1, -1);
    glTexCoord2f(1, 0), glVertex2f(1, -1);
    glTexCoord2f(1, 1), glVertex2f(1, 1);
    glTexCoord2f(0, 1), glVertex2f(-1, 1);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);

    // The baseline the next effect expects.
    glUseProgram(0);
    for (int i = 3; i >= 0; --i) {
        if (u.Channels[i] < 0) continue;
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
}
