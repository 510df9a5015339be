// The records callers pass by address, as they lay them out on the 32-bit build:
// bytes unpadded, a pointer after a byte starting at the next multiple of 4.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sim {

struct PollingParameters {
  const uint8_t* systemCode; // 2 bytes, high byte first
  uint8_t timeSlot;
  uint8_t padding[3];
};

struct CardInformationBuffers {
  uint8_t* idm; // 8 bytes
  uint8_t* pmm; // 8 bytes
};

struct BlockReadParameters {
  const uint8_t* idm;
  uint8_t serviceCount;
  uint8_t padding1[3];
  const uint8_t* serviceList; // 2 bytes per service, low byte first
  uint8_t blockCount;
  uint8_t padding2[3];
  const uint8_t* blockList; // 2 bytes per block element
};

struct BlockReadOutputs {
  uint8_t* statusFlag1;
  uint8_t* statusFlag2;
  uint8_t* blockCount; // in: room of blockData in blocks; out: blocks read
  uint8_t* blockData;  // 16 bytes per block of room
};

struct CallbackParameters {
  void* window;
  const char* findMessageName;
  const char* lossMessageName;
  int32_t value1;
  int32_t value2;
};

static_assert(sizeof(void*) == 4, "the records are those of the 32-bit build");
static_assert(sizeof(PollingParameters) == 8 && offsetof(PollingParameters, timeSlot) == 4);
static_assert(sizeof(CardInformationBuffers) == 8 && offsetof(CardInformationBuffers, pmm) == 4);
static_assert(sizeof(BlockReadParameters) == 20);
static_assert(offsetof(BlockReadParameters, serviceCount) == 4 && offsetof(BlockReadParameters, serviceList) == 8);
static_assert(offsetof(BlockReadParameters, blockCount) == 12 && offsetof(BlockReadParameters, blockList) == 16);
static_assert(sizeof(BlockReadOutputs) == 16 && offsetof(BlockReadOutputs, statusFlag2) == 4);
static_assert(offsetof(BlockReadOutputs, blockCount) == 8 && offsetof(BlockReadOutputs, blockData) == 12);
static_assert(sizeof(CallbackParameters) == 20 && offsetof(CallbackParameters, findMessageName) == 4);
static_assert(offsetof(CallbackParameters, lossMessageName) == 8 && offsetof(CallbackParameters, value1) == 12);
static_assert(offsetof(CallbackParameters, value2) == 16);

} // namespace sim
