// The list of cards read: times with their offsets, the header and the line break that protect
// the file's lines, and repeats within one run.
#include <gtest/gtest.h>

#include "CardList.h"

using namespace pcsc;

namespace {

const Idm kA{0x01, 0x14, 0xB3, 0x5E, 0x9C, 0x2A, 0x7D, 0x46};
const Idm kB{0x01, 0x14, 0xB3, 0x5E, 0x9C, 0x2A, 0x7D, 0x47};

TEST(CardListTime, IsoWithTheOffset) {
  struct Case {
    LocalTime time;
    const char* text;
  };
  const Case cases[] = {
      {{2026, 12, 9, 10, 15, 30, 540}, "2026-12-09T10:15:30+09:00"},
      {{2026, 1, 2, 3, 4, 5, 0}, "2026-01-02T03:04:05+00:00"},
      {{2026, 7, 1, 23, 59, 59, -210}, "2026-07-01T23:59:59-03:30"}, // Newfoundland, minutes below the hour
      {{2026, 7, 1, 0, 0, 0, 345}, "2026-07-01T00:00:00+05:45"},
      {{2026, 7, 1, 0, 0, 0, -30}, "2026-07-01T00:00:00-00:30"}, // the sign even under an hour
      {{2026, 3, 8, 12, 0, 0, -720}, "2026-03-08T12:00:00-12:00"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsoTime(c.time), c.text);
}

TEST(CardListOpening, HeaderOnlyForAnEmptyFileAndAWholeLastLine) {
  struct Case {
    const char* name;
    uint64_t size;
    char last;
    std::string opening;
  };
  const Case cases[] = {
      {"new or empty file", 0, 'x', "time,IDm,repeat\r\n"},
      {"last line whole", 120, '\n', ""},
      {"last line cut short", 97, '4', "\r\n"},
      {"cut between CR and LF", 98, '\r', "\r\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CardList::Opening(c.size, c.last), c.opening) << c.name;
}

TEST(CardListLines, ARepeatWithinARunIsMarked) {
  const LocalTime at{2026, 12, 9, 10, 15, 30, 540};
  CardList list;
  // Every line has the header's three columns.
  EXPECT_EQ(list.Line(at, kA), "2026-12-09T10:15:30+09:00,0114B35E9C2A7D46,\r\n");
  EXPECT_EQ(list.Line(at, kB), "2026-12-09T10:15:30+09:00,0114B35E9C2A7D47,\r\n") << "one byte apart is another card";
  EXPECT_EQ(list.Line(at, kA), "2026-12-09T10:15:30+09:00,0114B35E9C2A7D46,repeat\r\n");
  EXPECT_EQ(list.Line(at, kA), "2026-12-09T10:15:30+09:00,0114B35E9C2A7D46,repeat\r\n");
  CardList typed(true);
  EXPECT_EQ(typed.Line(at, kA, "ID \"7\""), "2026-12-09T10:15:30+09:00,0114B35E9C2A7D46,,\"ID \"\"7\"\"\"\r\n")
      << "the ID as typed in a fourth column, quoted where it holds a quote";
  EXPECT_EQ(typed.Line(at, kA, ""), "2026-12-09T10:15:30+09:00,0114B35E9C2A7D46,repeat,\r\n");
  EXPECT_EQ(CardList::Opening(0, 'x', true), "time,IDm,repeat,typed\r\n");
  CardList nextRun;
  EXPECT_EQ(nextRun.Line(at, kB), "2026-12-09T10:15:30+09:00,0114B35E9C2A7D47,\r\n") << "repeats count within a run";
}

} // namespace
