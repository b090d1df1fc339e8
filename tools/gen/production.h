// The data of the bundled production, made by code: music and its tracker
// file from one table of notes, pictures in each format the engine reads,
// and the 3DS models the effects need. Every file is a pure function of this
// code: no clock, no random device, no uninitialised bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gen {

// One generated file: its name inside the data folder and its bytes.
struct TGenFile {
    std::string Name;
    std::vector<uint8_t> Bytes;
};

// Writes every file of the production into `outDir` (created when missing).
// On failure returns false and sets `error` to a message naming the file.
// `written` receives the files in the order they were written.
bool GenerateProduction(const std::string& outDir, std::string& error, std::vector<std::string>* written = nullptr);

} // namespace gen
