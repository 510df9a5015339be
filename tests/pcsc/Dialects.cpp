#include "Dialects.h"

#include <algorithm>

namespace {

const Dialect kDialects[] = {
    {"transparent", Channel::Transparent, 0x11, 0x003B, true},
    {"pn53x", Channel::Pn53x, 0x03, 0xF011, false},
    {"bare", Channel::BareFrame, 0x03, 0xF011, true},
    {"ident", Channel::IdentOnly, 0x11, 0x003B, true},
    {"garbage", Channel::Garbage, 0x11, 0x003B, true},
    {"escape", Channel::Escape, 0x11, 0x003B, true},
    {"escape-c2", Channel::Escape, 0x11, 0x003B, true, false, 0xC2},
    {"escape-50", Channel::Escape, 0x11, 0x003B, true, false, 0x50},
    {"pseudo", Channel::Pseudo, 0x11, 0x003B, true},
    {"storage", Channel::StorageSelect, 0x11, 0x003B, true},
    {"storage-lists", Channel::StorageLists, 0x11, 0x003B, false},
    {"idm-atr", Channel::Pseudo, 0, 0, false, true},
    {"inbox", Channel::InboxNfc, 0x11, 0x003B, false},
};

const std::pair<const char*, Fault> kFaults[] = {
    {"none", Fault::None},           {"truncated", Fault::Truncated}, {"lying-length", Fault::LyingLength},
    {"wrong-code", Fault::WrongCode}, {"other-idm", Fault::OtherIdm},  {"mute", Fault::Mute},
    {"vanish", Fault::Vanish}, {"short-id", Fault::ShortId}, {"escape-refused", Fault::EscapeRefused},
};

const Bytes kOk{0x90, 0x00};
const Bytes kNotSupported{0x6A, 0x81};
const Bytes kNoInstruction{0x6D, 0x00};
const Bytes kNoClass{0x6E, 0x00};
const Bytes kFailed{0x63, 0x00};

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The card's answer to a frame with the fault applied; nothing when no answer reaches the reader.
std::optional<Bytes> CardAnswer(const VirtualCard& card, FaultSpec spec, const Bytes& frame) {
  const bool read = frame.size() > 1 && frame[1] == 0x06;
  if (spec.fault == Fault::Mute && read) return std::nullopt;
  std::optional<Bytes> answer = AnswerFrame(card, frame);
  if (!answer || (spec.command >= 0 && spec.command != frame[1])) return answer;
  Bytes& a = *answer;
  switch (spec.fault) {
    case Fault::Truncated:  // short, but its length byte agrees with what arrives
      a.resize(a.size() - 3);
      a[0] = static_cast<uint8_t>(a.size());
      break;
    case Fault::LyingLength:
      a[0] = static_cast<uint8_t>(a.size() + 4);
      break;
    case Fault::WrongCode:
      a[1] = static_cast<uint8_t>(a[1] + 2);
      break;
    case Fault::OtherIdm:
      if (read) {
        const Bytes stranger = ParseHex("01FEDCBA98765432");
        std::copy(stranger.begin(), stranger.end(), a.begin() + 2);
      }
      break;
    default:
      break;
  }
  return answer;
}

Bytes GetData(const Dialect& d, const VirtualCard& card, FaultSpec fault, uint8_t p1) {
  if (card.systems.empty()) return p1 == 0x00 && !card.uid.empty() ? Cat(card.uid, kOk) : kNotSupported;
  if (d.idmInAtr) return kNotSupported;
  if (p1 == 0x01 && !d.pmmByGetData) return kNotSupported;
  if (p1 > 0x01) return kNotSupported;
  Bytes value = p1 == 0 ? card.systems.front().idm : card.pmm;
  if (fault.fault == Fault::ShortId) value.resize(5);
  return Cat(value, kOk);
}

// BER-TLV objects of a transparent-session command: the tag and value of each in turn.
bool FindObject(const Bytes& data, uint16_t wanted, Bytes& value) {
  size_t at = 0;
  while (at < data.size()) {
    uint16_t tag = data[at++];
    if ((tag & 0x1F) == 0x1F) {
      if (at >= data.size()) return false;
      tag = static_cast<uint16_t>(tag << 8 | data[at++]);
    }
    if (at >= data.size()) return false;
    const size_t first = data[at++];
    if (first > 0x82 || first == 0x80) return false;
    size_t length = first < 0x80 ? first : 0;
    for (size_t extra = first > 0x80 ? first - 0x80 : 0; extra > 0; --extra) {  // 81 LL or 82 LL LL
      if (at >= data.size()) return false;
      length = length << 8 | data[at++];
    }
    if (at + length > data.size()) return false;
    if (tag == wanted) {
      value.assign(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + length));
      return true;
    }
    at += length;
  }
  return false;
}

const Bytes kSessionOk{0xC0, 0x03, 0x00, 0x90, 0x00};

std::optional<Bytes> Transparent(const Dialect& d, const VirtualCard& card, FaultSpec fault, uint8_t p2, const Bytes& data) {
  const bool inbox = d.channel == Channel::InboxNfc;
  if (inbox && p2 == 0x02) return Cat(Bytes{0xC0, 0x03, 0x00, 0x6A, 0x81}, kOk);  // no protocol switch
  if (p2 != 0x01) return Cat(kSessionOk, kOk);  // manage session, switch protocol
  Bytes frame, timer;
  if (!FindObject(data, 0x95, frame) || (inbox && !FindObject(data, 0x5F46, timer)))
    return Cat(Bytes{0xC0, 0x03, 0x01, 0x6A, 0x80}, kOk);
  if (inbox && frame.size() > 1 && frame[1] == 0x00) return Cat(Bytes{0xC0, 0x03, 0x01, 0x6A, 0x81}, kOk);
  if (fault.fault == Fault::Vanish && frame.size() > 1 && frame[1] == 0x06) return std::nullopt;
  std::optional<Bytes> answer = CardAnswer(card, fault, frame);
  if (!answer) return Cat(Bytes{0xC0, 0x03, 0x01, 0x64, 0x01}, kOk);
  Bytes r = Cat(kSessionOk, {0x92, 0x01, 0x00, 0x96, 0x02, 0x00, 0x00, 0x97, static_cast<uint8_t>(answer->size())});
  return Cat(Cat(r, *answer), kOk);
}

// The transparent session through the escape channel: the same objects under FF C2 or FF 50 (or
// only the one the dialect takes), with short or extended lengths. A card that does not answer (or
// is not there) leaves out the 97 object; the status word stays 90 00.
ControlReply Escape(const Dialect& d, const VirtualCard* card, FaultSpec fault, const Bytes& command) {
  ControlReply reply;
  if (command.size() < 4 || command[0] != 0xFF) return reply.data = kNoClass, reply;
  const bool taken = d.escapeOnly != 0 ? command[1] == d.escapeOnly : command[1] == 0xC2 || command[1] == 0x50;
  if (!taken) return reply.data = kNoInstruction, reply;
  size_t at = 4, lc = 0, le = 0;
  if (command.size() > 4) {
    const bool extended = command[4] == 0x00 && command.size() >= 7;
    lc = extended ? static_cast<size_t>(command[5] << 8 | command[6]) : command[4];
    at = extended ? 7 : 5;
    le = extended ? 2 : 1;
  }
  const size_t rest = command.size() - std::min(command.size(), at + lc);
  if (at + lc > command.size() || (rest != 0 && rest != le)) return reply.data = Bytes{0x67, 0x00}, reply;
  const Bytes data(command.begin() + static_cast<long>(at), command.begin() + static_cast<long>(at + lc));
  if (command[3] != 0x01) return reply.data = Cat(kSessionOk, kOk), reply;
  Bytes frame;
  if (!FindObject(data, 0x95, frame)) return reply.data = Cat(Bytes{0xC0, 0x03, 0x01, 0x6A, 0x80}, kOk), reply;
  const Bytes header = Cat(kSessionOk, {0x92, 0x01, 0x00, 0x96, 0x02, 0x00, 0x00});
  reply.vanished = card != nullptr && fault.fault == Fault::Vanish && frame.size() > 1 && frame[1] == 0x06;
  std::optional<Bytes> answer = card != nullptr && !reply.vanished ? CardAnswer(*card, fault, frame) : std::nullopt;
  if (!answer) return reply.data = Cat(header, kOk), reply;
  Bytes object{0x97};
  if (answer->size() > 0x7F) object.push_back(0x81);
  object.push_back(static_cast<uint8_t>(answer->size()));
  reply.data = Cat(Cat(Cat(header, object), *answer), kOk);
  return reply;
}

// PN53x commands inside FF 00 00 00: firmware version, InListPassiveTarget, InDataExchange.
std::optional<Bytes> Pn53x(const VirtualCard& card, FaultSpec fault, const Bytes& data) {
  if (data.size() < 2 || data[0] != 0xD4) return kFailed;
  if (data[1] == 0x02) return Bytes{0xD5, 0x03, 0x32, 0x01, 0x06, 0x07, 0x90, 0x00};
  if (data[1] == 0x4A && data.size() == 9 && data[2] == 0x01 && (data[3] == 0x01 || data[3] == 0x02)) {
    const Bytes frame = Cat(Bytes{0x06}, Bytes(data.begin() + 4, data.end()));
    std::optional<Bytes> answer = CardAnswer(card, fault, frame);
    if (!answer) return Bytes{0xD5, 0x4B, 0x00, 0x90, 0x00};
    return Cat(Cat(Bytes{0xD5, 0x4B, 0x01, 0x01}, *answer), kOk);
  }
  if (data[1] == 0x40 && data.size() > 3 && data[2] == 0x01) {
    const Bytes frame(data.begin() + 3, data.end());
    if (fault.fault == Fault::Vanish && frame.size() > 1 && frame[1] == 0x06) return std::nullopt;
    std::optional<Bytes> answer = CardAnswer(card, fault, frame);
    if (!answer) return Bytes{0xD5, 0x41, 0x01, 0x90, 0x00};
    return Cat(Cat(Bytes{0xD5, 0x41, 0x00}, *answer), kOk);
  }
  return kFailed;
}

std::optional<Bytes> BareFrame(const VirtualCard& card, FaultSpec fault, const Bytes& frame) {
  if (frame.empty() || frame[0] != frame.size()) return kFailed;
  if (fault.fault == Fault::Vanish && frame.size() > 1 && frame[1] == 0x06) return std::nullopt;
  std::optional<Bytes> answer = CardAnswer(card, fault, frame);
  if (!answer) return kFailed;
  return Cat(*answer, kOk);
}

// What the reader polled last (FF 40) and selected last (SELECT FILE): one reader per process.
Bytes gActivated;
uint16_t gSelected = 0;

const Bytes& ActivatedIdm(const VirtualCard& card) {
  for (const CardSystem& s : card.systems)
    if (s.idm == gActivated) return gActivated;
  return card.systems.front().idm;  // a new card: the reader activated it with FF FF
}

// A Read Without Encryption frame to the given IDm: the answer with the fault applied.
std::optional<Bytes> ReadFor(const VirtualCard& card, FaultSpec fault, const Bytes& idm, const Bytes& services,
                             const Bytes& blocks) {
  Bytes frame = Cat(Cat(Bytes{0x00, 0x06}, idm), Bytes{static_cast<uint8_t>(services.size() / 2)});
  frame = Cat(Cat(Cat(frame, services), Bytes{static_cast<uint8_t>(blocks.size() / 2)}), blocks);
  frame[0] = static_cast<uint8_t>(frame.size());
  if (fault.fault == Fault::Vanish) return std::nullopt;
  std::optional<Bytes> answer = CardAnswer(card, fault, frame);
  return answer ? answer : std::optional<Bytes>(Bytes{});
}

std::optional<Bytes> Pseudo(const VirtualCard& card, FaultSpec fault, uint8_t ins, uint8_t p1, uint8_t p2,
                            const Bytes& data) {
  if (ins == 0x40 && data.size() == 4) {
    std::optional<Bytes> answer = CardAnswer(card, fault, Cat(Bytes{0x06, 0x00}, data));
    if (!answer || answer->size() < 10) return Bytes{0x64, 0x01};
    gActivated.assign(answer->begin() + 2, answer->begin() + 10);
    return Cat(Bytes(answer->begin() + 2, answer->end()), kOk);
  }
  if (ins == 0x46 && data.size() == 2u * (p1 + p2) && p1 > 0 && p2 > 0) {
    const Bytes services(data.begin(), data.begin() + 2 * p1), blocks(data.begin() + 2 * p1, data.end());
    std::optional<Bytes> answer = ReadFor(card, fault, ActivatedIdm(card), services, blocks);
    if (!answer) return std::nullopt;
    if (answer->size() < 2) return Bytes{0x64, 0x01};
    return Cat(Bytes(answer->begin() + 2, answer->end()), kOk);
  }
  return kNoInstruction;
}

// 16 bytes a block and 90 00, or the card's status flags as the status word.
Bytes BlocksOrFlags(const Bytes& answer) {
  if (answer.size() < 12) return Bytes{0x64, 0x01};
  if (answer[10] != 0 || answer[11] != 0) return Bytes{answer[10], answer[11]};
  if (answer.size() < 13) return Bytes{0xFF, 0xA1};
  return Cat(Bytes(answer.begin() + 13, answer.end()), kOk);
}

std::optional<Bytes> Storage(const Dialect& d, const VirtualCard& card, FaultSpec fault, const Bytes& apdu,
                             const Bytes& data) {
  const Bytes& first = card.systems.front().idm;
  const uint8_t ins = apdu[1], p1 = apdu[2], p2 = apdu[3];
  if (d.channel == Channel::StorageSelect && ins == 0xA4 && p1 == 0x00 && p2 == 0x01 && data.size() == 2) {
    gSelected = static_cast<uint16_t>(data[1] << 8 | data[0]);
    return card.systems.front().services.count(gSelected) ? kOk : Bytes{0x6A, 0x82};
  }
  if (d.channel == Channel::StorageSelect && ins == 0xB0 && p1 == 0x00 && apdu.size() == 5) {
    if (!card.systems.front().services.count(gSelected)) return Bytes{0x69, 0x86};  // no file selected
    const Bytes service{static_cast<uint8_t>(gSelected), static_cast<uint8_t>(gSelected >> 8)};
    std::optional<Bytes> answer = ReadFor(card, fault, first, service, Bytes{0x80, p2});
    if (!answer) return std::nullopt;
    const Bytes reply = BlocksOrFlags(*answer);
    return reply.size() == 2 ? Bytes{0x6A, 0x82} : reply;
  }
  if ((d.channel == Channel::StorageLists || d.channel == Channel::InboxNfc) && ins == 0xB0 && p1 == 0x00 && p2 == 0x00 &&
      data.size() >= 4) {
    const size_t services = data[0];
    if (data.size() < 2 + 2 * services || data.size() != 2 + 2 * services + 2u * data[1 + 2 * services])
      return Bytes{0x67, 0x00};
    const Bytes serviceList(data.begin() + 1, data.begin() + 1 + static_cast<long>(2 * services));
    const Bytes blockList(data.begin() + 2 + static_cast<long>(2 * services), data.end());
    std::optional<Bytes> answer = ReadFor(card, fault, first, serviceList, blockList);
    if (!answer) return std::nullopt;
    return BlocksOrFlags(*answer);
  }
  return kNoInstruction;
}

}  // namespace

const Dialect* FindDialect(const std::string& name) {
  for (const Dialect& d : kDialects)
    if (d.name == name) return &d;
  return nullptr;
}

std::optional<FaultSpec> FindFault(const std::string& name) {
  const size_t at = name.find('@');
  const std::string base = name.substr(0, at), target = at == std::string::npos ? "" : name.substr(at + 1);
  const int command = target == "poll" ? 0x00 : target == "read" ? 0x06 : -1;
  if (!target.empty() && command < 0) return std::nullopt;
  for (const auto& [n, f] : kFaults)
    if (base == n) return FaultSpec{f, command};
  return std::nullopt;
}

std::string DialectNames() {
  std::string s;
  for (const Dialect& d : kDialects) s += (s.empty() ? "" : ", ") + d.name;
  return s;
}

std::string FaultNames() {
  std::string s;
  for (const auto& f : kFaults) s += (s.empty() ? "" : ", ") + std::string(f.first);
  return s + " (truncated, lying-length, wrong-code also with @poll or @read)";
}

Bytes Atr(const Dialect& d, const VirtualCard& card) {
  if (!card.atr.empty()) return card.atr;
  // T0 = 8F: 15 historical bytes, 80 4F 0C A0 00 00 03 06 SS NN NN 00 00 00 00.
  Bytes atr = ParseHex("3B8F8001804F0CA000000306" "00000000000000");
  atr[12] = d.standard;
  atr[13] = static_cast<uint8_t>(d.cardName >> 8);
  atr[14] = static_cast<uint8_t>(d.cardName);
  if (d.idmInAtr) atr = Cat(Cat(ParseHex("3B8C80010443FD"), card.systems.front().idm), {0x00});
  uint8_t check = 0;
  for (size_t i = 1; i < atr.size(); ++i) check ^= atr[i];
  atr.push_back(check);
  return atr;
}

std::optional<Bytes> Respond(const Dialect& d, const VirtualCard& card, FaultSpec fault, const Bytes& apdu) {
  if (apdu.size() < 4) return Bytes{0x67, 0x00};
  if (d.channel == Channel::Garbage) return Bytes{0xA5, 0x5A, 0x00, 0x90, 0x00};
  if (apdu[0] != 0xFF) return kNoClass;
  // Short APDUs only: CLA INS P1 P2 [Lc data] [Le].
  Bytes data;
  const bool storage = d.channel == Channel::StorageSelect || d.channel == Channel::StorageLists || d.channel == Channel::InboxNfc;
  if (apdu.size() > 5) {
    const size_t lc = apdu[4];
    if (5 + lc != apdu.size() && 6 + lc != apdu.size()) return Bytes{0x67, 0x00};
    data.assign(apdu.begin() + 5, apdu.begin() + 5 + static_cast<long>(lc));
  }
  const uint8_t ins = apdu[1], p1 = apdu[2], p2 = apdu[3];
  if (ins == 0xCA && p2 == 0x00) return GetData(d, card, fault, p1);
  if (card.systems.empty()) return kNoInstruction;  // not FeliCa: the reader has nothing to send it
  if (d.channel == Channel::Pseudo && (ins == 0x40 || ins == 0x46)) return Pseudo(card, fault, ins, p1, p2, data);
  if (storage && (ins == 0xA4 || ins == 0xB0)) return Storage(d, card, fault, apdu, data);
  if (ins == 0xC2 && p1 == 0x00 && (d.channel == Channel::Transparent || d.channel == Channel::InboxNfc))
    return Transparent(d, card, fault, p2, data);
  if (ins == 0x00 && p1 == 0x00 && p2 == 0x00 && !data.empty()) {
    if (d.channel == Channel::Pn53x) return Pn53x(card, fault, data);
    if (d.channel == Channel::BareFrame) return BareFrame(card, fault, data);
  }
  if (ins == 0xCA || ins == 0xC2 || ins == 0x00) return kNotSupported;
  return kNoInstruction;
}

ControlReply Control(const Dialect& d, const VirtualCard* card, FaultSpec fault, uint32_t code, const Bytes& data) {
  const bool escape = d.channel == Channel::Escape && fault.fault != Fault::EscapeRefused;
  ControlReply reply;
  if (code == kFeatureRequest) {
    reply.data = {0x12, 0x04, 0x42, 0x00, 0x0D, 0x49};
    if (escape) reply.data = Cat(reply.data, {0x13, 0x04, 0x42, 0x00, 0x0D, 0xAC});
  } else if (code == kTlvProperties) {
    reply.data = {};  // no properties worth telling
  } else if (code == kEscapeCode && escape) {
    reply = Escape(d, card, fault, data);
  } else {
    reply.refused = true;
  }
  return reply;
}
