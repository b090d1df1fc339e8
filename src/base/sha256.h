// SHA-256 of a byte buffer, as 64 lower-case hex digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

std::string Sha256Hex(const uint8_t* data, size_t size);
