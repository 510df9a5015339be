// A scriptable stand-in for the entry points the access layer calls, linked in place of the DLL
// binding so the access layer runs natively under the sanitizers. The bridge's two are not needed.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

namespace Fake {

enum Entry {
  Initialize,
  Dispose,
  Open,
  Close,
  Poll,
  BlockRead,
  ErrorQuery,
  StopPolling,
  EntryCount
};

// What one entry point does when it is called.
struct Script {
  bool succeeds = true;
  // Left behind as the library's last error when the call fails.
  int32_t felicaErrorType = 0;
  int32_t rwErrorType = 0;
  // The error query after this failure fails too (and still scribbles the types into its outputs).
  bool errorQueryFails = false;
  // Non-zero: the call raises this runtime error instead, as a missing library (53) or entry point (453).
  int32_t raises = 0;
};

// What a successful polling and block read deliver.
struct Card {
  bool writesOutputs = true; // false: success reported, outputs left untouched
  uint8_t count = 1;
  uint8_t idm[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  uint8_t pmm[8] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  uint8_t statusFlag1 = 0;
  uint8_t statusFlag2 = 0;
  // Written at the start of the data buffer; the rest of the room the caller offers is filled with 0xEE.
  std::vector<uint8_t> blockData = {0xA0, 0x01, 0x02, 0x0F, 0x10, 0xFF, 0x5A, 0x00};
  uint8_t blocksRead = 1;
  bool overstatesBlockCount = false; // reports 250 blocks whatever the room
};

// Arguments as the last call of each kind saw them, copied during the call.
struct Recorded {
  std::array<int32_t, EntryCount> calls{};
  uint8_t systemCode[2] = {};
  uint8_t timeSlot = 0;
  std::vector<uint8_t> idm;
  uint8_t serviceCount = 0;
  std::vector<uint8_t> serviceList;
  uint8_t blockCount = 0;
  std::vector<uint8_t> blockList;
  uint8_t blockRoom = 0;
};

extern std::array<Script, EntryCount> scripts;
extern Card card;
extern Recorded recorded;

void Reset();
int32_t Calls(Entry entry);
// Calls of every entry point but the error query.
int32_t LibraryCalls();

} // namespace Fake
