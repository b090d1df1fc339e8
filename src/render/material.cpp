#include "render/material.h"

#include <algorithm>

#include "render/textures.h"
#include "base/files.h"
#include "render/gl.h"

namespace {

// Deletes the textures of dropped entries that no remaining entry holds.
void DeleteDropped(std::vector<TTexRegItem>& dropped);

TRebuildCache<TTexRegItem> registry(DeleteDropped);

void DeleteDropped(std::vector<TTexRegItem>& dropped) {
    std::vector<GLuint> names;
    for (const TTexRegItem& item : dropped)
        if (item.Texture > 0) names.push_back(GLuint(item.Texture));
    std::erase_if(names, [](GLuint n) {
        return std::any_of(registry.Entries().begin(), registry.Entries().end(),
                           [n](const TTexRegItem& kept) { return kept.Texture == int32_t(n); });
    });
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    if (!names.empty()) glDeleteTextures(GLsizei(names.size()), names.data());
}

int32_t Registered(const std::string& name) {
    const TTexRegItem* item = registry.Find([&name](const TTexRegItem& entry) { return entry.Name == name; });
    return item ? item->Texture : NoTexture;
}

void Register(const std::string& name, int32_t texture, std::vector<std::string> files) {
    TTexRegItem item;
    item.Name = name;
    item.Texture = texture;
    item.Files = std::move(files);
    registry.Add(std::move(item));
}

void ColorOf(const TRGBAColor& c) { glColor4f(c.R, c.G, c.B, c.A); }

} // namespace

int32_t FindTexture(const std::string& name) { return Registered(name); }

void RegisterTexture(const std::string& name, int32_t texture) { Register(name, texture, {AbsoluteFileName(name)}); }

int32_t LoadTexture(const std::string& name) {
    int32_t texture = FindTexture(name);
    if (texture != NoTexture) return texture;
    TexLoad(name, texture, false);
    RegisterTexture(name, texture);
    return texture;
}

int32_t LoadMaskedTexture(const std::string& colorFile, const std::string& alphaFile) {
    int32_t texture = NoTexture;
    TexLoadJPGMasked(colorFile, alphaFile, texture);
    return texture;
}

int32_t FindMaskedTexture(const std::string& colorFile, const std::string& alphaFile) {
    return Registered(colorFile + "\n" + alphaFile);
}

void RegisterMaskedTexture(const std::string& colorFile, const std::string& alphaFile, int32_t texture) {
    Register(colorFile + "\n" + alphaFile, texture, {AbsoluteFileName(colorFile), AbsoluteFileName(alphaFile)});
}

const std::vector<TTexRegItem>& TextureRegistry() { return registry.Entries(); }

void ClearTextureRegistry() { registry.Clear(); }

void ResetMaterial() {
    static const GLfloat ambient[] = {0.2f, 0.2f, 0.2f, 1.0f};
    static const GLfloat diffuse[] = {0.8f, 0.8f, 0.8f, 1.0f};
    static const GLfloat black[] = {0.0f, 0.0f, 0.0f, 1.0f};
    glDisable(GL_COLOR_MATERIAL);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0.0f);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, black);
}

void ResetRenderState() {
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glEnable(GL_COLOR_MATERIAL);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glDisable(GL_COLOR_MATERIAL);
    ResetMaterial();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
}

void SetPlainColor(const TRGBAColor& color) {
    static const GLfloat black[] = {0.0f, 0.0f, 0.0f, 1.0f};
    const GLfloat diffuse[] = {color.R, color.G, color.B, color.A};
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, black);
    ColorOf(color);
}

void BindTexture(int32_t texture) {
    ResetRenderState();
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, GLuint(texture));
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

void SphereMapOn() {
    glEnable(GL_TEXTURE_GEN_S);
    glEnable(GL_TEXTURE_GEN_T);
}

void SphereMapOff() {
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
}

void Material::Apply() const {
    if (Mode == 0) {
        ResetRenderState();
        ColorOf(Color);
        if (Blend) {
            glEnable(GL_BLEND);
            ColorOf(BlendColor);
            glBlendFunc(GL_ONE, GL_ONE);
        } else {
            glDisable(GL_BLEND);
        }
    } else if (Mode == 1) {
        ResetRenderState();
        BindTexture(Texture);
        if (SphereMap) SphereMapOn();
        if (Blend) {
            ColorOf(BlendColor);
            if (AlphaBlend)
                glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            else
                glBlendFunc(GL_SRC_COLOR, GL_DST_COLOR);
            glEnable(GL_BLEND);
        }
    }
}
