#include "Dialects.h"

#include <algorithm>
#include <iterator>

namespace pcsc {
namespace {

constexpr uint8_t kStorageAtrPrefix[] = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C,
                                         0xA0, 0x00, 0x00, 0x03, 0x06};
constexpr size_t kStandardByte = 12;

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
  if (length & 0x80) {
    const size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 2 || i + bytes > data.size())
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
  return !frame || haveFrame ? Fault::None : Fault::Malformed;
}

} // namespace

const char* DialectName(Dialect dialect) {
  switch (dialect) {
  case Dialect::Unknown: return "unknown";
  case Dialect::Transparent: return "transparent-session";
  case Dialect::Pn53x: return "pn53x-direct";
  case Dialect::Pn53xBare: return "pn53x-bare-frame";
  case Dialect::IdentificationOnly: return "identification-only";
  }
  return "unknown";
}

AtrKind ClassifyAtr(std::span<const uint8_t> atr) {
  if (atr.size() < kStandardByte + 3 || !std::equal(std::begin(kStorageAtrPrefix), std::end(kStorageAtrPrefix),
                                                     atr.begin()))
    return AtrKind::Other;
  const uint8_t standard = atr[kStandardByte];
  const uint8_t name1 = atr[kStandardByte + 1], name2 = atr[kStandardByte + 2];
  if (standard == 0x11)
    return AtrKind::Felica;
  if (standard == 0x03 && name1 == 0xF0 && (name2 == 0x11 || name2 == 0x12))
    return AtrKind::Pn53xFelica;
  return AtrKind::ContactlessStorage;
}

std::span<const Dialect> DialectCandidates(AtrKind kind) {
  static constexpr Dialect kPn53xFirst[] = {Dialect::Pn53x, Dialect::Pn53xBare, Dialect::Transparent};
  static constexpr Dialect kSessionFirst[] = {Dialect::Transparent, Dialect::Pn53x, Dialect::Pn53xBare};
  if (kind == AtrKind::Pn53xFelica)
    return kPn53xFirst;
  return kSessionFirst;
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

} // namespace pcsc
