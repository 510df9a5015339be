// FeliCa frames, length byte first: building Polling and Read Without Encryption, and parsing
// the card's replies against the bytes actually received.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "Faults.h"

namespace pcsc {

using Idm = std::array<uint8_t, 8>;
using FelicaNumber = std::array<uint8_t, 8>;
using Pmm = std::array<uint8_t, 8>;

struct PollingReply {
  Idm idm{};
  Pmm pmm{};
  bool pmmKnown = true; // false: the reader named the card without polling it, and gave no PMm
  bool hasSystemCode = false;
  uint16_t systemCode = 0;
};

struct ReadReply {
  uint8_t statusFlag1 = 0;
  uint8_t statusFlag2 = 0;
  std::vector<uint8_t> blocks; // 16 bytes per block
};

// Request code 01 asks the card for its system code as well.
std::vector<uint8_t> PollingFrame(uint16_t systemCode, uint8_t requestCode, uint8_t timeSlot);
Fault ParsePollingReply(std::span<const uint8_t> frame, PollingReply& reply);

// Request System Code: the card's system codes in the order of the systems' numbers, which are
// the upper four bits of each system's IDm. OtherCard when the reply echoes another IDm.
std::vector<uint8_t> RequestSystemCodeFrame(const Idm& idm);
Fault ParseSystemCodes(std::span<const uint8_t> frame, const Idm& idm, std::vector<uint16_t>& codes);

// services: 2 bytes each, low byte first; blocks: 2- or 3-byte block list elements.
// BadArgument when a list is empty, too long for a frame, or breaks the element format.
Fault ReadFrame(const Idm& idm, std::span<const uint8_t> services, std::span<const uint8_t> blocks,
                std::vector<uint8_t>& frame);
// The number of block elements in a block list, or -1 when it is not a whole list.
int CountBlockElements(std::span<const uint8_t> blocks);
// Checks the echoed IDm (OtherCard) and that the block count matches the bytes; error status flags are a
// reply too (StatusFlags, with the flags filled in and no blocks). maxBlocks: the blocks asked for.
Fault ParseReadReply(std::span<const uint8_t> frame, const Idm& idm, int maxBlocks, ReadReply& reply);

} // namespace pcsc
