// The seam between the core and the smart-card service: one small table of function pointers,
// in the core's own types. The platform's table (winscard.dll or pcsc-lite) fills it; a test
// can hand the core a table of its own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pcsc {

using Context = uintptr_t;
using Card = uintptr_t;

// Return codes, the same on every platform.
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kInternalError = 0x80100001;
inline constexpr uint32_t kCancelled = 0x80100002;
inline constexpr uint32_t kInvalidHandle = 0x80100003;
inline constexpr uint32_t kNoMemory = 0x80100006;
inline constexpr uint32_t kInsufficientBuffer = 0x80100008;
inline constexpr uint32_t kUnknownReader = 0x80100009;
inline constexpr uint32_t kTimeout = 0x8010000A;
inline constexpr uint32_t kSharingViolation = 0x8010000B;
inline constexpr uint32_t kNoSmartcard = 0x8010000C;
inline constexpr uint32_t kProtoMismatch = 0x8010000F;
inline constexpr uint32_t kNotReady = 0x80100010;
inline constexpr uint32_t kSystemCancelled = 0x80100012;
inline constexpr uint32_t kCommError = 0x80100013;
inline constexpr uint32_t kNotTransacted = 0x80100016;
inline constexpr uint32_t kReaderUnavailable = 0x80100017;
inline constexpr uint32_t kShutdown = 0x80100018;
inline constexpr uint32_t kNoService = 0x8010001D;
inline constexpr uint32_t kServiceStopped = 0x8010001E;
inline constexpr uint32_t kUnsupportedFeature = 0x8010001F; // pcsc-lite's; Windows reads it as "unexpected"
inline constexpr uint32_t kWindowsUnsupportedFeature = 0x80100022;
inline constexpr uint32_t kNoReadersAvailable = 0x8010002E;
// Windows' answer to an escape command its CCID driver has not been allowed to pass.
inline constexpr uint32_t kInvalidFunction = 1;
inline constexpr uint32_t kUnresponsiveCard = 0x80100066;
inline constexpr uint32_t kUnpoweredCard = 0x80100067;
inline constexpr uint32_t kResetCard = 0x80100068;
inline constexpr uint32_t kRemovedCard = 0x80100069;

// Reader state bits.
inline constexpr uint32_t kStateUnaware = 0x0000;
inline constexpr uint32_t kStateChanged = 0x0002;
inline constexpr uint32_t kStateUnknown = 0x0004;
inline constexpr uint32_t kStateUnavailable = 0x0008;
inline constexpr uint32_t kStateEmpty = 0x0010;
inline constexpr uint32_t kStatePresent = 0x0020;
inline constexpr uint32_t kStateExclusive = 0x0080;
inline constexpr uint32_t kStateMute = 0x0200;

inline constexpr const char* kPnpNotification = "\\\\?PnP?\\Notification";

struct ReaderState {
  std::string reader;
  uint32_t currentState = kStateUnaware;
  uint32_t eventState = 0;
  std::vector<uint8_t> atr;
};

struct Table {
  uint32_t (*establishContext)(Context* context);
  uint32_t (*releaseContext)(Context context);
  // The names of the attached readers.
  uint32_t (*listReaders)(Context context, std::vector<std::string>* readers);
  uint32_t (*getStatusChange)(Context context, uint32_t timeoutMs, ReaderState* states, size_t count);
  uint32_t (*cancel)(Context context);
  // Shared access, T=0 or T=1; gives the card handle and the protocol for transmit.
  uint32_t (*connect)(Context context, const char* reader, Card* card, uint32_t* protocol);
  uint32_t (*disconnect)(Card card);
  // The ATR of the connected card.
  uint32_t (*status)(Card card, std::vector<uint8_t>* atr);
  // receiveLength: in, the room; out, the bytes received.
  uint32_t (*transmit)(Card card, uint32_t protocol, const uint8_t* send, size_t sendLength, uint8_t* receive,
                       size_t* receiveLength);
  // A connection to the reader itself, with or without a card (for control commands only).
  uint32_t (*connectDirect)(Context context, const char* reader, Card* card);
  // A control command with the caller's code, passed on unchanged; receiveLength as for transmit.
  uint32_t (*control)(Card card, uint32_t code, const uint8_t* send, size_t sendLength, uint8_t* receive,
                      size_t* receiveLength);
};

// The platform's table: winscard.dll on Windows, pcsc-lite elsewhere.
const Table& PlatformTable();

} // namespace pcsc
