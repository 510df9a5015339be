// Continuous polling: a thread that watches the virtual reader and sends the caller's
// registered card messages, one per arrival and one per departure.
#include "Simulator.h"

#include "felica/LibraryThread.h"

namespace sim {

struct Poller {
  HANDLE thread = nullptr;
  HANDLE wake = nullptr; // set when the reader or card changes, and to stop
  std::atomic<bool> stop{false};
  uint8_t systemHigh = 0xFF;
  uint8_t systemLow = 0xFF;

  ~Poller() {
    if (thread)
      CloseHandle(thread);
    if (wake)
      CloseHandle(wake);
  }
};

namespace {

// A window that does not answer cannot hold the thread, nor stop_polling, for longer than this.
constexpr UINT kSendTimeoutMs = 2000;
constexpr DWORD kJoinTimeoutMs = 5000;
constexpr DWORD kIdleWaitMs = 500;

void Watch(Poller& poller) {
  State& s = GetState();
  bool announced = false;
  uint32_t announcedCard = 0;
  for (;;) {
    HWND window;
    UINT message = 0;
    {
      std::lock_guard<std::mutex> guard(s.mutex);
      // Checked under the lock before every send: once a stop has detached us, nothing more is sent.
      if (poller.stop)
        return;
      const bool present = s.readerOpen && s.card && HasSystem(*s.card, poller.systemHigh, poller.systemLow);
      if (announced && (!present || s.cardGeneration != announcedCard)) {
        message = s.lossMessage;
        announced = false;
      } else if (!announced && present) {
        message = s.findMessage;
        announced = true;
        announcedCard = s.cardGeneration;
      }
      window = s.window;
    }
    if (message) {
      DWORD_PTR result;
      if (SendMessageTimeoutA(window, message, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result)) {
        std::lock_guard<std::mutex> guard(s.mutex);
        ++s.eventsDelivered;
      }
      continue;
    }
    WaitForSingleObject(poller.wake, kIdleWaitMs);
  }
}

} // namespace

bool StartPoller(State& state, uint8_t systemHigh, uint8_t systemLow) {
  auto poller = std::make_shared<Poller>();
  poller->systemHigh = systemHigh;
  poller->systemLow = systemLow;
  poller->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!poller->wake)
    return false;
  poller->thread = FelicaAPI::Library::StartLibraryThread<Poller, Watch>(poller);
  if (!poller->thread)
    return false;
  state.poller = std::move(poller);
  return true;
}

std::shared_ptr<Poller> DetachPoller(State& state) {
  std::shared_ptr<Poller> poller = std::move(state.poller);
  state.poller.reset();
  if (!poller)
    return state.stopping.lock();
  poller->stop = true;
  SetEvent(poller->wake);
  state.stopping = poller;
  return poller;
}

void JoinPoller(const std::shared_ptr<Poller>& poller) {
  if (!poller)
    return;
  FelicaAPI::Library::JoinTakingSentMessages(poller->thread, kJoinTimeoutMs);
}

void NotifyReaderChanged(State& state) {
  if (state.poller)
    SetEvent(state.poller->wake);
}

} // namespace sim
