// varnelo-reader against the real PC/SC stack: a private pcscd, vpcd and our virtual readers.
// Each case checks the exit code, the exact value lines, and the pair of error types (with both
// Japanese texts) that the tool reports. Needs root for the private mount namespace.
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

#include <sys/mount.h>

#include <PCSC/winscard.h>

#include "FelicaAPI.h"
#include "PcscFixture.h"

Stack& TheStack() {
  static Stack stack;
  return stack;
}

namespace {

const std::string kIdm = "IDm=012E4C8A1B3D5F70";
const std::string kPmm = "PMm=03014B024F4993FF";
const std::string kNumber = "FeliCaNumber=123456789ABCDEF0";
const std::string kOtherIdm = "IDm=0101020304050607";
const std::string kOtherNumber = "FeliCaNumber=0011223344556677";
const std::string kFound = "found card=felica ";

bool IsValueLine(const std::string& line) {
  return line.starts_with("IDm=") || line.starts_with("PMm=") || line.starts_with("FeliCaNumber=");
}

// The pair as the tool reports it: "FeliCaErrorType=<n> <text>", "RWErrorType=<n> <text>".
std::optional<int> ErrorType(const std::vector<std::string>& lines, const std::string& name) {
  for (const std::string& line : lines)
    if (line.starts_with(name + "=")) return std::atoi(line.c_str() + name.size() + 1);
  return std::nullopt;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) lines.push_back(text.substr(at, end - at));
  return lines;
}

// What a run must show: its values, and for a failure the acceptable error types (empty: any).
struct Outcome {
  std::vector<std::string> lines;
  std::vector<int> felica, rw;
  bool failure = false;
  bool valuesMayStopEarly = false;  // a failure may come before any of the lines; never a wrong one
  std::string card = "felica";      // the card= line before them; empty: none (the card was never named)
};

Outcome Success(std::vector<std::string> lines) { return {std::move(lines), {}, {}, false, false}; }
Outcome Failure(std::vector<std::string> lines, std::vector<int> felica, std::vector<int> rw) {
  const std::string card = lines.empty() ? "" : "felica";
  return {std::move(lines), std::move(felica), std::move(rw), true, false, card};
}
Outcome FailureAfterSome(std::vector<std::string> lines, std::vector<int> felica, std::vector<int> rw) {
  return {std::move(lines), std::move(felica), std::move(rw), true, true};
}
const Outcome kNoCard{{}, {1036}, {157}, true, false, "none"};

std::string Show(const Finished& f) { return "exit " + std::to_string(f.code) + "\nstdout:\n" + f.out + "stderr:\n" + f.err; }

void ExpectOutcome(const Finished& f, const Outcome& want) {
  ASSERT_FALSE(f.timedOut) << Show(f);
  std::vector<std::string> out = Lines(f.out), got;
  if (!want.card.empty()) {
    ASSERT_FALSE(out.empty()) << Show(f);
    EXPECT_EQ(out.front(), "card=" + want.card) << Show(f);
    out.erase(out.begin());
  }
  for (const std::string& line : out)
    if (IsValueLine(line)) got.push_back(line);
  if (!want.failure) {
    EXPECT_EQ(f.code, 0) << Show(f);
    EXPECT_EQ(out, want.lines) << Show(f);
    return;
  }
  EXPECT_NE(f.code, 0) << Show(f);
  EXPECT_LT(f.code, 128) << "ended by a signal\n" << Show(f);
  if (want.valuesMayStopEarly) {
    ASSERT_LE(got.size(), want.lines.size()) << Show(f);
    EXPECT_EQ(got, std::vector<std::string>(want.lines.begin(), want.lines.begin() + static_cast<long>(got.size()))) << Show(f);
  } else {
    EXPECT_EQ(got, want.lines) << Show(f);
  }
  // The values on standard output, nothing after them; exactly the two error lines, each with its
  // own text, on standard error (after the traffic, when it is traced).
  EXPECT_EQ(out, got) << Show(f);
  std::vector<std::string> lines;
  for (const std::string& line : Lines(f.err))
    if (!line.starts_with("> ") && !line.starts_with("< ")) lines.push_back(line);
  const std::optional<int> felica = ErrorType(lines, "FeliCaErrorType"), rw = ErrorType(lines, "RWErrorType");
  ASSERT_TRUE(felica && rw) << "no error pair\n" << Show(f);
  // In English: main runs every tool in the C locale.
  const std::vector<std::string> errors{"FeliCaErrorType=" + std::to_string(*felica) + " " + FelicaAPI::FelicaErrorTextEnglish(*felica),
                                        "RWErrorType=" + std::to_string(*rw) + " " + FelicaAPI::RwErrorTextEnglish(*rw)};
  EXPECT_EQ(lines, errors) << Show(f);
  const auto allowed = [](const std::vector<int>& types, int type) {
    return types.empty() || std::find(types.begin(), types.end(), type) != types.end();
  };
  EXPECT_TRUE(allowed(want.felica, *felica)) << "FeliCa type " << *felica << "\n" << Show(f);
  EXPECT_TRUE(allowed(want.rw, *rw)) << "reader/writer type " << *rw << "\n" << Show(f);
}

Finished Tool(std::vector<std::string> args) {
  args.insert(args.begin(), VarneloReaderPath());
  return RunProgram(args, Millis(20000));
}

class ReaderTool : public PcscTest {
 protected:
  void SetUp() override {
    if (VarneloReaderPath().empty()) GTEST_SKIP() << "varnelo-reader is not built: set VARNELO_READER_TOOL";
    PcscTest::SetUp();
  }
};

struct ReadCase {
  std::string name;
  std::string dialect, card, fault;
  std::vector<std::string> args;
  Outcome outcome;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class Read : public ReaderTool, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(Read, PrintsTheCardOrTheErrorPair) {
  const ReadCase& c = GetParam();
  auto reader = Place(c.dialect, c.card, c.fault);
  ExpectOutcome(Tool(c.args), c.outcome);
}

const std::vector<std::string> kRead{"read"};
const std::vector<std::string> kNumberRead{"read", "--felica-number"};

// Each dialect, the whole card.
const ReadCase kDialectCases[] = {
    {"Transparent", "transparent", "standard", "none", kRead, Success({kIdm, kPmm})},
    {"TransparentNumber", "transparent", "standard", "none", kNumberRead, Success({kIdm, kPmm, kNumber})},
    {"Pn53x", "pn53x", "standard", "none", kRead, Success({kIdm, kPmm})},
    {"Pn53xNumber", "pn53x", "standard", "none", kNumberRead, Success({kIdm, kPmm, kNumber})},
    {"Bare", "bare", "standard", "none", kRead, Success({kIdm, kPmm})},
    {"BareNumber", "bare", "standard", "none", kNumberRead, Success({kIdm, kPmm, kNumber})},
    {"IdentOnly", "ident", "standard", "none", kRead, Success({kIdm, kPmm})},
    {"IdentOnlyHasNoRawChannel", "ident", "standard", "none", kNumberRead, Failure({kIdm, kPmm}, {1044}, {160})},
    {"OtherCard", "transparent", "other", "none", kNumberRead, Success({kOtherIdm, "PMm=0120220427674EFF", kOtherNumber})},
    {"OtherCardPn53x", "pn53x", "other", "none", kNumberRead, Success({kOtherIdm, "PMm=0120220427674EFF", kOtherNumber})},
    {"Escape", "escape", "standard", "none", kRead, Success({kIdm, kPmm})},
    {"EscapeNumber", "escape", "standard", "none", kNumberRead, Success({kIdm, kPmm, kNumber})},
    // Readers that take only one of the two instruction bytes: the probe must try each.
    {"EscapeC2OnlyNumber", "escape-c2", "standard", "none", kNumberRead, Success({kIdm, kPmm, kNumber})},
    {"Escape50OnlyNumber", "escape-50", "standard", "none", kNumberRead, Success({kIdm, kPmm, kNumber})},
    {"OtherCardEscape", "escape", "other", "none", kNumberRead, Success({kOtherIdm, "PMm=0120220427674EFF", kOtherNumber})},
    // The driver's settings keep escape commands off: the IDm still, the number never.
    {"EscapeRefused", "escape", "standard", "escape-refused", kNumberRead, Failure({kIdm, kPmm}, {1044}, {160})},
    {"Pseudo", "pseudo", "standard", "none", kRead, Success({kIdm, kPmm})},
    {"PseudoNumber", "pseudo", "standard", "none", kNumberRead, Success({kIdm, kPmm, kNumber})},
    {"OtherCardPseudo", "pseudo", "other", "none", kNumberRead, Success({kOtherIdm, "PMm=0120220427674EFF", kOtherNumber})},
    // Storage-card readers reach only the card's first system: no FE 00 polling, whatever the card.
    {"Storage", "storage", "standard", "none", kRead, Success({kIdm, kPmm})},
    {"StorageNumber", "storage", "standard", "none", kNumberRead, Failure({kIdm, kPmm}, {1044}, {160})},
    {"StorageNumberCommonFirst", "storage", "common-first", "none", kNumberRead,
     Failure({"IDm=012E4C8A1B3D5F74", kPmm}, {1044}, {160})},
    // No PMm by GET DATA and no polling to get it from: the IDm, then no raw channel.
    {"StorageLists", "storage-lists", "standard", "none", kRead, Failure({kIdm}, {1044}, {160})},
    // The IDm in the ATR (no GET DATA): the pseudo-APDUs, probed first, give the PMm and the number.
    {"IdmInAtrNumber", "idm-atr", "standard", "none", kNumberRead, Success({kIdm, kPmm, kNumber})},
    // No polling: Request System Code finds the activated system; its number when it is FE 00; no PMm.
    {"InboxNfcCommonFirst", "inbox", "common-first", "none", kNumberRead,
     Failure({"IDm=012E4C8A1B3D5F74", kNumber}, {1044}, {160})},
    {"InboxNfcCommonSecond", "inbox", "standard", "none", kNumberRead, Failure({kIdm}, {1044}, {160})},
    // --format: the ID beside the IDm, or the number read as --felica-number reads it.
    {"FormReversedDecimal", "pseudo", "standard", "none", {"read", "--format", "Decimal,reversed"},
     Success({kIdm, "ID=8097257843529100801", kPmm})},
    {"FormNumber", "escape", "standard", "none", {"read", "--format", "felica-number,lower,separator=-,prefix=N"},
     Success({kIdm, kPmm, kNumber, "ID=N12-34-56-78-9a-bc-de-f0"})},
};
INSTANTIATE_TEST_SUITE_P(Dialects, Read, ::testing::ValuesIn(kDialectCases), [](const auto& i) { return i.param.name; });

// Cards that lack what the FeliCa number needs: the IDm line, no number, the card's own error.
const ReadCase kContentCases[] = {
    {"NoCommonArea", "transparent", "no-common", "none", kNumberRead, Failure({"IDm=012E4C8A1B3D5F71", kPmm}, {1036}, {157})},
    {"NoCommonAreaPn53x", "pn53x", "no-common", "none", kNumberRead, Failure({"IDm=012E4C8A1B3D5F71", kPmm}, {1036}, {157})},
    {"NoNumberService", "transparent", "no-number", "none", kNumberRead, Failure({"IDm=012E4C8A1B3D5F72", kPmm}, {1042}, {159})},
    {"NoNumberServiceBare", "bare", "no-number", "none", kNumberRead, Failure({"IDm=012E4C8A1B3D5F72", kPmm}, {1042}, {159})},
    {"NoBlockZero", "pn53x", "empty-number", "none", kNumberRead, Failure({"IDm=012E4C8A1B3D5F73", kPmm}, {1042}, {159})},
    {"NoCommonAreaEscape", "escape", "no-common", "none", kNumberRead, Failure({"IDm=012E4C8A1B3D5F71", kPmm}, {1036}, {157})},
    {"NoNumberServiceEscape", "escape", "no-number", "none", kNumberRead, Failure({"IDm=012E4C8A1B3D5F72", kPmm}, {1042}, {159})},
    {"NoCommonAreaPseudo", "pseudo", "no-common", "none", kNumberRead, Failure({"IDm=012E4C8A1B3D5F71", kPmm}, {1036}, {157})},
    {"NoNumberServicePseudo", "pseudo", "no-number", "none", kNumberRead, Failure({"IDm=012E4C8A1B3D5F72", kPmm}, {1042}, {159})},
    {"NoBlockZeroPseudo", "pseudo", "empty-number", "none", kNumberRead, Failure({"IDm=012E4C8A1B3D5F73", kPmm}, {1042}, {159})},
    {"WithoutNumberTheCardReads", "transparent", "no-common", "none", kRead, Success({"IDm=012E4C8A1B3D5F71", kPmm})},
};
INSTANTIATE_TEST_SUITE_P(CardContents, Read, ::testing::ValuesIn(kContentCases), [](const auto& i) { return i.param.name; });

// Broken replies and a card that leaves: an error pair and a non-zero exit, never a wrong value.
std::vector<ReadCase> FaultCases() {
  std::vector<ReadCase> cases;
  const auto add = [&](const std::string& dialect, const std::string& fault, std::vector<int> felica, std::vector<int> rw) {
    std::string name = dialect + "_" + fault;
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '-' || c == '@'; }, '_');
    cases.push_back({name, dialect, "standard", fault, kNumberRead, FailureAfterSome({kIdm, kPmm}, std::move(felica), std::move(rw))});
  };
  for (const std::string dialect : {"transparent", "pn53x", "bare", "pseudo", "escape"}) {
    // Pseudo-APDU replies carry no frame: no length byte or response code to break.
    if (dialect != "pseudo")
      for (const char* broken : {"truncated", "lying-length", "wrong-code"}) add(dialect, broken + std::string("@read"), {}, {150});
    add(dialect, "other-idm", {1049}, {});
    // A bare-frame reader tells a silent card only by a failure status word (63 00).
    add(dialect, "mute", {}, dialect == "bare" ? std::vector<int>{149, 152, 156} : std::vector<int>{152, 156});
    // Through the escape channel the reply still comes, without a frame: a silent card (156).
    add(dialect, "vanish", {1040, 1042}, dialect == "escape" ? std::vector<int>{156, 157} : std::vector<int>{157});
  }
  // Broken poll replies, where the poll is not how the dialect is recognised.
  for (const std::string dialect : {"transparent", "pn53x"})
    for (const char* broken : {"truncated@poll", "lying-length@poll", "wrong-code@poll"}) add(dialect, broken, {}, {150});
  cases.push_back({"ident_short_id", "ident", "standard", "short-id", kRead, Failure({}, {}, {150})});
  cases.push_back({"garbage", "garbage", "standard", "none", kRead, Failure({}, {}, {150})});
  return cases;
}
INSTANTIATE_TEST_SUITE_P(Faults, Read, ::testing::ValuesIn(FaultCases()), [](const auto& i) { return i.param.name; });

// The same read behind vpcd, a driver nobody here wrote, as behind ours.
using ReadEachDriver = EachDriver;

TEST_P(ReadEachDriver, ReadsTheNumber) {
  if (VarneloReaderPath().empty()) GTEST_SKIP() << "varnelo-reader is not built: set VARNELO_READER_TOOL";
  auto reader = Place("transparent", "standard");
  ExpectOutcome(Tool(kNumberRead), Success({kIdm, kPmm, kNumber}));
}

INSTANTIATE_TEST_SUITE_P(Drivers, ReadEachDriver, ::testing::Values(kOurDriver, "vpcd"));

using Service = ReaderTool;

TEST_F(Service, NoCard) { ExpectOutcome(Tool(kRead), kNoCard); }

TEST_F(Service, NoReader) {
  Stack& s = TheStack();
  ASSERT_EQ(s.pcscd->Start(0), "");
  ExpectOutcome(Tool(kRead), Failure({}, {1028}, {}));
  s.pcscd->Stop();  // the next test's set-up brings the readers back
}

// pcscd ends under a placed card and comes back: the card is found again without a restart of the tool's user.
TEST_F(Service, StoppedAndStartedAgain) {
  auto reader = Place("transparent", "standard");
  Stack& s = TheStack();
  s.pcscd->Stop();
  ExpectOutcome(Tool(kRead), Failure({}, {1028}, {}));
  ASSERT_EQ(s.pcscd->Start(s.port), "");
  ASSERT_TRUE(WaitCard(ReaderName(0), true, Millis(5000)));
  ExpectOutcome(Tool(kNumberRead), Success({kIdm, kPmm, kNumber}));
}

TEST_F(Service, ReaderHeldExclusively) {
  auto reader = Place("transparent", "standard");
  Child holder({PeerPath(), "hold", ReaderName(0)});
  std::optional<Child::Line> held = holder.Next(Millis(5000));
  ASSERT_TRUE(held && held->text == "held");
  ExpectOutcome(Tool({"read", "--reader", "00 00"}), Failure({}, {1027}, {}));
  holder.Stop();
  ExpectOutcome(Tool({"read", "--reader", "00 00"}), Success({kIdm, kPmm}));
}

// Two readers: the one with a card wins; --reader picks by name.
TEST_F(Service, ReaderChoice) {
  auto second = Place("pn53x", "other", "none", 1);
  ExpectOutcome(Tool(kRead), Success({kOtherIdm, "PMm=0120220427674EFF"}));
  auto first = Place("transparent", "standard", "none", 0);
  ExpectOutcome(Tool({"read", "--reader", "00 01"}), Success({kOtherIdm, "PMm=0120220427674EFF"}));
  ExpectOutcome(Tool({"read", "--reader", "00 00"}), Success({kIdm, kPmm}));
  first.reset();
  ASSERT_TRUE(WaitCard(ReaderName(0), false, Millis(5000)));
  ExpectOutcome(Tool({"read", "--reader", "00 00"}), kNoCard);
}

TEST_F(Service, ReaderPinnedByEnvironment) {
  auto first = Place("transparent", "standard", "none", 0);
  auto second = Place("pn53x", "other", "none", 1);
  const auto pinned = [](const std::string& pin) {
    return RunProgram({"/usr/bin/env", "VARNELO_READER=" + pin, VarneloReaderPath(), "read"}, Millis(20000));
  };
  ExpectOutcome(pinned("00 01"), Success({kOtherIdm, "PMm=0120220427674EFF"}));
  ExpectOutcome(pinned("00 00"), Success({kIdm, kPmm}));
  ExpectOutcome(Tool({"read"}), Success({kIdm, kPmm}));
  ExpectOutcome(pinned("no such reader"), Failure({}, {1028}, {}));
}

// A reader that turns unavailable (its driver reports "no such device") while listed, and comes back.
TEST_F(Service, ReaderUnavailableAndBack) {
  auto reader = Place("transparent", "standard");
  ASSERT_EQ(reader->Do("device gone"), "ok");
  ASSERT_TRUE(WaitState(ReaderName(0), SCARD_STATE_UNAVAILABLE, true, Millis(5000)));
  ExpectOutcome(Tool({"read", "--reader", "00 00"}), Failure({}, {1028}, {}));
  ASSERT_EQ(reader->Do("device back"), "ok");
  ASSERT_TRUE(WaitCard(ReaderName(0), true, Millis(5000)));
  ExpectOutcome(Tool({"read", "--reader", "00 00"}), Success({kIdm, kPmm}));
}

// A USB reader plugged in after pcscd started: listed, read, and after it is pulled out gone (1028).
TEST_F(Service, UsbReaderPluggedInAfterStart) {
  const int port = TheStack().port + 2;
  VirtualReader card(port, "pn53x", "standard");
  UsbReader usb(port);
  // The virtual reader links to the new driver within its 50 ms retry: then pcscd has the card.
  const auto listedWithCard = [&] {
    Finished listed = Tool({"list"});
    for (int i = 0; i < 50 && listed.out.find("card=felica dialect=pn53x-direct reader=" + kPluggedName) == std::string::npos; ++i) {
      std::this_thread::sleep_for(Millis(20));
      listed = Tool({"list"});
    }
    return listed;
  };
  ASSERT_EQ(usb.Plug(), "");
  ASSERT_TRUE(WaitListed(kPluggedName, true, Millis(5000)));
  const Finished listed = listedWithCard();
  EXPECT_NE(listed.out.find("card=felica dialect=pn53x-direct reader=" + kPluggedName), std::string::npos) << Show(listed);
  ExpectOutcome(Tool({"read", "--reader", kPluggedName}), Success({kIdm, kPmm}));
  ASSERT_EQ(usb.Unplug(), "");
  ExpectOutcome(Tool({"read", "--reader", kPluggedName}), Failure({}, {1028}, {}));
  ASSERT_EQ(usb.Plug(), "");
  ASSERT_TRUE(WaitListed(kPluggedName, true, Millis(5000)));
  listedWithCard();
  ExpectOutcome(Tool({"read", "--reader", kPluggedName}), Success({kIdm, kPmm}));
}

// list: one line per reader, the dialect found for the one with a card. Our driver lists its
// features without the escape one, as a CCID driver without its escape option does: a FeliCa
// reader left without a raw channel then gets the hint.
const std::string kEscapeHint =
    " escape=disabled enable=\"bit 0x0001 in ifdDriverOptions of the CCID driver's Info.plist, then restart pcscd\"";

struct ListCase {
  std::string dialect, shown;
};

class List : public ReaderTool, public ::testing::WithParamInterface<ListCase> {};

TEST_P(List, ShowsEachReaderAndTheDialect) {
  auto reader = Place(GetParam().dialect, "standard");
  const Finished f = Tool({"list"});
  EXPECT_EQ(f.code, 0) << Show(f);
  EXPECT_EQ(Lines(f.out), (std::vector<std::string>{"card=felica dialect=" + GetParam().shown + " reader=" + ReaderName(0),
                                                     "card=none dialect=unknown reader=" + ReaderName(1)}))
      << Show(f);
}

INSTANTIATE_TEST_SUITE_P(Dialects, List,
                         ::testing::Values(ListCase{"transparent", "transparent-session"}, ListCase{"pn53x", "pn53x-direct"},
                                           ListCase{"bare", "pn53x-bare-frame"}, ListCase{"ident", "identification-only" + kEscapeHint},
                                           ListCase{"pseudo", "felica-pseudo-apdu"}, ListCase{"storage", "storage-card"},
                                           ListCase{"storage-lists", "storage-card-lists"}, ListCase{"escape", "escape-session"},
                                           ListCase{"idm-atr", "felica-pseudo-apdu"}),
                         [](const auto& i) {
                           std::string name = i.param.dialect;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// A FeliCa reader left without a raw channel because its driver refuses escape commands: the
// reader's line says so and where to switch it on.
TEST_F(Service, EscapeRefusedIsShownOnTheReadersLine) {
  auto reader = Place("escape", "standard", "escape-refused");
  const Finished f = Tool({"list"});
  EXPECT_EQ(f.code, 0) << Show(f);
  EXPECT_EQ(Lines(f.out),
            (std::vector<std::string>{"card=felica dialect=identification-only" + kEscapeHint + " reader=" + ReaderName(0),
                                      "card=none dialect=unknown reader=" + ReaderName(1)}))
      << Show(f);
  // A reader of another family with the same feature list has a raw channel: nothing to enable.
  reader.reset();
  ASSERT_TRUE(WaitCard(ReaderName(0), false, Millis(5000)));
  auto other = Place("pn53x", "standard", "escape-refused");
  EXPECT_EQ(Lines(Tool({"list"}).out).front(), "card=felica dialect=pn53x-direct reader=" + ReaderName(0));
}

// Cards that are not FeliCa: their kind and own identifier, never an IDm; no FeliCa hint on "ident".
struct OtherCardCase {
  std::string card, dialect;
  std::vector<std::string> read;
};

class OtherCards : public ReaderTool, public ::testing::WithParamInterface<OtherCardCase> {};

TEST_P(OtherCards, ReadAndListSayWhatTheCardIs) {
  const OtherCardCase& c = GetParam();
  auto reader = Place(c.dialect, c.card);
  const Finished f = RunProgram({"/usr/bin/env", "LANG=C", VarneloReaderPath(), "read"}, Millis(20000));
  EXPECT_EQ(f.code, 1) << Show(f);
  EXPECT_EQ(Lines(f.out), c.read) << Show(f);
  EXPECT_NE(f.err.find("is not a FeliCa card"), std::string::npos) << Show(f);
  EXPECT_EQ(f.err.find("changes every time") != std::string::npos, c.read.back() == "random=yes") << Show(f);
  const Finished listed = Tool({"list"});
  EXPECT_EQ(Lines(listed.out).front(), c.read.front() + " dialect=unknown reader=" + ReaderName(0)) << Show(listed);
}

INSTANTIATE_TEST_SUITE_P(Kinds, OtherCards,
                         ::testing::Values(OtherCardCase{"mifare", "ident", {"card=iso14443a", "UID=04A1B2C3"}},
                                           OtherCardCase{"iso14443a7", "transparent", {"card=iso14443a", "UID=04A1B2C3D4E580"}},
                                           OtherCardCase{"iso14443a10", "transparent", {"card=iso14443a", "UID=04A1B2C3D4E5F6071829"}},
                                           OtherCardCase{"random", "transparent", {"card=iso14443a", "UID=08A1B2C3", "random=yes"}},
                                           OtherCardCase{"iso14443b", "ident", {"card=iso14443b", "UID=1A2B3C4D"}},
                                           OtherCardCase{"iso15693", "transparent", {"card=iso15693", "UID=E004010012345678"}},
                                           OtherCardCase{"contact", "ident", {"card=contact"}}),
                         [](const auto& i) { return i.param.card; });

// A reader that puts the IDm in the ATR is a FeliCa reader: chosen over one with a MIFARE card.
TEST_F(Service, IdmInAtrBesideAMifareCard) {
  auto mifare = Place("transparent", "mifare", "none", 0);
  auto felica = Place("idm-atr", "standard", "none", 1);
  ExpectOutcome(Tool({"read", "--felica-number"}), Success({kIdm, kPmm, kNumber}));
}

// watch: one "found" per arrival, one "lost" per departure, nothing while a card stays.
struct WatchStep {
  std::string command;                 // for the virtual reader ("second ...": the one on "... 00 01"),
                                       // or "service stop" / "service start"
  std::vector<std::string> expected;   // the watch lines it causes, in order
};

struct WatchCase {
  const char* name;
  std::string dialect;
  std::vector<WatchStep> steps;
  std::vector<std::string> how = {"--reader", "00 00"};  // the reader choice: an option, or VARNELO_READER=...
};

const WatchCase kWatchCases[] = {
    {"ArrivalAndRemoval", "transparent",
     {{"place standard", {kFound + kIdm}}, {"remove", {"lost"}}, {"place other", {kFound + kOtherIdm}}, {"remove", {"lost"}}}},
    {"Replaced", "pn53x", {{"place standard", {kFound + kIdm}}, {"replace other", {"lost", kFound + kOtherIdm}}, {"remove", {"lost"}}}},
    {"CardThatStays", "ident", {{"place standard", {kFound + kIdm}}, {"state", {}}, {"remove", {"lost"}}}},
    // Without the service the card is out of reach; when it comes back, so does the card.
    {"ServiceRestarted", "transparent",
     {{"place standard", {kFound + kIdm}}, {"service stop", {"lost"}}, {"service start", {kFound + kIdm}}, {"remove", {"lost"}}}},
    // The reader reports "no such device" while listed: pcscd marks it unavailable, then takes it back.
    {"ReaderUnavailableAndBack", "transparent",
     {{"place standard", {kFound + kIdm}}, {"device gone", {"lost"}}, {"device back", {kFound + kIdm}}, {"remove", {"lost"}}}},
    {"ReaderUnavailableWithoutCard", "transparent",
     {{"device gone", {}}, {"device back", {}}, {"place standard", {kFound + kIdm}}, {"remove", {"lost"}}}},
    // Two readers, no choice made: a card on either is found, a FeliCa card first.
    {"CardOnTheSecondReader", "transparent",
     {{"second place other", {kFound + kOtherIdm}}, {"second remove", {"lost"}}, {"place standard", {kFound + kIdm}},
      {"second place other", {}}, {"remove", {"lost", kFound + kOtherIdm}}, {"second remove", {"lost"}}},
     {}},
    // A USB reader plugged in and pulled out ("usb ...": its virtual reader), watched by name:
    // plug-and-play wakes the watcher, the card on it is found, lost with it, and found again.
    {"UsbReaderPluggedAndPulled", "transparent",
     {{"usb place standard", {}}, {"plug", {kFound + kIdm}}, {"unplug", {"lost"}}, {"plug", {kFound + kIdm}},
      {"usb remove", {"lost"}}, {"unplug", {}}},
     {"--reader", kPluggedName}},
    {"OtherCards", "transparent", {{"place iso15693", {"found card=iso15693 UID=E004010012345678"}}, {"remove", {"lost"}}}},
    {"PinnedByEnvironment", "transparent",
     {{"place standard", {}}, {"second place other", {kFound + kOtherIdm}}, {"remove", {}}, {"second remove", {"lost"}}},
     {"VARNELO_READER=00 01"}},
};

void PrintTo(const WatchCase& c, std::ostream* os) { *os << c.name; }

class Watch : public ReaderTool, public ::testing::WithParamInterface<WatchCase> {};

TEST_P(Watch, OneLinePerEvent) {
  auto reader = Place(GetParam().dialect, "none");
  auto second = Place(GetParam().dialect, "none", "none", 1);
  // The USB reader's driver listens on the two ports after the defined readers' pair.
  VirtualReader usbCard(TheStack().port + 2, GetParam().dialect, "none");
  UsbReader usb(TheStack().port + 2);
  std::vector<std::string> argv{"/usr/bin/env"};
  for (const std::string& a : GetParam().how)
    if (a.starts_with("VARNELO_READER=")) argv.push_back(a);
  argv.insert(argv.end(), {VarneloReaderPath(), "watch"});
  for (const std::string& a : GetParam().how)
    if (!a.starts_with("VARNELO_READER=")) argv.push_back(a);
  Child watch(argv);
  // Nothing while no card is there, and nothing more than each step's lines.
  EXPECT_FALSE(watch.Next(Millis(1000))) << "a line without a card";
  for (const WatchStep& step : GetParam().steps) {
    if (step.command == "service stop") {
      TheStack().pcscd->Stop();
    } else if (step.command == "service start") {
      ASSERT_EQ(TheStack().pcscd->Start(TheStack().port), "");
    } else if (step.command.starts_with("second ")) {
      ASSERT_EQ(second->Do(step.command.substr(7)).substr(0, 2), "ok") << step.command;
    } else if (step.command.starts_with("usb ")) {
      ASSERT_EQ(usbCard.Do(step.command.substr(4)).substr(0, 2), "ok") << step.command;
    } else if (step.command == "plug" || step.command == "unplug") {
      ASSERT_EQ(step.command == "plug" ? usb.Plug() : usb.Unplug(), "");
      ASSERT_TRUE(WaitListed(kPluggedName, step.command == "plug", Millis(5000))) << step.command;
    } else {
      ASSERT_EQ(reader->Do(step.command).substr(0, 2), "ok") << step.command;
    }
    for (const std::string& line : step.expected) {
      std::optional<Child::Line> got = watch.Next(Millis(5000));
      ASSERT_TRUE(got) << "no \"" << line << "\" after " << step.command;
      EXPECT_EQ(got->text, line) << "after " << step.command;
    }
    // 1.5 s: longer than pcscd's look at a vpcd reader (0.4 s) and its pause after "no such device" (1 s).
    std::optional<Child::Line> extra = watch.Next(Millis(1500));
    EXPECT_FALSE(extra) << "unexpected \"" << extra->text << "\" after " << step.command;
  }
  EXPECT_NE(watch.Stop(SIGINT), 128 + SIGKILL) << "watch did not end on an interrupt";
}

INSTANTIATE_TEST_SUITE_P(Events, Watch, ::testing::ValuesIn(kWatchCases), [](const auto& i) { return i.param.name; });

// watch --csv: one line per arrival, local time with its offset, repeats marked, appended after
// what the file holds, every line there by the time its card is reported.
struct CsvCase {
  const char* name;
  std::optional<std::string> before;  // the file's content before the run; nothing: no file
  std::string opening;                // what the run writes before its first line
  const char* zone;                   // POSIX TZ rules, which need no time-zone database
  std::string offset;
};

const CsvCase kCsvCases[] = {
    {"NewFile", std::nullopt, "time,IDm,repeat\r\n", "JST-9", "+09:00"},
    {"AppendsToAList", "time,IDm,repeat\r\n2026-12-09T10:15:30+09:00,0114B35E9C2A7D46\r\n", "", "NST+3:30",
     "-03:30"},
    {"AfterALineCutShort", "time,IDm,repeat\r\n2026-12-09T10:15:30+09:00,0114B3", "\r\n", "UTC0", "+00:00"},
};

void PrintTo(const CsvCase& c, std::ostream* os) { *os << c.name; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Csv : public ReaderTool, public ::testing::WithParamInterface<CsvCase> {};

TEST_P(Csv, OneLinePerArrival) {
  const CsvCase& c = GetParam();
  const std::string path = TempDir() + "/cards-" + c.name + ".csv";
  const std::string before = c.before.value_or("");
  std::filesystem::remove(path);
  if (c.before) std::ofstream(path, std::ios::binary) << *c.before;
  auto reader = Place("transparent", "none");
  Child watch({"/usr/bin/env", std::string("TZ=") + c.zone, VarneloReaderPath(), "watch", "--csv", path, "--reader", "00 00"});
  const std::vector<std::pair<std::string, std::vector<std::string>>> steps = {
      {"place standard", {kFound + kIdm}}, {"replace other", {"lost", kFound + kOtherIdm}},
      {"remove", {"lost"}}, {"place standard", {kFound + kIdm}}};
  size_t lines = 0;
  for (const auto& [command, expected] : steps) {
    ASSERT_EQ(reader->Do(command).substr(0, 2), "ok") << command;
    for (const std::string& line : expected) {
      std::optional<Child::Line> got = watch.Next(Millis(5000));
      ASSERT_TRUE(got) << "no \"" << line << "\" after " << command;
      EXPECT_EQ(got->text, line);
      if (line.starts_with("found")) ++lines;
    }
    // The line is written (and pushed to the disk) before the card is reported.
    const std::string now = ReadFile(path);
    EXPECT_EQ(std::count(now.begin(), now.end(), '\n'),
              std::count(before.begin(), before.end(), '\n') + (c.opening.empty() ? 0 : 1) + static_cast<long>(lines))
        << "after " << command << ":\n" << now;
  }
  // Several looks of pcscd at the reader: a card that stays is listed once.
  std::optional<Child::Line> extra = watch.Next(Millis(1500));
  EXPECT_FALSE(extra) << "unexpected \"" << extra->text << "\"";
  EXPECT_EQ(watch.Stop(SIGINT), 0) << "watch --csv ends cleanly on an interrupt";

  const std::string text = ReadFile(path);
  const std::string head = before + c.opening;
  ASSERT_EQ(text.substr(0, head.size()), head) << "what the file held stays, then a whole line:\n" << text;
  const std::vector<std::string> rest = {",012E4C8A1B3D5F70,", ",0101020304050607,", ",012E4C8A1B3D5F70,repeat"};
  size_t at = head.size();
  for (const std::string& tail : rest) {
    const size_t lineEnd = text.find("\r\n", at);
    ASSERT_NE(lineEnd, std::string::npos) << text;
    const std::string line = text.substr(at, lineEnd - at);
    at = lineEnd + 2;
    ASSERT_GE(line.size(), 25u) << line;
    EXPECT_EQ(line[4], '-') << line;
    EXPECT_EQ(line[10], 'T') << line;
    EXPECT_EQ(line.substr(19, 6), c.offset) << "the offset of the zone the tool runs in: " << line;
    EXPECT_EQ(line.substr(25), tail);
  }
  EXPECT_EQ(at, text.size()) << "nothing after the last line:\n" << text;
}

INSTANTIATE_TEST_SUITE_P(List, Csv, ::testing::ValuesIn(kCsvCases), [](const auto& i) { return std::string(i.param.name); });

TEST(TypeOnLinux, SaysItCannotAndPointsAtWatch) {
  if (VarneloReaderPath().empty()) GTEST_SKIP() << "varnelo-reader is not built: set VARNELO_READER_TOOL";
  const Finished f = RunProgram({"/usr/bin/env", "LANG=C", VarneloReaderPath(), "type", "--then", "tab"}, Millis(5000));
  EXPECT_EQ(f.code, 1);
  EXPECT_NE(f.err.find("varnelo-reader watch"), std::string::npos) << f.err;
  EXPECT_EQ(f.out, "");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  unsetenv("VARNELO_READER");  // the tool's own reader choice: each case picks with --reader or not at all
  setenv("LC_ALL", "C", 1);     // the tool's texts in English, whatever the machine's language
  std::string why = EnterPrivateRunDir();
  if (why.empty()) why = EnterPrivateHotplug();
  if (!why.empty()) {
    std::fprintf(stderr, "pcsc_test: cannot isolate pcscd: %s\n", why.c_str());
    return 1;
  }
  Stack& s = TheStack();
  s.pcscd = std::make_unique<Pcscd>(TempDir() + "/pcscd");
  // Another run may take the free port pair between our look and pcscd's bind: try another.
  std::string started = "no free port pair";
  for (int attempt = 0; attempt < 3 && !started.empty(); ++attempt) started = s.pcscd->Start(s.port = FreePortPair());
  if (!started.empty()) {
    std::fprintf(stderr, "pcsc_test: %s\n", started.c_str());
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  s.pcscd.reset();
  umount("/sys");
  umount("/usr/lib/pcsc/drivers");
  umount("/run/pcscd");
  std::filesystem::remove_all(TempDir());
  return result;
}
