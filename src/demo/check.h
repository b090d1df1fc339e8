// Pre-flight checks of the files a script names: each problem is reported as
// a script error at the current script line. Nothing here touches GL or
// sound output.
#pragma once

#include <string>

// The file exists; when it does not but a name differing only in letter
// case does, the message says so (scripts written on case-insensitive
// systems fail on Linux). `what` names the file's role ("music", "picture").
bool CheckAssetFile(const std::string& name, const std::string& what);
// The file exists and decodes through the engine's picture decoders.
bool CheckPictureFile(const std::string& name);
// The file exists and every mesh loads through the engine's 3DS loader.
bool CheckModelFile(const std::string& name);
// The file exists and decodes through the engine's sound decoder.
bool CheckSoundFile(const std::string& name);
