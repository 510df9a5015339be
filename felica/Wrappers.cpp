// Lifecycle and stop wrappers: a failed call is either one the caller may ignore (library already
// initialised, reader already open or not open) or a raised error.
#include <initializer_list>

#include "FelicaAPI.h"
#include "Library.h"

namespace FelicaAPI {
namespace {

// Each tolerated type is checked with a fresh query, in order, as the library's last error
// doesn't change in between; a failure nothing tolerates is raised.
void CheckCall(bool succeeded, std::initializer_list<int32_t> tolerated, const wchar_t* funcName, int16_t kind) {
  if (succeeded) {
    return;
  }
  for (int32_t type : tolerated) {
    if (LastFelicaErrorType() == type) {
      return;
    }
  }
  RaiseFelicaError(funcName, kind);
}

constexpr int32_t AlreadyInitialized = 1006;
constexpr int32_t ReaderNotOpen = 1029;
constexpr int32_t ReaderAlreadyOpen = 1030;
constexpr int32_t ErrorQueryFailed = -1;

} // namespace

void InitializeLibrary() {
  CheckCall(Library::initialize_library(), {AlreadyInitialized}, L"InitializeLibrary", ErrorKindInstall);
}

// Disposing of a library that was never initialised fails, and so does the error query then.
void DisposeLibrary() {
  CheckCall(Library::dispose_library(), {ErrorQueryFailed}, L"DisposeLibrary", ErrorKindOperation);
}

void OpenReaderWriterAuto() {
  CheckCall(Library::open_reader_writer_auto(), {ReaderAlreadyOpen}, L"OpenReaderWriterAuto", ErrorKindReader);
}

void CloseReaderWriter() {
  CheckCall(Library::close_reader_writer(), {ErrorQueryFailed, ReaderNotOpen}, L"CloseReaderWriter",
            ErrorKindOperation);
}

void StopPolling() { CheckCall(Library::stop_polling(), {}, L"StopPolling", ErrorKindOperation); }

} // namespace FelicaAPI
