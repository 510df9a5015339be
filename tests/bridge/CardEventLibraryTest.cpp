// The bridge with the simulated reader library: what it hands over, how failures come back,
// and card events delivered by the library's own polling thread.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "RecordingWindow.h"
#include "bridge/CardEventBridge.h"
#include "felica/FelicaAPI.h"
#include "simulator/sim_control.h"

using namespace FelicaAPI;

namespace {

std::string LogLine(int32_t index) {
  char line[512]{};
  if (sim_log_line(index, line, sizeof line) < 0) return "<no line " + std::to_string(index) + ">";
  return line;
}
std::string LastLogLine() { return LogLine(sim_log_count() - 1); }

std::string HandleText(HWND window) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(window)));
  return text;
}

// Pumps this thread's messages until `done` holds or the time is up.
template <typename Condition> bool PumpUntil(Condition done, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (!done()) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

class CardEventLibrary : public ::testing::Test {
protected:
  void SetUp() override {
    sim_reset();
    SetPlatformIdForTesting(-1);
    edit = CreateRecordingEdit();
    ASSERT_NE(edit, nullptr);
    InitializeLibrary();
    OpenReaderWriterAuto();
    sim_log_clear();
  }
  void TearDown() override {
    try {
      if (sim_is_polling()) StopPolling();
      CloseReaderWriter();
      DisposeLibrary();
    } catch (const FelicaError& error) {
      ADD_FAILURE() << "closing raised " << error.Number;
    }
    if (edit) DestroyWindow(edit);
    sim_reset();
  }
  HWND edit = nullptr;
};

TEST_F(CardEventLibrary, SetCallbackParametersHandsTheWindowAndBothNames) {
  SetCallbackParameters(edit, 0, 1);
  ASSERT_EQ(sim_log_count(), 1);
  EXPECT_EQ(LogLine(0), "set_call_back_parameters hwnd=" + HandleText(edit) +
                            " find=FelicaAPI_callback_find loss=FelicaAPI_callback_loss p1=0 p2=1 -> 1");

  SetCallbackParameters(edit, -7, 123456);
  EXPECT_EQ(LastLogLine(), "set_call_back_parameters hwnd=" + HandleText(edit) +
                               " find=FelicaAPI_callback_find loss=FelicaAPI_callback_loss p1=-7 p2=123456 -> 1");
}

TEST_F(CardEventLibrary, StartPollingHandsTheSystemCodeInTheOrderGiven) {
  SetCallbackParameters(edit, 0, 1);
  StartPolling(255, 255, 0);
  EXPECT_EQ(LastLogLine(), "start_polling system=FFFF slot=0 -> 1");
  EXPECT_TRUE(sim_is_polling());
  StopPolling();

  StartPolling(0xFE, 0x00, 0);
  EXPECT_EQ(LastLogLine(), "start_polling system=FE00 slot=0 -> 1");
  StopPolling();
}

// Raises and checks the error that comes back from a library failure.
template <typename Call> void ExpectOperationError(Call call, const std::wstring& name) {
  try {
    call();
    ADD_FAILURE() << "no error raised";
  } catch (const FelicaError& error) {
    EXPECT_EQ(error.Number, 513);
    EXPECT_EQ(error.Source, L"FelicaAPI");
    EXPECT_NE(error.Description.find(L"[" + name + L"]"), std::wstring::npos);
    EXPECT_NE(error.Description.find(L"[1000]"), std::wstring::npos);
  }
}

TEST_F(CardEventLibrary, FailuresRaiseOperationErrors) {
  ASSERT_TRUE(sim_fail("set_call_back_parameters", 1000, 0, 1));
  ExpectOperationError([&] { SetCallbackParameters(edit, 0, 1); }, L"SetCallbackParameters");
  EXPECT_EQ(LogLine(0),
            "set_call_back_parameters hwnd=" + HandleText(edit) +
                " find=FelicaAPI_callback_find loss=FelicaAPI_callback_loss p1=0 p2=1 -> 0");

  ASSERT_TRUE(sim_fail("start_polling", 1000, 0, 1));
  ExpectOperationError([] { StartPolling(255, 255, 0); }, L"StartPolling");
  EXPECT_FALSE(sim_is_polling());
  // Nothing is undone: the reader stays open.
  EXPECT_TRUE(sim_is_reader_open());
}

TEST_F(CardEventLibrary, CardsFromThePollingThreadArriveAsKeyStrokes) {
  SubclassWindow(edit);
  SetCallbackParameters(edit, 0, 1);
  StartPolling(255, 255, 0);

  auto keys = [] { return RecordedOf({WM_KEYDOWN, WM_KEYUP, WM_CHAR}); };
  const std::vector<RecordedMessage> found{{WM_KEYDOWN, 70, 0}, {WM_KEYUP, 70, 0}};
  const std::vector<RecordedMessage> lost{{WM_KEYDOWN, 76, 0}, {WM_KEYUP, 76, 0}};

  ASSERT_TRUE(sim_place_card(0));
  EXPECT_TRUE(PumpUntil([&] { return keys().size() >= 2; }, 5000));
  EXPECT_EQ(keys(), found);

  TheRecorder.Messages.clear();
  sim_remove_card();
  EXPECT_TRUE(PumpUntil([&] { return keys().size() >= 2; }, 5000));
  EXPECT_EQ(keys(), lost);

  // The card messages themselves never reach the box.
  const CallbackMessages messages = GetCallbackMessages();
  EXPECT_TRUE(RecordedOf({static_cast<UINT>(messages.FindMessageId), static_cast<UINT>(messages.LossMessageId)}).empty());
  EXPECT_EQ(WindowText(edit), L"abc");

  StopPolling();
  UnsubclassWindow(edit);
  EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), ProcedureValue(RecordingProc));
}

} // namespace
