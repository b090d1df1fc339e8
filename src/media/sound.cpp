// STUB: replaced by the sound module.
#include "media/sound.h"
bool InitSound(void*) { return false; }
int LoadSample(const std::string&) { return -1; }
uint32_t PlaySample(int, int, int) { return 0; }
void SetChannelSeconds(uint32_t, float) {}
float ChannelSeconds(uint32_t) { return 0; }
void ScaleChannelFrequency(uint32_t, float) {}
