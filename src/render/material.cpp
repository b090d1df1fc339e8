// STUB: replaced by the materials module.
#include "render/material.h"
int32_t LoadTexture(const std::string&) { return NoTexture; }
int32_t FindTexture(const std::string&) { return NoTexture; }
void RegisterTexture(const std::string&, int32_t) {}
int32_t LoadMaskedTexture(const std::string&, const std::string&) { return NoTexture; }
void ResetMaterial() {}
void ResetRenderState() {}
void SetPlainColor(const TRGBAColor&) {}
void BindTexture(int32_t) {}
void SphereMapOn() {}
void SphereMapOff() {}
void Material::Apply() const {}
