// The production's pictures: loading screen, backdrop, title with its alpha
// picture, credits, greetings, particle sprites, object textures, the
// cel-shading ramp, the flare and the haze behind the cylinder field.
#pragma once

#include <string>
#include <vector>

#include "production.h"

namespace gen {

// Every picture file, or false with `error` naming the file that failed.
bool MakePictures(std::vector<TGenFile>& files, std::string& error);

// The four colours of the shading ramp, darkest first, and the texel
// columns (of 256) where each band starts.
struct TRampBand {
    int FirstColumn;
    unsigned char R, G, B;
};
extern const TRampBand ShadeRamp[4];

} // namespace gen
