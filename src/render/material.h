// Fixed-function surface state: the texture registry, the state operations
// that switch between plain-colour and textured drawing, and Material.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
// True once BeginTextureRebuild ran (dev mode): textures made from a colour
// and an alpha picture are then registered too, as "COLOR\nALPHA", and the
// registry owns them. Before that the two calls below do nothing.
bool TexturesKeptForRebuild();
int32_t FindMaskedTexture(const std::string& colorFile, const std::string& alphaFile);
void RegisterMaskedTexture(const std::string& colorFile, const std::string& alphaFile, int32_t texture);

// One registry entry. Entries are appended, never removed or replaced: a
// name whose load failed is tried again on every request and gains another
// entry holding NoTexture each time. Lookups are exact (case-sensitive) and
// the last matching entry wins.
struct TTexRegItem {
    std::string Name;
    int32_t Texture;
    std::string Path = {};      // absolute file name at registration
    std::string AlphaPath = {}; // masked textures: the alpha picture's
    uint32_t Born = 0;          // the demo build that registered it
    uint32_t Used = 0;          // the last demo build that asked for it
    bool Stale = false;         // its file changed: lookups pass it by
};
const std::vector<TTexRegItem>& TextureRegistry();
// Empties the registry (tests only; the textures themselves are kept).
void ClearTextureRegistry();

// Building a demo again in the same GL context (dev mode). From
// BeginTextureRebuild on, lookups pass over the entries whose file
// `changed(Path)` says has changed, so those load again, and every entry
// asked for is marked as used by the new build. EndTextureRebuild(true)
// keeps what the new build used and deletes every other texture (the
// previous build is gone); EndTextureRebuild(false) deletes what the new
// build loaded and gives the previous build its entries back. Both return
// the number of GL textures deleted. A normal run never calls them.
void BeginTextureRebuild(const std::function<bool(const std::string& path)>& changed);
int EndTextureRebuild(bool keepNew);

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
