// The list of cards read, as CSV lines: "time,IDm,repeat", local time in ISO 8601 with its
// offset; repeat is empty for a card's first line in a run. No file and no clock here: the caller
// hands in the time and writes the text.
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

class CardList {
public:
  // What goes before the first line of this run, given the file as found: the header for an
  // empty file; a line break after a last line cut short (say, by a power loss), so that the
  // new lines stay whole; nothing otherwise. lastByte is ignored when size is 0.
  static std::string Opening(uint64_t size, char lastByte);
  // The line of one arriving card; a card already listed in this run is marked a repeat.
  std::string Line(const LocalTime& time, const Idm& idm);

private:
  std::set<Idm> seen_;
};

} // namespace pcsc
