#include "render/light.h"

#include "render/gl.h"

uint32_t CurrentLight = 0;
float LightPosition[4] = {0.0f, 25.0f, 0.0f, 1.0f};
TRGBAColor LightAmbient{0.5f, 0.5f, 0.5f, 1.0f};
TRGBAColor LightDiffuse{1.0f, 1.0f, 1.0f, 1.0f};

void SelectLight(uint32_t light) { CurrentLight = light; }

void EnableLight() { glEnable(CurrentLight); }

void SetLightPosition(const TVec3& position) {
    LightPosition[0] = position.X;
    LightPosition[1] = position.Y;
    LightPosition[2] = position.Z;
    glLightfv(CurrentLight, GL_POSITION, LightPosition);
}

void SetLightColors(const TRGBAColor& ambient, const TRGBAColor& diffuse) {
    LightAmbient = ambient;
    LightDiffuse = diffuse;
    const float ambientValues[4] = {ambient.R, ambient.G, ambient.B, ambient.A};
    const float diffuseValues[4] = {diffuse.R, diffuse.G, diffuse.B, diffuse.A};
    glLightfv(CurrentLight, GL_AMBIENT, ambientValues);
    glLightfv(CurrentLight, GL_DIFFUSE, diffuseValues);
}

void SetupDefaultLight() {
    EnableLight();
    SetLightPosition(MakeVec3(10.0f, 10.0f, 10.0f));
    SetLightColors(MakeColor(1.0f, 1.0f, 1.0f, 1.0f), MakeColor(0.5f, 0.5f, 0.5f, 0.5f));
    glEnable(GL_LIGHTING);
    glEnable(GL_NORMALIZE);
}
