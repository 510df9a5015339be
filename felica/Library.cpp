// Binding of felica_for_vb.dll: loaded by name at the first call, kept loaded, and called through
// __stdcall pointers that return the library's one-byte success flag.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "FelicaError.h"
#include "Library.h"

namespace FelicaAPI::Library {
namespace {

using Flag = unsigned char;
using NoArguments = Flag(__stdcall*)();
using Polling = Flag(__stdcall*)(const PollingParameters*, uint8_t*, const CardInformationBuffers*);
using BlockRead = Flag(__stdcall*)(const BlockReadParameters*, const BlockReadOutputs*);
using ErrorTypes = Flag(__stdcall*)(int32_t*, int32_t*);
using CallbackSetting = Flag(__stdcall*)(const CallbackParameters*);
using PollingStart = Flag(__stdcall*)(const PollingParameters*);

HMODULE module = nullptr;

// A failed load is not remembered: a user who installs the library can try again at once.
HMODULE ReaderLibrary() {
  if (module == nullptr) {
    // A felica_for_vb.dll planted in the current directory must never be loaded; the program's
    // folder, the system folders and PATH stay searched. Naming a DLL directory drops the current
    // directory everywhere; Wine ignores SetDllDirectoryW(L"").
    wchar_t folder[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    wchar_t* lastSeparator = length < MAX_PATH ? std::wcsrchr(folder, L'\\') : nullptr;
    if (lastSeparator != nullptr) {
      *lastSeparator = L'\0';
    } else {
      folder[0] = L'\0';
    }
    SetDllDirectoryW(folder);
    module = LoadLibraryW(L"felica_for_vb.dll");
    if (module == nullptr) {
      RaiseRuntimeError(ErrFileNotFound, L"felica_for_vb.dll が見つからないか、読み込めません。");
    }
  }
  return module;
}

template <typename Function> Function EntryPoint(Function& cached, const char* name) {
  if (cached == nullptr) {
    FARPROC address = GetProcAddress(ReaderLibrary(), name);
    if (address == nullptr) {
      // The names are plain ASCII.
      std::wstring wideName(name, name + std::strlen(name));
      RaiseRuntimeError(ErrEntryPointNotFound,
                        L"felica_for_vb.dll にエントリ ポイント " + wideName + L" が見つかりません。");
    }
    cached = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
  }
  return cached;
}

} // namespace

bool initialize_library() {
  static NoArguments function = nullptr;
  return EntryPoint(function, "initialize_library")() != 0;
}

bool dispose_library() {
  static NoArguments function = nullptr;
  return EntryPoint(function, "dispose_library")() != 0;
}

bool open_reader_writer_auto() {
  static NoArguments function = nullptr;
  return EntryPoint(function, "open_reader_writer_auto")() != 0;
}

bool close_reader_writer() {
  static NoArguments function = nullptr;
  return EntryPoint(function, "close_reader_writer")() != 0;
}

bool polling_and_get_card_information(const PollingParameters* parameters, uint8_t* cardCount,
                                      const CardInformationBuffers* buffers) {
  static Polling function = nullptr;
  return EntryPoint(function, "polling_and_get_card_information")(parameters, cardCount, buffers) != 0;
}

bool read_block_without_encryption(const BlockReadParameters* parameters, const BlockReadOutputs* outputs) {
  static BlockRead function = nullptr;
  return EntryPoint(function, "read_block_without_encryption")(parameters, outputs) != 0;
}

bool get_last_error_types(int32_t* felicaErrorType, int32_t* rwErrorType) {
  static ErrorTypes function = nullptr;
  return EntryPoint(function, "get_last_error_types")(felicaErrorType, rwErrorType) != 0;
}

bool set_call_back_parameters(const CallbackParameters* parameters) {
  static CallbackSetting function = nullptr;
  return EntryPoint(function, "set_call_back_parameters")(parameters) != 0;
}

bool start_polling(const PollingParameters* parameters) {
  static PollingStart function = nullptr;
  return EntryPoint(function, "start_polling")(parameters) != 0;
}

bool stop_polling() {
  static NoArguments function = nullptr;
  return EntryPoint(function, "stop_polling")() != 0;
}

} // namespace FelicaAPI::Library
