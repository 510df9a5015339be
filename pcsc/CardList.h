// The list of cards read, as CSV lines: "time,IDm,repeat", local time in ISO 8601 with its
// offset; repeat is empty for a card's first line in a run. Where the ID is typed in another
// form, a fourth column, typed, holds it as typed. No file and no clock here: the caller hands in
// the time and writes the text.
#pragma once
#include <cstdint>
#include <set>
#include <span>
#include <string>

#include "Felica.h"

namespace pcsc {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int offsetMinutes = 0; // local time less UTC, daylight saving included
};

// 2026-12-09T10:15:30+09:00
std::string IsoTime(const LocalTime& time);
// Upper-case hexadecimal digits, two a byte: an IDm's 16, a UID's.
std::string HexText(std::span<const uint8_t> bytes);

inline constexpr const char kCardListHeader[] = "time,IDm,repeat\r\n";
inline constexpr const char kCardListTypedHeader[] = "time,IDm,repeat,typed\r\n";

class CardList {
public:
  explicit CardList(bool typedColumn = false) : typedColumn_(typedColumn) {}
  // What goes before the first line of this run, given the file as found: the header for an
  // empty file; a line break after a last line cut short (say, by a power loss), so that the
  // new lines stay whole; nothing otherwise. lastByte is ignored when size is 0.
  static std::string Opening(uint64_t size, char lastByte, bool typedColumn = false);
  // The line of one arriving card; a card already listed in this run is marked a repeat.
  std::string Line(const LocalTime& time, const Idm& idm, const std::string& typed = "");
  bool TypedColumn() const { return typedColumn_; }

private:
  bool typedColumn_;
  std::set<Idm> seen_;
};

} // namespace pcsc
