// The ID's forms that both card-entry programs type: each form of one card, the words that spell
// a form, and the words that must be refused before anything is typed.
#include <gtest/gtest.h>

#include "IdForm.h"

using namespace pcsc;

namespace {

const std::array<uint8_t, 8> kIdm{0x01, 0x14, 0xB3, 0x5E, 0x9C, 0x2A, 0x7D, 0xF6};

TEST(IdForm, EachFormOfOneCard) {
  struct Case {
    const char* words;
    const char* typed;
  };
  const Case cases[] = {
      {"", "0114B35E9C2A7DF6"},
      {"lower", "0114b35e9c2a7df6"},
      {"reversed", "F67D2A9C5EB31401"},
      {"decimal", "77884312500469238"},
      {"decimal,reversed", "17761399356511163393"}, // above 2^63: unsigned all the way
      {"separator=:", "01:14:B3:5E:9C:2A:7D:F6"},
      {"LOWER,Reversed,separator=-,prefix=ID ,suffix=;", "ID f6-7d-2a-9c-5e-b3-14-01;"},
      {"decimal,prefix=0x", "0x77884312500469238"},
  };
  for (const Case& c : cases) {
    std::string bad;
    const auto form = ParseIdForm(c.words, bad);
    ASSERT_TRUE(form) << c.words << ": refused at " << bad;
    EXPECT_EQ(FormatId(kIdm, *form), c.typed) << c.words;
    EXPECT_EQ(ParseIdForm(IdFormText(*form), bad), form) << c.words << " does not survive its own text";
  }
  std::string bad;
  EXPECT_EQ(FormatId({}, *ParseIdForm("decimal", bad)), "0") << "no leading zeros";
}

TEST(IdForm, WordsThatCannotBeTypedOrContradictAreRefused) {
  struct Case {
    const char* words;
    const char* bad;
  };
  const Case cases[] = {
      {"decimal,lower", "lower"},
      {"idm,felica-number", "felica-number"},
      {"decimal,separator=:", "separator=:"},
      {"separator=:,decimal", "decimal"},
      {"reversed,", ""},
      {"colour", "colour"},
      {"prefix", "prefix"},
      {"prefix=\xE3\x81\x82", "prefix=\xE3\x81\x82"}, // not ASCII: the typist types ASCII
      {"suffix=\t", "suffix=\t"},
      {"prefix=12345678901234567", "prefix=12345678901234567"},
  };
  for (const Case& c : cases) {
    std::string bad = "?";
    EXPECT_FALSE(ParseIdForm(c.words, bad)) << c.words;
    EXPECT_EQ(bad, c.bad) << c.words;
  }
}

} // namespace
