// The subclassing procedure on a real EDIT control, with real window messages.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include "RecordingWindow.h"
#include "bridge/CardEventBridge.h"

using namespace FelicaAPI;

namespace {

const RecordedMessage KeyDownF{WM_KEYDOWN, 70, 0}, KeyUpF{WM_KEYUP, 70, 0};
const RecordedMessage KeyDownL{WM_KEYDOWN, 76, 0}, KeyUpL{WM_KEYUP, 76, 0};

UINT FindMessage() { return RegisterWindowMessageW(L"FelicaAPI_callback_find"); }
UINT LossMessage() { return RegisterWindowMessageW(L"FelicaAPI_callback_loss"); }

class CardEventWindow : public ::testing::TestWithParam<int32_t> {
protected:
  void SetUp() override {
    SetPlatformIdForTesting(GetParam());
    edit = CreateRecordingEdit();
    ASSERT_NE(edit, nullptr);
  }
  void TearDown() override {
    if (edit) DestroyWindow(edit);
    SetPlatformIdForTesting(-1);
  }
  // A slot read with the variant the bridge uses on this platform.
  LONG Slot(int index) const { return GetParam() == 2 ? GetWindowLongW(edit, index) : GetWindowLongA(edit, index); }
  HWND edit = nullptr;
};

TEST_P(CardEventWindow, CardMessagesBecomeOneKeyStrokeEachAndAreConsumed) {
  SubclassWindow(edit);

  EXPECT_EQ(SendMessageW(edit, FindMessage(), 3, 4), 0);
  EXPECT_EQ(TheRecorder.Messages, (std::vector<RecordedMessage>{KeyDownF, KeyUpF}));

  TheRecorder.Messages.clear();
  EXPECT_EQ(SendMessageW(edit, LossMessage(), 0, 99), 0);
  EXPECT_EQ(TheRecorder.Messages, (std::vector<RecordedMessage>{KeyDownL, KeyUpL}));

  // Posted like a library thread might: the keys are handled during dispatch, and no
  // character ever reaches the box.
  TheRecorder.Messages.clear();
  ASSERT_TRUE(PostMessageW(edit, FindMessage(), 0, 0));
  MSG msg;
  while (PeekMessageW(&msg, edit, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  EXPECT_EQ(RecordedOf({WM_KEYDOWN, WM_KEYUP, WM_CHAR}), (std::vector<RecordedMessage>{KeyDownF, KeyUpF}));
  EXPECT_EQ(WindowText(edit), L"abc");
}

TEST_P(CardEventWindow, OtherMessagesReachThePreviousProcedureUnchanged) {
  SubclassWindow(edit);

  EXPECT_EQ(SendMessageW(edit, ProbeMessage, 0x11, 0x7FFF0022), ProbeResult + 0x11);
  EXPECT_EQ(SendMessageW(edit, TheRecorder.OtherRegisteredMessage, 0x33, -5), ProbeResult + 0x33);
  EXPECT_EQ(TheRecorder.Messages, (std::vector<RecordedMessage>{{ProbeMessage, 0x11, 0x7FFF0022},
                                                                {TheRecorder.OtherRegisteredMessage, 0x33, -5}}));

  // The box's own handling still works behind the bridge.
  ASSERT_TRUE(SetWindowTextW(edit, L"xyz"));
  EXPECT_EQ(WindowText(edit), L"xyz");
  EXPECT_EQ(SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0), 3);
}

TEST_P(CardEventWindow, SubclassingTwiceKeepsTheOriginalAndUnsubclassingRestoresIt) {
  const LONG original = ProcedureValue(RecordingProc);
  ASSERT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), original);
  const LONG previous = Slot(GWL_WNDPROC);

  SubclassWindow(edit);
  SubclassWindow(edit);
  EXPECT_EQ(Slot(GWL_WNDPROC), ProcedureValue(CardEventWindowProc));
  EXPECT_EQ(Slot(GWL_USERDATA), previous);
  EXPECT_EQ(SendMessageW(edit, FindMessage(), 0, 0), 0);
  EXPECT_EQ(TheRecorder.Messages, (std::vector<RecordedMessage>{KeyDownF, KeyUpF}));

  UnsubclassWindow(edit);
  EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), original);
  EXPECT_TRUE(IsWindowUnicode(edit));
  EXPECT_EQ(Slot(GWL_USERDATA), previous);

  // Restored: card messages are ordinary messages again.
  TheRecorder.Messages.clear();
  SendMessageW(edit, FindMessage(), 1, 2);
  EXPECT_EQ(TheRecorder.Messages, (std::vector<RecordedMessage>{{FindMessage(), 1, 2}}));

  // And the bridge can be put back.
  SubclassWindow(edit);
  TheRecorder.Messages.clear();
  EXPECT_EQ(SendMessageW(edit, LossMessage(), 0, 0), 0);
  EXPECT_EQ(TheRecorder.Messages, (std::vector<RecordedMessage>{KeyDownL, KeyUpL}));
  UnsubclassWindow(edit);
  EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), original);
}

TEST_P(CardEventWindow, UnsubclassingAWindowNeverSubclassedChangesNothing) {
  UnsubclassWindow(edit);
  EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), ProcedureValue(RecordingProc));
  EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_USERDATA), 0);
  EXPECT_TRUE(IsWindowUnicode(edit));
  EXPECT_EQ(SendMessageW(edit, ProbeMessage, 1, 0), ProbeResult + 1);
}

std::vector<RecordedMessage> SubclassRecord;
LRESULT CALLBACK RecordingSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR) noexcept {
  try {
    SubclassRecord.push_back({message, wParam, lParam});
  } catch (...) {
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

// In the program the box already carries the main window's own subclass when the bridge arrives.
TEST_P(CardEventWindow, WorksOnTopOfAnotherSubclassAndRestoresItExactly) {
  SubclassRecord.clear();
  ASSERT_TRUE(SetWindowSubclass(edit, RecordingSubclassProc, 1, 0));
  const LONG_PTR beneath = GetWindowLongPtrW(edit, GWLP_WNDPROC);
  ASSERT_NE(beneath, ProcedureValue(RecordingProc));

  SubclassWindow(edit);
  EXPECT_EQ(SendMessageW(edit, FindMessage(), 0, 0), 0);
  EXPECT_EQ(SubclassRecord, (std::vector<RecordedMessage>{KeyDownF, KeyUpF}));
  EXPECT_EQ(RecordedOf({WM_KEYDOWN, WM_KEYUP}), (std::vector<RecordedMessage>{KeyDownF, KeyUpF}));

  UnsubclassWindow(edit);
  EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), beneath);
  EXPECT_TRUE(IsWindowUnicode(edit));

  // The other subclass can still take itself away cleanly.
  ASSERT_TRUE(RemoveWindowSubclass(edit, RecordingSubclassProc, 1));
  EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), ProcedureValue(RecordingProc));
  EXPECT_EQ(WindowText(edit), L"abc");
}

// 2: the wide calls of the NT family (what Wine reports); 1 and 0: the ANSI calls.
INSTANTIATE_TEST_SUITE_P(Platforms, CardEventWindow, ::testing::Values(2, 1, 0),
                         [](const auto& info) { return "PlatformId" + std::to_string(info.param); });

} // namespace
