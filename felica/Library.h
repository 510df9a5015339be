// The reader library felica_for_vb.dll, as this program binds it. The only code that knows
// the library is a DLL: it is loaded by name at the first call and its entry points are
// called through __stdcall pointers with these records.
#pragma once
#include <cstdint>

#include "felica/LibraryRecords.h"

namespace FelicaAPI::Library {

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
