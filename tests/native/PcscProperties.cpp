#include "PcscProperties.h"

#include <algorithm>
#include <vector>

#include "Dialects.h"
#include "Felica.h"
#include "Reader.h"

using namespace pcsc;

namespace {

using Bytes = std::vector<uint8_t>;

bool Within(std::span<const uint8_t> part, std::span<const uint8_t> whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

bool EndsWithSuccess(std::span<const uint8_t> response) {
  return response.size() >= 2 && response[response.size() - 2] == 0x90 && response.back() == 0x00;
}

std::string CheckFrameParsers(uint8_t selector, std::span<const uint8_t> input) {
  Idm idm{};
  std::copy_n(input.begin(), std::min<size_t>(8, input.size()), idm.begin());
  std::span<const uint8_t> frame;
  switch (selector % 16) {
  case 0: {
    PollingReply reply;
    if (ParsePollingReply(input, reply) == Fault::None &&
        !((input.size() == 18 || input.size() == 20) && input[0] == input.size() && input[1] == 0x01 &&
          std::equal(reply.idm.begin(), reply.idm.end(), input.begin() + 2)))
      return "polling reply accepted against its own length, code or IDm";
    return "";
  }
  case 1: {
    // The input as it came, and framed as a card frames a reply (length byte and response code
    // right), so that valid replies are among those checked; the IDm expected is the one echoed.
    Bytes framed(input.begin(), input.begin() + std::min<size_t>(input.size(), 255));
    if (framed.size() >= 2) {
      framed[0] = static_cast<uint8_t>(framed.size());
      framed[1] = 0x07;
    }
    const int maxBlocks = selector >> 4;
    for (std::span<const uint8_t> reply : {input, std::span<const uint8_t>(framed)}) {
      Idm echoed{};
      if (reply.size() >= 10)
        std::copy_n(reply.begin() + 2, 8, echoed.begin());
      ReadReply parsed;
      const Fault fault = ParseReadReply(reply, echoed, maxBlocks, parsed);
      if (fault == Fault::None &&
          (parsed.blocks.empty() || parsed.blocks.size() != 16u * reply[12] || reply[12] > maxBlocks))
        return "read reply's blocks do not match its count";
      if (fault != Fault::None && !parsed.blocks.empty())
        return "a refused read reply left blocks";
      if (fault == Fault::StatusFlags && parsed.statusFlag1 == 0 && parsed.statusFlag2 == 0)
        return "status-flag failure with flags 00 00";
    }
    return "";
  }
  case 2: {
    const size_t split = std::min<size_t>(selector >> 3, input.size());
    Bytes built;
    if (ReadFrame(idm, input.first(split), input.subspan(split), built) == Fault::None &&
        (built.size() > 255 || built[0] != built.size() || built[1] != 0x06 || built[10] == 0 || built[10] > 16))
      return "read frame out of shape";
    return "";
  }
  case 3: {
    std::array<uint8_t, 8> value;
    if (ParseIdentification(input, value) == Fault::None && !(input.size() == 10 && EndsWithSuccess(input)))
      return "identification accepted a reply that is not 8 bytes and 90 00";
    return "";
  }
  case 4:
    if (ParseTransparentReply(input, frame) == Fault::None && (!Within(frame, input) || !EndsWithSuccess(input)))
      return "transparent frame outside the reply";
    ParseSessionReply(input);
    return "";
  case 5:
    if (ParsePn53xPolling(input, frame) == Fault::None && (!Within(frame, input) || frame.empty()))
      return "PN53x polling frame outside the reply";
    return "";
  case 6:
    if (ParsePn53xExchange(input, frame) == Fault::None && !Within(frame, input))
      return "PN53x exchange frame outside the reply";
    ParsePn53xFirmware(input);
    return "";
  case 7: {
    const AtrReading reading = ReadAtr(input);
    if (reading.kind == CardKind::Felica && input.size() != 20 && input.size() != 17)
      return "FeliCa ATR of neither form's length";
    std::vector<uint16_t> codes;
    if (ParseSystemCodes(input, idm, codes) == Fault::None && input.size() != 11 + 2 * codes.size())
      return "system codes do not match the reply's count";
    return "";
  }
  case 8: {
    // A frame wrapped as a reader of each family returns it comes back unchanged.
    const Bytes original(input.begin(), input.begin() + std::min<size_t>(input.size(), 120));
    Bytes transparent{0xC0, 0x03, 0x00, 0x90, 0x00, 0x97, static_cast<uint8_t>(original.size())};
    transparent.insert(transparent.end(), original.begin(), original.end());
    transparent.insert(transparent.end(), {0x90, 0x00});
    if (ParseTransparentReply(transparent, frame) != Fault::None || !std::equal(frame.begin(), frame.end(), original.begin(), original.end()))
      return "transparent reply did not give back its frame";
    Bytes pn53x{0xD5, 0x41, 0x00};
    pn53x.insert(pn53x.end(), original.begin(), original.end());
    pn53x.insert(pn53x.end(), {0x90, 0x00});
    if (ParsePn53xExchange(pn53x, frame) != Fault::None || !std::equal(frame.begin(), frame.end(), original.begin(), original.end()))
      return "PN53x reply did not give back its frame";
    const Bytes command = TransparentTransceive(original, 0x01020304);
    if (command.empty() || command[4] != command.size() - 5)
      return "transceive command's Lc is not its data length";
    return "";
  }
  case 9: {
    PollingReply reply;
    const uint8_t requestCode = selector >> 4 & 1;
    if (ParsePseudoPolling(input, requestCode, reply) == Fault::None &&
        !(input.size() == (requestCode ? 20u : 18u) && EndsWithSuccess(input) &&
          std::equal(reply.idm.begin(), reply.idm.end(), input.begin())))
      return "pseudo-APDU polling accepted against its length or status word";
    return "";
  }
  case 10: {
    ReadReply reply;
    const int maxBlocks = selector >> 4;
    const Fault fault = ParsePseudoRead(input, idm, maxBlocks, reply);
    if (fault == Fault::None && (reply.blocks.empty() || reply.blocks.size() != 16u * input[10] || input[10] > maxBlocks))
      return "pseudo-APDU read's blocks do not match its count";
    if (fault != Fault::None && !reply.blocks.empty())
      return "a refused pseudo-APDU read left blocks";
    return "";
  }
  case 11: {
    ReadReply reply;
    const int blocks = selector >> 4;
    const Fault fault = ParseReadBinaryLists(input, blocks, reply);
    if (fault == Fault::None && (blocks == 0 || reply.blocks.size() != 16u * blocks || !EndsWithSuccess(input)))
      return "READ BINARY with lists gave other than 16 bytes a block";
    if (fault == Fault::StatusFlags && (input.size() != 2 || reply.statusFlag1 == 0x90))
      return "status flags taken from other than a bare status word";
    return "";
  }
  case 12: {
    uint32_t code = 0;
    if (ParseFeatureList(input, 0x13, code) == Fault::None && code != 0 && input.size() < 6)
      return "an escape code from a list too short to hold one";
    return "";
  }
  case 13:
    if (ParseReadBinary(input, frame) == Fault::None && (frame.size() != 16 || !Within(frame, input)))
      return "READ BINARY block not 16 bytes of the reply";
    return "";
  case 14: {
    // The response frame in the long length forms comes back whole.
    const Bytes original(input.begin(), input.begin() + std::min<size_t>(input.size(), 300));
    Bytes reply{0xC0, 0x03, 0x00, 0x90, 0x00, 0x97, 0x82, static_cast<uint8_t>(original.size() >> 8),
                static_cast<uint8_t>(original.size())};
    reply.insert(reply.end(), original.begin(), original.end());
    reply.insert(reply.end(), {0x90, 0x00});
    if (ParseTransparentReply(reply, frame) != Fault::None || !std::equal(frame.begin(), frame.end(), original.begin(), original.end()))
      return "a long-form 97 object did not give back its frame";
    const Bytes command = EscapeTransceive(0x50, original, 100000);
    const size_t lc = static_cast<size_t>(command.size() >= 7 ? command[5] << 8 | command[6] : 0);
    if (command.size() != 7 + lc + 2 || lc != original.size() + 11)
      return "the extended escape transceive's Lc is not its data length";
    return "";
  }
  default:
    return "";
  }
}

// A reader whose every answer comes from the input: the whole session must hold up.
struct Script {
  std::span<const uint8_t> input;
};
Script gScript;

uint32_t Ok(Context* context) { *context = 1; return kSuccess; }
uint32_t Release(Context) { return kSuccess; }
uint32_t List(Context, std::vector<std::string>* readers) { *readers = {"R"}; return kSuccess; }
uint32_t Wait(Context, uint32_t, ReaderState*, size_t) { return kTimeout; }
uint32_t Cancel(Context) { return kSuccess; }
uint32_t Connect(Context, const char*, Card* card, uint32_t* protocol) { *card = 1; *protocol = 2; return kSuccess; }
uint32_t Disconnect(Card) { return kSuccess; }
uint32_t Status(Card, std::vector<uint8_t>* atr) { *atr = {0x3B, 0x8F, 0x80, 0x01}; return kSuccess; }
uint32_t Transmit(Card, uint32_t, const uint8_t*, size_t, uint8_t* receive, size_t* receiveLength) {
  auto& input = gScript.input;
  if (input.empty())
    return kCommError;
  const size_t length = std::min<size_t>({input[0], input.size() - 1, *receiveLength});
  std::copy_n(input.begin() + 1, length, receive);
  *receiveLength = length;
  input = input.subspan(1 + length);
  return kSuccess;
}
uint32_t Direct(Context, const char*, Card* card) { *card = 1; return kSuccess; }
uint32_t Control(Card card, uint32_t, const uint8_t* send, size_t sendLength, uint8_t* receive, size_t* receiveLength) {
  return Transmit(card, 0, send, sendLength, receive, receiveLength);
}
constexpr Table kScripted{Ok, Release, List, Wait, Cancel, Connect, Disconnect, Status, Transmit, Direct, Control};

std::string CheckScriptedSession(std::span<const uint8_t> input) {
  gScript.input = input;
  ForgetDialects();
  Session session(kScripted, 1, "R", {});
  if (session.Connect() != Fault::None)
    return "connect";
  PollingReply common;
  if (session.Poll(0xFE00, common) != Fault::None)
    return "";
  static constexpr uint8_t kService[] = {0xCB, 0x33};
  static constexpr uint8_t kBlock[] = {0x80, 0x00};
  ReadReply reply;
  if (session.ReadBlocks(common.idm, kService, kBlock, reply) == Fault::None && reply.blocks.size() != 16)
    return "a one-block read gave other than 16 bytes";
  return "";
}

} // namespace

std::string CheckPcscProperties(const uint8_t* data, size_t size) {
  if (size == 0)
    return "";
  const std::span<const uint8_t> input(data + 1, size - 1);
  if (data[0] == 0xFF)
    return CheckScriptedSession(input);
  return CheckFrameParsers(data[0], input);
}
