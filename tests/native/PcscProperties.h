// Properties of the reader library's parsers and frames over arbitrary input: "" when they
// hold, else what broke. Run by libFuzzer and by a seeded randomized test.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

std::string CheckPcscProperties(const uint8_t* data, size_t size);
