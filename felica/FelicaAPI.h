// Access to the FeliCa reader/writer library: lifecycle wrappers, error raising and texts,
// card polling, block read and hexadecimal rendering. Every failure is thrown as FelicaError.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "FelicaError.h"

namespace FelicaAPI {

// One polling: card count (0 = no card), IDm, PMm.
struct CardInformation {
  uint8_t CardCount;
  uint8_t IDm[8];
  uint8_t PMm[8];
};

// One block read: the two status flags, the block count and the whole data buffer.
struct BlockReadResult {
  uint8_t StatusFlag1;
  uint8_t StatusFlag2;
  uint8_t BlockCount;
  std::vector<uint8_t> BlockData;
};

// Error kinds; the raised number is kind + 513.
inline constexpr int16_t ErrorKindOperation = 0; // 513
inline constexpr int16_t ErrorKindInstall = 1;   // 514
inline constexpr int16_t ErrorKindReader = 2;    // 515

// Texts for the library's two error types; "未定義" for any value without a text.
std::wstring FelicaErrorText(int32_t code);
std::wstring RwErrorText(int32_t code);
// The same in English (UTF-8), for the console tool.
std::string FelicaErrorTextEnglish(int32_t code);
std::string RwErrorTextEnglish(int32_t code);

// The FeliCa error type of the last failure, or -1 when the library can't tell.
int32_t LastFelicaErrorType();
[[noreturn]] void RaiseFelicaError(const std::wstring& funcName, int16_t kind);

void InitializeLibrary();
void DisposeLibrary();
void OpenReaderWriterAuto();
void CloseReaderWriter();
void StopPolling();

// Two upper-case digits per byte; stops after maxCount bytes (0: all); "" when fewer than
// minLength bytes are given (0: no minimum).
std::wstring BytesToHex(std::span<const uint8_t> bytes, int16_t maxCount, int16_t minLength);
// Copies source[i] to destination[i]; an index beyond destination raises the subscript error.
void CopyBytes(std::span<const uint8_t> source, std::span<uint8_t> destination);

CardInformation PollCard(uint8_t systemCodeHigh, uint8_t systemCodeLow, uint8_t timeSlot);
CardInformation PollAnyCard(); // system code FF FF, time slot 0
std::wstring ReadIDm();        // "" without a card; raises on failure
std::wstring GetIDm() noexcept; // never raises

BlockReadResult ReadBlockWithoutEncryption(std::span<const uint8_t> idm, std::span<const uint8_t> serviceList,
                                           std::span<const uint8_t> blockList);
BlockReadResult ReadBlock(std::span<const uint8_t> idm, uint8_t service1, uint8_t service2, uint8_t block1,
                          uint8_t block2);
std::wstring ReadFelicaNumber(); // "" without a card in the common area; raises on failure
std::wstring GetFelicaNumber() noexcept; // never raises

} // namespace FelicaAPI
