// The one table of effect types a script can LOAD: each type's name (lower
// case, compared exactly), its class, and the fields that name files with
// how each is loaded. The run loads these files through effects/effect_files
// and the pre-flight check walks this table, so a type cannot have files
// the check does not know about.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "effects/effect.h"

enum class TEffectFileRole {
    Picture, // a texture (with an alpha picture from AlphaField when that is set)
    Model,   // a 3DS model that must hold mesh MeshIndex
    Shader,  // a fragment shader; the check finds it here, the effect's Check compiles it
};

struct TEffectFile {
    // The parameter field holding the name ("A", "B", "C"), or null for a
    // file every effect of the type loads, named by FixedName.
    std::string TCEffect::*Field = nullptr;
    const char* FixedName = nullptr;
    TEffectFileRole Role = TEffectFileRole::Picture;
    // An empty field is an error; otherwise it means "no file".
    bool Required = false;
    // Picture only: the field naming the alpha picture (both then JPEG).
    std::string TCEffect::*AlphaField = nullptr;
    int32_t MeshIndex = 0;
};

struct TEffectType {
    const char* Name;
    std::unique_ptr<TCEffect> (*Create)();
    std::vector<TEffectFile> Files;
    // The float fields (X Y Z H W D VX VY VZ S) the type reads on every
    // frame, and those it reads only once at load, space-separated; a track
    // moves only the first kind (docs/script.md lists both). Null: not known.
    const char* FrameFields = nullptr;
    const char* LoadFields = nullptr;
};

const std::vector<TEffectType>& EffectTypes();
// The entry named `typeName`, or null.
const TEffectType* FindEffectType(const std::string& typeName);
// A new effect of that type; null for an unknown name.
std::unique_ptr<TCEffect> CreateEffect(const std::string& typeName);

// The letter of a parameter field ("A", "B" or "C").
std::string FieldLetter(std::string TCEffect::*field);

// Pre-flight: every file `effect` (of `type`) would load exists and decodes
// through the engine's loaders; problems are reported at the current script
// line. No GL.
void CheckEffectFiles(const TEffectType& type, const TCEffect& effect);
