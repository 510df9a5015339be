// The reader library felica_for_vb.dll as every party sees it: the records it receives by
// address, the names of its entry points and the two messages a caller asks it to send. The
// program, the simulated library and the PC/SC library all build on this one declaration.
#pragma once
#include <cstddef>
#include <cstdint>

namespace FelicaAPI::Library {

struct PollingParameters {
  const uint8_t* SystemCode; // 2 bytes, high byte first
  uint8_t TimeSlot;
};

struct CardInformationBuffers {
  uint8_t* IDm; // 8 bytes
  uint8_t* PMm; // 8 bytes
};

struct BlockReadParameters {
  const uint8_t* IDm;
  uint8_t ServiceCount;
  const uint8_t* ServiceCodeList; // 2 bytes per service, low byte first
  uint8_t BlockCount;
  const uint8_t* BlockList; // 2 bytes per block element
};

struct BlockReadOutputs {
  uint8_t* StatusFlag1;
  uint8_t* StatusFlag2;
  uint8_t* BlockCount; // in: room in blocks; out: blocks read
  uint8_t* BlockData;  // 16 bytes per block
};

struct CallbackParameters {
  void* Window;
  const char* FindMessageName;
  const char* LossMessageName;
  int32_t Parameter1;
  int32_t Parameter2;
};

// The layout of the 32-bit build: bytes unpadded, a pointer after a byte at the next multiple of 4.
// Native builds of the platform-free code use the same records with their own pointer size.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PollingParameters) == 8 && offsetof(PollingParameters, TimeSlot) == 4);
static_assert(sizeof(CardInformationBuffers) == 8 && offsetof(CardInformationBuffers, PMm) == 4);
static_assert(sizeof(BlockReadParameters) == 20 && offsetof(BlockReadParameters, ServiceCount) == 4 &&
              offsetof(BlockReadParameters, ServiceCodeList) == 8 && offsetof(BlockReadParameters, BlockCount) == 12 &&
              offsetof(BlockReadParameters, BlockList) == 16);
static_assert(sizeof(BlockReadOutputs) == 16 && offsetof(BlockReadOutputs, StatusFlag2) == 4 &&
              offsetof(BlockReadOutputs, BlockCount) == 8 && offsetof(BlockReadOutputs, BlockData) == 12);
static_assert(sizeof(CallbackParameters) == 20 && offsetof(CallbackParameters, FindMessageName) == 4 &&
              offsetof(CallbackParameters, LossMessageName) == 8 && offsetof(CallbackParameters, Parameter1) == 12 &&
              offsetof(CallbackParameters, Parameter2) == 16);
#endif

inline constexpr int kEntryPointCount = 10;
inline constexpr const char* kEntryPointNames[kEntryPointCount] = {
    "initialize_library",
    "dispose_library",
    "open_reader_writer_auto",
    "close_reader_writer",
    "polling_and_get_card_information",
    "read_block_without_encryption",
    "get_last_error_types",
    "set_call_back_parameters",
    "start_polling",
    "stop_polling",
};

// Registered with RegisterWindowMessage by the caller and the library alike.
inline constexpr char kFindMessageName[] = "FelicaAPI_callback_find";
inline constexpr char kLossMessageName[] = "FelicaAPI_callback_loss";

} // namespace FelicaAPI::Library
