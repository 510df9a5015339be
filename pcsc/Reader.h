// Readers and cards over the PC/SC table: finding the readers, choosing one, and one connection
// to a card that speaks the reader's dialect. Every call is bounded: status queries carry a
// timeout, a frame carries the card's timeout where the dialect can say it.
#pragma once
#include <string>
#include <vector>

#include "Cards.h"
#include "Dialects.h"
#include "Faults.h"
#include "Felica.h"
#include "Pcsc.h"

namespace pcsc {

// The library's setting: a part of the name of the reader to use.
inline constexpr const char* kReaderVariable = "VARNELO_READER";

struct ReaderInfo {
  std::string name;
  bool cardPresent = false;
  std::vector<uint8_t> atr;
  bool unavailable = false;  // listed, but its driver lost the device
};

// Every attached reader with its card state, in the service's order.
Fault ListReaders(const Table& table, Context context, std::vector<ReaderInfo>& readers);
// A FeliCa card first (by its ATR), then another contactless card, then the first reader; only names containing
// pin (when not empty), never an unavailable reader. -1 when none qualifies.
int ChooseReader(const std::vector<ReaderInfo>& readers, const std::string& pin);
// The pin from the environment, or "".
std::string ReaderPinFromEnvironment();

// The dialect found for a reader, kept for the life of the process; escapeDisabled: the reader's
// driver refuses the escape channel by its settings.
Dialect RememberedDialect(const std::string& reader);
void RememberDialect(const std::string& reader, Dialect dialect, bool escapeDisabled = false, uint32_t escapeCode = 0);
void ForgetDialects();

// Counts every command sent, and optionally shows it (for people and benchmarks).
struct Traffic {
  unsigned commands = 0;
  void (*trace)(bool sent, std::span<const uint8_t> bytes) = nullptr;
};
Traffic& GetTraffic();

// One connection to the card on a reader; the destructor ends an open session and disconnects.
class Session final : public Link {
public:
  Session(const Table& table, Context context, std::string reader, std::span<const uint8_t> atr);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Fault Connect();
  // To the reader itself, card or not: escape commands only.
  Fault ConnectDirect();
  // The reader's remembered dialect goes through the escape channel, which needs no card.
  bool EscapeReader() const;
  // What card the reader holds and its identifier. The kind comes from the ATR; a card whose
  // ATR names no type is FeliCa when a polling through the raw channel answers, and nothing
  // else is FeliCa.
  Fault Identify(CardId& card);
  // The activated card's IDm through identification (the reader polls with FF FF).
  Fault ReadIdm(Idm& idm);
  Fault ReadPmm(Pmm& pmm);
  // Finds the dialect (remembered, or probed once) and prepares its raw channel.
  Fault PrepareRaw(Dialect& dialect);
  // A polling of one system through the raw channel.
  Fault Poll(uint16_t systemCode, PollingReply& reply);
  // Any other frame through the raw channel; reply is the card's frame.
  Fault Exchange(std::span<const uint8_t> frame, uint32_t timeoutMicroseconds, std::vector<uint8_t>& reply);
  // system: the system code whose polling gave this IDm, where no polling of this connection did.
  Fault ReadBlocks(const Idm& idm, std::span<const uint8_t> services, std::span<const uint8_t> blocks,
                   ReadReply& reply, uint16_t system = 0xFFFF);
  // After PrepareRaw or an escape command: the driver refuses escape commands by its settings.
  bool EscapeDisabled() const { return escapeDisabled_; }

  Fault Transmit(std::span<const uint8_t> command, std::vector<uint8_t>& response) override;
  Fault Escape(std::span<const uint8_t> command, std::vector<uint8_t>& response) override;

private:
  const AtrReading& Atr();
  Fault Control(uint32_t code, std::span<const uint8_t> command, std::vector<uint8_t>& response);
  Fault FindEscapeCodes();
  void EndSession();

  const Table& table_;
  Context context_;
  std::string reader_;
  std::vector<uint8_t> atr_;
  bool atrRead_ = false;
  AtrReading reading_;
  Card card_ = 0;
  uint32_t protocol_ = 0;
  bool connected_ = false;
  bool sessionOpen_ = false;
  Dialect dialect_ = Dialect::Unknown;
  bool activated_ = false; // the reader's last polling in this connection
  Idm activatedIdm_{};
  uint16_t activatedSystem_ = 0xFFFF;
  bool escapeLooked_ = false;
  std::vector<uint32_t> escapeCodes_; // still to try, the one that works first
  bool featureListWithoutEscape_ = false;
  bool escapeDisabled_ = false;
};

// The card's FeliCa number: the first 8 bytes of block 0 of service 33CB in its common area
// (system FE 00). failed: the step that failed, for its error pair.
Fault ReadFelicaNumber(Session& session, FelicaNumber& number, Operation& failed);

} // namespace pcsc
