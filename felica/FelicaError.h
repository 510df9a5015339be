// The one error type of the program: number, source and description, as the window shows them.
#pragma once
#include <cstdint>
#include <string>

struct FelicaError {
  int32_t Number;
  std::wstring Source;
  std::wstring Description;
};

// Source of the errors the access layer raises for failed library calls (numbers 513 to 515).
inline constexpr wchar_t FelicaErrorSource[] = L"FelicaAPI";
// Source of the program's own runtime errors (overflow, subscript, library not found, ...).
inline constexpr wchar_t RuntimeErrorSource[] = L"Varnelo";

// Classic runtime error numbers.
inline constexpr int32_t ErrOverflow = 6;
inline constexpr int32_t ErrSubscriptOutOfRange = 9;
inline constexpr int32_t ErrFileNotFound = 53;       // the reader library can't be loaded
inline constexpr int32_t ErrEntryPointNotFound = 453; // an entry point is missing from it

[[noreturn]] void RaiseRuntimeError(int32_t number, const std::wstring& description);
