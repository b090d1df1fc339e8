// The one table of effect types a script can LOAD (names are lower case and
// compared exactly).
#include <functional>
#include <utility>

#include "demo/demo.h"
#include "effects/celshadeobj.h"
#include "effects/cylinders.h"
#include "effects/object3d.h"
#include "effects/particles.h"
#include "effects/plain.h"

namespace {

template <class T> std::unique_ptr<TCEffect> Make() { return std::make_unique<T>(); }

using TEffectFactory = std::unique_ptr<TCEffect> (*)();

const std::pair<const char*, TEffectFactory> EffectTypes[] = {
    {"template", Make<TCEffect>},
    {"plaincolor", Make<TPlainColor>},
    {"plaintexture", Make<TPlainTexture>},
    {"flash", Make<TFlash>},
    {"invertflash", Make<TInverseFlash>},
    {"cylinders", Make<TCylinderPlasma>},
    {"celshadeobj", Make<TCelshadeObject>},
    {"object", Make<T3DObject>},
    {"particles", Make<TParticles>},
};

} // namespace

std::unique_ptr<TCEffect> CreateEffect(const std::string& typeName) {
    for (const auto& [name, factory] : EffectTypes)
        if (typeName == name) return factory();
    return nullptr;
}
