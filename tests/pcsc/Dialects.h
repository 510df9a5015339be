// Reader dialects of the virtual reader: how one reader family wraps FeliCa frames in
// pseudo-APDUs, which ATR it reports, and the faults a test can inject into the card's answers.
#pragma once
#include <optional>
#include <string>

#include "VirtualCard.h"

enum class Channel { Transparent, Pn53x, BareFrame, IdentOnly, Garbage };

struct Dialect {
  std::string name;
  Channel channel;
  uint8_t standard;      // the storage-card ATR's standard byte
  uint16_t cardName;     // and its card name
  bool pmmByGetData;     // answers FF CA 01 00 00 with the PMm
};

enum class Fault { None, Truncated, LyingLength, WrongCode, OtherIdm, Mute, Vanish, ShortId };

const Dialect* FindDialect(const std::string& name);
std::optional<Fault> FindFault(const std::string& name);
std::string DialectNames();
std::string FaultNames();

Bytes Atr(const Dialect& dialect);

// The reader's response APDU (data and status word) to one command APDU, or nothing when the
// card leaves in the middle of the command (Fault::Vanish on a block read).
std::optional<Bytes> Respond(const Dialect& dialect, const VirtualCard& card, Fault fault, const Bytes& apdu);
