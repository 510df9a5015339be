#include "Reader.h"

#include <cstdlib>
#include <map>
#include <mutex>

namespace pcsc {
namespace {

constexpr size_t kResponseRoom = 1024;
constexpr int kMaxResponseFetches = 4;
// A polling with time slot 0 takes the card under 4 ms; a read of a few blocks a few more.
constexpr uint32_t kPollingTimeoutUs = 20000;
constexpr uint32_t kReadTimeoutUs = 100000;

std::mutex gDialectsMutex;
std::map<std::string, Dialect>& Dialects() {
  static auto* dialects = new std::map<std::string, Dialect>;
  return *dialects;
}

int Rank(const ReaderInfo& reader) {
  if (!reader.cardPresent)
    return 2;
  const AtrKind kind = ClassifyAtr(reader.atr);
  if (kind == AtrKind::Felica || kind == AtrKind::Pn53xFelica)
    return 0;
  return kind == AtrKind::ContactlessStorage ? 1 : 2;
}

// Whether a probe's fault only says "not this dialect" rather than that the card or reader failed.
bool NotThisDialect(Fault fault) {
  return fault == Fault::Refused || fault == Fault::Malformed || fault == Fault::Silent;
}

} // namespace

Fault ListReaders(const Table& table, Context context, std::vector<ReaderInfo>& readers) {
  std::vector<std::string> names;
  readers.clear();
  if (uint32_t rc = table.listReaders(context, &names); rc != kSuccess)
    return rc == kNoReadersAvailable ? Fault::NoReader : FaultFromPcsc(rc);
  if (names.empty())
    return Fault::NoReader;
  std::vector<ReaderState> states(names.size());
  for (size_t i = 0; i < names.size(); ++i)
    states[i].reader = names[i];
  // Unaware of any state, the service answers at once.
  const uint32_t rc = table.getStatusChange(context, 0, states.data(), states.size());
  if (rc != kSuccess && rc != kTimeout)
    return FaultFromPcsc(rc);
  for (const ReaderState& state : states) {
    ReaderInfo info;
    info.name = state.reader;
    info.cardPresent = (state.eventState & kStatePresent) && !(state.eventState & kStateMute);
    info.unavailable = state.eventState & (kStateUnavailable | kStateUnknown);
    if (info.cardPresent)
      info.atr = state.atr;
    readers.push_back(std::move(info));
  }
  return Fault::None;
}

int ChooseReader(const std::vector<ReaderInfo>& readers, const std::string& pin) {
  int best = -1;
  for (size_t i = 0; i < readers.size(); ++i) {
    if (readers[i].unavailable || (!pin.empty() && readers[i].name.find(pin) == std::string::npos))
      continue;
    if (best < 0 || Rank(readers[i]) < Rank(readers[static_cast<size_t>(best)]))
      best = static_cast<int>(i);
  }
  return best;
}

std::string ReaderPinFromEnvironment() {
  const char* pin = std::getenv(kReaderVariable);
  return pin ? pin : "";
}

Dialect RememberedDialect(const std::string& reader) {
  std::lock_guard<std::mutex> guard(gDialectsMutex);
  auto it = Dialects().find(reader);
  return it == Dialects().end() ? Dialect::Unknown : it->second;
}

void RememberDialect(const std::string& reader, Dialect dialect) {
  std::lock_guard<std::mutex> guard(gDialectsMutex);
  Dialects()[reader] = dialect;
}

void ForgetDialects() {
  std::lock_guard<std::mutex> guard(gDialectsMutex);
  Dialects().clear();
}

Traffic& GetTraffic() {
  static Traffic traffic;
  return traffic;
}

Session::Session(const Table& table, Context context, std::string reader, std::span<const uint8_t> atr)
    : table_(table), context_(context), reader_(std::move(reader)), atr_(atr.begin(), atr.end()) {}

Session::~Session() {
  EndSession();
  if (connected_)
    table_.disconnect(card_);
}

void Session::EndSession() {
  if (!sessionOpen_)
    return;
  sessionOpen_ = false;
  std::vector<uint8_t> ignored;
  Transmit(kEndSession, ignored);
}

Fault Session::Connect() {
  if (uint32_t rc = table_.connect(context_, reader_.c_str(), &card_, &protocol_); rc != kSuccess)
    return FaultFromPcsc(rc);
  connected_ = true;
  return Fault::None;
}

Fault Session::Transmit(std::span<const uint8_t> command, std::vector<uint8_t>& response) {
  if (command.empty())
    return Fault::BadArgument;
  std::vector<uint8_t> next(command.begin(), command.end());
  // Some readers answer 61 xx: the reply waits for a GET RESPONSE of xx bytes.
  for (int fetch = 0; fetch <= kMaxResponseFetches; ++fetch) {
    response.assign(kResponseRoom, 0);
    size_t length = response.size();
    Traffic& traffic = GetTraffic();
    ++traffic.commands;
    if (traffic.trace)
      traffic.trace(true, next);
    if (uint32_t rc = table_.transmit(card_, protocol_, next.data(), next.size(), response.data(), &length);
        rc != kSuccess)
      return FaultFromPcsc(rc);
    response.resize(std::min(length, response.size()));
    if (traffic.trace)
      traffic.trace(false, response);
    // Nothing at all, not even a status word: the card left during the command (a driver that
    // notices it itself fails the call instead).
    if (response.empty())
      return Fault::CardGone;
    if (response.size() != 2 || response[0] != 0x61)
      return Fault::None;
    next = {0xFF, 0xC0, 0x00, 0x00, response[1]};
  }
  return Fault::Malformed;
}

Fault Session::ReadIdm(Idm& idm) {
  std::vector<uint8_t> response;
  if (Fault fault = Transmit(kGetIdm, response); fault != Fault::None)
    return fault;
  return ParseIdentification(response, idm);
}

Fault Session::ReadPmm(Pmm& pmm) {
  std::vector<uint8_t> response;
  if (Fault fault = Transmit(kGetPmm, response); fault != Fault::None)
    return fault;
  return ParseIdentification(response, pmm);
}

Fault Session::Probe(Dialect candidate) {
  std::vector<uint8_t> response;
  Fault fault = Fault::None;
  switch (candidate) {
  case Dialect::Transparent:
    // Starting the session is the probe, and the session is then needed anyway.
    fault = Transmit(kStartSession, response);
    if (fault == Fault::None)
      fault = ParseSessionReply(response);
    if (fault != Fault::None)
      return fault;
    sessionOpen_ = true;
    // A reader that refuses the switch (some accept nothing but the transceive objects) still
    // speaks FeliCa to a card it activated as one.
    fault = Transmit(kSwitchToFelica, response);
    if (fault == Fault::None)
      fault = ParseSessionReply(response);
    return fault == Fault::Refused ? Fault::None : fault;
  case Dialect::Pn53x:
    fault = Transmit(kPn53xFirmware, response);
    return fault == Fault::None ? ParsePn53xFirmware(response) : fault;
  case Dialect::Pn53xBare: {
    // Any card answers a polling of FF FF; a reader of another family refuses the frame.
    fault = Transmit(BareExchange(PollingFrame(0xFFFF, 0, 0)), response);
    std::span<const uint8_t> frame;
    if (fault == Fault::None)
      fault = ParseBareExchange(response, frame);
    PollingReply reply;
    return fault == Fault::None ? ParsePollingReply(frame, reply) : fault;
  }
  default:
    return Fault::Refused;
  }
}

Fault Session::PrepareRaw(Dialect& dialect) {
  if (dialect_ != Dialect::Unknown) {
    dialect = dialect_;
    return Fault::None;
  }
  Dialect known = RememberedDialect(reader_);
  if (known == Dialect::Transparent) {
    // Starting the session checks the remembered dialect too; a refusal means probing afresh.
    const Fault fault = Probe(Dialect::Transparent);
    if (fault != Fault::None && !NotThisDialect(fault))
      return fault;
    if (fault != Fault::None) {
      EndSession();
      known = Dialect::Unknown;
    }
  }
  if (known == Dialect::Unknown) {
    // The ATR orders the candidates; a caller that chose the reader without one asks now.
    if (atr_.empty())
      table_.status(card_, &atr_);
    known = Dialect::IdentificationOnly;
    bool certain = true;
    for (Dialect candidate : DialectCandidates(ClassifyAtr(atr_))) {
      const Fault fault = Probe(candidate);
      if (fault == Fault::None) {
        known = candidate;
        certain = true;
        break;
      }
      EndSession();
      if (!NotThisDialect(fault))
        return fault;
      // A card that kept quiet says nothing about the reader: decide again next time.
      certain = certain && fault != Fault::Silent;
    }
    if (certain)
      RememberDialect(reader_, known);
  }
  dialect = dialect_ = known;
  return Fault::None;
}

Fault Session::Poll(uint16_t systemCode, PollingReply& reply) {
  Dialect dialect;
  if (Fault fault = PrepareRaw(dialect); fault != Fault::None)
    return fault;
  std::vector<uint8_t> frame = PollingFrame(systemCode, 1, 0);
  if (dialect == Dialect::Pn53x) {
    std::vector<uint8_t> response;
    if (Fault fault = Transmit(Pn53xPolling(systemCode, 1), response); fault != Fault::None)
      return fault;
    std::span<const uint8_t> replyFrame;
    if (Fault fault = ParsePn53xPolling(response, replyFrame); fault != Fault::None)
      return fault;
    return ParsePollingReply(replyFrame, reply);
  }
  std::vector<uint8_t> replyFrame;
  if (Fault fault = Exchange(frame, kPollingTimeoutUs, replyFrame); fault != Fault::None)
    return fault;
  return ParsePollingReply(replyFrame, reply);
}

Fault Session::Exchange(std::span<const uint8_t> frame, uint32_t timeoutMicroseconds, std::vector<uint8_t>& reply) {
  Dialect dialect;
  if (Fault fault = PrepareRaw(dialect); fault != Fault::None)
    return fault;
  std::vector<uint8_t> command;
  Fault (*parse)(std::span<const uint8_t>, std::span<const uint8_t>&) = nullptr;
  switch (dialect) {
  case Dialect::Transparent:
    command = TransparentTransceive(frame, timeoutMicroseconds);
    parse = ParseTransparentReply;
    break;
  case Dialect::Pn53x:
    command = Pn53xExchange(frame);
    parse = ParsePn53xExchange;
    break;
  case Dialect::Pn53xBare:
    command = BareExchange(frame);
    parse = ParseBareExchange;
    break;
  default:
    return Fault::NoRawChannel;
  }
  std::vector<uint8_t> response;
  if (Fault fault = Transmit(command, response); fault != Fault::None)
    return fault;
  std::span<const uint8_t> replyFrame;
  if (Fault fault = parse(response, replyFrame); fault != Fault::None)
    return fault;
  reply.assign(replyFrame.begin(), replyFrame.end());
  return Fault::None;
}

Fault Session::ReadBlocks(const Idm& idm, std::span<const uint8_t> services, std::span<const uint8_t> blocks,
                          ReadReply& reply) {
  std::vector<uint8_t> frame;
  if (Fault fault = ReadFrame(idm, services, blocks, frame); fault != Fault::None)
    return fault;
  std::vector<uint8_t> replyFrame;
  if (Fault fault = Exchange(frame, kReadTimeoutUs, replyFrame); fault != Fault::None)
    return fault;
  return ParseReadReply(replyFrame, idm, CountBlockElements(blocks), reply);
}

} // namespace pcsc
