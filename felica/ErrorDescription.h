// Error numbers and descriptions of the access layer, composed without touching the library.
#pragma once
#include <cstdint>
#include <string>

namespace FelicaAPI {

// Four lines joined by CR LF: the heading, the failed call and both error types with their texts.
std::wstring ComposeFelicaErrorDescription(const std::wstring& funcName, int32_t felicaErrorType,
                                           int32_t rwErrorType);
// Two lines, for a failure whose error types could not be queried.
std::wstring ComposeErrorQueryFailedDescription();

// The raised number for an error kind (kind + 513); a sum beyond 16 bits raises the overflow error.
int32_t FelicaErrorNumber(int16_t kind);

// The program's own runtime errors for lists and indices out of range.
[[noreturn]] void RaiseOverflow();
[[noreturn]] void RaiseSubscriptOutOfRange();

} // namespace FelicaAPI
