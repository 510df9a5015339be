// What card a reader holds, judged from its ATR on the whole documented layout, and the card's
// identifier as the reader gives it. No I/O.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Felica.h"

namespace pcsc {

enum class CardKind : uint8_t { None, Felica, Iso14443A, Iso14443B, Iso15693, Contact, Other };
// felica, iso14443a, iso14443b, iso15693, contact, other; none without a card.
const char* CardKindName(CardKind kind);

// How an ATR presents a FeliCa card: it orders the dialects to try.
enum class FelicaForm : uint8_t {
  None,     // not FeliCa by its ATR
  Storage,  // PC/SC Part 3 storage card, standard byte 11, card name 00 3B
  Pn53x,    // the same layout, standard byte 03, card name F0 11 or F0 12
  IdmInAtr, // ISO 14443-4 layout whose historical bytes carry the IDm: 04 43 FD <IDm> <1 byte>
};

struct AtrReading {
  CardKind kind = CardKind::Other; // Other: the ATR names no card type; a FeliCa polling may tell
  FelicaForm form = FelicaForm::None;
  std::optional<Idm> idm; // the IDm-in-ATR form's
};
AtrReading ReadAtr(std::span<const uint8_t> atr);

struct CardId {
  CardKind kind = CardKind::None;
  std::vector<uint8_t> id; // a FeliCa card's IDm, another contactless card's UID; empty: none given
  bool operator==(const CardId&) const = default;
};
// An ISO 14443 A identifier that the card makes up anew at each activation (4 bytes, first 08).
bool RandomId(const CardId& card);

} // namespace pcsc
