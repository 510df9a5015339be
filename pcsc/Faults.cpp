#include "Faults.h"

#include "Pcsc.h"

namespace pcsc {

ErrorPair ErrorFor(Operation operation, Fault fault) {
  // The failure type of each operation when the reader or card misbehaves; never 1036 except
  // for a card that is really not there, since callers take 1036 as "no card".
  int32_t failed = 1047;
  switch (operation) {
  case Operation::Open: failed = 1027; break;
  case Operation::Polling: failed = 1047; break;
  case Operation::RawPolling: failed = 1044; break;
  case Operation::BlockRead: failed = 1042; break;
  }
  const bool polling = operation == Operation::Polling || operation == Operation::RawPolling;
  switch (fault) {
  case Fault::None: return {1000, 100};
  case Fault::BadArgument: return {1002, 102};
  case Fault::OutOfMemory: return {1003, 103};
  case Fault::NoService:
  case Fault::NoReader: return {1028, 0};
  case Fault::ReaderGone: return {1031, 118};
  case Fault::ReaderBusy: return {1027, 121};
  case Fault::NoCard: return polling ? ErrorPair{1036, 157} : ErrorPair{1040, 157};
  case Fault::CardGone: return polling ? ErrorPair{1036, 157} : ErrorPair{failed, 157};
  case Fault::Silent: return polling ? ErrorPair{1036, 157} : ErrorPair{failed, 156};
  case Fault::NoReply: return {failed, 152};
  case Fault::Timeout: return {failed, 156};
  case Fault::Malformed: return {failed, 150};
  case Fault::Refused: return {failed, 149};
  case Fault::NoRawChannel:
  case Fault::EscapeRefused: return {1044, 160};
  case Fault::StatusFlags: return {1042, 159};
  case Fault::NotPolled: return {1049, 100};
  case Fault::OtherCard: return {1049, 150};
  }
  return {1001, 101};
}

Fault FaultFromPcsc(uint32_t code) {
  switch (code) {
  case kSuccess: return Fault::None;
  case kNoMemory: return Fault::OutOfMemory;
  case kNoService:
  case kServiceStopped:
  case kShutdown:
  case kNoReadersAvailable:
  case kInvalidHandle: return Fault::NoService;
  case kUnknownReader:
  case kReaderUnavailable: return Fault::ReaderGone;
  case kSharingViolation: return Fault::ReaderBusy;
  case kNoSmartcard: return Fault::NoCard;
  case kRemovedCard:
  case kResetCard:
  case kUnpoweredCard: return Fault::CardGone;
  case kUnresponsiveCard: return Fault::Silent;
  case kTimeout: return Fault::Timeout;
  case kInsufficientBuffer: return Fault::Malformed;
  case kProtoMismatch: return Fault::Refused;
  default: return Fault::NoReply;
  }
}

const char* FaultName(Fault fault) {
  static constexpr const char* kNames[] = {
      "none", "bad argument", "out of memory", "no service", "no reader", "reader gone", "reader busy",
      "no card", "card gone", "card silent", "no reply", "timeout", "malformed reply", "refused",
      "no raw channel", "status flags", "not polled", "other card", "escape refused"};
  const auto index = static_cast<size_t>(fault);
  return index < std::size(kNames) ? kNames[index] : "?";
}

} // namespace pcsc
