// The ten entry points as a reader library built here exports them: __stdcall, plain names
// (see cmake/ReaderLibrary.cmake), a one-byte success flag, and never an exception.
// For the libraries themselves; the program binds them at run time through Library.h.
#pragma once
#include <cstdint>

#include "felica/LibraryRecords.h"

#define READER_LIBRARY_ENTRY extern "C" __declspec(dllexport) uint8_t __stdcall

READER_LIBRARY_ENTRY initialize_library() noexcept;
READER_LIBRARY_ENTRY dispose_library() noexcept;
READER_LIBRARY_ENTRY open_reader_writer_auto() noexcept;
READER_LIBRARY_ENTRY close_reader_writer() noexcept;
READER_LIBRARY_ENTRY polling_and_get_card_information(const FelicaAPI::Library::PollingParameters* parameters,
                                                      uint8_t* cardCount,
                                                      const FelicaAPI::Library::CardInformationBuffers* buffers) noexcept;
READER_LIBRARY_ENTRY read_block_without_encryption(const FelicaAPI::Library::BlockReadParameters* parameters,
                                                   const FelicaAPI::Library::BlockReadOutputs* outputs) noexcept;
READER_LIBRARY_ENTRY get_last_error_types(int32_t* felicaErrorType, int32_t* rwErrorType) noexcept;
READER_LIBRARY_ENTRY set_call_back_parameters(const FelicaAPI::Library::CallbackParameters* parameters) noexcept;
READER_LIBRARY_ENTRY start_polling(const FelicaAPI::Library::PollingParameters* parameters) noexcept;
READER_LIBRARY_ENTRY stop_polling() noexcept;
