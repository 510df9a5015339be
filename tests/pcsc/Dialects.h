// Reader dialects of the virtual reader: how one reader family wraps FeliCa frames in
// pseudo-APDUs, which ATR it reports, and the faults a test can inject into the card's answers.
#pragma once
#include <optional>
#include <string>

#include "VirtualCard.h"

// Pseudo: FeliCa pseudo-APDUs FF 40 / FF 46; StorageSelect: SELECT FILE by service and READ
// BINARY; StorageLists: READ BINARY holding the lists. The last two reach system 0 only.
enum class Channel { Transparent, Pn53x, BareFrame, IdentOnly, Garbage, Pseudo, StorageSelect, StorageLists };

struct Dialect {
  std::string name;
  Channel channel;
  uint8_t standard;      // the storage-card ATR's standard byte
  uint16_t cardName;     // and its card name
  bool pmmByGetData;     // answers FF CA 01 00 00 with the PMm
};

// What goes wrong in the card's answers. Truncated, LyingLength and WrongCode spoil every frame,
// or with "@poll" / "@read" after the name only Polling or only Read Without Encryption replies.
// OtherIdm, Mute and Vanish act on block reads only (a card that does not answer a poll is simply
// not there), ShortId on the reader's GET DATA answers.
enum class Fault { None, Truncated, LyingLength, WrongCode, OtherIdm, Mute, Vanish, ShortId };

struct FaultSpec {
  Fault fault = Fault::None;
  int command = -1;  // the FeliCa command whose replies it spoils; -1: all
};

const Dialect* FindDialect(const std::string& name);
std::optional<FaultSpec> FindFault(const std::string& name);
std::string DialectNames();
std::string FaultNames();

Bytes Atr(const Dialect& dialect);

// The reader's response APDU (data and status word) to one command APDU, or nothing when the
// card leaves in the middle of the command (Fault::Vanish on a block read).
std::optional<Bytes> Respond(const Dialect& dialect, const VirtualCard& card, FaultSpec fault, const Bytes& apdu);
