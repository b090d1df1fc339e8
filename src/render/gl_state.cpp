#include "render/gl_state.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "render/gl.h"
#include "render/window.h"

namespace {

// Capabilities the baseline has off, with their names for the check.
struct TCapability {
    GLenum Cap;
    const char* Name;
};
constexpr TCapability OffCapabilities[] = {
    {GL_LIGHTING, "GL_LIGHTING"},
    {GL_LIGHT0, "GL_LIGHT0"},
    {GL_LIGHT1, "GL_LIGHT1"},
    {GL_LIGHT2, "GL_LIGHT2"},
    {GL_LIGHT3, "GL_LIGHT3"},
    {GL_LIGHT4, "GL_LIGHT4"},
    {GL_LIGHT5, "GL_LIGHT5"},
    {GL_LIGHT6, "GL_LIGHT6"},
    {GL_LIGHT7, "GL_LIGHT7"},
    {GL_FOG, "GL_FOG"},
    {GL_BLEND, "GL_BLEND"},
    {GL_TEXTURE_1D, "GL_TEXTURE_1D"},
    {GL_TEXTURE_2D, "GL_TEXTURE_2D"},
    {GL_TEXTURE_GEN_S, "GL_TEXTURE_GEN_S"},
    {GL_TEXTURE_GEN_T, "GL_TEXTURE_GEN_T"},
    {GL_TEXTURE_GEN_R, "GL_TEXTURE_GEN_R"},
    {GL_TEXTURE_GEN_Q, "GL_TEXTURE_GEN_Q"},
    {GL_CULL_FACE, "GL_CULL_FACE"},
    {GL_COLOR_MATERIAL, "GL_COLOR_MATERIAL"},
    {GL_NORMALIZE, "GL_NORMALIZE"},
    {GL_ALPHA_TEST, "GL_ALPHA_TEST"},
    {GL_SCISSOR_TEST, "GL_SCISSOR_TEST"},
    {GL_STENCIL_TEST, "GL_STENCIL_TEST"},
    {GL_POLYGON_OFFSET_FILL, "GL_POLYGON_OFFSET_FILL"},
    {GL_POLYGON_OFFSET_LINE, "GL_POLYGON_OFFSET_LINE"},
    {GL_LINE_STIPPLE, "GL_LINE_STIPPLE"},
    {GL_POLYGON_STIPPLE, "GL_POLYGON_STIPPLE"},
    {GL_LINE_SMOOTH, "GL_LINE_SMOOTH"},
    {GL_POINT_SMOOTH, "GL_POINT_SMOOTH"},
    {GL_POLYGON_SMOOTH, "GL_POLYGON_SMOOTH"},
    {GL_COLOR_LOGIC_OP, "GL_COLOR_LOGIC_OP"},
};

constexpr TCapability ClientArrays[] = {
    {GL_VERTEX_ARRAY, "GL_VERTEX_ARRAY"},
    {GL_NORMAL_ARRAY, "GL_NORMAL_ARRAY"},
    {GL_COLOR_ARRAY, "GL_COLOR_ARRAY"},
    {GL_TEXTURE_COORD_ARRAY, "GL_TEXTURE_COORD_ARRAY"},
};

// GL's initial material, light model, light 0 and fog values.
constexpr GLfloat MaterialAmbient[] = {0.2f, 0.2f, 0.2f, 1.0f};
constexpr GLfloat MaterialDiffuse[] = {0.8f, 0.8f, 0.8f, 1.0f};
constexpr GLfloat Black[] = {0.0f, 0.0f, 0.0f, 1.0f};
constexpr GLfloat White[] = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr GLfloat Clear[] = {0.0f, 0.0f, 0.0f, 0.0f};
constexpr GLfloat ModelAmbient[] = {0.2f, 0.2f, 0.2f, 1.0f};
constexpr GLfloat LightDirection[] = {0.0f, 0.0f, 1.0f, 0.0f};
constexpr GLfloat SpotDirection[] = {0.0f, 0.0f, -1.0f};

void Add(std::string& list, const std::string& item) {
    if (!list.empty()) list += ", ";
    list += item;
}

GLint Integer(GLenum name) {
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}

bool Near(const GLfloat* a, const GLfloat* b, int count, float tolerance) {
    for (int i = 0; i < count; ++i)
        if (!(std::fabs(a[i] - b[i]) <= tolerance * std::fmax(1.0f, std::fabs(b[i])))) return false;
    return true;
}

// The projection LoadPerspective(45) makes, column-major as GL holds it.
std::array<GLfloat, 16> BaselineProjection() {
    const double f = 1.0 / std::tan(45.0 / 2.0 * M_PI / 180.0);
    const double n = 1.0, far = FarPlane;
    std::array<GLfloat, 16> m{};
    m[0] = GLfloat(f / WindowAspect());
    m[5] = GLfloat(f);
    m[10] = GLfloat((far + n) / (n - far));
    m[11] = -1.0f;
    m[14] = GLfloat(2 * far * n / (n - far));
    return m;
}

const char* ErrorName(GLenum error) {
    switch (error) {
    case GL_INVALID_ENUM:
        return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE:
        return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION:
        return "GL_INVALID_OPERATION";
    case GL_STACK_OVERFLOW:
        return "GL_STACK_OVERFLOW";
    case GL_STACK_UNDERFLOW:
        return "GL_STACK_UNDERFLOW";
    case GL_OUT_OF_MEMORY:
        return "GL_OUT_OF_MEMORY";
    case 0x0506:
        return "GL_INVALID_FRAMEBUFFER_OPERATION";
    default:
        return nullptr;
    }
}

} // namespace

double WindowAspect() {
    if (CurrentWindow.Width <= 0 || CurrentWindow.Height <= 0) return 4.0 / 3.0;
    return double(CurrentWindow.Width) / double(CurrentWindow.Height);
}

void LoadPerspective(double fieldOfView) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(fieldOfView, WindowAspect(), 1.0, FarPlane);
    glMatrixMode(GL_MODELVIEW);
}

void RestoreBaseline() {
    for (const TCapability& c : OffCapabilities) glDisable(c.Cap);
    for (const TCapability& c : ClientArrays) glDisableClientState(c.Cap);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glBlendFunc(GL_ONE, GL_ZERO);
    glAlphaFunc(GL_ALWAYS, 0.0f);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glLineWidth(1.0f);
    glPointSize(1.0f);
    glShadeModel(GL_SMOOTH);

    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glNormal3f(0.0f, 0.0f, 1.0f);
    glTexCoord4f(0.0f, 0.0f, 0.0f, 1.0f);
    glBindTexture(GL_TEXTURE_2D, 0);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);

    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, MaterialAmbient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, MaterialDiffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, Black);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, Black);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0.0f);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ModelAmbient);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_FALSE);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_FALSE);

    glFogi(GL_FOG_MODE, GL_EXP);
    glFogf(GL_FOG_DENSITY, 1.0f);
    glFogf(GL_FOG_START, 0.0f);
    glFogf(GL_FOG_END, 1.0f);
    glFogfv(GL_FOG_COLOR, Clear);
    glHint(GL_FOG_HINT, GL_DONT_CARE);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);

    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    LoadPerspective(45.0);
    glLoadIdentity();
    // The light's position and spot direction are taken through the
    // model-view matrix, which is the identity here.
    glLightfv(GL_LIGHT0, GL_AMBIENT, Black);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, White);
    glLightfv(GL_LIGHT0, GL_SPECULAR, White);
    glLightfv(GL_LIGHT0, GL_POSITION, LightDirection);
    glLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, SpotDirection);
    glLightf(GL_LIGHT0, GL_SPOT_EXPONENT, 0.0f);
    glLightf(GL_LIGHT0, GL_SPOT_CUTOFF, 180.0f);
    glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 1.0f);
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 0.0f);
    glLightf(GL_LIGHT0, GL_QUADRATIC_ATTENUATION, 0.0f);
}

std::string BaselineDifferences() {
    std::string list;
    for (const TCapability& c : OffCapabilities)
        if (glIsEnabled(c.Cap)) Add(list, std::string(c.Name) + " on");
    for (const TCapability& c : ClientArrays)
        if (glIsEnabled(c.Cap)) Add(list, std::string(c.Name) + " on");
    if (!glIsEnabled(GL_DEPTH_TEST)) Add(list, "GL_DEPTH_TEST off");
    if (Integer(GL_DEPTH_FUNC) != GL_LEQUAL) Add(list, "depth function not GL_LEQUAL");
    if (Integer(GL_DEPTH_WRITEMASK) != GL_TRUE) Add(list, "depth writes off");
    GLboolean mask[4] = {};
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    if (!(mask[0] && mask[1] && mask[2] && mask[3])) Add(list, "colour channels masked");
    if (Integer(GL_BLEND_SRC) != GL_ONE || Integer(GL_BLEND_DST) != GL_ZERO)
        Add(list, "blend function not (GL_ONE, GL_ZERO)");
    if (Integer(GL_CULL_FACE_MODE) != GL_BACK) Add(list, "cull face not GL_BACK");
    if (Integer(GL_FRONT_FACE) != GL_CCW) Add(list, "front face not GL_CCW");
    GLint polygon[2] = {};
    glGetIntegerv(GL_POLYGON_MODE, polygon);
    if (polygon[0] != GL_FILL || polygon[1] != GL_FILL) Add(list, "polygon mode not GL_FILL");
    GLfloat value[16] = {};
    glGetFloatv(GL_LINE_WIDTH, value);
    if (value[0] != 1.0f) Add(list, "line width " + std::to_string(value[0]));
    if (Integer(GL_SHADE_MODEL) != GL_SMOOTH) Add(list, "flat shading");
    glGetFloatv(GL_CURRENT_COLOR, value);
    if (!Near(value, White, 4, 0)) Add(list, "colour not opaque white");
    if (Integer(GL_TEXTURE_BINDING_2D) != 0) Add(list, "a texture bound");
    GLint envMode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
    if (envMode != GL_MODULATE) Add(list, "texture environment not GL_MODULATE");
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, value);
    if (!Near(value, MaterialDiffuse, 4, 1e-6f)) Add(list, "material diffuse changed");
    glGetMaterialfv(GL_FRONT, GL_AMBIENT, value);
    if (!Near(value, MaterialAmbient, 4, 1e-6f)) Add(list, "material ambient changed");
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, value);
    if (!Near(value, White, 4, 1e-6f)) Add(list, "GL_LIGHT0 diffuse changed");
    if (Integer(GL_FOG_MODE) != GL_EXP) Add(list, "fog mode not GL_EXP");

    if (Integer(GL_MATRIX_MODE) != GL_MODELVIEW) Add(list, "matrix mode not GL_MODELVIEW");
    static const GLfloat identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    glGetFloatv(GL_MODELVIEW_MATRIX, value);
    if (!Near(value, identity, 16, 1e-6f)) Add(list, "model-view matrix not the identity");
    glGetFloatv(GL_TEXTURE_MATRIX, value);
    if (!Near(value, identity, 16, 1e-6f)) Add(list, "texture matrix not the identity");
    glGetFloatv(GL_PROJECTION_MATRIX, value);
    if (!Near(value, BaselineProjection().data(), 16, 1e-5f))
        Add(list, "projection not the 45-degree perspective at the window's aspect");
    if (const GLint depth = Integer(GL_MODELVIEW_STACK_DEPTH); depth != 1)
        Add(list, "model-view stack depth " + std::to_string(depth));
    if (const GLint depth = Integer(GL_PROJECTION_STACK_DEPTH); depth != 1)
        Add(list, "projection stack depth " + std::to_string(depth));
    if (const GLint depth = Integer(GL_TEXTURE_STACK_DEPTH); depth != 1)
        Add(list, "texture stack depth " + std::to_string(depth));
    if (const GLint depth = Integer(GL_ATTRIB_STACK_DEPTH); depth != 0)
        Add(list, "attribute stack depth " + std::to_string(depth));
    if (const GLint depth = Integer(GL_CLIENT_ATTRIB_STACK_DEPTH); depth != 0)
        Add(list, "client attribute stack depth " + std::to_string(depth));
    return list;
}

std::string RebalanceStacks() {
    std::string list;
    const GLint mode = Integer(GL_MATRIX_MODE);
    const struct {
        GLenum Mode, Depth;
        const char* Name;
    } stacks[] = {{GL_MODELVIEW, GL_MODELVIEW_STACK_DEPTH, "model-view"},
                  {GL_PROJECTION, GL_PROJECTION_STACK_DEPTH, "projection"},
                  {GL_TEXTURE, GL_TEXTURE_STACK_DEPTH, "texture"}};
    for (const auto& stack : stacks) {
        const GLint depth = Integer(stack.Depth);
        if (depth <= 1) continue;
        Add(list, std::string(stack.Name) + " stack depth " + std::to_string(depth));
        glMatrixMode(stack.Mode);
        for (GLint i = 1; i < depth; ++i) glPopMatrix();
    }
    glMatrixMode(GLenum(mode));
    if (const GLint depth = Integer(GL_ATTRIB_STACK_DEPTH); depth > 0) {
        Add(list, "attribute stack depth " + std::to_string(depth));
        for (GLint i = 0; i < depth; ++i) glPopAttrib();
    }
    if (const GLint depth = Integer(GL_CLIENT_ATTRIB_STACK_DEPTH); depth > 0) {
        Add(list, "client attribute stack depth " + std::to_string(depth));
        for (GLint i = 0; i < depth; ++i) glPopClientAttrib();
    }
    return list;
}

std::string TakeGLErrors() {
    std::string list;
    for (int i = 0; i < 16; ++i) {
        const GLenum error = glGetError();
        if (error == GL_NO_ERROR) break;
        if (const char* name = ErrorName(error)) {
            Add(list, name);
        } else {
            char text[32];
            std::snprintf(text, sizeof text, "GL error 0x%04x", unsigned(error));
            Add(list, text);
        }
    }
    return list;
}
