// Loading the files of the mesh-based effects, with reports that name the
// missing or broken file and the folder it was looked for in. Every report
// goes through ShowScriptError, so it carries the script line being run (the
// LOAD line for files loaded in constructors and in Load).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "render/mesh.h"

// Pre-flight: the file exists, loads through the 3DS loader and holds mesh
// number `meshIndex`. No GL.
bool CheckModelMesh(const std::string& name, int32_t meshIndex);

// The texture registered for `name`, loading it when it is not registered
// yet. A missing file is reported with the folder it was looked for in and
// not handed to the loader; an unreadable one has been reported by the
// loader. Both give NoTexture.
int32_t LoadEffectTexture(const std::string& name);

// The model `name` with at least meshIndex + 1 meshes, or null after a
// report (missing file, broken file, too few meshes).
std::unique_ptr<TBGLBrush> LoadEffectModel(const std::string& name, int32_t meshIndex);

// Texture handle to bind: NoTexture (a failed load, already reported) binds
// no texture (0) instead of an invalid name.
inline uint32_t BindableTexture(int32_t texture) { return texture == NoTexture ? 0u : uint32_t(texture); }
