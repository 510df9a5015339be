// Continuous polling: a thread that watches the virtual reader and sends the caller's
// registered card messages, one per arrival and one per departure.
#include "Simulator.h"

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

DWORD WINAPI PollerMain(void* arg) {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&PollerMain), &self);
  {
    std::unique_ptr<std::shared_ptr<Poller>> poller(static_cast<std::shared_ptr<Poller>*>(arg));
    try {
      Watch(**poller);
    } catch (...) {
    }
  }
  // The thread holds its own reference to the library, so an early FreeLibrary cannot unmap it.
  FreeLibraryAndExitThread(self, 0);
}

} // namespace

bool StartPoller(State& state, uint8_t systemHigh, uint8_t systemLow) {
  auto poller = std::make_shared<Poller>();
  poller->systemHigh = systemHigh;
  poller->systemLow = systemLow;
  poller->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!poller->wake)
    return false;
  HMODULE self;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&PollerMain), &self))
    return false;
  auto* arg = new std::shared_ptr<Poller>(poller);
  poller->thread = CreateThread(nullptr, 0, PollerMain, arg, 0, nullptr);
  if (!poller->thread) {
    delete arg;
    FreeLibrary(self);
    return false;
  }
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
  // The thread may be inside a send to a window of this very thread: keep taking sent
  // messages while waiting, or neither side could go on.
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    const DWORD left = spent < kJoinTimeoutMs ? kJoinTimeoutMs - spent : 0;
    const DWORD r = MsgWaitForMultipleObjects(1, &poller->thread, FALSE, left, QS_SENDMESSAGE);
    if (r != WAIT_OBJECT_0 + 1 || left == 0)
      return;
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

void NotifyReaderChanged(State& state) {
  if (state.poller)
    SetEvent(state.poller->wake);
}

} // namespace sim
