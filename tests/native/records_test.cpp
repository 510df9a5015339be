// What the access layer hands the library and how it fills its own records from what comes
// back. The fake reads and writes every byte the library would, so under AddressSanitizer a
// buffer one byte short, or one that no longer lives, fails here.
#include <gtest/gtest.h>

#include <vector>

#include "FakeLibrary.h"
#include "felica/FelicaAPI.h"

using namespace FelicaAPI;

namespace {

class Records : public ::testing::Test {
protected:
  void SetUp() override { Fake::Reset(); }
};

std::vector<uint8_t> Bytes(const uint8_t* data, size_t size) { return std::vector<uint8_t>(data, data + size); }

} // namespace

TEST_F(Records, PollingPassesTheSystemCodeHighByteFirstAndCopiesBothIds) {
  CardInformation card = PollCard(0x12, 0x34, 3);
  EXPECT_EQ(Bytes(Fake::recorded.systemCode, 2), (std::vector<uint8_t>{0x12, 0x34}));
  EXPECT_EQ(Fake::recorded.timeSlot, 3);
  EXPECT_EQ(card.CardCount, 1);
  EXPECT_EQ(Bytes(card.IDm, 8), Bytes(Fake::card.idm, 8));
  EXPECT_EQ(Bytes(card.PMm, 8), Bytes(Fake::card.pmm, 8));

  Fake::card.count = 2;
  EXPECT_EQ(ReadIDm(), L"0123456789ABCDEF");
  EXPECT_EQ(Bytes(Fake::recorded.systemCode, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
  EXPECT_EQ(Fake::recorded.timeSlot, 0);

  // Success with nothing written is no card, and no block read follows.
  Fake::card.writesOutputs = false;
  EXPECT_EQ(PollAnyCard().CardCount, 0);
  EXPECT_EQ(ReadFelicaNumber(), L"");
  EXPECT_EQ(Fake::Calls(Fake::BlockRead), 0);
}

TEST_F(Records, ListsOfEveryUsableLengthGetARoomTheLibraryCanFill) {
  // Exactly sized on the heap, so reading past the IDm's eighth byte or a list's end is caught.
  const std::vector<uint8_t> idm(8, 0x11);
  for (size_t length : {size_t{1}, size_t{2}, size_t{3}, size_t{254}, size_t{255}}) {
    const std::vector<uint8_t> services(length, 0x0B);
    const std::vector<uint8_t> blocks(length, 0x80);
    BlockReadResult result = ReadBlockWithoutEncryption(idm, services, blocks);
    EXPECT_EQ(Fake::recorded.serviceCount, length / 2) << length;
    EXPECT_EQ(Fake::recorded.blockCount, length / 2) << length;
    EXPECT_EQ(Fake::recorded.blockRoom, length) << length;
    EXPECT_EQ(result.BlockData.size(), 16 * length) << length;
    EXPECT_EQ(result.BlockData.back(), 0xEE) << length;
  }
}

TEST_F(Records, AnOverstatedBlockCountNeverWidensTheData) {
  Fake::card.overstatesBlockCount = true;
  const std::vector<uint8_t> idm(8, 0x11);
  BlockReadResult result = ReadBlock(idm, 0xCB, 0x33, 0x80, 0x00);
  EXPECT_EQ(Fake::recorded.idm, idm);
  EXPECT_EQ(Fake::recorded.blockList, (std::vector<uint8_t>{0x80, 0x00}));
  EXPECT_EQ(result.BlockCount, 250);
  EXPECT_EQ(result.BlockData.size(), 32u);
  EXPECT_EQ(BytesToHex(result.BlockData, 0, 0).size(), 64u);
  EXPECT_EQ(ReadFelicaNumber(), L"A001020F10FF5A00");
}
