#include "Reader.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

namespace pcsc {
namespace {

constexpr size_t kResponseRoom = 1024;
constexpr int kMaxResponseFetches = 4;

struct Found {
  Dialect dialect;
  bool escapeDisabled;
  uint32_t escapeCode; // the control code that passed escape commands, 0: none found
};
std::mutex gDialectsMutex;
std::map<std::string, Found>& Dialects() {
  static auto* dialects = new std::map<std::string, Found>;
  return *dialects;
}

int Rank(const ReaderInfo& reader) {
  if (!reader.cardPresent)
    return 2;
  const CardKind kind = ReadAtr(reader.atr).kind;
  if (kind == CardKind::Felica)
    return 0;
  return kind == CardKind::Iso14443A || kind == CardKind::Iso14443B || kind == CardKind::Iso15693 ? 1 : 2;
}

// Whether a fault says the card, reader or service failed, rather than what the card is not.
bool Hard(Fault fault) {
  return fault == Fault::NoService || fault == Fault::NoReader || fault == Fault::ReaderGone ||
         fault == Fault::ReaderBusy || fault == Fault::NoCard || fault == Fault::CardGone || fault == Fault::OutOfMemory;
}

constexpr size_t kMaxUid = 16;

// Whether a probe's fault only says "not this dialect" rather than that the card or reader failed.
bool NotThisDialect(Fault fault) {
  return fault == Fault::Refused || fault == Fault::Malformed || fault == Fault::Silent ||
         fault == Fault::EscapeRefused;
}

// A control code the driver does not take, as opposed to a card, reader or service that failed.
bool ControlRefused(uint32_t rc) {
  const Fault fault = FaultFromPcsc(rc);
  return rc == kInvalidFunction || fault == Fault::NoReply || fault == Fault::Refused;
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
  return it == Dialects().end() ? Dialect::Unknown : it->second.dialect;
}

void RememberDialect(const std::string& reader, Dialect dialect, bool escapeDisabled, uint32_t escapeCode) {
  std::lock_guard<std::mutex> guard(gDialectsMutex);
  Dialects()[reader] = {dialect, escapeDisabled, escapeCode};
}

namespace {
Found RememberedFinding(const std::string& reader) {
  std::lock_guard<std::mutex> guard(gDialectsMutex);
  auto it = Dialects().find(reader);
  return it == Dialects().end() ? Found{Dialect::Unknown, false, 0} : it->second;
}

bool UsesEscape(Dialect dialect) { return dialect == Dialect::EscapeSession || dialect == Dialect::EscapeSession50; }
} // namespace

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
  if (const Codec& codec = CodecFor(dialect_); codec.close)
    codec.close(*this);
}

Fault Session::Connect() {
  if (uint32_t rc = table_.connect(context_, reader_.c_str(), &card_, &protocol_); rc != kSuccess)
    return FaultFromPcsc(rc);
  connected_ = true;
  return Fault::None;
}

Fault Session::ConnectDirect() {
  if (!table_.connectDirect)
    return Fault::Refused;
  if (uint32_t rc = table_.connectDirect(context_, reader_.c_str(), &card_); rc != kSuccess)
    return FaultFromPcsc(rc);
  protocol_ = 0;
  connected_ = true;
  return Fault::None;
}

Fault Session::Control(uint32_t code, std::span<const uint8_t> command, std::vector<uint8_t>& response) {
  response.assign(kResponseRoom, 0);
  size_t length = response.size();
  Traffic& traffic = GetTraffic();
  ++traffic.commands;
  if (traffic.trace)
    traffic.trace(true, command);
  const uint32_t rc = table_.control(card_, code, command.data(), command.size(), response.data(), &length);
  if (rc != kSuccess) {
    response.clear();
    if (!ControlRefused(rc))
      return FaultFromPcsc(rc);
    escapeDisabled_ = escapeDisabled_ || rc == kInvalidFunction;
    return Fault::EscapeRefused;
  }
  response.resize(std::min(length, response.size()));
  if (traffic.trace)
    traffic.trace(false, response);
  return Fault::None;
}

// The escape code from the reader's feature list, else the standard one, in the first family of
// control codes that the service takes.
Fault Session::FindEscapeCodes() {
  escapeLooked_ = true;
  escapeCodes_.clear();
  for (auto family : ControlCodeFamilies()) {
    std::vector<uint8_t> list;
    const Fault fault = Control(family(kFeatureRequestFunction), {}, list);
    if (fault == Fault::EscapeRefused)
      continue;
    if (fault != Fault::None) {
      escapeLooked_ = false;
      return fault;
    }
    uint32_t code = 0;
    if (ParseFeatureList(list, kEscapeFeatureTag, code) == Fault::None && code != 0) {
      escapeCodes_.push_back(code);
    } else {
      // A driver that lists its features without the escape one has been told not to pass it.
      featureListWithoutEscape_ = true;
      escapeCodes_.push_back(family(kEscapeFunction));
    }
    return Fault::None;
  }
  for (auto family : ControlCodeFamilies())
    escapeCodes_.push_back(family(kEscapeFunction));
  return Fault::None;
}

bool Session::EscapeReader() const { return UsesEscape(RememberedDialect(reader_)); }

Fault Session::Escape(std::span<const uint8_t> command, std::vector<uint8_t>& response) {
  if (!table_.control || command.empty())
    return command.empty() ? Fault::BadArgument : Fault::EscapeRefused;
  if (!escapeLooked_)
    if (Fault fault = FindEscapeCodes(); fault != Fault::None)
      return fault;
  while (!escapeCodes_.empty()) {
    const Fault fault = Control(escapeCodes_.front(), command, response);
    if (fault != Fault::EscapeRefused) {
      // Nothing at all, as through transmit: the card left during the command.
      if (fault == Fault::None && response.empty())
        return Fault::CardGone;
      return fault;
    }
    escapeCodes_.erase(escapeCodes_.begin());
  }
  escapeDisabled_ = escapeDisabled_ || featureListWithoutEscape_;
  return Fault::EscapeRefused;
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

const AtrReading& Session::Atr() {
  // A caller that chose the reader without its ATR asks now.
  if (!atrRead_ && atr_.empty() && connected_)
    table_.status(card_, &atr_);
  if (!atrRead_)
    reading_ = ReadAtr(atr_);
  atrRead_ = true;
  return reading_;
}

Fault Session::Identify(CardId& card) {
  card = {Atr().kind, {}};
  if (card.kind == CardKind::Other) {
    PollingReply reply;
    const Fault fault = Poll(0xFFFF, reply);
    if (fault == Fault::None) {
      card = {CardKind::Felica, std::vector<uint8_t>(reply.idm.begin(), reply.idm.end())};
      return Fault::None;
    }
    if (Hard(fault))
      return fault;
  }
  if (card.kind == CardKind::Felica) {
    Idm idm;
    if (Fault fault = ReadIdm(idm); fault != Fault::None)
      return fault;
    card.id.assign(idm.begin(), idm.end());
  }
  if (card.kind == CardKind::Felica || card.kind == CardKind::Contact)
    return Fault::None;
  // Any other contactless card's own identifier, whatever its length.
  std::vector<uint8_t> response;
  if (Fault fault = Transmit(kGetIdm, response); fault != Fault::None)
    return fault;
  std::span<const uint8_t> data;
  if (CheckStatusWord(response, data) == Fault::None && !data.empty() && data.size() <= kMaxUid)
    card.id.assign(data.begin(), data.end());
  return Fault::None;
}

Fault Session::ReadIdm(Idm& idm) {
  std::vector<uint8_t> response;
  if (Fault fault = Transmit(kGetIdm, response); fault != Fault::None)
    return fault;
  Fault fault = ParseIdentification(response, idm);
  // A reader that puts the IDm into the ATR: the two agree, and the ATR's stands where it gives none.
  if (const std::optional<Idm>& inAtr = Atr().idm; inAtr && fault == Fault::Refused) {
    idm = *inAtr;
    fault = Fault::None;
  } else if (inAtr && fault == Fault::None && idm != *inAtr) {
    fault = Fault::Malformed;
  }
  if (fault != Fault::None)
    return fault;
  activated_ = true;
  activatedIdm_ = idm;
  activatedSystem_ = 0xFFFF;
  return Fault::None;
}

Fault Session::ReadPmm(Pmm& pmm) {
  std::vector<uint8_t> response;
  if (Fault fault = Transmit(kGetPmm, response); fault != Fault::None)
    return fault;
  return ParseIdentification(response, pmm);
}

Fault Session::PrepareRaw(Dialect& dialect) {
  if (dialect_ != Dialect::Unknown) {
    dialect = dialect_;
    return Fault::None;
  }
  const Found found = RememberedFinding(reader_);
  Dialect known = found.dialect;
  escapeDisabled_ = found.escapeDisabled;
  if (found.escapeCode != 0 && !escapeLooked_) {
    escapeLooked_ = true;
    escapeCodes_ = {found.escapeCode};
  }
  if (known != Dialect::Unknown && CodecFor(known).close) {
    // Starting the session checks the remembered dialect too; a refusal means probing afresh.
    const Fault fault = CodecFor(known).probe(*this);
    if (fault != Fault::None && !NotThisDialect(fault))
      return fault;
    if (fault != Fault::None) {
      known = Dialect::Unknown;
      escapeLooked_ = false;
    }
  }
  if (known == Dialect::Unknown) {
    // The ATR orders the candidates.
    known = Dialect::IdentificationOnly;
    bool certain = true;
    for (Dialect candidate : DialectCandidates(Atr().form)) {
      const Fault fault = CodecFor(candidate).probe(*this);
      if (fault == Fault::None) {
        known = candidate;
        certain = true;
        break;
      }
      if (!NotThisDialect(fault))
        return fault;
      // A card that kept quiet says nothing about the reader: decide again next time.
      certain = certain && fault != Fault::Silent;
    }
    // Only a reader left without any raw channel needs to be told about its escape setting.
    escapeDisabled_ = escapeDisabled_ && known == Dialect::IdentificationOnly;
    if (certain)
      RememberDialect(reader_, known, escapeDisabled_,
                      UsesEscape(known) && !escapeCodes_.empty() ? escapeCodes_.front() : 0);
  }
  sessionOpen_ = CodecFor(known).close != nullptr;
  dialect = dialect_ = known;
  return Fault::None;
}

Fault Session::Poll(uint16_t systemCode, PollingReply& reply) {
  // A card whose ATR names another type is asked nothing: it cannot answer.
  if (Atr().kind != CardKind::Felica && Atr().kind != CardKind::Other)
    return Fault::Silent;
  Dialect dialect;
  if (Fault fault = PrepareRaw(dialect); fault != Fault::None)
    return fault;
  const Codec& codec = CodecFor(dialect);
  if (Fault fault = codec.poll(codec, *this, systemCode, reply); fault != Fault::None)
    return fault;
  activated_ = true;
  activatedIdm_ = reply.idm;
  activatedSystem_ = systemCode;
  return Fault::None;
}

Fault Session::Exchange(std::span<const uint8_t> frame, uint32_t timeoutMicroseconds, std::vector<uint8_t>& reply) {
  Dialect dialect;
  if (Fault fault = PrepareRaw(dialect); fault != Fault::None)
    return fault;
  const Codec& codec = CodecFor(dialect);
  if (!codec.exchange)
    return Fault::NoRawChannel;
  return codec.exchange(*this, frame, timeoutMicroseconds, reply);
}

Fault Session::ReadBlocks(const Idm& idm, std::span<const uint8_t> services, std::span<const uint8_t> blocks,
                          ReadReply& reply, uint16_t system) {
  std::vector<uint8_t> frame;
  if (Fault fault = ReadFrame(idm, services, blocks, frame); fault != Fault::None)
    return fault;
  Dialect dialect;
  if (Fault fault = PrepareRaw(dialect); fault != Fault::None)
    return fault;
  ReadRequest request;
  request.idm = idm;
  request.activated = activated_ && activatedIdm_ == idm;
  request.system = request.activated ? activatedSystem_ : system;
  request.services = services;
  request.blocks = blocks;
  request.maxBlocks = CountBlockElements(blocks);
  const Codec& codec = CodecFor(dialect);
  return codec.read(codec, *this, request, reply);
}

Fault ReadFelicaNumber(Session& session, FelicaNumber& number, Operation& failed) {
  PollingReply common;
  failed = Operation::RawPolling;
  if (Fault fault = session.Poll(0xFE00, common); fault != Fault::None)
    return fault;
  static constexpr uint8_t kService[] = {0xCB, 0x33};
  static constexpr uint8_t kBlock[] = {0x80, 0x00};
  ReadReply block;
  failed = Operation::BlockRead;
  if (Fault fault = session.ReadBlocks(common.idm, kService, kBlock, block); fault != Fault::None)
    return fault;
  if (block.blocks.size() < number.size())
    return Fault::Malformed;
  std::copy_n(block.blocks.begin(), number.size(), number.begin());
  return Fault::None;
}

} // namespace pcsc
