#include "CardList.h"

#include <cstdio>
#include <cstdlib>

namespace pcsc {

std::string IsoTime(const LocalTime& t) {
  const int offset = std::abs(t.offsetMinutes);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

std::string CardList::Opening(uint64_t size, char lastByte) {
  if (size == 0)
    return kCardListHeader;
  return lastByte == '\n' ? "" : "\r\n";
}

std::string HexText(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::string CardList::Line(const LocalTime& time, const Idm& idm) {
  std::string line = IsoTime(time) + "," + HexText(idm);
  if (!seen_.insert(idm).second)
    line += ",repeat";
  return line + "\r\n";
}

} // namespace pcsc
