// The reader dialects: how a FeliCa frame travels through a PC/SC reader of each family, as
// codecs without I/O. Each builder gives the command APDU; each parser takes the whole response
// APDU (data and status word) and gives the card's frame or a precise fault.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "Faults.h"
#include "Felica.h"

namespace pcsc {

enum class Dialect : uint8_t {
  Unknown,
  Transparent,        // FF C2 transparent session
  Pn53x,              // FF 00 pseudo-APDU with PN53x commands D4 4A / D4 40
  Pn53xBare,          // FF 00 pseudo-APDU carrying the bare frame
  IdentificationOnly, // FF CA only: no raw channel
};
const char* DialectName(Dialect dialect);

enum class AtrKind : uint8_t {
  Other,
  ContactlessStorage, // a storage-card ATR of another card type
  Felica,             // storage-card ATR, standard byte 11
  Pn53xFelica,        // storage-card ATR, standard byte 03 and card name F0 11 or F0 12
};
AtrKind ClassifyAtr(std::span<const uint8_t> atr);
// The order in which raw-channel dialects are tried for a reader whose card has this ATR.
std::span<const Dialect> DialectCandidates(AtrKind kind);

// The data before a 90 00 status word; anything else is a fault.
Fault CheckStatusWord(std::span<const uint8_t> response, std::span<const uint8_t>& data);

// Identification: IDm and PMm of the card the reader activated.
extern const std::vector<uint8_t> kGetIdm;
extern const std::vector<uint8_t> kGetPmm;
Fault ParseIdentification(std::span<const uint8_t> response, std::array<uint8_t, 8>& value);

// Transparent session.
extern const std::vector<uint8_t> kStartSession;
extern const std::vector<uint8_t> kSwitchToFelica;
extern const std::vector<uint8_t> kEndSession;
// For start, switch and end: a 90 00 status word and no error in the generic status object.
Fault ParseSessionReply(std::span<const uint8_t> response);
std::vector<uint8_t> TransparentTransceive(std::span<const uint8_t> frame, uint32_t timeoutMicroseconds);
Fault ParseTransparentReply(std::span<const uint8_t> response, std::span<const uint8_t>& frame);

// PN53x direct transmit.
extern const std::vector<uint8_t> kPn53xFirmware;
Fault ParsePn53xFirmware(std::span<const uint8_t> response);
std::vector<uint8_t> Pn53xPolling(uint16_t systemCode, uint8_t requestCode);
Fault ParsePn53xPolling(std::span<const uint8_t> response, std::span<const uint8_t>& frame);
std::vector<uint8_t> Pn53xExchange(std::span<const uint8_t> frame);
Fault ParsePn53xExchange(std::span<const uint8_t> response, std::span<const uint8_t>& frame);

// The bare-frame variant of the same family.
std::vector<uint8_t> BareExchange(std::span<const uint8_t> frame);
Fault ParseBareExchange(std::span<const uint8_t> response, std::span<const uint8_t>& frame);

} // namespace pcsc
