#include "Cards.h"

#include <algorithm>
#include <bit>
#include <iterator>

namespace pcsc {
namespace {

// PC/SC Part 3: a storage card's ATR, 20 bytes. T0 8F (15 historical bytes), TD1 80, TD2 01; the
// historical bytes: category 80, application identifier 4F 0C, RID A0 00 00 03 06, the standard
// byte, the card name (2 bytes), 4 bytes RFU; then TCK.
constexpr uint8_t kStoragePrefix[] = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06};
constexpr size_t kStorageLength = 20;
constexpr size_t kStandardByte = 12;

// FeliCa's card names, each with the standard byte the readers give it.
struct FelicaName {
  uint8_t standard, name1, name2;
  FelicaForm form;
};
constexpr FelicaName kFelicaNames[] = {
    {0x11, 0x00, 0x3B, FelicaForm::Storage},
    {0x03, 0xF0, 0x11, FelicaForm::Pn53x},
    {0x03, 0xF0, 0x12, FelicaForm::Pn53x},
};

// The card types the standard byte names.
struct Standard {
  uint8_t first, last;
  CardKind kind;
};
constexpr Standard kStandards[] = {
    {0x01, 0x04, CardKind::Iso14443A}, {0x05, 0x08, CardKind::Iso14443B}, {0x09, 0x0C, CardKind::Iso15693},
    {0x0D, 0x10, CardKind::Contact}, // ISO 7816-10 memory cards through the same layout
};

// ISO 14443-4 cards: 3B 8n 80 01 <n historical bytes> TCK.
constexpr uint8_t kIdmInAtrHead[] = {0x04, 0x43, 0xFD};
constexpr size_t kIdmInAtrHistorical = 12;

bool CheckByteRight(std::span<const uint8_t> atr) {
  uint8_t check = 0;
  for (size_t i = 1; i < atr.size(); ++i)
    check ^= atr[i];
  return check == 0;
}

AtrReading ReadStorage(std::span<const uint8_t> atr) {
  const uint8_t standard = atr[kStandardByte], name1 = atr[kStandardByte + 1], name2 = atr[kStandardByte + 2];
  for (const FelicaName& felica : kFelicaNames)
    if (standard == felica.standard && name1 == felica.name1 && name2 == felica.name2)
      return {CardKind::Felica, felica.form, std::nullopt};
  for (const Standard& range : kStandards)
    if (standard >= range.first && standard <= range.last)
      return {range.kind, FelicaForm::None, std::nullopt};
  return {};
}

// Type B shows only in its historical bytes: the ATQB's application data, protocol info and
// the MBLI (8 bytes, protocol type 0 or 1, MBLI's low half 0), or the whole ATQB from its 50.
bool TypeBHistory(std::span<const uint8_t> history) {
  if (history.size() == 8)
    return (history[5] & 0x0F) <= 1 && (history[7] & 0x0F) == 0;
  return history.size() == 12 && history[0] == 0x50;
}

AtrReading ReadIso14443(std::span<const uint8_t> history) {
  if (history.size() == kIdmInAtrHistorical && std::equal(std::begin(kIdmInAtrHead), std::end(kIdmInAtrHead), history.begin())) {
    Idm idm;
    std::copy_n(history.begin() + std::size(kIdmInAtrHead), idm.size(), idm.begin());
    return {CardKind::Felica, FelicaForm::IdmInAtr, idm};
  }
  return {TypeBHistory(history) ? CardKind::Iso14443B : CardKind::Iso14443A, FelicaForm::None, std::nullopt};
}

// Whether the interface bytes account for the ATR's whole length, with a right TCK where a
// protocol other than T=0 asks for one.
bool WellFormed(std::span<const uint8_t> atr) {
  if (atr.size() < 2 || (atr[0] != 0x3B && atr[0] != 0x3F))
    return false;
  size_t at = 2;
  uint8_t indicator = atr[1];
  bool checked = false;
  for (;;) {
    at += std::popcount(static_cast<unsigned>(indicator >> 4 & 0x07));
    if (!(indicator & 0x80))
      break;
    if (at >= atr.size())
      return false;
    indicator = atr[at++];
    checked = checked || (indicator & 0x0F) != 0;
  }
  return atr.size() == at + (atr[1] & 0x0F) + (checked ? 1 : 0) && (!checked || CheckByteRight(atr));
}

} // namespace

const char* CardKindName(CardKind kind) {
  switch (kind) {
  case CardKind::None: return "none";
  case CardKind::Felica: return "felica";
  case CardKind::Iso14443A: return "iso14443a";
  case CardKind::Iso14443B: return "iso14443b";
  case CardKind::Iso15693: return "iso15693";
  case CardKind::Contact: return "contact";
  case CardKind::Other: return "other";
  }
  return "other";
}

AtrReading ReadAtr(std::span<const uint8_t> atr) {
  if (atr.size() == kStorageLength && std::equal(std::begin(kStoragePrefix), std::end(kStoragePrefix), atr.begin()))
    return CheckByteRight(atr) ? ReadStorage(atr) : AtrReading{};
  if (atr.size() >= 5 && atr[0] == 0x3B && (atr[1] & 0xF0) == 0x80 && atr[2] == 0x80 && atr[3] == 0x01 &&
      atr.size() == 5u + (atr[1] & 0x0F))
    return CheckByteRight(atr) ? ReadIso14443(atr.subspan(4, atr.size() - 5)) : AtrReading{};
  return {WellFormed(atr) ? CardKind::Contact : CardKind::Other, FelicaForm::None, std::nullopt};
}

bool RandomId(const CardId& card) {
  return card.kind == CardKind::Iso14443A && card.id.size() == 4 && card.id[0] == 0x08;
}

} // namespace pcsc
