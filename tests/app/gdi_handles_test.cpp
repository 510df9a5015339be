// The owning font wrapper: each made font is deleted once, whichever way its owner goes. (That the
// stock font is spared can't be seen from here: the system ignores deleting a stock object.)
#include <gtest/gtest.h>

#include <optional>

#include "GdiHandles.h"

namespace {

HFONT MakeFont() {
  return CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
}

bool Alive(HFONT font) { return GetObjectType(font) == OBJ_FONT; }

using Owner = std::optional<OwnedFont>;

struct OwnershipCase {
  const char* Name;
  void (*Act)(Owner& first, Owner& second);
  bool FirstAlive, SecondAlive;
};

const OwnershipCase OwnershipCases[] = {
    {"reset frees its own font", [](Owner& first, Owner&) { first->Reset(); }, false, true},
    {"going away frees it", [](Owner& first, Owner&) { first.reset(); }, false, true},
    {"move-assigning frees the font it held and takes the other",
     [](Owner& first, Owner& second) {
       *second = std::move(*first);
       first.reset();
     },
     true, false},
    {"a moved-from owner frees nothing",
     [](Owner& first, Owner& second) {
       second.emplace(std::move(*first));
       first.reset();
     },
     true, false},
    {"assigning an owner to itself keeps its font",
     [](Owner& first, Owner&) {
       OwnedFont& same = *first;
       *first = std::move(same);
     },
     true, true},
};

} // namespace

TEST(OwnedFontTest, EachFontIsDeletedOnceByWhoeverOwnsItLast) {
  for (const OwnershipCase& test : OwnershipCases) {
    SCOPED_TRACE(test.Name);
    const HFONT firstFont = MakeFont(), secondFont = MakeFont();
    ASSERT_TRUE(Alive(firstFont) && Alive(secondFont));
    Owner first(std::in_place, firstFont), second(std::in_place, secondFont);
    test.Act(first, second);
    EXPECT_EQ(Alive(firstFont), test.FirstAlive);
    EXPECT_EQ(Alive(secondFont), test.SecondAlive);
    first.reset();
    second.reset();
    EXPECT_FALSE(Alive(firstFont));
    EXPECT_FALSE(Alive(secondFont));
  }
}
