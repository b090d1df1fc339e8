// Pre-flight checks of pictures and models: each problem is reported as a
// script error at the current script line. Nothing here touches GL.
#pragma once

#include <string>

// The file exists and decodes through the engine's picture decoders.
bool CheckPictureFile(const std::string& name);
// The file exists and every mesh loads through the engine's 3DS loader.
bool CheckModelFile(const std::string& name);
