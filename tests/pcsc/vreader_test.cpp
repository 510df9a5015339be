// The virtual reader through the real pcscd: what a plain PC/SC client sends and gets back from
// each dialect, card and fault, byte for byte, and what the control channel does to the card.
#include <PCSC/winscard.h>

#include "PcscFixture.h"
#include "Dialects.h"
#include "VirtualCard.h"

namespace {

const std::string kIdm = "012E4C8A1B3D5F70";         // system 0 of the standard card
const std::string kCommonIdm = "112E4C8A1B3D5F70";   // its common area
const std::string kPmm = "03014B024F4993FF";
const std::string kNumberBlock = "123456789ABCDEF00000000000000101";
const std::string kPollAny = "0600FFFF0000";
const std::string kPollCommon = "0600FE000100";
const std::string kReadNumber = "10" "06" "112E4C8A1B3D5F70" "01CB33" "018000";

struct Exchange {
  const char* name;
  std::string dialect, card, fault;
  std::vector<std::string> apdus, responses;
};

std::string Transceive(const std::string& frame) {
  const size_t n = frame.size() / 2;
  const auto hex = [](size_t v) { return Hex({static_cast<uint8_t>(v)}); };
  return "FFC20001" + hex(n + 9) + "5F4604A0860100" + "95" + hex(n) + frame;
}
std::string Direct(const std::string& data) { return "FF000000" + Hex({static_cast<uint8_t>(data.size() / 2)}) + data; }

const std::string kSessionOk = "C0030090009000";
const std::string kTransceiveOk = "C00300900092010096020000" "97";

const Exchange kExchanges[] = {
    {"TransparentGetData", "transparent", "standard", "none", {"FFCA000000", "FFCA010000"}, {kIdm + "9000", kPmm + "9000"}},
    {"TransparentSession", "transparent", "standard", "none",
     {"FFC2000002" "8100", "FFC2000204" "8F020300", Transceive(kPollCommon), Transceive(kReadNumber), "FFC2000002" "8200"},
     {kSessionOk, kSessionOk, kTransceiveOk + "14" "1401" + kCommonIdm + kPmm + "FE00" "9000",
      kTransceiveOk + "1D" "1D07" + kCommonIdm + "000001" + kNumberBlock + "9000", kSessionOk}},
    {"TransparentSilentCard", "transparent", "no-common", "none", {Transceive(kPollCommon)}, {"C00301640190" "00"}},
    {"TransparentMute", "transparent", "standard", "mute", {Transceive(kPollAny), Transceive(kReadNumber)},
     {kTransceiveOk + "12" "1201" + kIdm + kPmm + "9000", "C0030164019000"}},
    {"TransparentTruncated", "transparent", "standard", "truncated", {Transceive(kPollAny)},
     {kTransceiveOk + "0F" "0F01" + kIdm + kPmm.substr(0, 10) + "9000"}},
    {"Pn53xFirmwareAndPoll", "pn53x", "standard", "none",
     {Direct("D402"), Direct("D44A010100FE000100"), "FFCA010000"},
     {"D50332010607" "9000", "D54B0101" "1401" + kCommonIdm + kPmm + "FE00" "9000", "6A81"}},
    {"Pn53xExchange", "pn53x", "standard", "none", {Direct("D44001" + kReadNumber)},
     {"D54100" "1D07" + kCommonIdm + "000001" + kNumberBlock + "9000"}},
    {"Pn53xNoSystem", "pn53x", "no-common", "none", {Direct("D44A010100FE000100")}, {"D54B00" "9000"}},
    {"Pn53xRejectsBareFrame", "pn53x", "standard", "none", {Direct(kPollAny)}, {"6300"}},
    {"BareFrame", "bare", "standard", "none", {Direct(kPollAny), Direct("D402")},
     {"1201" + kIdm + kPmm + "9000", "6300"}},
    {"BareLyingLength", "bare", "standard", "lying-length", {Direct(kPollAny)}, {"1601" + kIdm + kPmm + "9000"}},
    {"BareWrongCode", "bare", "standard", "wrong-code", {Direct(kPollAny)}, {"1203" + kIdm + kPmm + "9000"}},
    {"BareOtherIdm", "bare", "standard", "other-idm", {Direct(kPollCommon), Direct(kReadNumber)},
     {"1401" + kCommonIdm + kPmm + "FE00" "9000", "1D07" "01FEDCBA98765432" "000001" + kNumberBlock + "9000"}},
    {"BareMute", "bare", "standard", "mute", {Direct(kReadNumber)}, {"6300"}},
    {"Pn53xMute", "pn53x", "standard", "mute", {Direct("D44001" + kReadNumber)}, {"D54101" "9000"}},
    {"BareTruncatedReadOnly", "bare", "standard", "truncated@read", {Direct(kPollCommon), Direct(kReadNumber)},
     {"1401" + kCommonIdm + kPmm + "FE00" "9000", "1A07" + kCommonIdm + "000001" + kNumberBlock.substr(0, 26) + "9000"}},
    {"StatusFlagsNoService", "bare", "no-number", "none", {Direct("10" "06" "112E4C8A1B3D5F72" "01CB33" "018000")},
     {"0C07" "112E4C8A1B3D5F72" "01A6" "9000"}},
    {"StatusFlagsNoBlock", "bare", "empty-number", "none", {Direct("10" "06" "112E4C8A1B3D5F73" "01CB33" "018000")},
     {"0C07" "112E4C8A1B3D5F73" "01A8" "9000"}},
    // The number's service lives in the common area: addressed to system 0's IDm it is not there.
    {"ServiceOfAnotherSystem", "bare", "standard", "none", {Direct("10" "06" + kIdm + "01CB33" "018000")},
     {"0C07" + kIdm + "01A6" "9000"}},
    {"IdentOnly", "ident", "standard", "none", {"FFCA000000", "FFCA010000", "FFC2000002" "8100", Direct(kPollAny)},
     {kIdm + "9000", kPmm + "9000", "6A81", "6A81"}},
    {"IdentShortId", "ident", "standard", "short-id", {"FFCA000000"}, {"012E4C8A1B" "9000"}},
    {"Garbage", "garbage", "standard", "none", {"FFCA000000", Direct(kPollAny)}, {"A55A009000", "A55A009000"}},
    {"OtherCard", "transparent", "other", "none", {"FFCA000000"}, {"0101020304050607" "9000"}},
    // The escape-channel family carries FeliCa frames only through SCardControl.
    {"EscapeTransmitIsGetDataOnly", "escape", "standard", "none", {"FFCA000000", "FFCA010000", "FFC2000002" "8100", Direct(kPollAny)},
     {kIdm + "9000", kPmm + "9000", "6A81", "6A81"}},
};

void PrintTo(const Exchange& e, std::ostream* os) { *os << e.name; }

class VirtualReaderExchange : public PcscTest, public ::testing::WithParamInterface<Exchange> {};

TEST_P(VirtualReaderExchange, AnswersAPlainClient) {
  const Exchange& e = GetParam();
  auto reader = Place(e.dialect, e.card, e.fault);
  std::vector<std::string> args{PeerPath(), "send", ReaderName(0)};
  args.insert(args.end(), e.apdus.begin(), e.apdus.end());
  const Finished f = RunProgram(args, Millis(10000));
  ASSERT_EQ(f.code, 0) << f.err;
  std::vector<std::string> got;
  for (size_t at = 0, end; (end = f.out.find('\n', at)) != std::string::npos; at = end + 1) got.push_back(f.out.substr(at, end - at));
  EXPECT_EQ(got, e.responses);
  // The benchmark's round-trip figures rest on this count.
  EXPECT_EQ(reader->Do("count"), "ok apdus=" + std::to_string(e.apdus.size()));
}

INSTANTIATE_TEST_SUITE_P(Dialects, VirtualReaderExchange, ::testing::ValuesIn(kExchanges),
                         [](const auto& info) { return std::string(info.param.name); });

// The ATR that tells the reader family: the storage-card ATR with standard 11 / name 00 3B, or
// 03 / F0 11 on PN53x readers, and its check byte.
struct AtrCase {
  std::string dialect, atr;
};

void PrintTo(const AtrCase& c, std::ostream* os) { *os << c.dialect; }

class VirtualReaderAtr : public PcscTest, public ::testing::WithParamInterface<AtrCase> {};

TEST_P(VirtualReaderAtr, TellsTheReaderFamily) {
  auto reader = Place(GetParam().dialect, "standard");
  const Finished f = RunProgram({PeerPath(), "atr", ReaderName(0)}, Millis(10000));
  EXPECT_EQ(f.code, 0) << f.err;
  EXPECT_EQ(f.out, GetParam().atr + "\n");
}

INSTANTIATE_TEST_SUITE_P(Dialects, VirtualReaderAtr,
                         ::testing::Values(AtrCase{"transparent", "3B8F8001804F0CA00000030611003B0000000042"},
                                           AtrCase{"pn53x", "3B8F8001804F0CA00000030603F011000000008A"},
                                           AtrCase{"bare", "3B8F8001804F0CA00000030603F011000000008A"},
                                           AtrCase{"ident", "3B8F8001804F0CA00000030611003B0000000042"},
                                           AtrCase{"escape", "3B8F8001804F0CA00000030611003B0000000042"}),
                         [](const auto& i) { return i.param.dialect; });

using VirtualReaderControl = PcscTest;

// Dialect and fault change under a running reader: the fault at once, the dialect with the next card.
TEST_F(VirtualReaderControl, DialectAndFaultChangeWhileRunning) {
  auto reader = Place("transparent", "standard");
  const auto send = [](const std::string& apdu) { return RunProgram({PeerPath(), "send", ReaderName(0), apdu}, Millis(10000)).out; };
  EXPECT_EQ(reader->Do("dialect pn53x"), "ok");
  EXPECT_EQ(send("FFCA010000"), kPmm + "9000\n");
  EXPECT_EQ(reader->Do("replace standard"), "ok");
  ASSERT_TRUE(WaitCard(ReaderName(0), true, Millis(5000)));
  EXPECT_EQ(send("FFCA010000"), "6A81\n");
  EXPECT_EQ(reader->Do("fault short-id"), "ok");
  EXPECT_EQ(send("FFCA000000"), "012E4C8A1B" "9000\n");
  EXPECT_EQ(reader->Do("fault none"), "ok");
  EXPECT_EQ(send("FFCA000000"), kIdm + "9000\n");
  EXPECT_EQ(reader->Do("fault sometimes"), "error faults: " + FaultNames());
  EXPECT_EQ(reader->Do("fault truncated@never").substr(0, 13), "error faults:");
  EXPECT_EQ(reader->Do("dialect chatty").substr(0, 15), "error dialects:");
}

using VirtualReaderEvents = EachDriver;

// A card leaving in the middle of a block read: through vpcd the client gets an empty answer
// (no status word at all), through our driver "card removed"; then pcscd sees no card.
TEST_P(VirtualReaderEvents, VanishingCardBreaksTheCommand) {
  auto reader = Place("bare", "standard", "vanish");
  const Finished f = RunProgram({PeerPath(), "send", ReaderName(0), Direct(kPollCommon), Direct(kReadNumber)}, Millis(10000));
  const std::string first = "1401" + kCommonIdm + kPmm + "FE00" "9000\n";
  if (Driver() == "vpcd") {
    EXPECT_EQ(f.out, first + "\n");
  } else {
    EXPECT_EQ(f.out, first);
    EXPECT_NE(f.err.find("(0x8010000C)"), std::string::npos) << f.err;
  }
  EXPECT_TRUE(WaitCard(ReaderName(0), false, Millis(3000)));
  EXPECT_EQ(reader->Do("state"), Driver() == "vpcd" ? "ok removed waiting" : "ok removed connected");
}

// The bare waiter sees each placement, removal and replacement once; the answers follow the card.
TEST_P(VirtualReaderEvents, PlaceRemoveReplace) {
  auto reader = Place("transparent", "none");
  Child waiter({PeerPath(), "watch", ReaderName(0)});
  const auto next = [&] {
    std::optional<Child::Line> l = waiter.Next(Millis(5000));
    return l ? l->text : "(nothing)";
  };
  const auto idm = [] { return RunProgram({PeerPath(), "send", ReaderName(0), "FFCA000000"}, Millis(10000)).out; };
  EXPECT_EQ(next(), "empty");
  EXPECT_EQ(reader->Do("place other"), "ok");
  EXPECT_EQ(next(), "present");
  EXPECT_EQ(idm(), "0101020304050607" "9000\n");
  EXPECT_EQ(reader->Do("replace standard"), "ok");
  EXPECT_EQ(next(), "empty");
  EXPECT_EQ(next(), "present");
  EXPECT_EQ(idm(), kIdm + "9000\n");
  EXPECT_EQ(reader->Do("state"), "ok placed connected");
  EXPECT_EQ(reader->Do("remove"), "ok");
  EXPECT_EQ(next(), "empty");
  EXPECT_EQ(reader->Do("place nothing-like-it"), "error no card named nothing-like-it");
  EXPECT_EQ(reader->Do("state"), Driver() == "vpcd" ? "ok removed waiting" : "ok removed connected");
}

INSTANTIATE_TEST_SUITE_P(Drivers, VirtualReaderEvents, ::testing::Values(kOurDriver, "vpcd"));

// The control channel through our driver, on a direct connection (no protocol), with or without
// a card: the feature list, the escape commands of a reader whose FeliCa channel is escape only,
// and escape refused the way a driver without its escape option refuses it.
struct ControlCase {
  const char* name;
  std::string dialect, card, fault, code;
  std::vector<std::string> data, replies;
};

const std::string kFeatures = "120442000D49";  // a feature that is not escape, listed first
const std::string kEscapeFeature = "130442000DAC";
const std::string kFeatureCode = "42000D48", kEscape = "42000DAC";
const std::string kRefused = "error 0x8010001F";
const std::string kNoAnswer = "C00300900092010096020000" "9000";  // no 97 object: the card did not answer

const ControlCase kControlCases[] = {
    {"FeatureListWithEscape", "escape", "standard", "none", kFeatureCode, {"-"}, {kFeatures + kEscapeFeature}},
    {"EscapeRefusedBySettings", "escape", "standard", "escape-refused", kFeatureCode, {"-"}, {kFeatures}},
    {"EscapeCodeRefused", "escape", "standard", "escape-refused", kEscape, {"FFC20000028100" "00"}, {kRefused}},
    {"NoEscapeOnOtherFamilies", "transparent", "standard", "none", kFeatureCode, {"-"}, {kFeatures}},
    {"EscapeCodeOnOtherFamilies", "transparent", "standard", "none", kEscape, {"FFC20000028100" "00"}, {kRefused}},
    {"UnknownCode", "escape", "standard", "none", "42000DAD", {"-"}, {kRefused}},
    {"SessionWithC2", "escape", "standard", "none", kEscape,
     {"FFC20000028100" "00", "FFC20002048F020300" "00", "FFC20001" "08" "9506" + kPollCommon, "FFC20001" "12" "9510" + kReadNumber + "00",
      "FFC20000028200" "00"},
     {kSessionOk, kSessionOk, kTransceiveOk + "14" "1401" + kCommonIdm + kPmm + "FE00" "9000",
      kTransceiveOk + "1D" "1D07" + kCommonIdm + "000001" + kNumberBlock + "9000", kSessionOk}},
    // The family's own instruction, extended Lc and Le, a timer object and a long-form 95 length.
    {"FamilyInstructionExtended", "escape", "standard", "none", kEscape,
     {"FF50000100" "0011" "5F4604A0860100" "95820006" "0600FFFF0100" "0000"},
     {kTransceiveOk + "14" "1401" + kIdm + kPmm + "0003" "9000"}},
    {"NoCardOnTheReader", "escape", "none", "none", kEscape, {"FFC20000028100" "00", "FFC20001" "08" "9506" + kPollAny}, {kSessionOk, kNoAnswer}},
    {"SilentCard", "escape", "no-common", "none", kEscape, {"FFC20001" "08" "9506" + kPollCommon}, {kNoAnswer}},
    {"MuteOnRead", "escape", "standard", "mute", kEscape, {"FFC20001" "12" "9510" + kReadNumber}, {kNoAnswer}},
    {"Malformed", "escape", "standard", "none", kEscape,
     {"FFC2000105" "9506" "0600", "FFC20001" "05" "9583000001", "FFC40000", "00C2000000"},
     {"6700", "C003016A80" "9000", "6D00", "6E00"}},
    {"VanishDuringRead", "escape", "standard", "vanish", kEscape, {"FFC20001" "12" "9510" + kReadNumber}, {kNoAnswer}},
};

void PrintTo(const ControlCase& c, std::ostream* os) { *os << c.name; }

class VirtualReaderEscape : public PcscTest, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(VirtualReaderEscape, AnswersControl) {
  const ControlCase& c = GetParam();
  auto reader = Place(c.dialect, c.card, c.fault);
  std::vector<std::string> args{PeerPath(), "control", ReaderName(0), c.code};
  args.insert(args.end(), c.data.begin(), c.data.end());
  const Finished f = RunProgram(args, Millis(10000));
  ASSERT_EQ(f.code, 0) << f.err;
  std::vector<std::string> got;
  for (size_t at = 0, end; (end = f.out.find('\n', at)) != std::string::npos; at = end + 1) got.push_back(f.out.substr(at, end - at));
  EXPECT_EQ(got, c.replies);
  // Escape commands count as round trips; the feature list does not.
  const size_t escapes = c.code == kEscape && c.replies.front() != kRefused ? c.data.size() : 0;
  EXPECT_EQ(reader->Do("count"), "ok apdus=" + std::to_string(escapes));
  if (c.fault == "vanish") {
    EXPECT_TRUE(WaitCard(ReaderName(0), false, Millis(3000)));
  }
}

INSTANTIATE_TEST_SUITE_P(Escape, VirtualReaderEscape, ::testing::ValuesIn(kControlCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A reader that reports "no such device" stays listed; pcscd marks it unavailable and takes it
// back when the reader answers again. Handles opened before stay dead until a new connect.
TEST_F(VirtualReaderControl, NoSuchDeviceWhileListed) {
  auto reader = Place("escape", "standard");
  const auto idm = [] { return RunProgram({PeerPath(), "send", ReaderName(0), "FFCA000000"}, Millis(10000)); };
  EXPECT_EQ(reader->Do("device gone"), "ok");
  ASSERT_TRUE(WaitState(ReaderName(0), SCARD_STATE_UNAVAILABLE, true, Millis(5000)));
  const Finished gone = idm();
  EXPECT_NE(gone.code, 0);
  EXPECT_NE(gone.err.find("(0x80100017)"), std::string::npos) << gone.err;  // reader unavailable
  EXPECT_EQ(RunProgram({PeerPath(), "atr", ReaderName(1)}, Millis(10000)).err.find("SCardListReaders"), std::string::npos)
      << "the other reader went too";
  EXPECT_EQ(reader->Do("device back"), "ok");
  ASSERT_TRUE(WaitCard(ReaderName(0), true, Millis(5000)));
  Finished back = idm();
  for (int i = 0; i < 30 && back.code != 0; ++i) {  // pcscd sleeps 1 s after each "no such device"
    std::this_thread::sleep_for(Millis(100));
    back = idm();
  }
  EXPECT_EQ(back.out, kIdm + "9000\n") << back.err;
}

}  // namespace
