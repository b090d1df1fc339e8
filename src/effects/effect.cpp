#include "effects/effect.h"

#include "render/gl.h"

float BarTime = 0;
float FrameTime = 0;
float DemoSeconds = 0;
float DemoRow = 0;
float DemoBpm = 0;
bool DemoQuit = false;
bool DemoCheckOnly = false;

void TCEffect::Draw(const TInputValues& inputs) {
    (void)inputs;
    glEnable(GL_BLEND);
}
