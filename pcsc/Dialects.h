// The reader dialects: how a FeliCa frame travels through a PC/SC reader of each family, as
// codecs without I/O. Each builder gives the command APDU; each parser takes the whole response
// APDU (data and status word) and gives the card's frame or a precise fault.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "Cards.h"
#include "Faults.h"
#include "Felica.h"

namespace pcsc {

enum class Dialect : uint8_t {
  Unknown,
  Transparent,        // FF C2 transparent session through SCardTransmit
  EscapeSession,      // the same data objects through the CCID escape channel, FF C2
  EscapeSession50,    // the same, with the family's own instruction byte FF 50
  Pn53x,              // FF 00 pseudo-APDU with PN53x commands D4 4A / D4 40
  Pn53xBare,          // FF 00 pseudo-APDU carrying the bare frame
  FelicaPseudo,       // FeliCa pseudo-APDUs: polling FF 40, read FF 46
  StorageLists,       // READ BINARY holding the service and block lists
  StorageSelect,      // SELECT FILE by service, then READ BINARY per block
  IdentificationOnly, // FF CA only: no raw channel
};
const char* DialectName(Dialect dialect);

// The order in which raw-channel dialects are tried for a reader whose card has an ATR of this
// form: cheapest and most specific first, and nothing that writes to the card or changes its state.
std::span<const Dialect> DialectCandidates(FelicaForm form);

// What a codec needs from a connection: the two ways a command reaches the reader. An escape
// command that the reader's driver refuses is Fault::EscapeRefused.
class Link {
public:
  virtual Fault Transmit(std::span<const uint8_t> command, std::vector<uint8_t>& response) = 0;
  virtual Fault Escape(std::span<const uint8_t> command, std::vector<uint8_t>& response) = 0;

protected:
  ~Link() = default;
};

struct ReadRequest {
  Idm idm;
  uint16_t system = 0xFFFF;        // the system code whose polling gave this IDm
  bool activated = false;          // the reader's last polling in this connection gave this IDm
  std::span<const uint8_t> services; // 2 bytes each, low byte first
  std::span<const uint8_t> blocks;   // block list elements
  int maxBlocks = 0;
};

// One dialect as a value: the operations the library needs, whatever way the reader takes them.
struct Codec {
  Dialect dialect;
  // Harmless; success means the reader speaks the dialect and its channel is ready to use.
  Fault (*probe)(Link& link);
  // A FeliCa frame to the card and its reply frame; null for dialects that carry no frames.
  Fault (*exchange)(Link& link, std::span<const uint8_t> frame, uint32_t timeoutUs, std::vector<uint8_t>& reply);
  Fault (*poll)(const Codec& codec, Link& link, uint16_t systemCode, PollingReply& reply);
  Fault (*read)(const Codec& codec, Link& link, const ReadRequest& request, ReadReply& reply);
  // Ends what the probe started; null where nothing stays open.
  void (*close)(Link& link);
};
const Codec& CodecFor(Dialect dialect);

// A polling with time slot 0 takes the card under 4 ms; a read of a few blocks a few more.
inline constexpr uint32_t kPollingTimeoutUs = 20000;
inline constexpr uint32_t kReadTimeoutUs = 100000;

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

// The same data objects through the escape channel: instruction C2 or 50, Le always present,
// extended lengths where the data needs them.
std::vector<uint8_t> EscapeSessionCommand(uint8_t instruction, uint8_t p2, std::span<const uint8_t> objects);
std::vector<uint8_t> EscapeTransceive(uint8_t instruction, std::span<const uint8_t> frame, uint32_t timeoutUs);

// The control codes of both smart-card stacks: Windows' SCARD_CTL_CODE(n) and pcsc-lite's.
uint32_t WindowsControlCode(uint32_t function);
uint32_t PcscLiteControlCode(uint32_t function);
inline constexpr uint32_t kFeatureRequestFunction = 3400; // CM_IOCTL_GET_FEATURE_REQUEST
inline constexpr uint32_t kEscapeFunction = 3500;         // the standard CCID escape
inline constexpr uint8_t kEscapeFeatureTag = 0x13;        // FEATURE_CCID_ESC_COMMAND
// The stacks whose codes a library on this platform tries, in order: a Windows library may run
// under Wine, which passes the caller's code to pcsc-lite unchanged.
std::span<uint32_t (*const)(uint32_t)> ControlCodeFamilies();
// A feature list (tag, length 4, big-endian control code, ...): the code for the tag, or 0
// when the list has none; Malformed when an entry runs past the end.
Fault ParseFeatureList(std::span<const uint8_t> list, uint8_t tag, uint32_t& code);

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

// FeliCa pseudo-APDUs.
std::vector<uint8_t> PseudoPolling(uint16_t systemCode, uint8_t requestCode);
Fault ParsePseudoPolling(std::span<const uint8_t> response, uint8_t requestCode, PollingReply& reply);
// BadArgument unless every block element is 2 bytes.
Fault PseudoRead(std::span<const uint8_t> services, std::span<const uint8_t> blocks, std::vector<uint8_t>& command);
Fault ParsePseudoRead(std::span<const uint8_t> response, const Idm& idm, int maxBlocks, ReadReply& reply);

// Storage-card reads.
std::vector<uint8_t> SelectService(std::span<const uint8_t> service);
std::vector<uint8_t> ReadBinary(uint8_t block);
Fault ParseReadBinary(std::span<const uint8_t> response, std::span<const uint8_t>& block);
// READ BINARY holding the lists; BadArgument unless every block element is 2 bytes.
Fault ReadBinaryLists(std::span<const uint8_t> services, std::span<const uint8_t> blocks,
                      std::vector<uint8_t>& command);
// The card's status flags come back as the status word.
Fault ParseReadBinaryLists(std::span<const uint8_t> response, int blockCount, ReadReply& reply);

} // namespace pcsc
