// Every size limit the engine enforces on what it reads, in one place. Each
// is checked before anything is allocated, and each has its own message.
#pragma once

#include <cstdint>

namespace limits {

// Script: the highest effect slot a LOAD line may name.
constexpr int32_t MaxEffectSlot = 4095;
// Script: tokens kept from one line (keyword included); longer lines are cut.
constexpr int MaxTokens = 51;
// Script file size read at most (bytes).
constexpr int64_t MaxScriptBytes = 16 * 1024 * 1024;

// Tracker: channels and the whole grid (channels x rows bytes).
constexpr int32_t MaxTrackerChannels = 4096;
constexpr int64_t MaxTrackerCells = 256LL * 1024 * 1024;

// Pictures: the widest or tallest picture accepted (pixels), and the most
// pixels in one picture.
constexpr int32_t MaxPictureSide = 16384;
constexpr int64_t MaxPicturePixels = 64LL * 1024 * 1024;
// Picture files are read into memory up to this many bytes; more is never
// needed for a picture within the pixel limit.
constexpr int64_t MaxPictureFileBytes = 512LL * 1024 * 1024;

// 3DS models: nesting depth of chunks, and the most vertices or faces in one mesh.
constexpr int Max3DSDepth = 64;
constexpr int64_t Max3DSCount = 16 * 1024 * 1024;
// 3DS models: chunks in one file's tree.
constexpr int64_t Max3DSChunks = 1024 * 1024;

// Sound: decoded 16-bit PCM kept for one sample (bytes, all channels), and
// the highest sample rate accepted (frames per second).
constexpr int64_t MaxSampleBytes = 512LL * 1024 * 1024;
constexpr int32_t MaxSampleRate = 384000;

// Particles effect: the most particles one effect holds (32 bytes each).
constexpr int32_t MaxParticles = 1024 * 1024;

// Shader effect: one shader file or included file read at most (bytes).
constexpr int64_t MaxShaderFileBytes = 4 * 1024 * 1024;

} // namespace limits
