// A stand-in smart-card service behind the core's PC/SC table: readers, cards that answer
// commands through a reader dialect, failures on demand, and a status wait that blocks (or,
// like some services, does not) until a change or a cancel. Used natively and inside the
// Windows library built for the tests.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Pcsc.h"

namespace fake {

enum Call { kEstablish, kRelease, kList, kStatusChange, kCancel, kConnect, kDisconnect, kStatus, kTransmit,
            kConnectDirect, kControl, kCallCount };

// Escape: the transparent session through the escape channel, with pcsc-lite's control codes
// only (as under Wine 10 too); the last three read with their own APDUs.
enum class Dialect { Transparent, Pn53x, Bare, IdentificationOnly, Garbage, Escape, Pseudo, StorageLists, StorageSelect };

inline constexpr uint32_t kEscapeCode = 0x42000001; // what the feature list names

// A FeliCa card: system 0 always; the common area and its 33CB block 0 when given.
struct Card {
  std::vector<uint8_t> atr;
  Dialect dialect = Dialect::Transparent;
  std::vector<uint8_t> idm;         // system 0
  std::vector<uint8_t> pmm;
  std::vector<uint8_t> commonIdm;   // empty: no common area; the same as idm: it is system 0
  std::vector<uint8_t> numberBlock; // 16 bytes; empty: no 33CB service
  bool pmmRefused = false;          // FF CA 01 is not supported
  bool switchRefused = false;       // a transparent session without the protocol switch
  bool escapeRefused = false;       // the driver's settings refuse escape commands
  uint8_t escapeInstruction = 0;    // 0: C2 and 50 both; else only that one
  bool felica = true;               // false: a card of another type; idm is its UID, it answers no frame
  mutable std::vector<uint8_t> activated; // the IDm of the reader's last polling
};

std::vector<uint8_t> FelicaAtr();
std::vector<uint8_t> Pn53xAtr();
// A card of the given dialect with a common area and a FeliCa number; IDm ends in last.
Card StandardCard(Dialect dialect, uint8_t last);
// A card that is not FeliCa: ISO 14443 A with a 4-byte UID, or ISO 15693 with an 8-byte one.
Card OtherCard(bool iso15693, std::vector<uint8_t> uid);

struct Service {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> readers;
  std::map<std::string, Card> cards;
  std::map<std::string, uint32_t> counters; // card events per reader
  bool running = true;
  bool waitBlocks = true;
  uint32_t failNext[kCallCount] = {};
  unsigned calls[kCallCount] = {};
  int openContexts = 0;
  int openCards = 0;
  unsigned cancelGeneration = 0;
  int emptyReplyAt = -1; // the transmit (counted from 0) answered with nothing at all
  std::vector<std::vector<uint8_t>> sent;
  std::vector<uint32_t> controlCodes; // every control call's code, in order
  std::function<void(uint32_t timeoutMs)> beforeWait; // runs as each status wait begins, before it looks
};

Service& GetService();
// Back to no reader, no card, no failure, counters at zero.
void Reset();
void AddReader(const std::string& name);
void RemoveReader(const std::string& name);
void PlaceCard(const std::string& reader, const Card& card);
void RemoveCard(const std::string& reader);
void FailNext(Call call, uint32_t code);

const pcsc::Table& Table();

} // namespace fake
