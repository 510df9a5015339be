// Properties of the hexadecimal rendering and of the texts composed from arbitrary values,
// checked for one input derived from raw bytes. Shared by the fuzzer and the randomized test.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The first property that fails, or "" when all hold.
std::string CheckProperties(const uint8_t* data, size_t size);
