#include "FakePcsc.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace fake {
namespace {

using Lock = std::unique_lock<std::mutex>;
using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<std::span<const uint8_t>> parts) {
  Bytes out;
  for (auto part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

const Bytes kOk{0x90, 0x00};
const Bytes kUnsupported{0x6A, 0x81};

// The card's answer to one frame, or nothing when it keeps quiet.
std::optional<Bytes> Answer(const Card& card, std::span<const uint8_t> frame) {
  if (!card.felica || frame.size() < 2 || frame[0] != frame.size())
    return std::nullopt;
  if (frame[1] == 0x00 && frame.size() == 6) {
    const uint16_t system = static_cast<uint16_t>(frame[2] << 8 | frame[3]);
    const Bytes* idm = system == 0xFFFF ? &card.idm : system == 0xFE00 ? &card.commonIdm : nullptr;
    if (!idm || idm->empty())
      return std::nullopt;
    Bytes reply = Cat({Bytes{0x00, 0x01}, *idm, card.pmm});
    if (frame[4] == 1)
      reply.insert(reply.end(), {frame[2], frame[3]});
    reply[0] = static_cast<uint8_t>(reply.size());
    return reply;
  }
  if (frame[1] == 0x06 && frame.size() >= 16) {
    const bool forCommon = !card.commonIdm.empty() && std::equal(frame.begin() + 2, frame.begin() + 10, card.commonIdm.begin());
    const bool forZero = std::equal(frame.begin() + 2, frame.begin() + 10, card.idm.begin());
    if (!forCommon && !forZero)
      return std::nullopt;
    const Bytes& idm = forCommon ? card.commonIdm : card.idm;
    const bool found = forCommon && !card.numberBlock.empty() && frame[10] == 1 && frame[11] == 0xCB && frame[12] == 0x33;
    Bytes reply = Cat({Bytes{0x00, 0x07}, idm, found ? Bytes{0x00, 0x00, 0x01} : Bytes{0x01, 0xA6}});
    if (found)
      reply.insert(reply.end(), card.numberBlock.begin(), card.numberBlock.end());
    reply[0] = static_cast<uint8_t>(reply.size());
    return reply;
  }
  return std::nullopt;
}

// A read of system 0, the card a storage-card reader activated: its frame's reply.
std::optional<Bytes> ReadSystemZero(const Card& card, std::span<const uint8_t> services, std::span<const uint8_t> blocks) {
  Bytes frame = Cat({Bytes{0x00, 0x06}, card.idm, Bytes{static_cast<uint8_t>(services.size() / 2)}, services,
                     Bytes{static_cast<uint8_t>(blocks.size() / 2)}, blocks});
  frame[0] = static_cast<uint8_t>(frame.size());
  return Answer(card, frame);
}

// The pseudo-APDU and storage-card dialects: their own APDUs, no frames.
std::optional<Bytes> OwnApdus(const Card& card, std::span<const uint8_t> apdu) {
  const auto data = apdu.subspan(5);
  const uint8_t ins = apdu[1];
  if (card.dialect == Dialect::Pseudo && ins == 0x40 && data.size() == 4) {
    auto reply = Answer(card, Bytes{0x06, 0x00, data[0], data[1], data[2], data[3]});
    if (!reply)
      return Bytes{0x64, 0x01};
    card.activated.assign(reply->begin() + 2, reply->begin() + 10);
    return Cat({std::span<const uint8_t>(*reply).subspan(2), kOk});
  }
  if (card.dialect == Dialect::Pseudo && ins == 0x46 && data.size() == 2u * (apdu[2] + apdu[3])) {
    // Addressed to the card the reader polled last.
    const auto services = data.first(2u * apdu[2]), blocks = data.subspan(2u * apdu[2]);
    Bytes frame = Cat({Bytes{0x00, 0x06}, card.activated, Bytes{apdu[2]}, services, Bytes{apdu[3]}, blocks});
    frame[0] = static_cast<uint8_t>(frame.size());
    auto reply = Answer(card, frame);
    return reply ? Cat({std::span<const uint8_t>(*reply).subspan(2), kOk}) : Bytes{0x64, 0x01};
  }
  if (card.dialect == Dialect::StorageLists && ins == 0xB0 && data.size() >= 4) {
    const size_t services = data[0];
    if (data.size() < 2 + 2 * services || data.size() != 2 + 2 * services + 2u * data[1 + 2 * services])
      return Bytes{0x67, 0x00};
    auto reply = ReadSystemZero(card, data.subspan(1, 2 * services), data.subspan(2 + 2 * services));
    if (!reply)
      return Bytes{0x64, 0x01};
    if ((*reply)[10] != 0 || (*reply)[11] != 0)
      return Bytes{(*reply)[10], (*reply)[11]};
    return Cat({std::span<const uint8_t>(*reply).subspan(13), kOk});
  }
  if (card.dialect == Dialect::StorageSelect && ins == 0xA4 && data.size() == 2) {
    const uint8_t block[] = {0x80, 0x00};
    auto reply = ReadSystemZero(card, data, block);
    return reply && (*reply)[10] == 0 ? kOk : Bytes{0x6A, 0x82};
  }
  return std::nullopt;
}

Bytes Transmit(const Card& card, std::span<const uint8_t> apdu) {
  if (card.dialect == Dialect::Garbage)
    return {0x12, 0x34, 0x56, 0x90, 0x00};
  if (apdu.size() == 5 && apdu[0] == 0xFF && apdu[1] == 0xCA) {
    if (apdu[2] == 0x00)
      return Cat({card.idm, kOk});
    return apdu[2] == 0x01 && !card.pmmRefused ? Cat({card.pmm, kOk}) : kUnsupported;
  }
  if (card.dialect == Dialect::StorageSelect && apdu.size() == 5 && apdu[0] == 0xFF && apdu[1] == 0xB0 &&
      apdu[4] == 0x10) {
    // The block of the service selected last: the fake knows only 33CB's block 0.
    const uint8_t block[] = {0x80, apdu[3]}, service[] = {0xCB, 0x33};
    auto reply = ReadSystemZero(card, service, block);
    return reply && (*reply)[10] == 0 ? Cat({std::span<const uint8_t>(*reply).subspan(13), kOk}) : Bytes{0x6A, 0x82};
  }
  if (apdu.size() < 5 || apdu[0] != 0xFF || apdu.size() != 5u + apdu[4])
    return kUnsupported;
  const auto data = apdu.subspan(5);
  if (card.dialect == Dialect::Transparent && apdu[1] == 0xC2) {
    const Bytes status{0xC0, 0x03, 0x00, 0x90, 0x00};
    if (apdu[3] == 0x02 && card.switchRefused)
      return Cat({Bytes{0xC0, 0x03, 0x01, 0x6A, 0x81}, kOk});
    if (apdu[3] != 0x01)
      return Cat({status, kOk});
    // 5F 46 04 t t t t 95 L frame
    if (data.size() < 9 || data[7] != 0x95 || data[8] != data.size() - 9)
      return kUnsupported;
    auto reply = Answer(card, data.subspan(9));
    if (!reply)
      return Cat({Bytes{0xC0, 0x03, 0x01, 0x64, 0x01}, kOk});
    return Cat({status, Bytes{0x92, 0x01, 0x00, 0x96, 0x02, 0x00, 0x00, 0x97, static_cast<uint8_t>(reply->size())},
                *reply, kOk});
  }
  if (card.dialect == Dialect::Pn53x && apdu[1] == 0x00 && data.size() >= 2 && data[0] == 0xD4) {
    if (data[1] == 0x02)
      return Cat({Bytes{0xD5, 0x03, 0x32, 0x01, 0x06, 0x07}, kOk});
    if (data[1] == 0x4A && data.size() == 9) {
      const Bytes frame{0x06, 0x00, data[5], data[6], data[7], data[8]};
      auto reply = Answer(card, frame);
      return reply ? Cat({Bytes{0xD5, 0x4B, 0x01, 0x01}, *reply, kOk}) : Cat({Bytes{0xD5, 0x4B, 0x00}, kOk});
    }
    if (data[1] == 0x40 && data.size() > 3) {
      auto reply = Answer(card, data.subspan(3));
      return reply ? Cat({Bytes{0xD5, 0x41, 0x00}, *reply, kOk}) : Cat({Bytes{0xD5, 0x41, 0x01}, kOk});
    }
  }
  if (auto own = OwnApdus(card, apdu))
    return *own;
  if (card.dialect == Dialect::Bare && apdu[1] == 0x00 && !data.empty() && data[0] != 0xD4) {
    auto reply = Answer(card, data);
    return reply ? Cat({*reply, kOk}) : Bytes{0x64, 0x01};
  }
  return kUnsupported;
}

// Takes an injected failure for this call, if any; counts the call.
uint32_t Enter(Service& s, Call call) {
  ++s.calls[call];
  if (!s.running && call != kRelease && call != kCancel)
    return pcsc::kNoService;
  return std::exchange(s.failNext[call], 0);
}

bool HasReader(const Service& s, const std::string& name) {
  return std::find(s.readers.begin(), s.readers.end(), name) != s.readers.end();
}

uint32_t StateOf(const Service& s, const std::string& reader) {
  if (reader == pcsc::kPnpNotification)
    return static_cast<uint32_t>(s.readers.size()) << 16;
  auto counter = s.counters.find(reader);
  const uint32_t events = counter == s.counters.end() ? 0 : counter->second;
  return events << 16 | (s.cards.count(reader) ? pcsc::kStatePresent : pcsc::kStateEmpty);
}

uint32_t FakeEstablish(pcsc::Context* context) {
  Service& s = GetService();
  Lock lock(s.mutex);
  if (uint32_t rc = Enter(s, kEstablish))
    return rc;
  ++s.openContexts;
  *context = 0x1000 + s.calls[kEstablish];
  return pcsc::kSuccess;
}

uint32_t FakeRelease(pcsc::Context) {
  Service& s = GetService();
  Lock lock(s.mutex);
  Enter(s, kRelease);
  --s.openContexts;
  return pcsc::kSuccess;
}

uint32_t FakeList(pcsc::Context, std::vector<std::string>* readers) {
  Service& s = GetService();
  Lock lock(s.mutex);
  if (uint32_t rc = Enter(s, kList))
    return rc;
  *readers = s.readers;
  return readers->empty() ? pcsc::kNoReadersAvailable : pcsc::kSuccess;
}

uint32_t FakeStatusChange(pcsc::Context, uint32_t timeoutMs, pcsc::ReaderState* states, size_t count) {
  Service& s = GetService();
  if (s.beforeWait)
    s.beforeWait(timeoutMs);
  Lock lock(s.mutex);
  if (uint32_t rc = Enter(s, kStatusChange))
    return rc;
  const unsigned generation = s.cancelGeneration;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (!s.running)
      return pcsc::kNoService;
    bool anyChange = false;
    for (size_t i = 0; i < count; ++i) {
      const std::string& reader = states[i].reader;
      if (reader != pcsc::kPnpNotification && !HasReader(s, reader))
        return pcsc::kUnknownReader;
      const uint32_t now = StateOf(s, reader);
      const bool differs = now != (states[i].currentState & ~pcsc::kStateChanged);
      states[i].eventState = now | (differs ? pcsc::kStateChanged : 0);
      auto card = s.cards.find(reader);
      states[i].atr = card == s.cards.end() ? std::vector<uint8_t>{} : card->second.atr;
      anyChange = anyChange || differs;
    }
    if (anyChange || !s.waitBlocks)
      return pcsc::kSuccess;
    if (s.cancelGeneration != generation)
      return pcsc::kCancelled;
    if (s.changed.wait_until(lock, deadline) == std::cv_status::timeout)
      return pcsc::kTimeout;
  }
}

uint32_t FakeCancel(pcsc::Context) {
  Service& s = GetService();
  Lock lock(s.mutex);
  Enter(s, kCancel);
  ++s.cancelGeneration;
  s.changed.notify_all();
  return pcsc::kSuccess;
}

uint32_t FakeConnect(pcsc::Context, const char* reader, pcsc::Card* card, uint32_t* protocol) {
  Service& s = GetService();
  Lock lock(s.mutex);
  if (uint32_t rc = Enter(s, kConnect))
    return rc;
  if (!HasReader(s, reader))
    return pcsc::kUnknownReader;
  if (!s.cards.count(reader))
    return pcsc::kNoSmartcard;
  ++s.openCards;
  s.cards.find(reader)->second.activated = s.cards.find(reader)->second.idm;
  *card = reinterpret_cast<pcsc::Card>(&*s.cards.find(reader));
  *protocol = 2;
  return pcsc::kSuccess;
}

// A direct handle names the reader; the card, if any, is looked up at each call.
std::map<pcsc::Card, std::string> gDirect;

uint32_t FakeDisconnect(pcsc::Card card) {
  Service& s = GetService();
  Lock lock(s.mutex);
  Enter(s, kDisconnect);
  gDirect.erase(card);
  --s.openCards;
  return pcsc::kSuccess;
}

const Card* Connected(Service& s, pcsc::Card card) {
  for (auto& entry : s.cards)
    if (reinterpret_cast<pcsc::Card>(&entry) == card)
      return &entry.second;
  return nullptr;
}

uint32_t FakeStatus(pcsc::Card handle, std::vector<uint8_t>* atr) {
  Service& s = GetService();
  Lock lock(s.mutex);
  if (uint32_t rc = Enter(s, kStatus))
    return rc;
  const Card* card = Connected(s, handle);
  if (!card)
    return pcsc::kRemovedCard;
  *atr = card->atr;
  return pcsc::kSuccess;
}

uint32_t FakeTransmit(pcsc::Card handle, uint32_t, const uint8_t* send, size_t sendLength, uint8_t* receive,
                      size_t* receiveLength) {
  Service& s = GetService();
  Lock lock(s.mutex);
  s.sent.emplace_back(send, send + sendLength);
  if (uint32_t rc = Enter(s, kTransmit))
    return rc;
  const Card* card = Connected(s, handle);
  if (!card)
    return gDirect.count(handle) ? pcsc::kNoSmartcard : pcsc::kRemovedCard;
  if (static_cast<int>(s.calls[kTransmit]) - 1 == s.emptyReplyAt) {
    *receiveLength = 0;
    return pcsc::kSuccess;
  }
  const Bytes reply = Transmit(*card, {send, sendLength});
  if (reply.size() > *receiveLength)
    return pcsc::kInsufficientBuffer;
  std::copy(reply.begin(), reply.end(), receive);
  *receiveLength = reply.size();
  return pcsc::kSuccess;
}

uint32_t FakeConnectDirect(pcsc::Context, const char* reader, pcsc::Card* card) {
  Service& s = GetService();
  Lock lock(s.mutex);
  if (uint32_t rc = Enter(s, kConnectDirect))
    return rc;
  if (!HasReader(s, reader))
    return pcsc::kUnknownReader;
  ++s.openCards;
  *card = 0x10000 + s.calls[kConnectDirect];
  gDirect[*card] = reader;
  return pcsc::kSuccess;
}

// The data field of a short or extended command APDU.
std::optional<Bytes> ApduData(std::span<const uint8_t> apdu) {
  if (apdu.size() >= 7 && apdu[4] == 0x00) {
    const size_t lc = static_cast<size_t>(apdu[5] << 8 | apdu[6]);
    if (apdu.size() == 7 + lc || apdu.size() == 9 + lc)
      return Bytes(apdu.begin() + 7, apdu.begin() + 7 + static_cast<long>(lc));
  }
  if (apdu.size() >= 5 && (apdu.size() == 5u + apdu[4] || apdu.size() == 6u + apdu[4]))
    return Bytes(apdu.begin() + 5, apdu.begin() + 5 + apdu[4]);
  return std::nullopt;
}

// The 95 object's frame, its length in any BER form.
std::optional<Bytes> TransceiveFrame(const Bytes& objects) {
  for (size_t i = 0; i < objects.size();) {
    uint16_t tag = objects[i++];
    if ((tag & 0x1F) == 0x1F && i < objects.size())
      tag = static_cast<uint16_t>(tag << 8 | objects[i++]);
    if (i >= objects.size())
      return std::nullopt;
    size_t length = objects[i++];
    if (length & 0x80) {
      const size_t bytes = length & 0x7F;
      length = 0;
      for (size_t k = 0; k < bytes && i < objects.size(); ++k)
        length = length << 8 | objects[i++];
    }
    if (i + length > objects.size())
      return std::nullopt;
    if (tag == 0x95)
      return Bytes(objects.begin() + static_cast<long>(i), objects.begin() + static_cast<long>(i + length));
    i += length;
  }
  return std::nullopt;
}

// The escape channel's transparent session; 97 in long form, as some readers send it.
Bytes EscapeCommand(const Card* card, std::span<const uint8_t> apdu) {
  const Bytes status{0xC0, 0x03, 0x00, 0x90, 0x00};
  auto data = ApduData(apdu);
  if (apdu.size() < 4 || apdu[0] != 0xFF || (apdu[1] != 0xC2 && apdu[1] != 0x50) || !data)
    return Bytes{0x6A, 0x81};
  if (card && card->escapeInstruction && apdu[1] != card->escapeInstruction)
    return Bytes{0x6D, 0x00};
  if (apdu[3] != 0x01)
    return Cat({status, kOk});
  auto frame = TransceiveFrame(*data);
  if (!frame)
    return Cat({Bytes{0xC0, 0x03, 0x01, 0x6A, 0x80}, kOk});
  std::optional<Bytes> reply = card ? Answer(*card, *frame) : std::nullopt;
  if (!reply) // no card in the field: no 97 object
    return Cat({status, kOk});
  return Cat({status, Bytes{0x97, 0x82, 0x00, static_cast<uint8_t>(reply->size())}, *reply, kOk});
}

uint32_t FakeControl(pcsc::Card handle, uint32_t code, const uint8_t* send, size_t sendLength, uint8_t* receive,
                     size_t* receiveLength) {
  Service& s = GetService();
  Lock lock(s.mutex);
  s.sent.emplace_back(send, send + sendLength);
  s.controlCodes.push_back(code);
  if (uint32_t rc = Enter(s, kControl))
    return rc;
  const Card* card = Connected(s, handle);
  auto direct = gDirect.find(handle);
  if (!card && direct != gDirect.end()) {
    if (!HasReader(s, direct->second))
      return pcsc::kReaderUnavailable;
    auto placed = s.cards.find(direct->second);
    card = placed == s.cards.end() ? nullptr : &placed->second;
    // Without a card the reader is assumed to be of the escape family, escape enabled.
  } else if (!card) {
    return pcsc::kRemovedCard;
  }
  const bool escapeFamily = !card || card->dialect == Dialect::Escape;
  const bool refused = card && card->escapeRefused;
  Bytes reply;
  if (code == 0x42000D48 && escapeFamily) {
    reply = {0x12, 0x04, 0x42, 0x33, 0x00, 0x12}; // the TLV properties feature
    if (!refused)
      reply.insert(reply.end(), {0x13, 0x04, 0x42, 0x00, 0x00, 0x01});
  } else if ((code == kEscapeCode || code == 0x42000DAC) && escapeFamily) {
    if (refused)
      return pcsc::kNotTransacted;
    reply = EscapeCommand(card, {send, sendLength});
  } else {
    return pcsc::kUnsupportedFeature;
  }
  if (reply.size() > *receiveLength)
    return pcsc::kInsufficientBuffer;
  std::copy(reply.begin(), reply.end(), receive);
  *receiveLength = reply.size();
  return pcsc::kSuccess;
}

constexpr pcsc::Table kTable{FakeEstablish, FakeRelease, FakeList,     FakeStatusChange,  FakeCancel, FakeConnect,
                             FakeDisconnect, FakeStatus, FakeTransmit, FakeConnectDirect, FakeControl};

} // namespace

std::vector<uint8_t> FelicaAtr() {
  return {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06, 0x11, 0x00, 0x3B, 0, 0, 0, 0, 0x42};
}

std::vector<uint8_t> Pn53xAtr() {
  return {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06, 0x03, 0xF0, 0x11, 0, 0, 0, 0, 0x8A};
}

Card StandardCard(Dialect dialect, uint8_t last) {
  Card card;
  card.dialect = dialect;
  card.atr = dialect == Dialect::Pn53x || dialect == Dialect::Bare ? Pn53xAtr() : FelicaAtr();
  card.activated = card.idm;
  card.idm = {0x01, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, last};
  card.commonIdm = {0x11, 0x2E, 0x4C, 0x8A, 0x1B, 0x3D, 0x5F, last};
  card.pmm = {0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF};
  card.numberBlock = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0, 0, 0, 0, 0, 0, 0x01, 0x01};
  return card;
}

Card OtherCard(bool iso15693, std::vector<uint8_t> uid) {
  Card card;
  card.felica = false;
  card.atr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06, 0x03, 0x00, 0x01, 0, 0, 0, 0, 0x6A};
  if (iso15693) {
    card.atr[12] = 0x0B; // the standard byte, and the TCK with it
    card.atr[19] = 0x62;
  }
  card.idm = std::move(uid);
  return card;
}

Service& GetService() {
  static auto* service = new Service;
  return *service;
}

void Reset() {
  Service& s = GetService();
  Lock lock(s.mutex);
  s.readers.clear();
  s.cards.clear();
  s.counters.clear();
  s.running = true;
  s.waitBlocks = true;
  std::fill(std::begin(s.failNext), std::end(s.failNext), 0);
  std::fill(std::begin(s.calls), std::end(s.calls), 0);
  s.openContexts = s.openCards = 0;
  s.emptyReplyAt = -1;
  s.sent.clear();
  s.controlCodes.clear();
  s.beforeWait = nullptr;
  gDirect.clear();
  s.changed.notify_all();
}

void AddReader(const std::string& name) {
  Service& s = GetService();
  Lock lock(s.mutex);
  s.readers.push_back(name);
  s.changed.notify_all();
}

void RemoveReader(const std::string& name) {
  Service& s = GetService();
  Lock lock(s.mutex);
  s.readers.erase(std::remove(s.readers.begin(), s.readers.end(), name), s.readers.end());
  s.cards.erase(name);
  s.changed.notify_all();
}

void PlaceCard(const std::string& reader, const Card& card) {
  Service& s = GetService();
  Lock lock(s.mutex);
  s.cards[reader] = card;
  ++s.counters[reader];
  s.changed.notify_all();
}

void RemoveCard(const std::string& reader) {
  Service& s = GetService();
  Lock lock(s.mutex);
  if (s.cards.erase(reader))
    ++s.counters[reader];
  s.changed.notify_all();
}

void FailNext(Call call, uint32_t code) {
  Service& s = GetService();
  Lock lock(s.mutex);
  s.failNext[call] = code;
}

const pcsc::Table& Table() { return kTable; }

} // namespace fake
