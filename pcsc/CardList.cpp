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

std::string CardList::Opening(uint64_t size, char lastByte, bool typedColumn) {
  if (size == 0)
    return typedColumn ? kCardListTypedHeader : kCardListHeader;
  return lastByte == '\n' ? "" : "\r\n";
}

std::string IdmText(const Idm& idm) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : idm) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::string CardList::Line(const LocalTime& time, const Idm& idm, const std::string& typed) {
  std::string line = IsoTime(time) + "," + IdmText(idm);
  const bool repeat = !seen_.insert(idm).second;
  if (repeat)
    line += ",repeat";
  if (typedColumn_) {
    // A form may hold a double quote: the field is then quoted, its quotes doubled.
    std::string field;
    for (char c : typed)
      field += c == '"' ? "\"\"" : std::string(1, c);
    if (field.size() != typed.size())
      field = '"' + field + '"';
    line += (repeat ? "," : ",,") + field;
  }
  return line + "\r\n";
}

} // namespace pcsc
