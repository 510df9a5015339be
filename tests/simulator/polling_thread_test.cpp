// Continuous polling: the library's thread sends the registered card messages to a real window.
#include <gtest/gtest.h>

#include "SimCaller.h"

using namespace simtest;

namespace {

struct Received {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD thread;
};

// The window's record of what reached it, and an optional action inside the card-found message.
std::vector<Received> g_received;
std::function<void()> g_onFind;
UINT g_find = 0;
UINT g_loss = 0;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == g_find || message == g_loss) {
    try {
      g_received.push_back({message, wParam, lParam, GetCurrentThreadId()});
      if (message == g_find && g_onFind)
        g_onFind();
    } catch (...) {
      ADD_FAILURE() << "exception in the card message handler";
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class PollingThread : public ::testing::Test {
protected:
  HWND window_ = nullptr;

  void SetUp() override {
    sim_reset();
    g_received.clear();
    g_onFind = nullptr;
    g_find = RegisterWindowMessageA("FelicaAPI_callback_find");
    g_loss = RegisterWindowMessageA("FelicaAPI_callback_loss");
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SimPollingTestWindow";
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              wc.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
  }

  void TearDown() override {
    sim_reset();
    DestroyWindow(window_);
    g_onFind = nullptr;
  }

  void StartPolling(uint8_t high = 0xFF, uint8_t low = 0xFF) {
    ASSERT_EQ(Lib().initialize(), 1);
    ASSERT_EQ(Lib().open(), 1);
    CallbackRecord callback(window_);
    ASSERT_EQ(Lib().setCallback(callback.bytes), 1);
    PollingRecord record(high, low);
    ASSERT_EQ(Lib().startPolling(record.bytes), 1);
  }

  static bool PumpFor(size_t count) {
    return PumpUntil([=] { return g_received.size() >= count; }, 3000);
  }
  // Long enough for a thread woken by an event to have sent anything it was going to.
  static void PumpQuietly() { PumpUntil([] { return false; }, 300); }

  static std::vector<UINT> Messages() {
    std::vector<UINT> ids;
    for (const Received& r : g_received)
      ids.push_back(r.message);
    return ids;
  }
};

TEST_F(PollingThread, OneFoundPerArrivalAndOneLostPerDeparture) {
  StartPolling();
  PumpQuietly();
  EXPECT_TRUE(g_received.empty());

  sim_place_card(0);
  ASSERT_TRUE(PumpFor(1));
  PumpQuietly();
  ASSERT_EQ(Messages(), std::vector<UINT>{g_find});
  EXPECT_EQ(g_received[0].wParam, 0u);
  EXPECT_EQ(g_received[0].lParam, 0);
  EXPECT_EQ(g_received[0].thread, GetCurrentThreadId());

  sim_remove_card();
  ASSERT_TRUE(PumpFor(2));
  PumpQuietly();
  EXPECT_EQ(Messages(), (std::vector<UINT>{g_find, g_loss}));

  sim_place_card(1);
  ASSERT_TRUE(PumpFor(3));
  sim_place_card(0); // another card in its place: the first one left
  ASSERT_TRUE(PumpFor(5));
  PumpQuietly();
  EXPECT_EQ(Messages(), (std::vector<UINT>{g_find, g_loss, g_find, g_loss, g_find}));
  EXPECT_EQ(sim_events_delivered(), 5);
}

TEST_F(PollingThread, ACardAlreadyThereIsReportedAtStart) {
  sim_place_card(0);
  StartPolling();
  ASSERT_TRUE(PumpFor(1));
  PumpQuietly();
  EXPECT_EQ(Messages(), std::vector<UINT>{g_find});
}

TEST_F(PollingThread, OnlyCardsOfThePolledSystemAreReported) {
  StartPolling(0xFE, 0x00);
  sim_place_card(1); // no common area
  PumpQuietly();
  EXPECT_TRUE(g_received.empty());
  sim_place_card(0);
  ASSERT_TRUE(PumpFor(1));
  EXPECT_EQ(Messages(), std::vector<UINT>{g_find});
}

TEST_F(PollingThread, NothingArrivesAfterStopPolling) {
  StartPolling();
  sim_place_card(0);
  ASSERT_TRUE(PumpFor(1));
  ASSERT_EQ(Lib().stopPolling(), 1);
  sim_remove_card();
  sim_place_card(0);
  PumpQuietly();
  EXPECT_EQ(Messages(), std::vector<UINT>{g_find});
  EXPECT_EQ(sim_events_delivered(), 1);
}

TEST_F(PollingThread, NothingArrivesAfterDisposeOrUnplugging) {
  StartPolling();
  ASSERT_EQ(Lib().dispose(), 1);
  EXPECT_EQ(sim_is_polling(), 0);
  sim_place_card(0);
  PumpQuietly();
  EXPECT_TRUE(g_received.empty());

  sim_remove_card();
  StartPolling();
  sim_attach_reader(0);
  EXPECT_EQ(sim_is_polling(), 0);
  sim_place_card(0);
  PumpQuietly();
  EXPECT_TRUE(g_received.empty());
}

TEST_F(PollingThread, StopWhileTheThreadWaitsOnThisThreadDoesNotDeadlock) {
  StartPolling();
  sim_place_card(0);
  Sleep(200); // not pumping: the polling thread now waits inside its send to our window
  const DWORD start = GetTickCount();
  ASSERT_EQ(Lib().stopPolling(), 1);
  EXPECT_LT(GetTickCount() - start, 1500u);
  const size_t atStop = g_received.size();
  EXPECT_LE(atStop, 1u);
  sim_remove_card();
  PumpQuietly();
  EXPECT_EQ(g_received.size(), atStop);
}

TEST_F(PollingThread, TheFoundHandlerCanCallTheLibrary) {
  // As the main window does: it polls the card anew while handling the message.
  std::vector<uint8_t> polled;
  g_onFind = [&] {
    PollCall poll;
    if (poll.Run() == 1)
      polled.assign(poll.idm, poll.idm + 8);
  };
  StartPolling();
  sim_place_card(2);
  ASSERT_TRUE(PumpFor(1));
  EXPECT_EQ(polled, CardIdm(2));
}

TEST_F(PollingThread, ADeadWindowDoesNotStopThePolling) {
  StartPolling();
  DestroyWindow(window_);
  window_ = nullptr;
  sim_place_card(0);
  PumpQuietly();
  EXPECT_EQ(sim_events_delivered(), 0);
  EXPECT_EQ(sim_is_polling(), 1);
  EXPECT_EQ(Lib().stopPolling(), 1);
}

} // namespace
