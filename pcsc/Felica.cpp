#include "Felica.h"

#include <algorithm>

namespace pcsc {
namespace {

constexpr uint8_t kPollingCommand = 0x00;
constexpr uint8_t kPollingResponse = 0x01;
constexpr uint8_t kReadCommand = 0x06;
constexpr uint8_t kReadResponse = 0x07;
constexpr uint8_t kSystemCodeCommand = 0x0C;
constexpr uint8_t kSystemCodeResponse = 0x0D;
constexpr size_t kMaxFrame = 255; // the length byte counts itself
constexpr int kMaxServices = 16;  // a block element has 4 bits for the service index
constexpr size_t kBlockSize = 16;

// The frame's own length byte must be the number of bytes received.
bool WholeFrame(std::span<const uint8_t> frame, uint8_t response, size_t minimum) {
  return frame.size() >= minimum && frame[0] == frame.size() && frame[1] == response;
}

} // namespace

std::vector<uint8_t> PollingFrame(uint16_t systemCode, uint8_t requestCode, uint8_t timeSlot) {
  return {6, kPollingCommand, static_cast<uint8_t>(systemCode >> 8), static_cast<uint8_t>(systemCode),
          requestCode, timeSlot};
}

Fault ParsePollingReply(std::span<const uint8_t> frame, PollingReply& reply) {
  if (!WholeFrame(frame, kPollingResponse, 18) || (frame.size() != 18 && frame.size() != 20))
    return Fault::Malformed;
  std::copy_n(frame.begin() + 2, 8, reply.idm.begin());
  std::copy_n(frame.begin() + 10, 8, reply.pmm.begin());
  reply.hasSystemCode = frame.size() == 20;
  reply.systemCode = reply.hasSystemCode ? static_cast<uint16_t>(frame[18] << 8 | frame[19]) : 0;
  return Fault::None;
}

std::vector<uint8_t> RequestSystemCodeFrame(const Idm& idm) {
  std::vector<uint8_t> frame(10);
  frame[0] = 10;
  frame[1] = kSystemCodeCommand;
  std::copy(idm.begin(), idm.end(), frame.begin() + 2);
  return frame;
}

Fault ParseSystemCodes(std::span<const uint8_t> frame, const Idm& idm, std::vector<uint16_t>& codes) {
  if (!WholeFrame(frame, kSystemCodeResponse, 13) || frame[10] == 0 || frame.size() != 11u + 2u * frame[10])
    return Fault::Malformed;
  if (!std::equal(idm.begin(), idm.end(), frame.begin() + 2))
    return Fault::OtherCard;
  codes.clear();
  for (size_t i = 11; i < frame.size(); i += 2)
    codes.push_back(static_cast<uint16_t>(frame[i] << 8 | frame[i + 1]));
  return Fault::None;
}

int CountBlockElements(std::span<const uint8_t> blocks) {
  int count = 0;
  for (size_t i = 0; i < blocks.size(); ++count) {
    // Bit 7 set: a 2-byte element; clear: a 3-byte one with a 16-bit block number.
    i += (blocks[i] & 0x80) ? 2 : 3;
    if (i > blocks.size())
      return -1;
  }
  return count;
}

Fault ReadFrame(const Idm& idm, std::span<const uint8_t> services, std::span<const uint8_t> blocks,
                std::vector<uint8_t>& frame) {
  const size_t serviceCount = services.size() / 2;
  const int blockCount = CountBlockElements(blocks);
  if (serviceCount == 0 || serviceCount > kMaxServices || services.size() % 2 != 0 || blockCount <= 0)
    return Fault::BadArgument;
  for (size_t i = 0; i < blocks.size(); i += (blocks[i] & 0x80) ? 2 : 3)
    if ((blocks[i] & 0x0F) >= serviceCount)
      return Fault::BadArgument;
  const size_t length = 1 + 1 + 8 + 1 + services.size() + 1 + blocks.size();
  if (length > kMaxFrame)
    return Fault::BadArgument;
  frame.clear();
  frame.push_back(static_cast<uint8_t>(length));
  frame.push_back(kReadCommand);
  frame.insert(frame.end(), idm.begin(), idm.end());
  frame.push_back(static_cast<uint8_t>(serviceCount));
  frame.insert(frame.end(), services.begin(), services.end());
  frame.push_back(static_cast<uint8_t>(blockCount));
  frame.insert(frame.end(), blocks.begin(), blocks.end());
  return Fault::None;
}

Fault ParseReadReply(std::span<const uint8_t> frame, const Idm& idm, int maxBlocks, ReadReply& reply) {
  if (!WholeFrame(frame, kReadResponse, 12))
    return Fault::Malformed;
  if (!std::equal(idm.begin(), idm.end(), frame.begin() + 2))
    return Fault::OtherCard;
  reply.statusFlag1 = frame[10];
  reply.statusFlag2 = frame[11];
  reply.blocks.clear();
  if (reply.statusFlag1 != 0 || reply.statusFlag2 != 0)
    return frame.size() == 12 ? Fault::StatusFlags : Fault::Malformed;
  if (frame.size() < 13)
    return Fault::Malformed;
  const size_t count = frame[12];
  if (count == 0 || static_cast<int>(count) > maxBlocks || frame.size() != 13 + count * kBlockSize)
    return Fault::Malformed;
  reply.blocks.assign(frame.begin() + 13, frame.end());
  return Fault::None;
}

} // namespace pcsc
