// Shared parts of the fault matrix programs: the texts the window and the dialog must show,
// the expected views of the window, and the summary line each program prints at its end.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "MainForm.h"
#include "form_driver.h"

namespace matrix {

inline const std::wstring Sep = L"--<詳細>----------------------------------------------";
inline const wchar_t HoldAndPress[] = L"カードをかざしてボタンを押して下さい。";
inline const wchar_t CardRead[] = L"カードを認識しました。";
inline const wchar_t NoCard[] = L"カードが認識出来ません。\r\nカードをかざしてボタンを押して下さい。";
inline const wchar_t CardFoundText[] = L"カードを認識しました";
inline const wchar_t CaptionStart[] = L"ポーリング開始";
inline const wchar_t CaptionStop[] = L"ポーリング停止";

// The dialog for an error the program raised itself: its first lines are fixed, the
// description is the program's own, and the number closes the text.
inline std::wstring InternalHead() { return L"内部エラーが発生しました。\r\n\r\n" + Sep + L"\r\n"; }
inline std::wstring InternalTail(int number) { return L"(エラーコード：" + std::to_wstring(number) + L")"; }

// One expected dialog: with Tail empty the text must equal Head, otherwise start with Head
// and end with Tail.
struct Dialog {
  std::wstring Head;
  std::wstring Tail;
};

// What the window looks like after a flow; nullptr texts are not looked at.
struct View {
  bool Alive;
  const wchar_t* Msg;
  const wchar_t* Idm;
  const wchar_t* Number;
  const wchar_t* Caption;
  int16_t PollingActive;
};

inline const View Gone{false, nullptr, nullptr, nullptr, nullptr, 0};
// The window after each kind of flow, with the test card 0123456789ABCDEF whose FeliCa number is
// 1122334455667788.
inline const wchar_t Idm[] = L"0123456789ABCDEF";
inline const wchar_t Number[] = L"1122334455667788";

inline const View Loaded{true, HoldAndPress, L"", L"", CaptionStart, 0};
inline const View ReadIdm{true, CardRead, Idm, L"", CaptionStart, 0};
inline const View ReadNumber{true, CardRead, Idm, Number, CaptionStart, 0};
inline const View ReadIdmNoNumber = ReadIdm;
inline const View ReadNoCard{true, NoCard, L"", L"", CaptionStart, 0};
inline const View ReadFailed{true, HoldAndPress, L"", L"", CaptionStart, 0};
inline const View Running{true, HoldAndPress, L"", L"", CaptionStop, -1};
inline const View Stopped{true, HoldAndPress, L"", L"", CaptionStart, 0};
inline const View FoundBoth{true, CardFoundText, Idm, Number, CaptionStop, -1};
inline const View FoundIdm{true, CardFoundText, Idm, L"", CaptionStop, -1};
inline const View FoundNumber{true, CardFoundText, L"", Number, CaptionStop, -1};
inline const View FoundNothing{true, CardFoundText, L"", L"", CaptionStop, -1};


// Tallies of the whole program, printed at its end.
struct Tally {
  int Cells = 0;
  int UnexpectedDialogs = 0;
  int HeldConnections = 0;
};
inline Tally tally;

inline bool DialogMatches(const std::wstring& text, const Dialog& expected) {
  if (expected.Tail.empty()) return text == expected.Head;
  return text.size() >= expected.Head.size() + expected.Tail.size() && text.rfind(expected.Head, 0) == 0 &&
         text.compare(text.size() - expected.Tail.size(), expected.Tail.size(), expected.Tail) == 0;
}

inline void CheckDialogs(const std::vector<std::wstring>& shown, const std::vector<Dialog>& expected) {
  bool same = shown.size() == expected.size();
  for (size_t i = 0; same && i < shown.size(); ++i) same = DialogMatches(shown[i], expected[i]);
  if (!same) {
    ++tally.UnexpectedDialogs;
    std::wstring all;
    for (const auto& text : shown) all += L"[" + text + L"]\n";
    ADD_FAILURE() << "dialogs shown (" << shown.size() << ", expected " << expected.size()
                  << "):\n" << ::testing::PrintToString(all);
  }
}

inline void CheckView(HWND window, const View& expected) {
  const bool alive = window && IsWindow(window);
  EXPECT_EQ(alive, expected.Alive);
  MainForm* form = alive ? MainFormOf(window) : nullptr;
  if (!form || !expected.Alive) return;
  if (expected.Msg) {
    EXPECT_EQ(Text(form->TxtMsg), expected.Msg);
  }
  if (expected.Idm) {
    EXPECT_EQ(Text(form->TxtIDm), expected.Idm);
  }
  if (expected.Number) {
    EXPECT_EQ(Text(form->TxtFeliCaNo), expected.Number);
  }
  if (expected.Caption) {
    EXPECT_EQ(Text(form->BtnCmd), expected.Caption);
  }
  EXPECT_EQ(form->PollingActive, expected.PollingActive);
  // Whatever happened, the window is ready for the next press.
  EXPECT_TRUE(IsWindowEnabled(form->BtnPoll));
}

// Messages shown through the window's test seam instead of a modal box.
inline std::vector<std::wstring> shownErrors;
inline void CaptureError(HWND, const std::wstring& text) { shownErrors.push_back(text); }

inline void PrintSummary(const char* program) {
  const ::testing::UnitTest& run = *::testing::UnitTest::GetInstance();
  std::printf("fault matrix (%s): %d cells checked, %d failed, 0 crashes, %d unexpected dialogs, %d held connections\n",
              program, tally.Cells, run.failed_test_count(), tally.UnexpectedDialogs, tally.HeldConnections);
  std::fflush(stdout);
}

} // namespace matrix

// Each matrix program runs all its cells in one process and ends with the summary line; a
// crash ends the process before it, so the line also says no cell crashed.
#define FAULT_MATRIX_MAIN(program)                                                                                     \
  int main(int argc, char** argv) {                                                                                    \
    ::testing::InitGoogleTest(&argc, argv);                                                                            \
    const int result = RUN_ALL_TESTS();                                                                                \
    matrix::PrintSummary(program);                                                                                     \
    return result;                                                                                                     \
  }
