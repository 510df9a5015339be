// Text pieces of the call log: "<entry point>[ <name>=<value>...] -> <flag>".
#pragma once
#include <cstdint>
#include <string>

namespace sim {

// Upper-case hex, two digits per byte in memory order; "null" for a null pointer.
std::string HexBytes(const uint8_t* bytes, int count);
// " name=value"
std::string Field(const char* name, const std::string& value);
// A caller's NUL-terminated name, read no further than maxLength; "null" for a null pointer.
std::string BoundedText(const char* text, int maxLength);

} // namespace sim
