// Fixed-function surface state: the texture registry, the state operations
// that switch between plain-colour and textured drawing, and Material.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/rebuild_cache.h"
#include "render/vecmath.h"

constexpr int32_t NoTexture = -1;

// Registered texture for `name`; on a miss loads the file (format by its
// extension) and registers whatever came back, NoTexture on failure. During
// a demo rebuild a found entry counts as used by the new build.
int32_t LoadTexture(const std::string& name);
int32_t FindTexture(const std::string& name);
void RegisterTexture(const std::string& name, int32_t texture);
// Not registered; NoTexture when either file fails to load (reported).
int32_t LoadMaskedTexture(const std::string& colorFile, const std::string& alphaFile);
// A texture made from a colour and an alpha picture, registered under
// "COLOR\nALPHA"; the registry owns it like any other.
int32_t FindMaskedTexture(const std::string& colorFile, const std::string& alphaFile);
void RegisterMaskedTexture(const std::string& colorFile, const std::string& alphaFile, int32_t texture);

// One registry entry. Entries are appended, never removed or replaced: a
// name whose load failed is tried again on every request and gains another
// entry holding NoTexture each time. Lookups are exact (case-sensitive) and
// the last matching entry wins. The registry is the textures' rebuild
// cache (base/rebuild_cache.h): an entry whose file changed is passed by,
// and a rebuild that drops an entry deletes its texture, unless another
// entry holds the same texture.
struct TTexRegItem : TKeptEntry {
    std::string Name;
    int32_t Texture = NoTexture;
};
const std::vector<TTexRegItem>& TextureRegistry();
// Empties the registry (tests only; the textures themselves are kept).
void ClearTextureRegistry();

void ResetMaterial();
void ResetRenderState();
void SetPlainColor(const TRGBAColor& color);
void BindTexture(int32_t texture);
void SphereMapOn();
void SphereMapOff();

class Material {
public:
    void Apply() const;

    int32_t Texture = 0;
    bool Blend = false;
    bool SphereMap = false;
    int32_t Mode = 0; // 0 plain colour, 1 texture; other values change nothing
    TRGBAColor Color{};
    TRGBAColor BlendColor{};
    bool AlphaBlend = false;
};
