#include "CardList.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace pcsc {
namespace {

// The columns, in order, as the headers name them; every line has a cell for each column of its
// file's header, so that a spreadsheet sees the same columns on every line. typed is there only
// where the ID is typed in another form.
enum Column { kTime, kIdm, kRepeat, kTyped, kColumnCount };
using Cells = std::array<std::string, kColumnCount>;

std::string Row(std::span<const std::string> cells) {
  std::string line = cells[0];
  for (size_t i = 1; i < cells.size(); ++i)
    line += "," + cells[i];
  return line + "\r\n";
}

} // namespace

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

std::string HexText(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::string CardList::Line(const LocalTime& time, const Idm& idm, const std::string& typed) {
  Cells cells;
  cells[kTime] = IsoTime(time);
  cells[kIdm] = HexText(idm);
  if (!seen_.insert(idm).second)
    cells[kRepeat] = "repeat";
  if (!typedColumn_)
    return Row(std::span(cells).first(kTyped));
  // A form may hold a double quote: the field is then quoted, its quotes doubled.
  for (char c : typed)
    cells[kTyped] += c == '"' ? "\"\"" : std::string(1, c);
  if (cells[kTyped].size() != typed.size())
    cells[kTyped] = '"' + cells[kTyped] + '"';
  return Row(cells);
}

} // namespace pcsc
