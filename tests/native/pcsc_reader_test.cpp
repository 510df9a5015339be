// Readers and sessions over the stand-in service: the reader chosen, the commands each dialect
// sends (and how many), the dialect remembered, and how failures of the reader or card end.
#include <gtest/gtest.h>

#include "FakePcsc.h"
#include "Reader.h"

using namespace pcsc;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr const char* kReader = "Reader A";

class SessionTest : public ::testing::Test {
protected:
  void SetUp() override {
    fake::Reset();
    ForgetDialects();
    ASSERT_EQ(fake::Table().establishContext(&context_), kSuccess);
  }
  void TearDown() override { fake::Table().releaseContext(context_); }

  void Place(fake::Dialect dialect, fake::Card* changed = nullptr) {
    fake::AddReader(kReader);
    fake::Card card = fake::StandardCard(dialect, 0x70);
    if (changed)
      card = *changed;
    fake::PlaceCard(kReader, card);
  }

  // The FeliCa number as varnelo-reader reads it: FE 00 polling, then block 0 of 33CB.
  Fault ReadNumber(Bytes& number) {
    Session session(fake::Table(), context_, kReader, {});
    if (Fault fault = session.Connect(); fault != Fault::None)
      return fault;
    PollingReply common;
    if (Fault fault = session.Poll(0xFE00, common); fault != Fault::None)
      return fault;
    static constexpr uint8_t kService[] = {0xCB, 0x33};
    static constexpr uint8_t kBlock[] = {0x80, 0x00};
    ReadReply reply;
    if (Fault fault = session.ReadBlocks(common.idm, kService, kBlock, reply); fault != Fault::None)
      return fault;
    number.assign(reply.blocks.begin(), reply.blocks.begin() + 8);
    return Fault::None;
  }

  std::vector<Bytes> Sent() {
    std::lock_guard<std::mutex> guard(fake::GetService().mutex);
    return fake::GetService().sent;
  }
  void ClearSent() {
    std::lock_guard<std::mutex> guard(fake::GetService().mutex);
    fake::GetService().sent.clear();
  }

  Context context_ = 0;
};

} // namespace

TEST(ReaderChoice, CardFirstThenContactlessThenFirst) {
  auto reader = [](const char* name, Bytes atr) { return ReaderInfo{name, !atr.empty(), atr}; };
  const Bytes felica = fake::FelicaAtr();
  const Bytes pn53x = fake::Pn53xAtr();
  Bytes otherStorage = felica;
  otherStorage[12] = 0x03; // ISO 14443 A
  otherStorage[19] = 0x50; // its TCK
  const Bytes contact{0x3B, 0x68, 0x00, 0x00, 0x80, 0x66, 0xA2, 0x06};
  struct Case {
    const char* name;
    std::vector<ReaderInfo> readers;
    std::string pin;
    int chosen;
  };
  const Case cases[] = {
      {"no readers", {}, "", -1},
      {"first of empty readers", {reader("A", {}), reader("B", {})}, "", 0},
      {"the FeliCa card", {reader("A", {}), reader("B", contact), reader("C", felica)}, "", 2},
      {"a FeliCa card behind PN53x", {reader("A", otherStorage), reader("B", pn53x)}, "", 1},
      {"a contactless card before a contact card", {reader("A", contact), reader("B", otherStorage)}, "", 1},
      {"a contact card counts for nothing", {reader("A", contact), reader("B", {})}, "", 0},
      {"the pin wins over a card", {reader("Desk 0", felica), reader("Door 1", {})}, "Door", 1},
      {"the pin matches nothing", {reader("Desk 0", felica)}, "Door", -1},
      {"among pinned readers, the card", {reader("Door 0", {}), reader("Door 1", felica)}, "Door", 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChooseReader(c.readers, c.pin), c.chosen) << c.name;
}

TEST_F(SessionTest, ListingGivesPresenceAndAtr) {
  fake::AddReader("Empty");
  Place(fake::Dialect::Transparent);
  std::vector<ReaderInfo> readers;
  ASSERT_EQ(ListReaders(fake::Table(), context_, readers), Fault::None);
  ASSERT_EQ(readers.size(), 2u);
  EXPECT_FALSE(readers[0].cardPresent);
  EXPECT_TRUE(readers[1].cardPresent);
  EXPECT_EQ(readers[1].atr, fake::FelicaAtr());

  fake::Reset();
  EXPECT_EQ(ListReaders(fake::Table(), context_, readers), Fault::NoReader);
}

TEST_F(SessionTest, IdentificationIsOneCommand) {
  Place(fake::Dialect::IdentificationOnly);
  Session session(fake::Table(), context_, kReader, {});
  ASSERT_EQ(session.Connect(), Fault::None);
  Idm idm;
  ASSERT_EQ(session.ReadIdm(idm), Fault::None);
  EXPECT_EQ(idm, (Idm{0x01, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x70}));
  EXPECT_EQ(Sent(), (std::vector<Bytes>{{0xFF, 0xCA, 0x00, 0x00, 0x00}}));
}

TEST_F(SessionTest, EachDialectReadsTheNumberAndRemembersItself) {
  const Bytes number{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  struct Case {
    fake::Dialect dialect;
    Dialect found;
    size_t firstCommands;  // with the probe
    size_t laterCommands;  // remembered
    uint8_t escapeInstruction = 0;
  };
  const Case cases[] = {
      // start (the probe itself), switch, poll, read, end; the same once remembered
      {fake::Dialect::Transparent, Dialect::Transparent, 5, 5},
      // firmware probe, poll, read; then poll, read
      {fake::Dialect::Pn53x, Dialect::Pn53x, 3, 2},
      // refused D4 probe, polling probe, poll, read; then poll, read
      {fake::Dialect::Bare, Dialect::Pn53xBare, 4, 2},
      // refused FF C2 transmit, feature list, then start, switch, poll, read, end through the
      // escape channel; remembered with its escape code: the five alone
      {fake::Dialect::Escape, Dialect::EscapeSession, 7, 5},
      // the same with FF C2 refused through the escape channel: one more
      {fake::Dialect::Escape, Dialect::EscapeSession50, 8, 5, 0x50},
      // refused FF C2, feature list and standard escape code refused, polling probe, poll, read
      {fake::Dialect::Pseudo, Dialect::FelicaPseudo, 6, 2},
  };
  for (const Case& c : cases) {
    SetUp();
    fake::Card card = fake::StandardCard(c.dialect, 0x70);
    card.escapeInstruction = c.escapeInstruction;
    Place(c.dialect, &card);
    Bytes read;
    ASSERT_EQ(ReadNumber(read), Fault::None) << DialectName(c.found);
    EXPECT_EQ(read, number);
    EXPECT_EQ(RememberedDialect(kReader), c.found);
    EXPECT_EQ(Sent().size(), c.firstCommands) << DialectName(c.found);
    ClearSent();
    ASSERT_EQ(ReadNumber(read), Fault::None);
    EXPECT_EQ(Sent().size(), c.laterCommands) << DialectName(c.found);
    TearDown();
  }
}

TEST_F(SessionTest, ATransparentSessionIsAlwaysEnded) {
  fake::Card card = fake::StandardCard(fake::Dialect::Transparent, 0x70);
  card.commonIdm.clear();
  Place(fake::Dialect::Transparent, &card);
  Bytes read;
  EXPECT_EQ(ReadNumber(read), Fault::Silent);
  EXPECT_EQ(Sent().back(), (Bytes{0xFF, 0xC2, 0x00, 0x00, 0x02, 0x82, 0x00}));
  std::lock_guard<std::mutex> guard(fake::GetService().mutex);
  EXPECT_EQ(fake::GetService().openCards, 0);
}

TEST_F(SessionTest, CardsWithoutTheNumber) {
  struct Case {
    const char* name;
    bool commonArea;
    bool service;
    Fault fault;
  };
  const Case cases[] = {
      {"no common area", false, true, Fault::Silent},
      {"no 33CB service", true, false, Fault::StatusFlags},
  };
  for (fake::Dialect dialect : {fake::Dialect::Transparent, fake::Dialect::Pn53x, fake::Dialect::Bare,
                                 fake::Dialect::Escape, fake::Dialect::Pseudo}) {
    for (const Case& c : cases) {
      SetUp();
      fake::Card card = fake::StandardCard(dialect, 0x70);
      if (!c.commonArea)
        card.commonIdm.clear();
      if (!c.service)
        card.numberBlock.clear();
      Place(dialect, &card);
      Bytes read;
      EXPECT_EQ(ReadNumber(read), c.fault) << c.name << " " << static_cast<int>(dialect);
      TearDown();
    }
  }
}

TEST_F(SessionTest, ReadersWithoutARawChannelOrWithGarbage) {
  Place(fake::Dialect::IdentificationOnly);
  Bytes read;
  EXPECT_EQ(ReadNumber(read), Fault::NoRawChannel);
  EXPECT_EQ(RememberedDialect(kReader), Dialect::IdentificationOnly);
  ClearSent();
  EXPECT_EQ(ReadNumber(read), Fault::NoRawChannel);
  EXPECT_TRUE(Sent().empty()) << "a reader known to have no raw channel is not probed again";

  SetUp();
  Place(fake::Dialect::Garbage);
  Session session(fake::Table(), context_, kReader, {});
  ASSERT_EQ(session.Connect(), Fault::None);
  Idm idm;
  EXPECT_EQ(session.ReadIdm(idm), Fault::Malformed);
}

TEST_F(SessionTest, FailuresOfTheServiceReaderAndCard) {
  struct Case {
    const char* name;
    fake::Call call;
    uint32_t code;
    Fault fault;
  };
  const Case cases[] = {
      {"held exclusively by another program", fake::kConnect, kSharingViolation, Fault::ReaderBusy},
      {"reader unplugged", fake::kConnect, kReaderUnavailable, Fault::ReaderGone},
      {"card removed during the command", fake::kTransmit, kRemovedCard, Fault::CardGone},
      {"service stopped", fake::kTransmit, kServiceStopped, Fault::NoService},
      {"no answer from the reader", fake::kTransmit, kCommError, Fault::NoReply},
      {"timeout", fake::kTransmit, kTimeout, Fault::Timeout},
  };
  for (const Case& c : cases) {
    SetUp();
    Place(fake::Dialect::Transparent);
    fake::FailNext(c.call, c.code);
    Bytes read;
    EXPECT_EQ(ReadNumber(read), c.fault) << c.name;
    EXPECT_EQ(RememberedDialect(kReader), Dialect::Unknown) << c.name << ": a failed probe decides nothing";
    TearDown();
  }
  // Some drivers show a card that left during the command as an answer with nothing in it.
  SetUp();
  Place(fake::Dialect::Pn53x);
  {
    std::lock_guard<std::mutex> guard(fake::GetService().mutex);
    fake::GetService().emptyReplyAt = 2; // probe, poll, then the read
  }
  Bytes read;
  EXPECT_EQ(ReadNumber(read), Fault::CardGone);
  TearDown();

  SetUp();
  Session session(fake::Table(), context_, kReader, {});
  fake::AddReader(kReader);
  EXPECT_EQ(session.Connect(), Fault::NoCard);
}

TEST_F(SessionTest, ARememberedSessionThatIsRefusedIsProbedAfresh) {
  Place(fake::Dialect::Transparent);
  Bytes read;
  ASSERT_EQ(ReadNumber(read), Fault::None);
  fake::PlaceCard(kReader, fake::StandardCard(fake::Dialect::Pn53x, 0x70));
  EXPECT_EQ(ReadNumber(read), Fault::None);
  EXPECT_EQ(RememberedDialect(kReader), Dialect::Pn53x);
}

TEST_F(SessionTest, ACardThatKeptQuietDuringTheProbeDecidesNothing) {
  // A bare-frame reader whose card did not answer the probing poll: no raw channel this time,
  // but the next session probes again and finds the dialect.
  fake::Card card = fake::StandardCard(fake::Dialect::Bare, 0x70);
  card.idm.clear();
  Place(fake::Dialect::Bare, &card);
  Bytes read;
  EXPECT_EQ(ReadNumber(read), Fault::NoRawChannel);
  EXPECT_EQ(RememberedDialect(kReader), Dialect::Unknown);
  fake::PlaceCard(kReader, fake::StandardCard(fake::Dialect::Bare, 0x70));
  EXPECT_EQ(ReadNumber(read), Fault::None);
  EXPECT_EQ(RememberedDialect(kReader), Dialect::Pn53xBare);
}

TEST_F(SessionTest, PmmAndProtocolSwitchRefusedByATransparentReader) {
  // As Windows' in-box NFC driver does: no PMm through identification, no protocol switch.
  fake::Card card = fake::StandardCard(fake::Dialect::Transparent, 0x70);
  card.pmmRefused = true;
  card.switchRefused = true;
  Place(fake::Dialect::Transparent, &card);
  Bytes read;
  EXPECT_EQ(ReadNumber(read), Fault::None);
  EXPECT_EQ(RememberedDialect(kReader), Dialect::Transparent);
  Session session(fake::Table(), context_, kReader, {});
  ASSERT_EQ(session.Connect(), Fault::None);
  Pmm pmm;
  EXPECT_EQ(session.ReadPmm(pmm), Fault::Refused);
}

// Storage-card readers read the card they activated with FF FF: its first system only.
TEST_F(SessionTest, StorageCardReadsReachOnlyTheFirstSystem) {
  struct Case {
    const char* name;
    fake::Dialect dialect;
    Dialect found;
    bool commonFirst; // the common area is system 0
    Fault fault;
    size_t commands; // of the block read, dialect remembered
  };
  const Case cases[] = {
      {"lists, common area first", fake::Dialect::StorageLists, Dialect::StorageLists, true, Fault::None, 2},
      {"lists, another system first", fake::Dialect::StorageLists, Dialect::StorageLists, false, Fault::StatusFlags, 2},
      {"select, common area first", fake::Dialect::StorageSelect, Dialect::StorageSelect, true, Fault::None, 3},
      {"select, another system first", fake::Dialect::StorageSelect, Dialect::StorageSelect, false, Fault::Refused, 2},
  };
  static constexpr uint8_t kService[] = {0xCB, 0x33};
  static constexpr uint8_t kBlock[] = {0x80, 0x00};
  for (const Case& c : cases) {
    SetUp();
    fake::Card card = fake::StandardCard(c.dialect, 0x70);
    if (c.commonFirst)
      card.commonIdm = card.idm;
    Place(c.dialect, &card);
    Bytes number;
    EXPECT_EQ(ReadNumber(number), Fault::NoRawChannel) << c.name << ": an FE 00 polling is out of their reach";
    EXPECT_EQ(RememberedDialect(kReader), c.found) << c.name;
    Session session(fake::Table(), context_, kReader, {});
    ASSERT_EQ(session.Connect(), Fault::None);
    const Idm idm{0x01, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x70};
    ClearSent();
    ReadReply reply;
    // The IDm of an FF FF polling, read through a connection of its own as the library does.
    EXPECT_EQ(session.ReadBlocks(idm, kService, kBlock, reply), c.fault) << c.name;
    EXPECT_EQ(Sent().size(), c.commands) << c.name;
    if (c.fault == Fault::None) {
      EXPECT_EQ(Bytes(reply.blocks.begin(), reply.blocks.begin() + 8),
                (Bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}));
    }
    if (c.fault == Fault::StatusFlags) {
      EXPECT_EQ((Bytes{reply.statusFlag1, reply.statusFlag2}), (Bytes{0x01, 0xA6})) << c.name;
    }
    const Idm other{0x01, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32};
    EXPECT_EQ(session.ReadBlocks(other, kService, kBlock, reply), Fault::OtherCard) << c.name;
    PollingReply common;
    EXPECT_EQ(session.Poll(0xFE00, common), Fault::NoRawChannel) << c.name;
    EXPECT_EQ(session.ReadBlocks(idm, kService, kBlock, reply, 0xFE00), Fault::NoRawChannel)
        << c.name << ": never a block of another system than the one asked for";
    TearDown();
  }
}

TEST_F(SessionTest, AnEscapeChannelRefusedBySettingsLeavesTheIdm) {
  fake::Card card = fake::StandardCard(fake::Dialect::Escape, 0x70);
  card.escapeRefused = true;
  Place(fake::Dialect::Escape, &card);
  Bytes number;
  EXPECT_EQ(ReadNumber(number), Fault::NoRawChannel);
  EXPECT_EQ(RememberedDialect(kReader), Dialect::IdentificationOnly);
  Session session(fake::Table(), context_, kReader, {});
  ASSERT_EQ(session.Connect(), Fault::None);
  Idm idm;
  EXPECT_EQ(session.ReadIdm(idm), Fault::None);
  Dialect dialect;
  ASSERT_EQ(session.PrepareRaw(dialect), Fault::None);
  EXPECT_TRUE(session.EscapeDisabled()) << "remembered with the reader";

  // A reader of another family that takes no control codes at all has nothing to enable.
  SetUp();
  Place(fake::Dialect::IdentificationOnly);
  Session plain(fake::Table(), context_, kReader, {});
  ASSERT_EQ(plain.Connect(), Fault::None);
  ASSERT_EQ(plain.PrepareRaw(dialect), Fault::None);
  EXPECT_EQ(dialect, Dialect::IdentificationOnly);
  EXPECT_FALSE(plain.EscapeDisabled());
}

TEST_F(SessionTest, EscapeChannelWithoutACardOnADirectConnection) {
  fake::AddReader(kReader);
  Session session(fake::Table(), context_, kReader, {});
  EXPECT_EQ(session.Connect(), Fault::NoCard);
  Session direct(fake::Table(), context_, kReader, {});
  ASSERT_EQ(direct.ConnectDirect(), Fault::None);
  // With no card in the field the reply holds no 97 object: no card, not a broken reply.
  std::vector<uint8_t> reply;
  EXPECT_EQ(direct.Escape(EscapeTransceive(0xC2, PollingFrame(0xFFFF, 1, 0), kPollingTimeoutUs), reply), Fault::None);
  std::span<const uint8_t> frame;
  EXPECT_EQ(ParseTransparentReply(reply, frame), Fault::Silent);
  Idm idm;
  EXPECT_EQ(direct.ReadIdm(idm), Fault::NoCard) << "transmit needs a card";
}

TEST_F(SessionTest, ACardThatLeavesBetweenProbeAndRead) {
  struct Case {
    const char* name;
    fake::Dialect dialect;
    fake::Call call; // the channel the dialect reads through
  };
  const Case cases[] = {
      {"escape session", fake::Dialect::Escape, fake::kControl},
      {"pseudo-APDU", fake::Dialect::Pseudo, fake::kTransmit},
  };
  static constexpr uint8_t kService[] = {0xCB, 0x33};
  static constexpr uint8_t kBlock[] = {0x80, 0x00};
  for (const Case& c : cases) {
    SetUp();
    Place(c.dialect);
    {
      Session session(fake::Table(), context_, kReader, {});
      ASSERT_EQ(session.Connect(), Fault::None);
      PollingReply common;
      ASSERT_EQ(session.Poll(0xFE00, common), Fault::None) << c.name;
      fake::RemoveCard(kReader);
      ReadReply reply;
      EXPECT_EQ(session.ReadBlocks(common.idm, kService, kBlock, reply), Fault::CardGone) << c.name;
    }
    EXPECT_EQ(RememberedDialect(kReader), CodecFor(RememberedDialect(kReader)).dialect);
    // The probe itself cut short by the card leaving decides nothing.
    SetUp();
    Place(c.dialect);
    fake::FailNext(fake::kControl, kRemovedCard);
    Bytes number;
    EXPECT_EQ(ReadNumber(number), Fault::CardGone) << c.name;
    EXPECT_EQ(RememberedDialect(kReader), Dialect::Unknown) << c.name;
    TearDown();
  }
}

TEST_F(SessionTest, APseudoApduReadOfAnotherCard) {
  // A read in a connection of its own polls the IDm's system first: the card now there is another.
  Place(fake::Dialect::Pseudo);
  static constexpr uint8_t kService[] = {0xCB, 0x33};
  static constexpr uint8_t kBlock[] = {0x80, 0x00};
  Session session(fake::Table(), context_, kReader, {});
  ASSERT_EQ(session.Connect(), Fault::None);
  const Idm earlier{0x11, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32};
  ReadReply reply;
  EXPECT_EQ(session.ReadBlocks(earlier, kService, kBlock, reply, 0xFE00), Fault::OtherCard);
  const Idm common{0x11, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x70};
  EXPECT_EQ(session.ReadBlocks(common, kService, kBlock, reply, 0xFE00), Fault::None);
  EXPECT_EQ(reply.blocks.size(), 16u);
}
