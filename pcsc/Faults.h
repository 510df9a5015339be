// What went wrong, in the reader library's own vocabulary: a low-level fault from a reader,
// a card or the smart-card service, and the pair of error types it becomes for an operation.
#pragma once
#include <cstdint>

namespace pcsc {

enum class Fault : uint8_t {
  None,
  BadArgument,
  OutOfMemory,
  NoService,   // the smart-card service is not running (Windows stops it without readers)
  NoReader,    // no reader, or none matching the pinned name
  ReaderGone,  // the reader was unplugged
  ReaderBusy,  // another program holds the reader exclusively
  NoCard,      // no card on the reader
  CardGone,    // the card left in the middle of a command
  Silent,      // the reader answered, the card did not
  NoReply,     // the reader did not answer
  Timeout,     // the service gave up waiting for the reader
  Malformed,   // a reply that breaks its own format, or answers for another card
  Refused,     // the reader rejected the command with a status word
  NoRawChannel, // the reader offers no way to send a raw FeliCa frame
  StatusFlags, // the card answered with error status flags
  NotPolled,   // a block read addressed to a card that was not polled
  OtherCard,   // a reply that echoes another card's IDm
  EscapeRefused, // the reader's driver does not pass escape commands (a setting of the driver)
};

enum class Operation : uint8_t { Open, Polling, RawPolling, BlockRead };

struct ErrorPair {
  int32_t felicaType;
  int32_t rwType;
  bool operator==(const ErrorPair&) const = default;
};

ErrorPair ErrorFor(Operation operation, Fault fault);

// A PC/SC return code as a fault; 0 (success) is Fault::None.
Fault FaultFromPcsc(uint32_t code);

const char* FaultName(Fault fault);

} // namespace pcsc
