// The reader library felica_for_vb.dll, as this program binds it. The only code that knows
// the library is a DLL: it is loaded by name at the first call and its entry points are
// called through __stdcall pointers with these records.
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

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PollingParameters) == 8);
static_assert(sizeof(CardInformationBuffers) == 8);
static_assert(sizeof(BlockReadParameters) == 20 && offsetof(BlockReadParameters, ServiceCodeList) == 8 &&
              offsetof(BlockReadParameters, BlockCount) == 12 && offsetof(BlockReadParameters, BlockList) == 16);
static_assert(sizeof(BlockReadOutputs) == 16);
static_assert(sizeof(CallbackParameters) == 20 && offsetof(CallbackParameters, Parameter2) == 16);
#endif

// Each returns the library's success flag (non-zero byte = true). A library that can't be
// loaded raises runtime error 53, a missing entry point 453; the next call tries again.
bool initialize_library();
bool dispose_library();
bool open_reader_writer_auto();
bool close_reader_writer();
bool polling_and_get_card_information(const PollingParameters* parameters, uint8_t* cardCount,
                                      const CardInformationBuffers* buffers);
bool read_block_without_encryption(const BlockReadParameters* parameters, const BlockReadOutputs* outputs);
bool get_last_error_types(int32_t* felicaErrorType, int32_t* rwErrorType);
bool set_call_back_parameters(const CallbackParameters* parameters);
bool start_polling(const PollingParameters* parameters);
bool stop_polling();

} // namespace FelicaAPI::Library
