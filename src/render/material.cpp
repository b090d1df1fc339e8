#include "render/material.h"

#include <algorithm>

#include "render/textures.h"
#include "base/files.h"
#include "render/gl.h"

namespace {

std::vector<TTexRegItem> registry;
uint32_t acceptedBuild = 0; // the build whose demo plays
uint32_t currentBuild = 0;  // the build in progress (== acceptedBuild outside a rebuild)
bool rebuilding = false;    // BeginTextureRebuild ran once

// The last entry for `name` that lookups may see, or null.
TTexRegItem* FindEntry(const std::string& name) {
    for (auto it = registry.rbegin(); it != registry.rend(); ++it)
        if (it->Name == name && !it->Stale) return &*it;
    return nullptr;
}

// Removes the entries `drop` selects and deletes their GL textures (a name
// still held by a kept entry stays).
int DropEntries(const std::function<bool(const TTexRegItem&)>& drop) {
    std::vector<GLuint> names;
    std::vector<TTexRegItem> kept;
    for (TTexRegItem& item : registry) {
        if (!drop(item)) {
            kept.push_back(std::move(item));
        } else if (item.Texture > 0) {
            names.push_back(GLuint(item.Texture));
        }
    }
    std::erase_if(names, [&](GLuint n) {
        return std::any_of(kept.begin(), kept.end(), [&](const TTexRegItem& k) { return k.Texture == int32_t(n); });
    });
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    if (!names.empty()) glDeleteTextures(GLsizei(names.size()), names.data());
    registry = std::move(kept);
    return int(names.size());
}

void ColorOf(const TRGBAColor& c) { glColor4f(c.R, c.G, c.B, c.A); }

} // namespace

int32_t FindTexture(const std::string& name) {
    TTexRegItem* item = FindEntry(name);
    if (!item) return NoTexture;
    // Asked for by the build in progress; taken from memory, but still one
    // of the files the demo reads.
    item->Used = currentBuild;
    NoteInputFile(item->Path);
    return item->Texture;
}

void RegisterTexture(const std::string& name, int32_t texture) {
    TTexRegItem item{name, texture};
    item.Path = AbsoluteFileName(name);
    item.Born = item.Used = currentBuild;
    registry.push_back(std::move(item));
}

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
    if (!rebuilding) return NoTexture;
    TTexRegItem* item = FindEntry(colorFile + "\n" + alphaFile);
    if (!item) return NoTexture;
    item->Used = currentBuild;
    NoteInputFile(item->Path);
    NoteInputFile(item->AlphaPath);
    return item->Texture;
}

void RegisterMaskedTexture(const std::string& colorFile, const std::string& alphaFile, int32_t texture) {
    if (!rebuilding) return;
    RegisterTexture(colorFile + "\n" + alphaFile, texture);
    registry.back().Path = AbsoluteFileName(colorFile);
    registry.back().AlphaPath = AbsoluteFileName(alphaFile);
}

bool TexturesKeptForRebuild() { return rebuilding; }

const std::vector<TTexRegItem>& TextureRegistry() { return registry; }

void ClearTextureRegistry() { registry.clear(); }

void BeginTextureRebuild(const std::function<bool(const std::string& path)>& changed) {
    rebuilding = true;
    currentBuild = acceptedBuild + 1;
    for (TTexRegItem& item : registry)
        item.Stale = changed && (changed(item.Path) || (!item.AlphaPath.empty() && changed(item.AlphaPath)));
}

int EndTextureRebuild(bool keepNew) {
    int deleted = 0;
    if (keepNew) {
        deleted = DropEntries([](const TTexRegItem& item) { return item.Used != currentBuild; });
        acceptedBuild = currentBuild;
    } else {
        deleted = DropEntries([](const TTexRegItem& item) { return item.Born == currentBuild; });
        for (TTexRegItem& item : registry) item.Used = acceptedBuild;
        currentBuild = acceptedBuild;
    }
    for (TTexRegItem& item : registry) item.Stale = false;
    return deleted;
}

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
