#include "CallLog.h"

#include <cstring>

namespace sim {

std::string HexBytes(const uint8_t* bytes, int count) {
  if (!bytes)
    return "null";
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0x0F];
  }
  return text;
}

std::string Field(const char* name, const std::string& value) {
  return std::string(" ") + name + "=" + value;
}

std::string BoundedText(const char* text, int maxLength) {
  if (!text)
    return "null";
  return std::string(text, strnlen(text, maxLength));
}

} // namespace sim
