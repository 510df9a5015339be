// Card polling, the IDm and the hexadecimal rendering of byte lists.
#include "ErrorDescription.h"
#include "FelicaAPI.h"
#include "Library.h"

namespace FelicaAPI {

namespace {
constexpr int32_t NoCardFound = 1036;
constexpr int16_t IdmLength = 8;
} // namespace

std::wstring BytesToHex(std::span<const uint8_t> bytes, int16_t maxCount, int16_t minLength) {
  static constexpr wchar_t Digits[] = L"0123456789ABCDEF";
  std::wstring text;
  if (minLength > 0 && bytes.size() < static_cast<size_t>(minLength)) {
    return text;
  }
  int32_t rendered = 0;
  for (uint8_t byte : bytes) {
    text += Digits[byte >> 4];
    text += Digits[byte & 0x0F];
    if (maxCount != 0 && ++rendered == maxCount) {
      break;
    }
  }
  return text;
}

void CopyBytes(std::span<const uint8_t> source, std::span<uint8_t> destination) {
  // Checked before the first byte moves, so a failed copy leaves the destination as it was.
  if (source.size() > destination.size()) {
    RaiseSubscriptOutOfRange();
  }
  for (size_t i = 0; i < source.size(); ++i) {
    destination[i] = source[i];
  }
}

CardInformation PollCard(uint8_t systemCodeHigh, uint8_t systemCodeLow, uint8_t timeSlot) {
  const uint8_t systemCode[2] = {systemCodeHigh, systemCodeLow};
  const Library::PollingParameters parameters{systemCode, timeSlot};
  uint8_t cardCount = 0;
  uint8_t idm[IdmLength] = {};
  uint8_t pmm[IdmLength] = {};
  const Library::CardInformationBuffers buffers{idm, pmm};

  CardInformation card{};
  if (!Library::polling_and_get_card_information(&parameters, &cardCount, &buffers)) {
    if (LastFelicaErrorType() == NoCardFound) {
      return card;
    }
    RaiseFelicaError(L"PollingAndGetCardInformation", ErrorKindOperation);
  }
  card.CardCount = cardCount;
  CopyBytes(idm, card.IDm);
  CopyBytes(pmm, card.PMm);
  return card;
}

CardInformation PollAnyCard() { return PollCard(0xFF, 0xFF, 0); }

std::wstring ReadIDm() {
  CardInformation card = PollAnyCard();
  if (card.CardCount == 0) {
    return L"";
  }
  return BytesToHex(card.IDm, IdmLength, IdmLength);
}

std::wstring GetIDm() noexcept {
  try {
    return ReadIDm();
  } catch (...) {
    return std::wstring();
  }
}

} // namespace FelicaAPI
