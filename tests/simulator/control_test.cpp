// The control surface: latency, misbehaviour, and the reader window for people.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SimCaller.h"

using namespace simtest;

namespace {

class Control : public ::testing::Test {
protected:
  void SetUp() override { sim_reset(); }
  void TearDown() override { sim_reset(); }
};

// Milliseconds a call takes; the tick count is too coarse for this.
template <class F>
double Timed(F call) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  call();
  QueryPerformanceCounter(&end);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

TEST_F(Control, LatencyDelaysOnlyTheEntryPointsNamed) {
  EXPECT_EQ(sim_set_latency("no_such_entry", 100), 0);
  ASSERT_EQ(sim_set_latency("open_reader_writer_auto", 250), 1);
  EXPECT_LT(Timed([] { EXPECT_EQ(Lib().initialize(), 1); }), 150);
  EXPECT_GE(Timed([] { EXPECT_EQ(Lib().open(), 1); }), 230);

  ASSERT_EQ(sim_set_latency("*", 120), 1);
  EXPECT_GE(Timed([] {
    Lib().close();
    Lib().dispose();
  }), 220);
}

TEST_F(Control, ADelayedCallDoesNotHoldUpOtherCalls) {
  ASSERT_EQ(Lib().initialize(), 1);
  ASSERT_EQ(sim_set_latency("open_reader_writer_auto", 1500), 1);
  std::atomic<bool> done{false};
  std::thread slow([&] {
    Lib().open();
    done = true;
  });
  Sleep(100);
  const DWORD start = GetTickCount();
  int32_t felicaType = 0, rwType = 0;
  EXPECT_EQ(Lib().errorTypes(&felicaType, &rwType), 1);
  EXPECT_EQ(sim_is_reader_open(), 0);
  EXPECT_LT(GetTickCount() - start, 500u);
  EXPECT_FALSE(done);
  slow.join();
  EXPECT_EQ(sim_is_reader_open(), 1);
}

TEST_F(Control, SucceedingWithoutOutput) {
  ASSERT_EQ(Lib().initialize(), 1);
  ASSERT_EQ(Lib().open(), 1);
  sim_misbehave(SIM_SUCCEED_WITHOUT_OUTPUT);
  PollCall poll; // no card at all, yet success
  EXPECT_EQ(poll.Run(), 1);
  EXPECT_EQ(poll.count, 0);
  EXPECT_EQ(std::vector<uint8_t>(poll.idm, poll.idm + 8), std::vector<uint8_t>(8, 0));
  sim_place_card(0);
  BlockReadCall read(CardIdm(0), {0xCB, 0x33}, {0x80, 0x00});
  read.status1 = 0x11;
  EXPECT_EQ(read.Run(), 1);
  EXPECT_EQ(read.status1, 0x11);
  EXPECT_EQ(read.count, 2);
  EXPECT_EQ(read.data[0], 0);

  sim_misbehave(SIM_BEHAVE_NORMALLY);
  EXPECT_EQ(poll.Run(), 1);
  EXPECT_EQ(poll.count, 1);
}

TEST_F(Control, OverstatingTheBlockCountStillWritesOnlyTheRoom) {
  ASSERT_EQ(Lib().initialize(), 1);
  ASSERT_EQ(Lib().open(), 1);
  sim_place_card(0);
  sim_misbehave(SIM_OVERSTATE_BLOCK_COUNT);
  BlockReadCall read(CardIdm(0), {0xCB, 0x33}, {0x80, 0x00});
  ASSERT_EQ(read.Run(), 1);
  EXPECT_EQ(read.count, 3); // room for 2
  EXPECT_EQ(read.data[0], 0x12);
  EXPECT_TRUE(read.GuardUntouched());
}

TEST_F(Control, ResetForgetsEverything) {
  ASSERT_EQ(Lib().initialize(), 1);
  ASSERT_EQ(Lib().open(), 1);
  sim_place_card(0);
  sim_fail("open_reader_writer_auto", 1027, 152, -1);
  sim_fail_error_query(1);
  sim_misbehave(SIM_SUCCEED_WITHOUT_OUTPUT);
  sim_attach_reader(0);
  sim_reset();
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_EQ(sim_is_reader_open(), 0);
  EXPECT_EQ(sim_log_count(), 0);
  ASSERT_EQ(Lib().initialize(), 1);
  EXPECT_EQ(Lib().open(), 1);
  PollCall poll;
  EXPECT_EQ(poll.Run(), 0);
  EXPECT_EQ(LastErrors(), (std::pair<int32_t, int32_t>(1036, 157)));
  EXPECT_EQ(sim_card_kinds(), 3);
  uint8_t idm[8];
  EXPECT_EQ(sim_card_idm(3, idm), 0);
  EXPECT_EQ(sim_place_card(3), 0);
  EXPECT_EQ(sim_place_card(-1), 0);
}

HWND FindReaderWindow() { return FindWindowW(L"VarneloVirtualReader", nullptr); }

void Click(HWND window, int id) {
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

// Runs before the window test below, so in one process the window is not there yet.
TEST_F(Control, NoReaderWindowUnlessAsked) {
  SetEnvironmentVariableW(L"VARNELO_SIM_WINDOW", nullptr);
  ASSERT_EQ(Lib().initialize(), 1);
  EXPECT_FALSE(PumpUntil([] { return FindReaderWindow() != nullptr; }, 300));
}

TEST_F(Control, ReaderWindowIsDrivenByAnotherProgram) {
  SetEnvironmentVariableW(L"VARNELO_SIM_WINDOW", L"1");
  ASSERT_EQ(Lib().initialize(), 1);
  ASSERT_TRUE(PumpUntil([] { return FindReaderWindow() != nullptr; }, 5000));
  HWND window = FindReaderWindow();
  wchar_t caption[32]{};
  GetWindowTextW(window, caption, 32);
  EXPECT_STREQ(caption, L"仮想リーダー");
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  wchar_t text[32]{};
  GetDlgItemTextW(window, 102, text, 32);
  EXPECT_STREQ(text, L"カードを置く");
  GetDlgItemTextW(window, 103, text, 32);
  EXPECT_STREQ(text, L"カードを取る");
  GetDlgItemTextW(window, 104, text, 32);
  EXPECT_STREQ(text, L"リーダー接続");
  EXPECT_EQ(SendDlgItemMessageW(window, 101, CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(IsDlgButtonChecked(window, 104), BST_CHECKED);

  ASSERT_EQ(Lib().open(), 1);
  SendDlgItemMessageW(window, 101, CB_SETCURSEL, 2, 0);
  Click(window, 102);
  PollCall poll;
  ASSERT_EQ(poll.Run(), 1);
  EXPECT_EQ(std::vector<uint8_t>(poll.idm, poll.idm + 8), CardIdm(2));
  EXPECT_TRUE(PumpUntil([&] {
    wchar_t status[128]{};
    GetDlgItemTextW(window, 105, status, 128);
    return wcsstr(status, L"カード2") != nullptr;
  }, 3000));

  Click(window, 103);
  PollCall none;
  EXPECT_EQ(none.Run(), 0);
  EXPECT_EQ(LastErrors().first, 1036);

  Click(window, 104); // unplug
  EXPECT_EQ(IsDlgButtonChecked(window, 104), BST_UNCHECKED);
  EXPECT_EQ(sim_is_reader_open(), 0);
  EXPECT_EQ(Lib().open(), 0);
  EXPECT_EQ(LastErrors().first, 1028);
  Click(window, 104);
  EXPECT_EQ(IsDlgButtonChecked(window, 104), BST_CHECKED);
  EXPECT_EQ(Lib().open(), 1);
}

} // namespace
