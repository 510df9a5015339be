#include "Dialects.h"

#include <algorithm>

namespace pcsc {
namespace {

constexpr uint8_t kGenericStatusTag = 0xC0;
constexpr uint8_t kResponseFrameTag = 0x97;

// Empty when the data does not fit a short APDU; the session refuses to send an empty command.
std::vector<uint8_t> PseudoApdu(uint8_t instruction, uint8_t p1, uint8_t p2, std::span<const uint8_t> data) {
  if (data.size() > 255)
    return {};
  std::vector<uint8_t> apdu{0xFF, instruction, p1, p2, static_cast<uint8_t>(data.size())};
  apdu.insert(apdu.end(), data.begin(), data.end());
  return apdu;
}

void AppendLength(std::vector<uint8_t>& out, size_t length) {
  if (length >= 0x80)
    out.push_back(0x81);
  out.push_back(static_cast<uint8_t>(length));
}

// One BER-TLV object off the front of data; false when it runs past the end.
bool NextObject(std::span<const uint8_t>& data, uint32_t& tag, std::span<const uint8_t>& value) {
  size_t i = 0;
  if (data.empty())
    return false;
  tag = data[i++];
  if ((tag & 0x1F) == 0x1F) {
    do {
      if (i >= data.size() || i > 3)
        return false;
      tag = tag << 8 | data[i];
    } while (data[i++] & 0x80);
  }
  if (i >= data.size())
    return false;
  size_t length = data[i++];
  // Any length form: 12, 81 12, 82 00 12, up to four length bytes.
  if (length & 0x80) {
    const size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 4 || i + bytes > data.size())
      return false;
    length = 0;
    for (size_t k = 0; k < bytes; ++k)
      length = length << 8 | data[i++];
  }
  if (length > data.size() - i)
    return false;
  value = data.subspan(i, length);
  data = data.subspan(i + length);
  return true;
}

// The generic status object says how the reader fared: 90 00 fine, 64 01 the card was silent.
Fault GenericStatus(std::span<const uint8_t> value) {
  if (value.size() != 3)
    return Fault::Malformed;
  if (value[1] == 0x90 && value[2] == 0x00)
    return Fault::None;
  return value[1] == 0x64 ? Fault::Silent : Fault::Refused;
}

// Walks a transparent-session reply; gives the response frame object when there is one.
Fault WalkSessionObjects(std::span<const uint8_t> data, std::span<const uint8_t>* frame) {
  bool haveFrame = false;
  while (!data.empty()) {
    uint32_t tag;
    std::span<const uint8_t> value;
    if (!NextObject(data, tag, value))
      return Fault::Malformed;
    if (tag == kGenericStatusTag) {
      if (Fault fault = GenericStatus(value); fault != Fault::None)
        return fault;
    } else if (tag == kResponseFrameTag && frame && !haveFrame) {
      *frame = value;
      haveFrame = true;
    }
  }
  // No response frame object: the reader got no answer from the card.
  return !frame || haveFrame ? Fault::None : Fault::Silent;
}

// Whether every element of a block list is 2 bytes, as the pseudo-APDU and storage-card reads
// need; also checks the services and elements as a Read Without Encryption frame would.
bool TwoByteElements(std::span<const uint8_t> services, std::span<const uint8_t> blocks) {
  std::vector<uint8_t> frame;
  return ReadFrame(Idm{}, services, blocks, frame) == Fault::None &&
         CountBlockElements(blocks) * 2 == static_cast<int>(blocks.size());
}

// SW1 of a FeliCa error as a status word: FF (no element to blame) or the failing element's index.
bool StatusFlagsAsStatusWord(uint8_t sw1) { return sw1 == 0xFF || (sw1 >= 0x01 && sw1 <= 0x10); }

} // namespace

const char* DialectName(Dialect dialect) {
  switch (dialect) {
  case Dialect::Unknown: return "unknown";
  case Dialect::Transparent: return "transparent-session";
  case Dialect::EscapeSession: return "escape-session";
  case Dialect::EscapeSession50: return "escape-session-50";
  case Dialect::Pn53x: return "pn53x-direct";
  case Dialect::Pn53xBare: return "pn53x-bare-frame";
  case Dialect::FelicaPseudo: return "felica-pseudo-apdu";
  case Dialect::StorageLists: return "storage-card-lists";
  case Dialect::StorageSelect: return "storage-card";
  case Dialect::IdentificationOnly: return "identification-only";
  }
  return "unknown";
}

std::span<const Dialect> DialectCandidates(FelicaForm form) {
  // The raw-frame dialects come before the storage-card reads, which reach only the card's first
  // system; the escape channel's feature query is asked once per reader.
  static constexpr Dialect kPn53xFirst[] = {Dialect::Pn53x,         Dialect::Pn53xBare,       Dialect::Transparent,
                                            Dialect::EscapeSession, Dialect::EscapeSession50, Dialect::FelicaPseudo,
                                            Dialect::StorageLists,  Dialect::StorageSelect};
  static constexpr Dialect kSessionFirst[] = {Dialect::Transparent,  Dialect::EscapeSession, Dialect::EscapeSession50,
                                              Dialect::FelicaPseudo, Dialect::Pn53x,         Dialect::Pn53xBare,
                                              Dialect::StorageLists, Dialect::StorageSelect};
  // Their manuals give the IDm-in-ATR readers FeliCa through the pseudo-APDUs only.
  static constexpr Dialect kPseudoFirst[] = {Dialect::FelicaPseudo,  Dialect::Transparent, Dialect::EscapeSession,
                                             Dialect::EscapeSession50, Dialect::Pn53x,     Dialect::Pn53xBare,
                                             Dialect::StorageLists,  Dialect::StorageSelect};
  if (form == FelicaForm::Pn53x)
    return kPn53xFirst;
  return form == FelicaForm::IdmInAtr ? kPseudoFirst : kSessionFirst;
}

Fault CheckStatusWord(std::span<const uint8_t> response, std::span<const uint8_t>& data) {
  if (response.size() < 2)
    return Fault::Malformed;
  const uint8_t sw1 = response[response.size() - 2], sw2 = response[response.size() - 1];
  data = response.first(response.size() - 2);
  if (sw1 == 0x90 && sw2 == 0x00)
    return Fault::None;
  // 64 xx: the reader got no answer from the card.
  return sw1 == 0x64 ? Fault::Silent : Fault::Refused;
}

const std::vector<uint8_t> kGetIdm{0xFF, 0xCA, 0x00, 0x00, 0x00};
const std::vector<uint8_t> kGetPmm{0xFF, 0xCA, 0x01, 0x00, 0x00};

Fault ParseIdentification(std::span<const uint8_t> response, std::array<uint8_t, 8>& value) {
  std::span<const uint8_t> data;
  if (Fault fault = CheckStatusWord(response, data); fault != Fault::None)
    return fault;
  if (data.size() != value.size())
    return Fault::Malformed;
  std::copy(data.begin(), data.end(), value.begin());
  return Fault::None;
}

const std::vector<uint8_t> kStartSession{0xFF, 0xC2, 0x00, 0x00, 0x02, 0x81, 0x00};
const std::vector<uint8_t> kSwitchToFelica{0xFF, 0xC2, 0x00, 0x02, 0x04, 0x8F, 0x02, 0x03, 0x00};
const std::vector<uint8_t> kEndSession{0xFF, 0xC2, 0x00, 0x00, 0x02, 0x82, 0x00};

Fault ParseSessionReply(std::span<const uint8_t> response) {
  std::span<const uint8_t> data;
  if (Fault fault = CheckStatusWord(response, data); fault != Fault::None)
    return fault;
  return WalkSessionObjects(data, nullptr);
}

std::vector<uint8_t> TransparentTransceive(std::span<const uint8_t> frame, uint32_t timeoutMicroseconds) {
  std::vector<uint8_t> objects{0x5F, 0x46, 0x04};
  for (int i = 0; i < 4; ++i)
    objects.push_back(static_cast<uint8_t>(timeoutMicroseconds >> (8 * i)));
  objects.push_back(0x95);
  AppendLength(objects, frame.size());
  objects.insert(objects.end(), frame.begin(), frame.end());
  return PseudoApdu(0xC2, 0x00, 0x01, objects);
}

Fault ParseTransparentReply(std::span<const uint8_t> response, std::span<const uint8_t>& frame) {
  std::span<const uint8_t> data;
  if (Fault fault = CheckStatusWord(response, data); fault != Fault::None)
    return fault;
  return WalkSessionObjects(data, &frame);
}

std::vector<uint8_t> EscapeSessionCommand(uint8_t instruction, uint8_t p2, std::span<const uint8_t> objects) {
  std::vector<uint8_t> apdu{0xFF, instruction, 0x00, p2};
  if (objects.size() <= 255) {
    apdu.push_back(static_cast<uint8_t>(objects.size()));
    apdu.insert(apdu.end(), objects.begin(), objects.end());
    apdu.push_back(0x00);
    return apdu;
  }
  if (objects.size() > 0xFFFF)
    return {};
  apdu.insert(apdu.end(), {0x00, static_cast<uint8_t>(objects.size() >> 8), static_cast<uint8_t>(objects.size())});
  apdu.insert(apdu.end(), objects.begin(), objects.end());
  apdu.insert(apdu.end(), {0x00, 0x00});
  return apdu;
}

std::vector<uint8_t> EscapeTransceive(uint8_t instruction, std::span<const uint8_t> frame, uint32_t timeoutUs) {
  std::vector<uint8_t> objects{0x5F, 0x46, 0x04};
  for (int i = 0; i < 4; ++i)
    objects.push_back(static_cast<uint8_t>(timeoutUs >> (8 * i)));
  objects.push_back(0x95);
  // The family's own instruction goes as its own software sends it: long-form length, extended APDU.
  if (instruction == 0x50) {
    objects.insert(objects.end(), {0x82, static_cast<uint8_t>(frame.size() >> 8), static_cast<uint8_t>(frame.size())});
    objects.insert(objects.end(), frame.begin(), frame.end());
    std::vector<uint8_t> apdu{0xFF, 0x50, 0x00, 0x01, 0x00, static_cast<uint8_t>(objects.size() >> 8),
                              static_cast<uint8_t>(objects.size())};
    apdu.insert(apdu.end(), objects.begin(), objects.end());
    apdu.insert(apdu.end(), {0x00, 0x00});
    return apdu;
  }
  AppendLength(objects, frame.size());
  objects.insert(objects.end(), frame.begin(), frame.end());
  return EscapeSessionCommand(instruction, 0x01, objects);
}

uint32_t WindowsControlCode(uint32_t function) { return 0x00310000u | function << 2; }
uint32_t PcscLiteControlCode(uint32_t function) { return 0x42000000u + function; }

std::span<uint32_t (*const)(uint32_t)> ControlCodeFamilies() {
#ifdef _WIN32
  static uint32_t (*const kFamilies[])(uint32_t) = {WindowsControlCode, PcscLiteControlCode};
#else
  static uint32_t (*const kFamilies[])(uint32_t) = {PcscLiteControlCode};
#endif
  return kFamilies;
}

Fault ParseFeatureList(std::span<const uint8_t> list, uint8_t tag, uint32_t& code) {
  code = 0;
  for (size_t i = 0; i < list.size();) {
    if (i + 2 > list.size() || i + 2 + list[i + 1] > list.size())
      return Fault::Malformed;
    const uint8_t length = list[i + 1];
    if (list[i] == tag) {
      if (length != 4)
        return Fault::Malformed;
      code = static_cast<uint32_t>(list[i + 2]) << 24 | list[i + 3] << 16 | list[i + 4] << 8 | list[i + 5];
      return Fault::None;
    }
    i += 2 + length;
  }
  return Fault::None;
}

const std::vector<uint8_t> kPn53xFirmware{0xFF, 0x00, 0x00, 0x00, 0x02, 0xD4, 0x02};

Fault ParsePn53xFirmware(std::span<const uint8_t> response) {
  std::span<const uint8_t> data;
  if (Fault fault = CheckStatusWord(response, data); fault != Fault::None)
    return fault;
  return data.size() >= 2 && data[0] == 0xD5 && data[1] == 0x03 ? Fault::None : Fault::Refused;
}

std::vector<uint8_t> Pn53xPolling(uint16_t systemCode, uint8_t requestCode) {
  const uint8_t command[] = {0xD4, 0x4A, 0x01, 0x01, 0x00, static_cast<uint8_t>(systemCode >> 8),
                             static_cast<uint8_t>(systemCode), requestCode, 0x00};
  return PseudoApdu(0x00, 0x00, 0x00, command);
}

Fault ParsePn53xPolling(std::span<const uint8_t> response, std::span<const uint8_t>& frame) {
  std::span<const uint8_t> data;
  if (Fault fault = CheckStatusWord(response, data); fault != Fault::None)
    return fault;
  if (data.size() < 3 || data[0] != 0xD5 || data[1] != 0x4B)
    return Fault::Malformed;
  if (data[2] == 0 && data.size() == 3)
    return Fault::Silent; // no target found
  if (data[2] != 1 || data.size() < 5 || data[3] != 1)
    return Fault::Malformed;
  frame = data.subspan(4);
  return Fault::None;
}

std::vector<uint8_t> Pn53xExchange(std::span<const uint8_t> frame) {
  std::vector<uint8_t> command{0xD4, 0x40, 0x01};
  command.insert(command.end(), frame.begin(), frame.end());
  return PseudoApdu(0x00, 0x00, 0x00, command);
}

Fault ParsePn53xExchange(std::span<const uint8_t> response, std::span<const uint8_t>& frame) {
  std::span<const uint8_t> data;
  if (Fault fault = CheckStatusWord(response, data); fault != Fault::None)
    return fault;
  if (data.size() < 3 || data[0] != 0xD5 || data[1] != 0x41)
    return Fault::Malformed;
  // Status 01: the target did not answer in time; any other error is a damaged exchange.
  if ((data[2] & 0x3F) == 0x01)
    return Fault::Silent;
  if (data[2] != 0)
    return Fault::Malformed;
  frame = data.subspan(3);
  return Fault::None;
}

std::vector<uint8_t> BareExchange(std::span<const uint8_t> frame) { return PseudoApdu(0x00, 0x00, 0x00, frame); }

Fault ParseBareExchange(std::span<const uint8_t> response, std::span<const uint8_t>& frame) {
  return CheckStatusWord(response, frame);
}

std::vector<uint8_t> PseudoPolling(uint16_t systemCode, uint8_t requestCode) {
  const uint8_t data[] = {static_cast<uint8_t>(systemCode >> 8), static_cast<uint8_t>(systemCode), requestCode, 0x00};
  return PseudoApdu(0x40, 0x00, 0x00, data);
}

Fault ParsePseudoPolling(std::span<const uint8_t> response, uint8_t requestCode, PollingReply& reply) {
  std::span<const uint8_t> data;
  if (Fault fault = CheckStatusWord(response, data); fault != Fault::None)
    return fault;
  const bool withCode = requestCode == 0x01;
  if (data.size() != (withCode ? 18u : 16u))
    return Fault::Malformed;
  std::copy_n(data.begin(), 8, reply.idm.begin());
  std::copy_n(data.begin() + 8, 8, reply.pmm.begin());
  reply.hasSystemCode = withCode;
  reply.systemCode = withCode ? static_cast<uint16_t>(data[16] << 8 | data[17]) : 0;
  return Fault::None;
}

Fault PseudoRead(std::span<const uint8_t> services, std::span<const uint8_t> blocks, std::vector<uint8_t>& command) {
  if (!TwoByteElements(services, blocks))
    return Fault::BadArgument;
  std::vector<uint8_t> data(services.begin(), services.end());
  data.insert(data.end(), blocks.begin(), blocks.end());
  command = PseudoApdu(0x46, static_cast<uint8_t>(services.size() / 2), static_cast<uint8_t>(blocks.size() / 2), data);
  return command.empty() ? Fault::BadArgument : Fault::None;
}

Fault ParsePseudoRead(std::span<const uint8_t> response, const Idm& idm, int maxBlocks, ReadReply& reply) {
  std::span<const uint8_t> data;
  reply.blocks.clear();
  if (Fault fault = CheckStatusWord(response, data); fault != Fault::None)
    return fault;
  if (data.size() < 10)
    return Fault::Malformed;
  if (!std::equal(idm.begin(), idm.end(), data.begin()))
    return Fault::OtherCard;
  reply.statusFlag1 = data[8];
  reply.statusFlag2 = data[9];
  if (reply.statusFlag1 != 0 || reply.statusFlag2 != 0)
    return data.size() == 10 || (data.size() == 11 && data[10] == 0) ? Fault::StatusFlags : Fault::Malformed;
  if (data.size() < 11)
    return Fault::Malformed;
  const size_t count = data[10];
  if (count == 0 || static_cast<int>(count) > maxBlocks || data.size() != 11 + count * 16)
    return Fault::Malformed;
  reply.blocks.assign(data.begin() + 11, data.end());
  return Fault::None;
}

std::vector<uint8_t> SelectService(std::span<const uint8_t> service) {
  return PseudoApdu(0xA4, 0x00, 0x01, service.first(std::min<size_t>(2, service.size())));
}

std::vector<uint8_t> ReadBinary(uint8_t block) { return {0xFF, 0xB0, 0x00, block, 0x10}; }

Fault ParseReadBinary(std::span<const uint8_t> response, std::span<const uint8_t>& block) {
  if (Fault fault = CheckStatusWord(response, block); fault != Fault::None)
    return fault;
  return block.size() == 16 ? Fault::None : Fault::Malformed;
}

Fault ReadBinaryLists(std::span<const uint8_t> services, std::span<const uint8_t> blocks,
                      std::vector<uint8_t>& command) {
  if (!TwoByteElements(services, blocks))
    return Fault::BadArgument;
  std::vector<uint8_t> data{static_cast<uint8_t>(services.size() / 2)};
  data.insert(data.end(), services.begin(), services.end());
  data.push_back(static_cast<uint8_t>(blocks.size() / 2));
  data.insert(data.end(), blocks.begin(), blocks.end());
  command = PseudoApdu(0xB0, 0x00, 0x00, data);
  return command.empty() ? Fault::BadArgument : Fault::None;
}

Fault ParseReadBinaryLists(std::span<const uint8_t> response, int blockCount, ReadReply& reply) {
  reply.blocks.clear();
  if (response.size() == 2 && StatusFlagsAsStatusWord(response[0])) {
    reply.statusFlag1 = response[0];
    reply.statusFlag2 = response[1];
    return Fault::StatusFlags;
  }
  std::span<const uint8_t> data;
  if (Fault fault = CheckStatusWord(response, data); fault != Fault::None)
    return fault;
  if (blockCount <= 0 || data.size() != static_cast<size_t>(blockCount) * 16)
    return Fault::Malformed;
  reply.statusFlag1 = reply.statusFlag2 = 0;
  reply.blocks.assign(data.begin(), data.end());
  return Fault::None;
}

// The codecs: each dialect's operations over a link, built from the builders and parsers above.
namespace {

using Response = std::vector<uint8_t>;

Fault Send(Link& link, std::span<const uint8_t> command, Response& response, bool escape = false) {
  return escape ? link.Escape(command, response) : link.Transmit(command, response);
}

// Frame dialects share their polling and block read: the FeliCa frames themselves.
Fault FramePoll(const Codec& codec, Link& link, uint16_t systemCode, PollingReply& reply) {
  Response frame;
  if (Fault fault = codec.exchange(link, PollingFrame(systemCode, 1, 0), kPollingTimeoutUs, frame); fault != Fault::None)
    return fault;
  return ParsePollingReply(frame, reply);
}

Fault FrameRead(const Codec& codec, Link& link, const ReadRequest& request, ReadReply& reply) {
  Response frame;
  if (Fault fault = ReadFrame(request.idm, request.services, request.blocks, frame); fault != Fault::None)
    return fault;
  Response replyFrame;
  if (Fault fault = codec.exchange(link, frame, kReadTimeoutUs, replyFrame); fault != Fault::None)
    return fault;
  return ParseReadReply(replyFrame, request.idm, request.maxBlocks, reply);
}

bool SystemMatches(uint16_t polled, uint16_t code) {
  return ((polled >> 8) == 0xFF || (polled >> 8) == (code >> 8)) && ((polled & 0xFF) == 0xFF || (polled & 0xFF) == (code & 0xFF));
}

// A reader whose transparent exchange passes card commands but not polling (Windows' in-box NFC
// driver) activated the card itself with FF FF. The IDm's upper four bits are the activated
// system's number, and Request System Code lists the card's systems in that order: only that
// system is within reach.
Fault ActivatedSystem(const Codec& codec, Link& link, uint16_t systemCode, PollingReply& reply) {
  Response response, frame;
  Idm idm;
  if (Fault fault = link.Transmit(kGetIdm, response); fault != Fault::None)
    return fault;
  if (Fault fault = ParseIdentification(response, idm); fault != Fault::None)
    return fault;
  if (Fault fault = codec.exchange(link, RequestSystemCodeFrame(idm), kReadTimeoutUs, frame); fault != Fault::None)
    return fault;
  std::vector<uint16_t> codes;
  if (Fault fault = ParseSystemCodes(frame, idm, codes); fault != Fault::None)
    return fault;
  const size_t number = idm[0] >> 4;
  if (number >= codes.size())
    return Fault::Malformed;
  if (!SystemMatches(systemCode, codes[number]))
    return Fault::NoRawChannel;
  reply = PollingReply{idm, Pmm{}, false, true, codes[number]};
  return Fault::None;
}

Fault SessionPoll(const Codec& codec, Link& link, uint16_t systemCode, PollingReply& reply) {
  const Fault fault = FramePoll(codec, link, systemCode, reply);
  return fault == Fault::Refused ? ActivatedSystem(codec, link, systemCode, reply) : fault;
}

Fault NoPoll(const Codec&, Link&, uint16_t, PollingReply&) { return Fault::NoRawChannel; }
Fault NoRead(const Codec&, Link&, const ReadRequest&, ReadReply&) { return Fault::NoRawChannel; }
Fault NeverProbed(Link&) { return Fault::Refused; }

Fault Parsed(Fault sent, Fault (*parse)(std::span<const uint8_t>), const Response& response) {
  return sent == Fault::None ? parse(response) : sent;
}

Fault Framed(Fault sent, Fault (*parse)(std::span<const uint8_t>, std::span<const uint8_t>&), const Response& response,
             Response& reply) {
  if (sent != Fault::None)
    return sent;
  std::span<const uint8_t> frame;
  if (Fault fault = parse(response, frame); fault != Fault::None)
    return fault;
  reply.assign(frame.begin(), frame.end());
  return Fault::None;
}

// Transparent session, through SCardTransmit or the escape channel. A reader that refuses the
// protocol switch (some accept nothing but the transceive objects) still speaks FeliCa to a card
// it activated as one.
template <bool kChannel, uint8_t kInstruction>
struct SessionObjects {
  static std::vector<uint8_t> Command(uint8_t p2, std::span<const uint8_t> objects) {
    if (!kChannel)
      return PseudoApdu(kInstruction, 0x00, p2, objects);
    return EscapeSessionCommand(kInstruction, p2, objects);
  }
  static Fault Probe(Link& link) {
    Response response;
    static constexpr uint8_t kStart[] = {0x81, 0x00}, kSwitch[] = {0x8F, 0x02, 0x03, 0x00};
    if (Fault fault = Parsed(Send(link, Command(0x00, kStart), response, kChannel), ParseSessionReply, response);
        fault != Fault::None)
      return fault;
    const Fault fault = Parsed(Send(link, Command(0x02, kSwitch), response, kChannel), ParseSessionReply, response);
    if (fault == Fault::None || fault == Fault::Refused)
      return Fault::None;
    Close(link);
    return fault;
  }
  static Fault Exchange(Link& link, std::span<const uint8_t> frame, uint32_t timeoutUs, Response& reply) {
    Response response;
    const std::vector<uint8_t> command = !kChannel ? TransparentTransceive(frame, timeoutUs)
                                                                     : EscapeTransceive(kInstruction, frame, timeoutUs);
    return Framed(Send(link, command, response, kChannel), ParseTransparentReply, response, reply);
  }
  static void Close(Link& link) {
    Response ignored;
    static constexpr uint8_t kEnd[] = {0x82, 0x00};
    Send(link, Command(0x00, kEnd), ignored, kChannel);
  }
};
constexpr bool kEscape = true;
using TransmitSession = SessionObjects<!kEscape, 0xC2>;
using EscapeC2 = SessionObjects<kEscape, 0xC2>;
using Escape50 = SessionObjects<kEscape, 0x50>;

Fault Pn53xProbe(Link& link) {
  Response response;
  return Parsed(Send(link, kPn53xFirmware, response), ParsePn53xFirmware, response);
}
Fault Pn53xFrame(Link& link, std::span<const uint8_t> frame, uint32_t, Response& reply) {
  Response response;
  return Framed(Send(link, Pn53xExchange(frame), response), ParsePn53xExchange, response, reply);
}
Fault Pn53xPoll(const Codec&, Link& link, uint16_t systemCode, PollingReply& reply) {
  Response response, frame;
  if (Fault fault = Framed(Send(link, Pn53xPolling(systemCode, 1), response), ParsePn53xPolling, response, frame);
      fault != Fault::None)
    return fault;
  return ParsePollingReply(frame, reply);
}

Fault BareFrame(Link& link, std::span<const uint8_t> frame, uint32_t, Response& reply) {
  Response response;
  return Framed(Send(link, BareExchange(frame), response), ParseBareExchange, response, reply);
}
// Any card answers a polling of FF FF; a reader of another family refuses the frame.
Fault BareProbe(Link& link) {
  Response frame;
  PollingReply reply;
  const Fault fault = BareFrame(link, PollingFrame(0xFFFF, 0, 0), 0, frame);
  return fault == Fault::None ? ParsePollingReply(frame, reply) : fault;
}

Fault PseudoPoll(const Codec&, Link& link, uint16_t systemCode, PollingReply& reply) {
  Response response;
  if (Fault fault = Send(link, PseudoPolling(systemCode, 1), response); fault != Fault::None)
    return fault;
  return ParsePseudoPolling(response, 1, reply);
}
Fault PseudoProbe(Link& link) {
  Response response;
  PollingReply reply;
  if (Fault fault = Send(link, PseudoPolling(0xFFFF, 0), response); fault != Fault::None)
    return fault;
  return ParsePseudoPolling(response, 0, reply);
}
// The read goes to the card the reader polled last: poll the IDm's own system first.
Fault PseudoReadBlocks(const Codec& codec, Link& link, const ReadRequest& request, ReadReply& reply) {
  std::vector<uint8_t> command;
  if (Fault fault = PseudoRead(request.services, request.blocks, command); fault != Fault::None)
    return fault;
  if (!request.activated) {
    PollingReply polled;
    if (Fault fault = codec.poll(codec, link, request.system, polled); fault != Fault::None)
      return fault == Fault::Silent ? Fault::CardGone : fault;
    if (polled.idm != request.idm)
      return Fault::OtherCard;
  }
  Response response;
  if (Fault fault = Send(link, command, response); fault != Fault::None)
    return fault;
  return ParsePseudoRead(response, request.idm, request.maxBlocks, reply);
}

// Storage-card readers read the card they activated with FF FF, that is its first system; a
// block of another system is out of their reach.
Fault StorageTarget(Link& link, const ReadRequest& request) {
  if (request.system != 0xFFFF)
    return Fault::NoRawChannel;
  if (request.activated)
    return Fault::None;
  Response response;
  Idm idm;
  if (Fault fault = Send(link, kGetIdm, response); fault != Fault::None)
    return fault;
  if (Fault fault = ParseIdentification(response, idm); fault != Fault::None)
    return fault;
  return idm == request.idm ? Fault::None : Fault::OtherCard;
}

constexpr uint8_t kProbeService[] = {0xCB, 0x33};
constexpr uint8_t kProbeBlock[] = {0x80, 0x00};

Fault ListsProbe(Link& link) {
  std::vector<uint8_t> command;
  ReadBinaryLists(kProbeService, kProbeBlock, command);
  Response response;
  ReadReply reply;
  if (Fault fault = Send(link, command, response); fault != Fault::None)
    return fault;
  // The card's own refusal still shows a reader that understood the lists.
  const Fault fault = ParseReadBinaryLists(response, 1, reply);
  return fault == Fault::StatusFlags ? Fault::None : fault;
}
Fault ListsRead(const Codec&, Link& link, const ReadRequest& request, ReadReply& reply) {
  std::vector<uint8_t> command;
  if (Fault fault = ReadBinaryLists(request.services, request.blocks, command); fault != Fault::None)
    return fault;
  if (CountBlockElements(request.blocks) > request.maxBlocks)
    return Fault::BadArgument;
  if (Fault fault = StorageTarget(link, request); fault != Fault::None)
    return fault;
  Response response;
  if (Fault fault = Send(link, command, response); fault != Fault::None)
    return fault;
  return ParseReadBinaryLists(response, CountBlockElements(request.blocks), reply);
}

// 6A 82: the card has no such service, which a reader of this family still answers for.
Fault SelectProbe(Link& link) {
  Response response;
  if (Fault fault = Send(link, SelectService(kProbeService), response); fault != Fault::None)
    return fault;
  std::span<const uint8_t> data;
  const Fault fault = CheckStatusWord(response, data);
  return response.size() == 2 && response[0] == 0x6A && response[1] == 0x82 ? Fault::None : fault;
}
Fault SelectRead(const Codec&, Link& link, const ReadRequest& request, ReadReply& reply) {
  std::vector<uint8_t> unused;
  if (Fault fault = ReadBinaryLists(request.services, request.blocks, unused); fault != Fault::None)
    return fault;
  if (CountBlockElements(request.blocks) > request.maxBlocks)
    return Fault::BadArgument;
  if (Fault fault = StorageTarget(link, request); fault != Fault::None)
    return fault;
  reply.statusFlag1 = reply.statusFlag2 = 0;
  reply.blocks.clear();
  int selected = -1;
  for (size_t i = 0; i + 1 < request.blocks.size(); i += 2) {
    const int service = request.blocks[i] & 0x0F;
    Response response;
    std::span<const uint8_t> data;
    if (service != selected) {
      if (Fault fault = Send(link, SelectService(request.services.subspan(2 * service, 2)), response);
          fault != Fault::None)
        return fault;
      if (Fault fault = CheckStatusWord(response, data); fault != Fault::None)
        return fault;
      selected = service;
    }
    if (Fault fault = Send(link, ReadBinary(request.blocks[i + 1]), response); fault != Fault::None)
      return fault;
    if (Fault fault = ParseReadBinary(response, data); fault != Fault::None) {
      reply.blocks.clear();
      return fault;
    }
    reply.blocks.insert(reply.blocks.end(), data.begin(), data.end());
  }
  return Fault::None;
}

constexpr Codec kCodecs[] = {
    {Dialect::Unknown, NeverProbed, nullptr, NoPoll, NoRead, nullptr},
    {Dialect::Transparent, TransmitSession::Probe, TransmitSession::Exchange, SessionPoll, FrameRead,
     TransmitSession::Close},
    {Dialect::EscapeSession, EscapeC2::Probe, EscapeC2::Exchange, SessionPoll, FrameRead, EscapeC2::Close},
    {Dialect::EscapeSession50, Escape50::Probe, Escape50::Exchange, SessionPoll, FrameRead, Escape50::Close},
    {Dialect::Pn53x, Pn53xProbe, Pn53xFrame, Pn53xPoll, FrameRead, nullptr},
    {Dialect::Pn53xBare, BareProbe, BareFrame, FramePoll, FrameRead, nullptr},
    {Dialect::FelicaPseudo, PseudoProbe, nullptr, PseudoPoll, PseudoReadBlocks, nullptr},
    {Dialect::StorageLists, ListsProbe, nullptr, NoPoll, ListsRead, nullptr},
    {Dialect::StorageSelect, SelectProbe, nullptr, NoPoll, SelectRead, nullptr},
    {Dialect::IdentificationOnly, NeverProbed, nullptr, NoPoll, NoRead, nullptr},
};

} // namespace

const Codec& CodecFor(Dialect dialect) {
  for (const Codec& codec : kCodecs)
    if (codec.dialect == dialect)
      return codec;
  return kCodecs[0];
}

} // namespace pcsc
