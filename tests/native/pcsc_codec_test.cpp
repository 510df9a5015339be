// The FeliCa frames and the reader dialects' codecs: fixed bytes in, a value or a precise fault out.
#include <gtest/gtest.h>

#include "Dialects.h"
#include "Faults.h"
#include "Felica.h"

using namespace pcsc;
using Bytes = std::vector<uint8_t>;

namespace {

const Idm kIdm{0x01, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x70};
const Idm kCommonIdm{0x11, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, 0x70};
const Pmm kPmm{0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

const Bytes kIdmBytes(kIdm.begin(), kIdm.end());
const Bytes kCommonBytes(kCommonIdm.begin(), kCommonIdm.end());
const Bytes kPmmBytes(kPmm.begin(), kPmm.end());
const Bytes kBlock{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0, 0, 0, 0, 0, 0, 0x01, 0x01};
const Bytes kPollReply = Join({{0x12, 0x01}, kIdmBytes, kPmmBytes});
const Bytes kPollReplyWithSystem = Join({{0x14, 0x01}, kCommonBytes, kPmmBytes, {0xFE, 0x00}});
const Bytes kReadReply = Join({{0x1D, 0x07}, kCommonBytes, {0x00, 0x00, 0x01}, kBlock});

} // namespace

TEST(FelicaFrames, PollingFramePutsTheSystemCodeHighByteFirst) {
  EXPECT_EQ(PollingFrame(0xFFFF, 0, 0), (Bytes{0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(PollingFrame(0xFE00, 1, 3), (Bytes{0x06, 0x00, 0xFE, 0x00, 0x01, 0x03}));
}

TEST(FelicaFrames, PollingReplies) {
  struct Case {
    const char* name;
    Bytes frame;
    Fault fault;
  };
  const Case cases[] = {
      {"plain", kPollReply, Fault::None},
      {"with system code", kPollReplyWithSystem, Fault::None},
      {"empty", {}, Fault::Malformed},
      {"truncated", Bytes(kPollReply.begin(), kPollReply.end() - 1), Fault::Malformed},
      {"length byte says more than received", Join({{0x14, 0x01}, kIdmBytes, kPmmBytes}), Fault::Malformed},
      {"length byte says less than received", Join({{0x12, 0x01}, kIdmBytes, kPmmBytes, {0xFE, 0x00}}), Fault::Malformed},
      {"wrong response code", Join({{0x12, 0x07}, kIdmBytes, kPmmBytes}), Fault::Malformed},
      {"one stray byte", Join({{0x13, 0x01}, kIdmBytes, kPmmBytes, {0xFE}}), Fault::Malformed},
  };
  for (const Case& c : cases) {
    PollingReply reply;
    EXPECT_EQ(ParsePollingReply(c.frame, reply), c.fault) << c.name;
  }
  PollingReply reply;
  ASSERT_EQ(ParsePollingReply(kPollReplyWithSystem, reply), Fault::None);
  EXPECT_EQ(reply.idm, kCommonIdm);
  EXPECT_EQ(reply.pmm, kPmm);
  EXPECT_TRUE(reply.hasSystemCode);
  EXPECT_EQ(reply.systemCode, 0xFE00);
}

TEST(FelicaFrames, ReadFrames) {
  struct Case {
    const char* name;
    Bytes services;
    Bytes blocks;
    Fault fault;
    Bytes frame;
  };
  const Case cases[] = {
      {"the FeliCa number", {0xCB, 0x33}, {0x80, 0x00}, Fault::None,
       Join({{0x10, 0x06}, kCommonBytes, {0x01, 0xCB, 0x33, 0x01, 0x80, 0x00}})},
      {"a 3-byte element and a second service", {0x0B, 0x10, 0x8B, 0x10}, {0x01, 0x02, 0x01, 0x80, 0x00}, Fault::None,
       Join({{0x15, 0x06}, kCommonBytes, {0x02, 0x0B, 0x10, 0x8B, 0x10, 0x02, 0x01, 0x02, 0x01, 0x80, 0x00}})},
      {"no service", {}, {0x80, 0x00}, Fault::BadArgument, {}},
      {"half a service", {0xCB}, {0x80, 0x00}, Fault::BadArgument, {}},
      {"seventeen services", Bytes(34, 0x0B), {0x80, 0x00}, Fault::BadArgument, {}},
      {"no block", {0xCB, 0x33}, {}, Fault::BadArgument, {}},
      {"an element cut short", {0xCB, 0x33}, {0x80, 0x00, 0x00}, Fault::BadArgument, {}},
      {"a service beyond the list", {0xCB, 0x33}, {0x81, 0x00}, Fault::BadArgument, {}},
      {"too long for a frame", {0xCB, 0x33}, Bytes(244, 0x80), Fault::BadArgument, {}},
  };
  for (const Case& c : cases) {
    Bytes frame;
    EXPECT_EQ(ReadFrame(kCommonIdm, c.services, c.blocks, frame), c.fault) << c.name;
    if (c.fault == Fault::None) {
      EXPECT_EQ(frame, c.frame) << c.name;
    }
  }
}

TEST(FelicaFrames, ReadReplies) {
  struct Case {
    const char* name;
    Bytes frame;
    int maxBlocks;
    Fault fault;
  };
  const Case cases[] = {
      {"one block", kReadReply, 1, Fault::None},
      {"error status flags", Join({{0x0C, 0x07}, kCommonBytes, {0x01, 0xA6}}), 1, Fault::StatusFlags},
      {"status flag 2 alone", Join({{0x0C, 0x07}, kCommonBytes, {0x00, 0xA6}}), 1, Fault::StatusFlags},
      {"error flags with data after them", Join({{0x0D, 0x07}, kCommonBytes, {0x01, 0xA6, 0x00}}), 1, Fault::Malformed},
      {"another card's IDm", Join({{0x1D, 0x07}, kIdmBytes, {0x00, 0x00, 0x01}, kBlock}), 1, Fault::OtherCard},
      {"count says two, one block sent", Join({{0x1D, 0x07}, kCommonBytes, {0x00, 0x00, 0x02}, kBlock}), 2, Fault::Malformed},
      {"more blocks than asked", Join({{0x2D, 0x07}, kCommonBytes, {0x00, 0x00, 0x02}, kBlock, kBlock}), 1, Fault::Malformed},
      {"a block after its count's", Join({{0x2D, 0x07}, kCommonBytes, {0x00, 0x00, 0x01}, kBlock, kBlock}), 2, Fault::Malformed},
      {"its block a byte short", Join({{0x1C, 0x07}, kCommonBytes, {0x00, 0x00, 0x01}, Bytes(kBlock.begin(), kBlock.end() - 1)}), 1,
       Fault::Malformed},
      {"zero blocks", Join({{0x0D, 0x07}, kCommonBytes, {0x00, 0x00, 0x00}}), 1, Fault::Malformed},
      {"no block count", Join({{0x0C, 0x07}, kCommonBytes, {0x00, 0x00}}), 1, Fault::Malformed},
      {"length byte lies", Join({{0x1E, 0x07}, kCommonBytes, {0x00, 0x00, 0x01}, kBlock}), 1, Fault::Malformed},
      {"wrong response code", Join({{0x1D, 0x09}, kCommonBytes, {0x00, 0x00, 0x01}, kBlock}), 1, Fault::Malformed},
      {"truncated", Bytes(kReadReply.begin(), kReadReply.begin() + 20), 1, Fault::Malformed},
  };
  for (const Case& c : cases) {
    ReadReply reply;
    EXPECT_EQ(ParseReadReply(c.frame, kCommonIdm, c.maxBlocks, reply), c.fault) << c.name;
    if (c.fault != Fault::None) {
      EXPECT_TRUE(reply.blocks.empty()) << c.name;
    }
  }
  ReadReply reply;
  ASSERT_EQ(ParseReadReply(kReadReply, kCommonIdm, 1, reply), Fault::None);
  EXPECT_EQ(reply.blocks, kBlock);
  ASSERT_EQ(ParseReadReply(Join({{0x0C, 0x07}, kCommonBytes, {0x01, 0xA6}}), kCommonIdm, 1, reply), Fault::StatusFlags);
  EXPECT_EQ(reply.statusFlag1, 0x01);
  EXPECT_EQ(reply.statusFlag2, 0xA6);
}

Bytes Hex(const char* text) {
  Bytes out;
  for (const char* c = text; c[0] && c[1]; c += c[2] ? 3 : 2)
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(c, 2), nullptr, 16)));
  return out;
}

// ATRs of each form (the FeliCa and storage-card ones as the public ATR list and readers' manuals
// give them) and look-alikes of other card types in each form's shape.
TEST(CardKinds, EachAtrJudgedOnItsWholeLayout) {
  using K = CardKind;
  using F = FelicaForm;
  struct Case {
    const char* name;
    const char* atr;
    CardKind kind;
    FelicaForm form;
  };
  const Case cases[] = {
      {"FeliCa, Part 3 (and FeliCa Lite-S)", "3B 8F 80 01 80 4F 0C A0 00 00 03 06 11 00 3B 00 00 00 00 42", K::Felica, F::Storage},
      {"FeliCa through PN53x, 212 kbps", "3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 F0 11 00 00 00 00 8A", K::Felica, F::Pn53x},
      {"FeliCa through PN53x, 424 kbps", "3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 F0 12 00 00 00 00 89", K::Felica, F::Pn53x},
      {"FeliCa with its IDm in the ATR", "3B 8C 80 01 04 43 FD 01 2E 4C 8A 1B 3D 5F 70 00 57", K::Felica, F::IdmInAtr},
      {"Part 3 FeliCa with a wrong TCK", "3B 8F 80 01 80 4F 0C A0 00 00 03 06 11 00 3B 00 00 00 00 43", K::Other, F::None},
      {"Part 3 FeliCa without its TCK", "3B 8F 80 01 80 4F 0C A0 00 00 03 06 11 00 3B 00 00 00 00", K::Other, F::None},
      {"standard byte 11, another card name", "3B 8F 80 01 80 4F 0C A0 00 00 03 06 11 00 00 00 00 00 00 79", K::Other, F::None},
      {"another RID: 15 historical bytes of a Type A card", "3B 8F 80 01 80 4F 0C A0 00 00 03 07 11 00 3B 00 00 00 00 43", K::Iso14443A, F::None},
      {"the IDm-in-ATR head with a wrong TCK", "3B 8C 80 01 04 43 FD 01 2E 4C 8A 1B 3D 5F 70 00 58", K::Other, F::None},
      {"the IDm-in-ATR head, one byte short", "3B 8B 80 01 04 43 FD 01 2E 4C 8A 1B 3D 5F 00 20", K::Iso14443A, F::None},
      {"MIFARE Classic 1K", "3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A", K::Iso14443A, F::None},
      {"an ISO 15693 tag", "3B 8F 80 01 80 4F 0C A0 00 00 03 06 0B 00 14 00 00 00 00 77", K::Iso15693, F::None},
      {"an ISO 14443 B storage card", "3B 8F 80 01 80 4F 0C A0 00 00 03 06 07 00 00 00 00 00 00 6F", K::Iso14443B, F::None},
      {"a contact memory card through Part 3", "3B 8F 80 01 80 4F 0C A0 00 00 03 06 0E 00 00 00 00 00 00 66", K::Contact, F::None},
      {"ISO 14443-4 A, DESFire", "3B 81 80 01 80 80", K::Iso14443A, F::None},
      {"ISO 14443-4 A, a phone without historical bytes", "3B 80 80 01 01", K::Iso14443A, F::None},
      {"ISO 14443-4 A, 10 historical bytes", "3B 8A 80 01 00 31 C1 73 C8 40 00 00 90 00 90", K::Iso14443A, F::None},
      {"ISO 14443-4 A, 8 historical bytes that are no ATQB", "3B 88 80 01 80 31 80 66 B0 84 0C 01 67", K::Iso14443A, F::None},
      {"ISO 14443-4 B, ATQB data", "3B 88 80 01 00 00 00 00 33 81 81 00 3A", K::Iso14443B, F::None},
      {"ISO 14443-4 B, the whole ATQB with 11 at byte 12", "3B 8C 80 01 50 12 34 56 78 00 00 00 11 81 81 71 35", K::Iso14443B, F::None},
      {"a contact card, T=0", "3B 68 00 00 80 66 A2 06 02 01 32 0E", K::Contact, F::None},
      {"a contact card holding F0 11 and F0 12", "3B 6A 00 00 F0 11 F0 12 00 03 06 11 00 3B", K::Contact, F::None},
      {"a contact card, T=1", "3B D3 96 00 81 31 FE 45 01 02 03 4E", K::Contact, F::None},
      {"a contact card with a wrong TCK", "3B D3 96 00 81 31 FE 45 01 02 03 4F", K::Other, F::None},
      {"empty", "", K::Other, F::None},
  };
  for (const Case& c : cases) {
    const AtrReading reading = ReadAtr(Hex(c.atr));
    EXPECT_EQ(reading.kind, c.kind) << c.name;
    EXPECT_EQ(reading.form, c.form) << c.name;
    EXPECT_EQ(reading.idm.has_value(), c.form == F::IdmInAtr) << c.name;
  }
  EXPECT_EQ(ReadAtr(Hex(cases[3].atr)).idm, kIdm);
  EXPECT_EQ(DialectCandidates(F::Pn53x).front(), Dialect::Pn53x);
  EXPECT_EQ(DialectCandidates(F::Storage).front(), Dialect::Transparent);
  EXPECT_EQ(DialectCandidates(F::IdmInAtr).front(), Dialect::FelicaPseudo);
  EXPECT_TRUE(RandomId({K::Iso14443A, {0x08, 0x12, 0x34, 0x56}}));
  EXPECT_FALSE(RandomId({K::Iso14443B, {0x08, 0x12, 0x34, 0x56}})) << "a Type B PUPI";
}

TEST(ReaderDialects, Identification) {
  struct Case {
    const char* name;
    Bytes response;
    Fault fault;
  };
  const Case cases[] = {
      {"IDm", Join({kIdmBytes, {0x90, 0x00}}), Fault::None},
      {"seven bytes", Join({Bytes(kIdmBytes.begin(), kIdmBytes.end() - 1), {0x90, 0x00}}), Fault::Malformed},
      {"ten bytes", Join({kIdmBytes, {0x00, 0x00, 0x90, 0x00}}), Fault::Malformed},
      {"not supported", {0x6A, 0x81}, Fault::Refused},
      {"card silent", {0x64, 0x01}, Fault::Silent},
      {"data with an error word", Join({kIdmBytes, {0x6A, 0x81}}), Fault::Refused},
      {"one byte", {0x90}, Fault::Malformed},
      {"nothing", {}, Fault::Malformed},
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 8> value{};
    EXPECT_EQ(ParseIdentification(c.response, value), c.fault) << c.name;
    if (c.fault == Fault::None) {
      EXPECT_EQ(value, kIdm) << c.name;
    }
  }
  EXPECT_EQ(kGetIdm, (Bytes{0xFF, 0xCA, 0x00, 0x00, 0x00}));
  EXPECT_EQ(kGetPmm, (Bytes{0xFF, 0xCA, 0x01, 0x00, 0x00}));
}

TEST(ReaderDialects, TransparentSessionCommands) {
  EXPECT_EQ(TransparentTransceive(PollingFrame(0xFE00, 1, 0), 20000),
            (Bytes{0xFF, 0xC2, 0x00, 0x01, 0x0F, 0x5F, 0x46, 0x04, 0x20, 0x4E, 0x00, 0x00, 0x95, 0x06, 0x06, 0x00,
                   0xFE, 0x00, 0x01, 0x00}));
  // A frame of 128 bytes or more takes the two-byte length form; past 255 bytes of data it cannot be sent.
  const Bytes frame(130, 0x82);
  const Bytes command = TransparentTransceive(frame, 1);
  ASSERT_EQ(command.size(), 5u + 7 + 3 + 130);
  EXPECT_EQ(command[4], 7 + 3 + 130);
  EXPECT_EQ((Bytes{command[12], command[13], command[14]}), (Bytes{0x95, 0x81, 0x82}));
  EXPECT_TRUE(TransparentTransceive(Bytes(250, 0xFA), 1).empty());
}

TEST(ReaderDialects, TransparentSessionReplies) {
  const Bytes ok{0xC0, 0x03, 0x00, 0x90, 0x00};
  struct Case {
    const char* name;
    Bytes response;
    Fault fault;
    Bytes frame;
  };
  const Case cases[] = {
      {"a frame", Join({ok, {0x92, 0x01, 0x00, 0x96, 0x02, 0x00, 0x00, 0x97, 0x12}, kPollReply, {0x90, 0x00}}),
       Fault::None, kPollReply},
      {"long length form", Join({ok, {0x97, 0x81, 0x12}, kPollReply, {0x90, 0x00}}), Fault::None, kPollReply},
      {"a two-byte tag before it", Join({{0x5F, 0x46, 0x01, 0x00}, ok, {0x97, 0x12}, kPollReply, {0x90, 0x00}}),
       Fault::None, kPollReply},
      {"card silent", {0xC0, 0x03, 0x01, 0x64, 0x01, 0x90, 0x00}, Fault::Silent, {}},
      {"reader error in the status object", {0xC0, 0x03, 0x01, 0x6A, 0x81, 0x90, 0x00}, Fault::Refused, {}},
      {"status object of the wrong size", {0xC0, 0x02, 0x90, 0x00, 0x90, 0x00}, Fault::Malformed, {}},
      {"no frame object: the card did not answer", Join({ok, {0x90, 0x00}}), Fault::Silent, {}},
      {"82 length form", Join({ok, {0x97, 0x82, 0x00, 0x12}, kPollReply, {0x90, 0x00}}), Fault::None, kPollReply},
      {"84 length form", Join({ok, {0x97, 0x84, 0x00, 0x00, 0x00, 0x12}, kPollReply, {0x90, 0x00}}), Fault::None,
       kPollReply},
      {"five length bytes", Join({ok, {0x97, 0x85, 0, 0, 0, 0, 0x12}, kPollReply, {0x90, 0x00}}), Fault::Malformed, {}},
      {"frame object runs past the end", Join({ok, {0x97, 0x20}, kPollReply, {0x90, 0x00}}), Fault::Malformed, {}},
      {"length form with no bytes", Join({ok, {0x97, 0x80, 0x90, 0x00}}), Fault::Malformed, {}},
      {"tag cut short", {0x5F, 0x90, 0x00}, Fault::Malformed, {}},
      {"rejected", {0x6A, 0x81}, Fault::Refused, {}},
  };
  for (const Case& c : cases) {
    std::span<const uint8_t> frame;
    EXPECT_EQ(ParseTransparentReply(c.response, frame), c.fault) << c.name;
    if (c.fault == Fault::None) {
      EXPECT_EQ(Bytes(frame.begin(), frame.end()), c.frame) << c.name;
    }
  }
  EXPECT_EQ(ParseSessionReply(Join({ok, {0x90, 0x00}})), Fault::None);
  EXPECT_EQ(ParseSessionReply(Bytes{0x90, 0x00}), Fault::None);
  EXPECT_EQ(ParseSessionReply(Bytes{0xC0, 0x03, 0x00, 0x6A, 0x81, 0x90, 0x00}), Fault::Refused);
  EXPECT_EQ(ParseSessionReply(Bytes{0x6A, 0x81}), Fault::Refused);
}

TEST(ReaderDialects, Pn53xCommands) {
  EXPECT_EQ(Pn53xPolling(0xFE00, 1),
            (Bytes{0xFF, 0x00, 0x00, 0x00, 0x09, 0xD4, 0x4A, 0x01, 0x01, 0x00, 0xFE, 0x00, 0x01, 0x00}));
  EXPECT_EQ(Pn53xExchange(Bytes{0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00}),
            (Bytes{0xFF, 0x00, 0x00, 0x00, 0x09, 0xD4, 0x40, 0x01, 0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(BareExchange(Bytes{0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00}),
            (Bytes{0xFF, 0x00, 0x00, 0x00, 0x06, 0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_TRUE(Pn53xExchange(Bytes(253, 0)).empty());
}

TEST(ReaderDialects, Pn53xReplies) {
  struct Case {
    const char* name;
    bool polling;
    Bytes response;
    Fault fault;
  };
  const Case cases[] = {
      {"polling", true, Join({{0xD5, 0x4B, 0x01, 0x01}, kPollReply, {0x90, 0x00}}), Fault::None},
      {"no target", true, {0xD5, 0x4B, 0x00, 0x90, 0x00}, Fault::Silent},
      {"two targets", true, Join({{0xD5, 0x4B, 0x02, 0x01}, kPollReply, {0x90, 0x00}}), Fault::Malformed},
      {"no target but data", true, {0xD5, 0x4B, 0x00, 0x01, 0x90, 0x00}, Fault::Malformed},
      {"target number missing", true, {0xD5, 0x4B, 0x01, 0x90, 0x00}, Fault::Malformed},
      {"wrong answer code", true, Join({{0xD5, 0x41, 0x01, 0x01}, kPollReply, {0x90, 0x00}}), Fault::Malformed},
      {"exchange", false, Join({{0xD5, 0x41, 0x00}, kReadReply, {0x90, 0x00}}), Fault::None},
      {"exchange timed out", false, {0xD5, 0x41, 0x01, 0x90, 0x00}, Fault::Silent},
      {"exchange CRC error", false, {0xD5, 0x41, 0x02, 0x90, 0x00}, Fault::Malformed},
      {"exchange header only", false, {0xD5, 0x41, 0x90, 0x00}, Fault::Malformed},
      {"rejected", false, {0x63, 0x00}, Fault::Refused},
  };
  for (const Case& c : cases) {
    std::span<const uint8_t> frame;
    const Fault fault = c.polling ? ParsePn53xPolling(c.response, frame) : ParsePn53xExchange(c.response, frame);
    EXPECT_EQ(fault, c.fault) << c.name;
    if (fault == Fault::None) {
      EXPECT_EQ(Bytes(frame.begin(), frame.end()), c.polling ? kPollReply : kReadReply) << c.name;
    }
  }
  EXPECT_EQ(ParsePn53xFirmware(Bytes{0xD5, 0x03, 0x32, 0x01, 0x06, 0x07, 0x90, 0x00}), Fault::None);
  EXPECT_EQ(ParsePn53xFirmware(Bytes{0x12, 0x01, 0x90, 0x00}), Fault::Refused);
  std::span<const uint8_t> frame;
  const Bytes bare = Join({kPollReply, {0x90, 0x00}});
  EXPECT_EQ(ParseBareExchange(bare, frame), Fault::None);
  EXPECT_EQ(Bytes(frame.begin(), frame.end()), kPollReply);
}

TEST(ErrorTypes, EachFaultOfEachOperation) {
  struct Case {
    Operation operation;
    Fault fault;
    ErrorPair pair;
  };
  const Case cases[] = {
      {Operation::Open, Fault::NoService, {1028, 0}},
      {Operation::Open, Fault::NoReader, {1028, 0}},
      {Operation::Polling, Fault::ReaderBusy, {1027, 121}},
      {Operation::Polling, Fault::ReaderGone, {1031, 118}},
      {Operation::Polling, Fault::NoCard, {1036, 157}},
      {Operation::Polling, Fault::CardGone, {1036, 157}},
      {Operation::Polling, Fault::Malformed, {1047, 150}},
      {Operation::Polling, Fault::NoReply, {1047, 152}},
      {Operation::Polling, Fault::Timeout, {1047, 156}},
      {Operation::Polling, Fault::Refused, {1047, 149}},
      {Operation::RawPolling, Fault::Silent, {1036, 157}},
      {Operation::RawPolling, Fault::NoRawChannel, {1044, 160}},
      {Operation::RawPolling, Fault::Malformed, {1044, 150}},
      {Operation::BlockRead, Fault::NoCard, {1040, 157}},
      {Operation::BlockRead, Fault::CardGone, {1042, 157}},
      {Operation::BlockRead, Fault::Silent, {1042, 156}},
      {Operation::BlockRead, Fault::StatusFlags, {1042, 159}},
      {Operation::BlockRead, Fault::NoRawChannel, {1044, 160}},
      {Operation::BlockRead, Fault::NotPolled, {1049, 100}},
      {Operation::BlockRead, Fault::OtherCard, {1049, 150}},
      {Operation::BlockRead, Fault::BadArgument, {1002, 102}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ErrorFor(c.operation, c.fault), c.pair) << FaultName(c.fault) << " in operation "
                                                      << static_cast<int>(c.operation);
}

TEST(ErrorTypes, PcscReturnCodes) {
  struct Case {
    uint32_t code;
    Fault fault;
  };
  const Case cases[] = {
      {0, Fault::None},
      {0x8010001D, Fault::NoService},      // no service
      {0x8010001E, Fault::NoService},      // service stopped
      {0x8010002E, Fault::NoService},      // no readers available
      {0x80100017, Fault::ReaderGone},     // reader unavailable
      {0x80100009, Fault::ReaderGone},     // unknown reader
      {0x8010000B, Fault::ReaderBusy},     // sharing violation
      {0x8010000C, Fault::NoCard},         // no smart card
      {0x80100069, Fault::CardGone},       // removed card
      {0x80100068, Fault::CardGone},       // reset card
      {0x8010000A, Fault::Timeout},
      {0x80100013, Fault::NoReply},        // communication error
      {0x80100016, Fault::NoReply},        // not transacted
  };
  for (const Case& c : cases)
    EXPECT_EQ(FaultFromPcsc(c.code), c.fault) << std::hex << c.code;
}

TEST(ReaderDialects, EscapeChannelCommands) {
  // As public traces of the escape-channel family show them.
  EXPECT_EQ(EscapeSessionCommand(0xC2, 0x00, Bytes{0x81, 0x00}), (Bytes{0xFF, 0xC2, 0x00, 0x00, 0x02, 0x81, 0x00, 0x00}));
  EXPECT_EQ(EscapeTransceive(0x50, PollingFrame(0xFFFF, 1, 0), 100000),
            (Bytes{0xFF, 0x50, 0x00, 0x01, 0x00, 0x00, 0x11, 0x5F, 0x46, 0x04, 0xA0, 0x86, 0x01, 0x00, 0x95, 0x82,
                   0x00, 0x06, 0x06, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00}));
  const Bytes c2 = EscapeTransceive(0xC2, PollingFrame(0xFE00, 1, 0), 20000);
  EXPECT_EQ(Bytes(c2.begin(), c2.begin() + 5), (Bytes{0xFF, 0xC2, 0x00, 0x01, 0x0F}));
  EXPECT_EQ(c2.back(), 0x00);
  const Bytes big = EscapeSessionCommand(0xC2, 0x01, Bytes(300, 0xAA));
  EXPECT_EQ(Bytes(big.begin(), big.begin() + 7), (Bytes{0xFF, 0xC2, 0x00, 0x01, 0x00, 0x01, 0x2C}));
  EXPECT_EQ(big.size(), 7u + 300 + 2);
  EXPECT_EQ(WindowsControlCode(3400), 0x00313520u);
  EXPECT_EQ(WindowsControlCode(3500), 0x003136B0u);
  EXPECT_EQ(PcscLiteControlCode(3400), 0x42000D48u);
  EXPECT_EQ(PcscLiteControlCode(3500), 0x42000DACu);
}

TEST(ReaderDialects, FeatureLists) {
  struct Case {
    const char* name;
    Bytes list;
    Fault fault;
    uint32_t code;
  };
  const Case cases[] = {
      {"escape after another feature", {0x12, 0x04, 0x42, 0x33, 0x00, 0x12, 0x13, 0x04, 0x42, 0x00, 0x00, 0x01},
       Fault::None, 0x42000001},
      {"no escape feature", {0x12, 0x04, 0x42, 0x33, 0x00, 0x12}, Fault::None, 0},
      {"empty", {}, Fault::None, 0},
      {"escape of the wrong length", {0x13, 0x02, 0x42, 0x00}, Fault::Malformed, 0},
      {"an entry past the end", {0x12, 0x04, 0x42, 0x33}, Fault::Malformed, 0},
      {"a lone tag", {0x13}, Fault::Malformed, 0},
  };
  for (const Case& c : cases) {
    uint32_t code = 7;
    EXPECT_EQ(ParseFeatureList(c.list, 0x13, code), c.fault) << c.name;
    EXPECT_EQ(code, c.code) << c.name;
  }
}

TEST(ReaderDialects, PseudoApdus) {
  EXPECT_EQ(PseudoPolling(0xFE00, 1), (Bytes{0xFF, 0x40, 0x00, 0x00, 0x04, 0xFE, 0x00, 0x01, 0x00}));
  Bytes read;
  ASSERT_EQ(PseudoRead(Bytes{0xCB, 0x33, 0x0B, 0x10}, Bytes{0x80, 0x00, 0x81, 0x02}, read), Fault::None);
  EXPECT_EQ(read, (Bytes{0xFF, 0x46, 0x02, 0x02, 0x08, 0xCB, 0x33, 0x0B, 0x10, 0x80, 0x00, 0x81, 0x02}));
  EXPECT_EQ(PseudoRead(Bytes{0xCB, 0x33}, Bytes{0x00, 0x00, 0x01}, read), Fault::BadArgument) << "3-byte element";
  EXPECT_EQ(PseudoRead(Bytes{0xCB, 0x33}, Bytes{0x81, 0x00}, read), Fault::BadArgument) << "service beyond the list";

  struct PollCase {
    const char* name;
    Bytes response;
    uint8_t requestCode;
    Fault fault;
  };
  const PollCase polls[] = {
      {"IDm and PMm", Join({kIdmBytes, kPmmBytes, {0x90, 0x00}}), 0, Fault::None},
      {"with the system code", Join({kCommonBytes, kPmmBytes, {0xFE, 0x00, 0x90, 0x00}}), 1, Fault::None},
      {"system code missing", Join({kIdmBytes, kPmmBytes, {0x90, 0x00}}), 1, Fault::Malformed},
      {"short", Join({kIdmBytes, {0x90, 0x00}}), 0, Fault::Malformed},
      {"no card of that system", {0x64, 0x01}, 1, Fault::Silent},
      {"not this dialect", {0x6D, 0x00}, 0, Fault::Refused},
  };
  for (const PollCase& c : polls) {
    PollingReply reply;
    EXPECT_EQ(ParsePseudoPolling(c.response, c.requestCode, reply), c.fault) << c.name;
  }
  PollingReply reply;
  ASSERT_EQ(ParsePseudoPolling(Join({kCommonBytes, kPmmBytes, {0xFE, 0x00, 0x90, 0x00}}), 1, reply), Fault::None);
  EXPECT_EQ(reply.idm, kCommonIdm);
  EXPECT_EQ(reply.pmm, kPmm);
  EXPECT_EQ(reply.systemCode, 0xFE00);

  struct ReadCase {
    const char* name;
    Bytes response;
    Fault fault;
    uint8_t sf1, sf2;
  };
  const ReadCase reads[] = {
      {"one block", Join({kCommonBytes, {0x00, 0x00, 0x01}, kBlock, {0x90, 0x00}}), Fault::None, 0, 0},
      {"status flags", Join({kCommonBytes, {0x01, 0xA6, 0x90, 0x00}}), Fault::StatusFlags, 0x01, 0xA6},
      {"status flags and a zero count", Join({kCommonBytes, {0x01, 0xA6, 0x00, 0x90, 0x00}}), Fault::StatusFlags, 0x01,
       0xA6},
      {"another card", Join({kIdmBytes, {0x00, 0x00, 0x01}, kBlock, {0x90, 0x00}}), Fault::OtherCard, 0, 0},
      {"more blocks than asked", Join({kCommonBytes, {0x00, 0x00, 0x02}, kBlock, kBlock, {0x90, 0x00}}),
       Fault::Malformed, 0, 0},
      {"count against the bytes", Join({kCommonBytes, {0x00, 0x00, 0x01}, {0x12}, {0x90, 0x00}}), Fault::Malformed, 0,
       0},
      {"no status flags", Join({{0x11, 0x2E}, {0x90, 0x00}}), Fault::Malformed, 0, 0},
  };
  for (const ReadCase& c : reads) {
    ReadReply read;
    EXPECT_EQ(ParsePseudoRead(c.response, kCommonIdm, 1, read), c.fault) << c.name;
    if (c.fault == Fault::None) {
      EXPECT_EQ(read.blocks, kBlock) << c.name;
    } else {
      EXPECT_TRUE(read.blocks.empty()) << c.name;
    }
    if (c.fault == Fault::StatusFlags) {
      EXPECT_EQ(read.statusFlag1, c.sf1) << c.name;
      EXPECT_EQ(read.statusFlag2, c.sf2) << c.name;
    }
  }
}

TEST(ReaderDialects, StorageCardReads) {
  EXPECT_EQ(SelectService(Bytes{0xCB, 0x33}), (Bytes{0xFF, 0xA4, 0x00, 0x01, 0x02, 0xCB, 0x33}));
  EXPECT_EQ(ReadBinary(3), (Bytes{0xFF, 0xB0, 0x00, 0x03, 0x10}));
  Bytes lists;
  ASSERT_EQ(ReadBinaryLists(Bytes{0xCB, 0x33}, Bytes{0x80, 0x00, 0x80, 0x01}, lists), Fault::None);
  EXPECT_EQ(lists, (Bytes{0xFF, 0xB0, 0x00, 0x00, 0x08, 0x01, 0xCB, 0x33, 0x02, 0x80, 0x00, 0x80, 0x01}));
  EXPECT_EQ(ReadBinaryLists(Bytes{0xCB, 0x33}, Bytes{0x00, 0x00, 0x00}, lists), Fault::BadArgument);

  std::span<const uint8_t> block;
  const Bytes whole = Join({kBlock, {0x90, 0x00}});
  EXPECT_EQ(ParseReadBinary(whole, block), Fault::None);
  EXPECT_EQ(Bytes(block.begin(), block.end()), kBlock);
  EXPECT_EQ(ParseReadBinary(Join({Bytes(kBlock.begin(), kBlock.begin() + 8), {0x90, 0x00}}), block), Fault::Malformed);
  EXPECT_EQ(ParseReadBinary(Bytes{0x6A, 0x82}, block), Fault::Refused);

  struct Case {
    const char* name;
    Bytes response;
    int blocks;
    Fault fault;
    uint8_t sf1, sf2;
  };
  const Case cases[] = {
      {"two blocks", Join({kBlock, kBlock, {0x90, 0x00}}), 2, Fault::None, 0, 0},
      {"status flags as the status word", {0x01, 0xA6}, 1, Fault::StatusFlags, 0x01, 0xA6},
      {"status flags of no element", {0xFF, 0xA1}, 1, Fault::StatusFlags, 0xFF, 0xA1},
      {"an ISO error is no status flag", {0x6A, 0x81}, 1, Fault::Refused, 0, 0},
      {"the card did not answer", {0x64, 0x01}, 1, Fault::Silent, 0, 0},
      {"a block short", Join({kBlock, {0x90, 0x00}}), 2, Fault::Malformed, 0, 0},
  };
  for (const Case& c : cases) {
    ReadReply reply;
    EXPECT_EQ(ParseReadBinaryLists(c.response, c.blocks, reply), c.fault) << c.name;
    EXPECT_EQ(reply.blocks.size(), c.fault == Fault::None ? 16u * c.blocks : 0u) << c.name;
    if (c.fault == Fault::StatusFlags) {
      EXPECT_EQ(reply.statusFlag1, c.sf1) << c.name;
      EXPECT_EQ(reply.statusFlag2, c.sf2) << c.name;
    }
  }
}
