// Reader dialects of the virtual reader: how one reader family wraps FeliCa frames in
// pseudo-APDUs, which ATR it reports, and the faults a test can inject into the card's answers.
#pragma once
#include <optional>
#include <string>

#include "VirtualCard.h"

// Pseudo: FeliCa pseudo-APDUs FF 40 / FF 46; StorageSelect: SELECT FILE by service and READ
// BINARY; StorageLists: READ BINARY holding the lists. The last two reach system 0 only.
// InboxNfc: a transparent session that passes card commands but not polling (timer object
// required), and READ BINARY holding the lists.
enum class Channel { Transparent, Pn53x, BareFrame, IdentOnly, Garbage, Escape, Pseudo, StorageSelect, StorageLists, InboxNfc };

struct Dialect {
  std::string name;
  Channel channel;
  uint8_t standard;      // the storage-card ATR's standard byte
  uint16_t cardName;     // and its card name
  bool pmmByGetData;     // answers FF CA 01 00 00 with the PMm
  bool idmInAtr = false; // the ATR carries the IDm (3B 8C 80 01 04 43 FD IDm 00 TCK); no GET DATA
  uint8_t escapeOnly = 0;  // the one instruction byte its escape commands take; 0: C2 and 50 both
};

// What goes wrong in the card's answers. Truncated, LyingLength and WrongCode spoil every frame,
// or with "@poll" / "@read" after the name only Polling or only Read Without Encryption replies.
// OtherIdm, Mute and Vanish act on block reads only (a card that does not answer a poll is simply
// not there), ShortId on the reader's GET DATA answers. EscapeRefused is a reader whose driver
// settings keep escape commands off: no escape feature in the list, the escape code refused.
enum class Fault { None, Truncated, LyingLength, WrongCode, OtherIdm, Mute, Vanish, ShortId, EscapeRefused };

struct FaultSpec {
  Fault fault = Fault::None;
  int command = -1;  // the FeliCa command whose replies it spoils; -1: all
};

const Dialect* FindDialect(const std::string& name);
std::optional<FaultSpec> FindFault(const std::string& name);
std::string DialectNames();
std::string FaultNames();

// A card that is not FeliCa brings its own ATR.
Bytes Atr(const Dialect& dialect, const VirtualCard& card);

// The reader's response APDU (data and status word) to one command APDU, or nothing when the
// card leaves in the middle of the command (Fault::Vanish on a block read).
std::optional<Bytes> Respond(const Dialect& dialect, const VirtualCard& card, FaultSpec fault, const Bytes& apdu);

// The reader's control channel (SCardControl), as a CCID reader answers it.
constexpr uint32_t kFeatureRequest = 0x42000D48;  // CM_IOCTL_GET_FEATURE_REQUEST, SCARD_CTL_CODE(3400)
constexpr uint32_t kTlvProperties = 0x42000D49;   // listed as FEATURE_GET_TLV_PROPERTIES (0x12)
constexpr uint32_t kEscapeCode = 0x42000DAC;      // listed as FEATURE_CCID_ESC_COMMAND (0x13)

struct ControlReply {
  bool refused = false;   // the driver answers "not supported"
  bool vanished = false;  // the card left during the command (the reply still comes)
  Bytes data;
};

// `card` is null when no card is on the reader: escape commands work without one.
ControlReply Control(const Dialect& dialect, const VirtualCard* card, FaultSpec fault, uint32_t code, const Bytes& data);
