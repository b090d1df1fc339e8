// Loading the files that effects (and the loading screen) read, with one
// policy for files that fail: the failure is reported once as a script
// error at the current script line (the LOAD or LOADINGSCREEN line), naming
// the file and the folder it was looked for in, and counts as an error for
// the exit code. A picture that fails gives NoTexture, which binds as no
// texture (the effect draws untextured and the demo plays on); a model that
// fails gives null and the effect stops the demo, having nothing to draw.
//
// The pre-flight check goes through the same decoders and reports the same
// messages, without GL.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "assets/picture.h"
#include "render/mesh.h"

// Decodes a picture the way the run loads it; reports and returns false on
// failure. No GL.
bool DecodeEffectPicture(const std::string& name, TPicture& picture);
// Colour from `colorName`, alpha from `alphaName` (both JPEG); both files are
// looked for before either is decoded, so both can be reported. No GL.
bool DecodeEffectMaskedPicture(const std::string& colorName, const std::string& alphaName, TPicture& picture);

// Pre-flight: the file exists, loads through the 3DS loader and holds mesh
// number `meshIndex`. No GL.
bool CheckModelMesh(const std::string& name, int32_t meshIndex);

// The texture registered for `name`, loading and registering it when it is
// not registered yet; NoTexture after a report.
int32_t LoadEffectTexture(const std::string& name);
// An RGBA texture of a colour and an alpha picture, registered like any
// other texture (the registry owns it); NoTexture after a report.
int32_t LoadEffectMaskedTexture(const std::string& colorName, const std::string& alphaName);

// The model `name` with at least meshIndex + 1 meshes, or null after a
// report (missing file, broken file, too few meshes).
std::unique_ptr<TBGLBrush> LoadEffectModel(const std::string& name, int32_t meshIndex);

// From the first rebuild on (base/rebuild_cache.h), LoadEffectModel keeps
// an untouched copy of every model it loads and hands out copies of it
// while its file stays unchanged; a normal run keeps no copies.

// Texture handle to bind: NoTexture (a failed load, already reported) binds
// no texture (0) instead of an invalid name.
inline uint32_t BindableTexture(int32_t texture) { return texture == NoTexture ? 0u : uint32_t(texture); }
