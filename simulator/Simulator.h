// Inner state of the simulated library, shared by the entry points, the polling thread,
// the control surface and the reader window.
#pragma once
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Cards.h"
#include "felica/LibraryRecords.h"

namespace sim {

enum EntryPoint {
  kInitializeLibrary,
  kDisposeLibrary,
  kOpenReaderWriterAuto,
  kCloseReaderWriter,
  kPollingAndGetCardInformation,
  kReadBlockWithoutEncryption,
  kGetLastErrorTypes,
  kSetCallBackParameters,
  kStartPolling,
  kStopPolling,
  kEntryPointCount
};
using FelicaAPI::Library::kEntryPointNames;
static_assert(kEntryPointCount == FelicaAPI::Library::kEntryPointCount);
// -1 for a name that is none of the ten.
int FindEntryPoint(const char* name);

struct Failure {
  int32_t felicaType = 0;
  int32_t rwType = 0;
  int32_t times = 0; // < 0: every call
};

struct Poller;

struct State {
  std::mutex mutex;
  bool initialized = false;
  bool readerAttached = true;
  bool readerOpen = false;
  std::optional<Card> card;
  int cardKind = -1; // built-in kind on the reader, -2 for a custom card
  uint32_t cardGeneration = 0;

  bool haveCallback = false;
  HWND window = nullptr;
  UINT findMessage = 0;
  UINT lossMessage = 0;

  int32_t lastFelicaType = 1000;
  int32_t lastRwType = 100;

  std::array<Failure, kEntryPointCount> failures{};
  bool failErrorQuery = false;
  std::array<int32_t, kEntryPointCount> latency{};
  int32_t misbehaviour = 0;

  std::vector<std::string> log;
  int32_t eventsDelivered = 0;

  std::shared_ptr<Poller> poller; // set while continuous polling runs
  std::weak_ptr<Poller> stopping; // the last one stopped, alive until its thread has ended
};

State& GetState();

// Continuous polling. Start and Detach run under the state's lock; Join must not,
// since the thread may be sending to a window of the joining thread. Detach also hands out
// a poller that another caller is still stopping, so every stopper waits for the thread.
bool StartPoller(State& state, uint8_t systemHigh, uint8_t systemLow);
std::shared_ptr<Poller> DetachPoller(State& state);
void JoinPoller(const std::shared_ptr<Poller>& poller);
// Wakes the polling thread after the reader or the card changed; under the lock.
void NotifyReaderChanged(State& state);

// The window for people, shown when VARNELO_SIM_WINDOW=1.
void ShowReaderWindowIfAsked() noexcept;

// Control operations that the reader window shares with the sim_ exports.
void AttachReader(bool attached);
bool PlaceBuiltInCard(int kind);
void RemoveCard();

} // namespace sim
