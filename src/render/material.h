// Fixed-function surface state: the texture registry, the state operations
// that switch between plain-colour and textured drawing, and Material.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/vecmath.h"

constexpr int32_t NoTexture = -1;

// Registered texture for `name`; on a miss loads the file (format by its
// extension) and registers whatever came back, NoTexture on failure.
int32_t LoadTexture(const std::string& name);
int32_t FindTexture(const std::string& name);
void RegisterTexture(const std::string& name, int32_t texture);
// Not registered; NoTexture when either file fails to load (reported).
int32_t LoadMaskedTexture(const std::string& colorFile, const std::string& alphaFile);

// One registry entry. Entries are appended, never removed or replaced: a
// name whose load failed is tried again on every request and gains another
// entry holding NoTexture each time. Lookups are exact (case-sensitive) and
// the last matching entry wins.
struct TTexRegItem {
    std::string Name;
    int32_t Texture;
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
