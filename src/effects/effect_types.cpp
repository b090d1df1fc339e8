#include "effects/effect_types.h"

#include "base/files.h"
#include "base/report.h"
#include "effects/celshadeobj.h"
#include "effects/cylinders.h"
#include "effects/effect_files.h"
#include "effects/object3d.h"
#include "effects/particles.h"
#include "effects/plain.h"
#include "effects/shader.h"

namespace {

template <class T> std::unique_ptr<TCEffect> Make() { return std::make_unique<T>(); }

using R = TEffectFileRole;

TEffectFile Fixed(const char* name, R role) {
    TEffectFile file;
    file.FixedName = name;
    file.Role = role;
    return file;
}

TEffectFile Field(std::string TCEffect::*field, R role, bool required) {
    TEffectFile file;
    file.Field = field;
    file.Role = role;
    file.Required = required;
    return file;
}

TEffectFile WithAlpha(TEffectFile file, std::string TCEffect::*alpha) {
    file.AlphaField = alpha;
    return file;
}

} // namespace

const std::vector<TEffectType>& EffectTypes() {
    static const std::vector<TEffectType> types = {
        {"template", Make<TCEffect>, {}, "", ""},
        {"plaincolor", Make<TPlainColor>, {}, "X Y W H VX VY", ""},
        // A: the picture; B: an alpha picture for it (both JPEG then).
        {"plaintexture",
         Make<TPlainTexture>,
         {WithAlpha(Field(&TCEffect::A, R::Picture, true), &TCEffect::B)},
         "X Y W H VX VY S",
         ""},
        {"flash", Make<TFlash>, {}, "", ""},
        {"invertflash", Make<TInverseFlash>, {}, "X Y W H", ""},
        {"cylinders", Make<TCylinderPlasma>, {Fixed(TCylinderPlasma::ModelFile, R::Model)}, "", ""},
        {"celshadeobj",
         Make<TCelshadeObject>,
         {Fixed(TCelshadeObject::ShadeFile, R::Picture), Fixed(TCelshadeObject::FlareFile, R::Picture),
          Fixed(TCelshadeObject::ModelFile, R::Model)},
         "",
         ""},
        // A: the model; B: its base texture; C: the sphere-mapped texture.
        {"object",
         Make<T3DObject>,
         {Field(&TCEffect::A, R::Model, true), Field(&TCEffect::B, R::Picture, false),
          Field(&TCEffect::C, R::Picture, false)},
         "",
         "X Y Z VX VY VZ S"},
        // A: the sprite picture (none: white squares).
        {"particles", Make<TParticles>, {Field(&TCEffect::A, R::Picture, false)}, "", "D VX VY VZ S"},
        // A: the fragment shader (with its includes); B, C: pictures for
        // iChannel0 and iChannel1. Every field is a uniform, set every frame.
        {"shader",
         Make<TShaderEffect>,
         {Field(&TCEffect::A, R::Shader, true), Field(&TCEffect::B, R::Picture, false),
          Field(&TCEffect::C, R::Picture, false)},
         "X Y Z H W D VX VY VZ S",
         ""},
    };
    return types;
}

const TEffectType* FindEffectType(const std::string& typeName) {
    for (const TEffectType& type : EffectTypes())
        if (typeName == type.Name) return &type;
    return nullptr;
}

std::unique_ptr<TCEffect> CreateEffect(const std::string& typeName) {
    const TEffectType* type = FindEffectType(typeName);
    return type ? type->Create() : nullptr;
}

std::string FieldLetter(std::string TCEffect::*field) {
    if (field == &TCEffect::A) return "A";
    if (field == &TCEffect::B) return "B";
    if (field == &TCEffect::C) return "C";
    return "?";
}

void CheckEffectFiles(const TEffectType& type, const TCEffect& effect) {
    for (const TEffectFile& file : type.Files) {
        const std::string name = file.Field ? effect.*file.Field : std::string(file.FixedName);
        if (name.empty()) {
            if (file.Required)
                ShowScriptError("Effect " + std::string(type.Name) + " needs a file name in parameter " +
                                FieldLetter(file.Field) + ", Effect number " + std::to_string(effect.SlotIndex));
            continue;
        }
        if (file.Role == R::Shader) {
            const TFileReportScope about(name);
            CheckAssetFile(name, "shader");
            continue;
        }
        if (file.Role == R::Model) {
            CheckModelMesh(name, file.MeshIndex);
            continue;
        }
        TPicture picture;
        const std::string alpha = file.AlphaField ? effect.*file.AlphaField : std::string();
        if (alpha.empty())
            DecodeEffectPicture(name, picture);
        else
            DecodeEffectMaskedPicture(name, alpha, picture);
    }
}
