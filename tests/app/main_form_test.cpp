// The main window created in this process, driven with real messages, over the simulated
// reader library.
#include <gtest/gtest.h>

#include <oleacc.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MainForm.h"
#include "MainFormText.h"
#include "bridge/CardEventBridge.h"
#include "felica/ErrorDescription.h"
#include "felica/FelicaAPI.h"
#include "form_driver.h"
#include "sim_control.h"
#include "varnelo_version.h"

namespace {

const std::wstring Sep = L"--<詳細>----------------------------------------------";
const uint8_t TestIdm[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const uint8_t TestPmm[8] = {0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF};
const uint8_t TestBlock0[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x0F};

void PlaceTestCard(bool withCommonArea = true) {
  sim_place_custom_card(TestIdm, TestPmm, withCommonArea ? 1 : 0, withCommonArea ? TestBlock0 : nullptr);
}

std::vector<std::string> SimLog() {
  std::vector<std::string> lines;
  for (int32_t i = 0; i < sim_log_count(); ++i) {
    char line[512]{};
    sim_log_line(i, line, sizeof line);
    lines.emplace_back(line);
  }
  return lines;
}

ptrdiff_t LogIndex(const std::vector<std::string>& log, const std::string& line, size_t from = 0) {
  auto found = std::find(log.begin() + static_cast<ptrdiff_t>(from), log.end(), line);
  return found == log.end() ? -1 : found - log.begin();
}

// Messages shown through the test seam; whileOpen runs as if the box stood on the screen.
std::vector<std::wstring> shownErrors;
std::function<void()> whileErrorShown;
void CaptureError(HWND, const std::wstring& text) {
  shownErrors.push_back(text);
  if (whileErrorShown) whileErrorShown();
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.rfind(prefix, 0) == 0; }

RECT ChildRect(HWND child) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW font{};
  auto handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  GetObjectW(handle, sizeof font, &font);
  return font;
}

HBRUSH BackgroundBrush(HWND control) {
  HDC dc = GetDC(control);
  auto brush = reinterpret_cast<HBRUSH>(
      SendMessageW(GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
  ReleaseDC(control, dc);
  return brush;
}

void SetIdmOnly(MainForm& form, bool ticked) {
  SendMessageW(form.IdmOnly, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
  Click(form.IdmOnly);
}

const wchar_t HoldAndPress[] = L"カードをかざしてボタンを押して下さい。";
const wchar_t CardFoundText[] = L"カードを認識しました";
const wchar_t HoldCard[] = L"カードをかざして下さい。";

class MainFormTest : public ::testing::Test {
protected:
  void SetUp() override {
    sim_reset();
    shownErrors.clear();
    whileErrorShown = nullptr;
    SetErrorDialogForTesting(CaptureError);
  }

  void TearDown() override {
    if (window_ && IsWindow(window_)) SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(window_ && IsWindow(window_));
    SetErrorDialogForTesting(nullptr);
    whileErrorShown = nullptr;
    sim_reset();
    PumpUntil([] { return false; }, 20);
  }

  MainForm* Open() {
    window_ = CreateMainForm(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE, false);
    return MainFormOf(window_);
  }

  HWND window_ = nullptr;
};

} // namespace

TEST_F(MainFormTest, LoadProbesTheLibraryOnceAndLeavesItClosed) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(IsWindowVisible(window_));
  EXPECT_EQ(Text(window_), L"Varnelo (ver" VARNELO_VERSION_TEXT ")");
  EXPECT_EQ(SimLog(), (std::vector<std::string>{"initialize_library -> 1", "open_reader_writer_auto -> 1",
                                                "close_reader_writer -> 1", "dispose_library -> 1"}));
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_EQ(form->ReaderOpen, 0);
  EXPECT_EQ(form->PollingActive, 0);

  EXPECT_EQ(Text(form->TxtMsg), HoldAndPress);
  EXPECT_EQ(Text(form->BtnCmd), L"ポーリング開始");
  EXPECT_EQ(SendMessageW(form->IdmOnly, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(form->IdmOnlyMode, -1);
  EXPECT_EQ(BackgroundBrush(form->TxtFeliCaNo), GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_TRUE(shownErrors.empty());

  // The bridge sits on top of the box's own subclass and keeps that one in the user data slot.
  EXPECT_EQ(GetWindowLongPtrW(form->PollingHandle, GWLP_WNDPROC),
            reinterpret_cast<LONG_PTR>(&FelicaAPI::CardEventWindowProc));
  EXPECT_NE(GetWindowLongPtrW(form->PollingHandle, GWLP_USERDATA), 0);
}

TEST_F(MainFormTest, ShowsFourControlsAndKeepsFiveHidden) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  for (HWND shown : {form->TxtMsg, form->TxtIDm, form->Text4, form->BtnPoll}) EXPECT_TRUE(IsWindowVisible(shown));
  for (HWND hidden : {form->BtnCmd, form->PollingHandle, form->Text5, form->TxtFeliCaNo, form->IdmOnly}) {
    EXPECT_TRUE(IsWindow(hidden));
    EXPECT_FALSE(IsWindowVisible(hidden));
  }
  EXPECT_EQ(Text(form->Text4), L"IDm ：");
  EXPECT_EQ(Text(form->Text5), L"FeliCaカード番号 ：");
  EXPECT_EQ(Text(form->PollingHandle), L"PollingHandle");
  EXPECT_EQ(Text(form->BtnPoll), L"取得");
  EXPECT_EQ(Text(form->IdmOnly), L"IDmのみ");
  EXPECT_EQ(Text(form->TxtIDm), L"");

  // Tab order is the order of the children.
  std::vector<HWND> order;
  for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) order.push_back(child);
  EXPECT_EQ(order, (std::vector<HWND>{form->TxtIDm, form->TxtFeliCaNo, form->TxtMsg, form->Text4, form->Text5,
                                      form->BtnCmd, form->PollingHandle, form->BtnPoll, form->IdmOnly}));

  for (HWND readOnly : {form->TxtIDm, form->TxtFeliCaNo, form->TxtMsg, form->Text4, form->Text5}) {
    EXPECT_TRUE(GetWindowLongPtrW(readOnly, GWL_STYLE) & ES_READONLY);
  }
  EXPECT_TRUE(GetWindowLongPtrW(form->TxtMsg, GWL_STYLE) & ES_MULTILINE);
  EXPECT_EQ(GetWindowLongPtrW(form->IdmOnly, GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
}

TEST_F(MainFormTest, PlacesControlsFromTwipsAtFifteenTwipsToThePixel) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  ASSERT_EQ(form->Dpi, 96u) << "the expected pixels below are for 96 DPI";
  RECT client;
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, 357);
  EXPECT_EQ(client.bottom, 84);

  auto expectRect = [](HWND control, RECT expected) {
    RECT actual = ChildRect(control);
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right, expected.right);
    EXPECT_EQ(actual.bottom, expected.bottom);
  };
  expectRect(form->TxtIDm, {112, 48, 265, 73});
  expectRect(form->TxtFeliCaNo, {112, 80, 265, 105});
  expectRect(form->TxtMsg, {8, 8, 345, 41});
  expectRect(form->Text4, {40, 56, 105, 76});
  expectRect(form->Text5, {0, 88, 105, 108});
  expectRect(form->BtnCmd, {0, 0, 81, 25});
  expectRect(form->PollingHandle, {0, 24, 81, 49});
  expectRect(form->BtnPoll, {280, 48, 345, 81});
  expectRect(form->IdmOnly, {280, 88, 345, 105});

  LOGFONTW idmFont = FontOf(form->TxtIDm);
  EXPECT_STREQ(idmFont.lfFaceName, L"ＭＳ ゴシック");
  EXPECT_EQ(idmFont.lfHeight, -13);
  EXPECT_EQ(idmFont.lfWeight, 400);
  EXPECT_EQ(idmFont.lfCharSet, 128);
  EXPECT_STREQ(FontOf(form->TxtFeliCaNo).lfFaceName, L"ＭＳ ゴシック");
  LOGFONTW msgFont = FontOf(form->TxtMsg);
  EXPECT_STREQ(msgFont.lfFaceName, L"ＭＳ Ｐゴシック");
  EXPECT_EQ(msgFont.lfHeight, -13);
  EXPECT_EQ(msgFont.lfCharSet, 128);

  for (HWND caption : {form->TxtMsg, form->Text4, form->Text5}) {
    EXPECT_EQ(BackgroundBrush(caption), GetSysColorBrush(COLOR_BTNFACE));
  }
  EXPECT_EQ(BackgroundBrush(form->TxtIDm), GetSysColorBrush(COLOR_WINDOW));
}

TEST_F(MainFormTest, ReadInIdmOnlyModeShowsTheIdmWithoutABlockRead) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  PlaceTestCard();
  sim_log_clear();
  Click(form->BtnPoll);
  EXPECT_EQ(Text(form->TxtMsg), L"カードを認識しました。");
  EXPECT_EQ(Text(form->TxtIDm), L"0123456789ABCDEF");
  EXPECT_EQ(Text(form->TxtFeliCaNo), L"");
  EXPECT_EQ(sim_call_count("read_block_without_encryption"), 0);
  EXPECT_EQ(LogIndex(SimLog(), "polling_and_get_card_information system=FFFF slot=0 -> 1"), 2);
  EXPECT_TRUE(IsWindowEnabled(form->BtnPoll));
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_EQ(form->ReaderOpen, 0);
  EXPECT_TRUE(shownErrors.empty());
}

TEST_F(MainFormTest, WithTheBoxClearedTheFelicaNumberIsReadWhenTheCardHasOneAndNoCardClearsBoth) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  SetIdmOnly(*form, false);
  EXPECT_EQ(form->IdmOnlyMode, 0);
  EXPECT_EQ(BackgroundBrush(form->TxtFeliCaNo), GetSysColorBrush(COLOR_WINDOW));

  PlaceTestCard();
  Click(form->BtnPoll);
  EXPECT_EQ(Text(form->TxtIDm), L"0123456789ABCDEF");
  EXPECT_EQ(Text(form->TxtFeliCaNo), L"1122334455667788");

  // No common area: the IDm still shows, the number stays empty, and no error is shown.
  PlaceTestCard(false);
  Click(form->BtnPoll);
  EXPECT_EQ(Text(form->TxtMsg), L"カードを認識しました。");
  EXPECT_EQ(Text(form->TxtIDm), L"0123456789ABCDEF");
  EXPECT_EQ(Text(form->TxtFeliCaNo), L"");
  EXPECT_TRUE(shownErrors.empty());

  // Ticking it again changes the colour, not the fields.
  PlaceTestCard();
  Click(form->BtnPoll);
  SetIdmOnly(*form, true);
  EXPECT_EQ(form->IdmOnlyMode, -1);
  EXPECT_EQ(BackgroundBrush(form->TxtFeliCaNo), GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_EQ(Text(form->TxtFeliCaNo), L"1122334455667788");

  // No card: the two-line request, both fields cleared, the reader let go.
  sim_remove_card();
  Click(form->BtnPoll);
  EXPECT_EQ(Text(form->TxtMsg), L"カードが認識出来ません。\r\nカードをかざしてボタンを押して下さい。");
  EXPECT_EQ(Text(form->TxtIDm), L"");
  EXPECT_EQ(Text(form->TxtFeliCaNo), L"");
  EXPECT_TRUE(IsWindowEnabled(form->BtnPoll));
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_TRUE(shownErrors.empty());
}

TEST_F(MainFormTest, FailingCloseInTheReadErrorPathIsShownAndTheWindowStaysUsable) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  PlaceTestCard();
  sim_fail("polling_and_get_card_information", 1040, 155, 1);
  sim_fail("close_reader_writer", 1001, 101, 1);
  Click(form->BtnPoll);

  ASSERT_EQ(shownErrors.size(), 2u);
  EXPECT_TRUE(StartsWith(shownErrors[0], L"FeliCaカードリーダーの操作でエラーが発生しました。\r\n"));
  EXPECT_NE(shownErrors[0].find(L"[PollingAndGetCardInformation]"), std::wstring::npos);
  EXPECT_TRUE(StartsWith(shownErrors[1], L"FeliCaカードリーダーの操作でエラーが発生しました。\r\n"));
  EXPECT_NE(shownErrors[1].find(L"[CloseReaderWriter]"), std::wstring::npos);
  EXPECT_TRUE(IsWindowEnabled(form->BtnPoll));
  EXPECT_EQ(Text(form->TxtMsg), HoldAndPress);
  EXPECT_EQ(form->ReaderOpen, 0);
  // The failed close still let go of the library.
  EXPECT_EQ(sim_is_initialized(), 0);

  Click(form->BtnPoll);
  EXPECT_EQ(shownErrors.size(), 2u);
  EXPECT_EQ(Text(form->TxtIDm), L"0123456789ABCDEF");
}

TEST_F(MainFormTest, ConnectionProceduresCallTheLibraryOnlyOnAChange) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  sim_log_clear();
  OpenConnection(*form);
  OpenConnection(*form);
  EXPECT_EQ(sim_call_count("initialize_library"), 1);
  EXPECT_EQ(sim_call_count("open_reader_writer_auto"), 1);
  EXPECT_EQ(form->ReaderOpen, -1);
  CloseConnection(*form);
  CloseConnection(*form);
  EXPECT_EQ(sim_call_count("close_reader_writer"), 1);
  EXPECT_EQ(sim_call_count("dispose_library"), 1);
  EXPECT_EQ(form->ReaderOpen, 0);

  // Nothing to stop, then nothing to start twice.
  EXPECT_EQ(StopContinuousPolling(*form), 0);
  EXPECT_EQ(sim_log_count(), 4);
  EXPECT_EQ(StartContinuousPolling(*form), -1);
  const int32_t calls = sim_log_count();
  EXPECT_EQ(StartContinuousPolling(*form), 0);
  EXPECT_EQ(sim_log_count(), calls);
  EXPECT_EQ(StopContinuousPolling(*form), -1);
  EXPECT_EQ(sim_is_initialized(), 0);
}

TEST_F(MainFormTest, ContinuousModeShowsAndClearsCardsReportedByTheLibrarysPolling) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  SetIdmOnly(*form, false);
  sim_log_clear();
  Click(form->BtnCmd);
  EXPECT_EQ(Text(form->BtnCmd), L"ポーリング停止");
  EXPECT_EQ(form->PollingActive, -1);
  EXPECT_EQ(sim_is_polling(), 1);
  EXPECT_EQ(sim_is_reader_open(), 1);
  char expected[200];
  std::snprintf(expected, sizeof expected,
                "set_call_back_parameters hwnd=%08lX find=FelicaAPI_callback_find loss=FelicaAPI_callback_loss p1=0 "
                "p2=1 -> 1",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(form->PollingHandle)));
  const auto log = SimLog();
  const ptrdiff_t callback = LogIndex(log, expected);
  EXPECT_GE(callback, 0) << expected;
  EXPECT_GT(LogIndex(log, "start_polling system=FFFF slot=0 -> 1"), callback);

  PlaceTestCard();
  EXPECT_TRUE(PumpUntil(
      [&] {
        return Text(form->TxtMsg) == CardFoundText && Text(form->TxtIDm) == L"0123456789ABCDEF" &&
               Text(form->TxtFeliCaNo) == L"1122334455667788";
      },
      5000))
      << "after placing: " << ::testing::PrintToString(Text(form->TxtMsg));

  sim_remove_card();
  EXPECT_TRUE(PumpUntil(
      [&] { return Text(form->TxtMsg) == HoldCard && Text(form->TxtIDm).empty() && Text(form->TxtFeliCaNo).empty(); },
      5000));

  Click(form->BtnCmd);
  EXPECT_EQ(Text(form->BtnCmd), L"ポーリング開始");
  EXPECT_EQ(form->PollingActive, 0);
  EXPECT_EQ(sim_is_polling(), 0);
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_TRUE(shownErrors.empty());
}

TEST_F(MainFormTest, OnlyTheKeysFAndLOfTheHiddenBoxAct) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  SetWindowTextW(form->TxtIDm, L"X");
  for (WPARAM key : {WPARAM{71}, WPARAM{102}, WPARAM{108}, WPARAM{70 + 256}, WPARAM{0}}) {
    SendMessageW(form->PollingHandle, WM_KEYUP, key, 0);
  }
  EXPECT_EQ(Text(form->TxtMsg), HoldAndPress);
  EXPECT_EQ(Text(form->TxtIDm), L"X");

  // "L" while stopped still clears; the card-lost message reaches it through the bridge.
  const UINT lossMessage = RegisterWindowMessageW(L"FelicaAPI_callback_loss");
  SendMessageW(form->PollingHandle, lossMessage, 0, 0);
  EXPECT_EQ(Text(form->TxtMsg), HoldCard);
  EXPECT_EQ(Text(form->TxtIDm), L"");

  // "F" with no connection held reads nothing from a disposed library.
  PlaceTestCard();
  sim_log_clear();
  SendMessageW(form->PollingHandle, WM_KEYUP, 70, 0);
  EXPECT_EQ(Text(form->TxtMsg), CardFoundText);
  EXPECT_EQ(Text(form->TxtIDm), L"");
  EXPECT_EQ(sim_log_count(), 0);
  EXPECT_EQ(Text(form->PollingHandle), L"PollingHandle");
}

TEST_F(MainFormTest, FailedStartHoldsNothingAndFailedStopKeepsRunning) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  sim_fail("start_polling", 1055, 0, 1);
  Click(form->BtnCmd);
  ASSERT_EQ(shownErrors.size(), 1u);
  EXPECT_TRUE(StartsWith(shownErrors[0], L"FeliCaカードリーダーの操作でエラーが発生しました。\r\n"));
  EXPECT_NE(shownErrors[0].find(L"[StartPolling]"), std::wstring::npos);
  EXPECT_EQ(Text(form->BtnCmd), L"ポーリング開始");
  EXPECT_EQ(form->PollingActive, 0);
  EXPECT_EQ(form->ReaderOpen, 0);
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_EQ(sim_is_reader_open(), 0);

  // A start that fails for want of a reader shows why, and holds nothing either.
  sim_attach_reader(0);
  Click(form->BtnCmd);
  ASSERT_EQ(shownErrors.size(), 2u);
  EXPECT_TRUE(StartsWith(shownErrors[1], L"FeliCaカードリーダが接続されていないか、"));
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_EQ(Text(form->BtnCmd), L"ポーリング開始");

  // A failed stop keeps the mode running until a stop succeeds.
  sim_attach_reader(1);
  Click(form->BtnCmd);
  ASSERT_EQ(form->PollingActive, -1);
  sim_fail("stop_polling", 1001, 101, 1);
  Click(form->BtnCmd);
  ASSERT_EQ(shownErrors.size(), 3u);
  EXPECT_NE(shownErrors[2].find(L"[StopPolling]"), std::wstring::npos);
  EXPECT_EQ(Text(form->BtnCmd), L"ポーリング停止");
  EXPECT_EQ(form->PollingActive, -1);
  Click(form->BtnCmd);
  EXPECT_EQ(Text(form->BtnCmd), L"ポーリング開始");
  EXPECT_EQ(form->PollingActive, 0);
  EXPECT_EQ(sim_is_initialized(), 0);

  // A stop whose polling stopped but whose close failed leaves the mode stopped, so it can start again.
  Click(form->BtnCmd);
  ASSERT_EQ(form->PollingActive, -1);
  sim_fail("close_reader_writer", 1001, 101, 1);
  Click(form->BtnCmd);
  ASSERT_EQ(shownErrors.size(), 4u);
  EXPECT_NE(shownErrors[3].find(L"[CloseReaderWriter]"), std::wstring::npos);
  EXPECT_EQ(form->PollingActive, 0);
  EXPECT_EQ(Text(form->BtnCmd), L"ポーリング開始");
  EXPECT_EQ(sim_is_polling(), 0);
  EXPECT_EQ(sim_is_initialized(), 0);
  Click(form->BtnCmd);
  EXPECT_EQ(shownErrors.size(), 4u);
  EXPECT_EQ(form->PollingActive, -1);
  EXPECT_EQ(Text(form->BtnCmd), L"ポーリング停止");
  EXPECT_EQ(sim_is_polling(), 1);
}

TEST_F(MainFormTest, OneShotReadDuringContinuousModeLeavesItsConnectionOpen) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  Click(form->BtnCmd);
  PlaceTestCard();
  ASSERT_TRUE(PumpUntil([&] { return Text(form->TxtIDm) == L"0123456789ABCDEF"; }, 5000));

  const int32_t opens = sim_call_count("open_reader_writer_auto");
  Click(form->BtnPoll);
  EXPECT_EQ(Text(form->TxtMsg), L"カードを認識しました。");
  EXPECT_EQ(sim_call_count("open_reader_writer_auto"), opens);
  EXPECT_EQ(sim_call_count("close_reader_writer"), 1); // the load probe's only
  EXPECT_EQ(sim_is_reader_open(), 1);
  EXPECT_EQ(sim_is_polling(), 1);
  EXPECT_EQ(form->ReaderOpen, -1);

  // Continuous mode goes on reporting.
  sim_remove_card();
  EXPECT_TRUE(PumpUntil([&] { return Text(form->TxtMsg) == HoldCard; }, 5000));
}

TEST_F(MainFormTest, ClosingWhilePollingStopsItBeforeClosingTheConnection) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  Click(form->BtnCmd);
  sim_log_clear();
  SendMessageW(window_, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_EQ(SimLog(), (std::vector<std::string>{"stop_polling -> 1", "close_reader_writer -> 1", "dispose_library -> 1"}));
  EXPECT_EQ(sim_is_polling(), 0);
  EXPECT_EQ(sim_is_initialized(), 0);
}

TEST_F(MainFormTest, ClosingWhileAReadPumpsStopsTheReadAndEndsTheWindow) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  PlaceTestCard();
  sim_log_clear();
  // Waits in the queue until the read pumps messages to draw "ポーリング中".
  PostMessageW(window_, WM_CLOSE, 0, 0);
  Click(form->BtnPoll);
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_EQ(sim_call_count("polling_and_get_card_information"), 0);
  EXPECT_EQ(sim_is_initialized(), 0);
  EXPECT_TRUE(shownErrors.empty());
}

TEST_F(MainFormTest, CardEventsAfterUnloadBeganReadNothing) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  Click(form->BtnCmd);
  sim_fail("stop_polling", 1001, 101, -1);
  int32_t pollsDuringDialog = -1;
  whileErrorShown = [&] {
    const int32_t polls = sim_call_count("polling_and_get_card_information");
    const int32_t delivered = sim_events_delivered();
    PlaceTestCard();
    PumpUntil([&] { return sim_events_delivered() > delivered; }, 3000);
    PumpUntil([] { return false; }, 100);
    pollsDuringDialog = sim_call_count("polling_and_get_card_information") - polls;
  };
  const std::wstring before = Text(form->TxtMsg);
  SendMessageW(window_, WM_CLOSE, 0, 0);

  ASSERT_EQ(shownErrors.size(), 1u);
  EXPECT_NE(shownErrors[0].find(L"[StopPolling]"), std::wstring::npos);
  EXPECT_EQ(pollsDuringDialog, 0);
  EXPECT_FALSE(IsWindow(window_));
  // The failed stop did not keep the unload from letting go of the library.
  EXPECT_EQ(sim_is_initialized(), 0);
}

// Through the real modal box: found from a second thread, read and answered with OK.

TEST_F(MainFormTest, LoadFailureShowsTheWarningBoxThenTheWindowIsGone) {
  SetErrorDialogForTesting(nullptr);
  sim_attach_reader(0);
  DialogWatcher watcher(0);
  window_ = CreateMainForm(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE, false);
  EXPECT_EQ(window_, nullptr);
  const auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Title, L"Varnelo");
  EXPECT_TRUE(StartsWith(seen[0].Text, L"FeliCaカードリーダが接続されていないか、\r\n"
                                       L"カードリーダーにアクセスしているアプリケーションが存在します。\r\n\r\n" +
                                           Sep + L"\r\nFelicaAPIでエラーが発生しました。\r\n"));
  EXPECT_NE(seen[0].Owner, nullptr);
  EXPECT_FALSE(seen[0].HasCancel);
  EXPECT_EQ(sim_is_initialized(), 0);
}

TEST_F(MainFormTest, FailedReadShowsAWarningBoxWhileBusyThenLeavesTheWindowReady) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  PlaceTestCard();
  Click(form->BtnPoll);
  ASSERT_EQ(Text(form->TxtIDm), L"0123456789ABCDEF");

  SetErrorDialogForTesting(nullptr);
  std::wstring messageWhileShown;
  bool enabledWhileShown = true;
  DialogWatcher watcher(0, [&] {
    messageWhileShown = Text(form->TxtMsg);
    enabledWhileShown = IsWindowEnabled(form->BtnPoll) != FALSE;
  });
  sim_fail("open_reader_writer_auto", 1028, 0, 1);
  Click(form->BtnPoll);

  const auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Title, L"Varnelo");
  EXPECT_EQ(seen[0].Owner, window_);
  EXPECT_FALSE(seen[0].HasCancel);
  EXPECT_TRUE(StartsWith(seen[0].Text, L"FeliCaカードリーダが接続されていないか、\r\n"
                                       L"カードリーダーにアクセスしているアプリケーションが存在します。\r\n\r\n" +
                                           Sep + L"\r\nFelicaAPIでエラーが発生しました。\r\n"
                                                 L"funcName         [OpenReaderWriterAuto]\r\n"));
  EXPECT_EQ(messageWhileShown, L"ポーリング中");
  EXPECT_FALSE(enabledWhileShown);

  EXPECT_EQ(Text(form->TxtMsg), HoldAndPress);
  EXPECT_EQ(Text(form->TxtIDm), L"");
  EXPECT_EQ(Text(form->TxtFeliCaNo), L"");
  EXPECT_TRUE(IsWindowEnabled(form->BtnPoll));
  EXPECT_EQ(form->ReaderOpen, 0);
  EXPECT_EQ(sim_is_initialized(), 0);

  Click(form->BtnPoll);
  EXPECT_EQ(Text(form->TxtIDm), L"0123456789ABCDEF");
}

TEST_F(MainFormTest, CardEventsWhileTheWarningBoxStandsAreShown) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  Click(form->BtnCmd);
  SetErrorDialogForTesting(nullptr);
  bool shownWhileOpen = false;
  DialogWatcher watcher(0, [&] {
    PlaceTestCard();
    for (int i = 0; i < 250 && !shownWhileOpen; ++i) {
      shownWhileOpen = Text(form->TxtIDm) == L"0123456789ABCDEF";
      if (!shownWhileOpen) Sleep(20);
    }
  });
  sim_fail("stop_polling", 1001, 101, 1);
  Click(form->BtnCmd);

  EXPECT_EQ(watcher.Seen().size(), 1u);
  EXPECT_TRUE(shownWhileOpen);
  EXPECT_EQ(Text(form->TxtMsg), CardFoundText);
  EXPECT_EQ(form->PollingActive, -1);
}

// A DPI change: the window takes the suggested frame, and every control's place and font follow
// the new DPI. The pixels are the design's twips at that DPI, worked out by hand.

namespace {

struct DpiStep {
  UINT Dpi;
  RECT Suggested;
  // In the order of MainFormControls: TxtIDm, TxtFeliCaNo, TxtMsg, Text4, Text5, BtnCmd,
  // PollingHandle, BtnPoll, IdmOnly.
  RECT Controls[9];
  LONG JapaneseHeight; // 9.75 pt at this DPI
  LONG MessageHeight;  // the system's message font, measured at 96 DPI, at this DPI
};

std::vector<HWND> ControlsInDesignOrder(const MainForm& form) {
  return {form.TxtIDm, form.TxtFeliCaNo, form.TxtMsg,  form.Text4,  form.Text5,
          form.BtnCmd, form.PollingHandle, form.BtnPoll, form.IdmOnly};
}

HFONT FontHandle(HWND control) { return reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)); }

std::array<LONG, 4> Corners(const RECT& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

} // namespace

TEST_F(MainFormTest, DpiChangeTakesTheSuggestedFrameAndScalesEveryControlAndFont) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  ASSERT_EQ(form->Dpi, 96u);
  const LONG message96 = FontOf(form->BtnPoll).lfHeight;
  ASSERT_LT(message96, 0) << "a character height, as the system gives it";

  const DpiStep steps[] = {
      {144,
       {30, 40, 620, 250},
       {{168, 72, 398, 110},
        {168, 120, 398, 158},
        {12, 12, 518, 62},
        {60, 84, 158, 114},
        {0, 132, 158, 162},
        {0, 0, 122, 38},
        {0, 36, 122, 74},
        {420, 72, 518, 122},
        {420, 132, 518, 158}},
       -20,
       MulDiv(message96, 3, 2)},
      {120,
       {20, 30, 480, 200},
       {{140, 60, 331, 91},
        {140, 100, 331, 131},
        {10, 10, 431, 51},
        {50, 70, 131, 95},
        {0, 110, 131, 135},
        {0, 0, 101, 31},
        {0, 30, 101, 61},
        {350, 60, 431, 101},
        {350, 110, 431, 131}},
       -16,
       MulDiv(message96, 5, 4)},
      {96,
       {10, 20, 390, 150},
       {{112, 48, 265, 73},
        {112, 80, 265, 105},
        {8, 8, 345, 41},
        {40, 56, 105, 76},
        {0, 88, 105, 108},
        {0, 0, 81, 25},
        {0, 24, 81, 49},
        {280, 48, 345, 81},
        {280, 88, 345, 105}},
       -13,
       message96},
  };
  const std::vector<HWND> controls = ControlsInDesignOrder(*form);
  for (const DpiStep& step : steps) {
    SCOPED_TRACE("to " + std::to_string(step.Dpi) + " DPI");
    std::vector<HFONT> before;
    for (HWND control : controls) before.push_back(FontHandle(control));

    RECT suggested = step.Suggested;
    SendMessageW(window_, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(step.Dpi, step.Dpi),
                 reinterpret_cast<LPARAM>(&suggested));

    EXPECT_EQ(form->Dpi, step.Dpi);
    RECT frame;
    GetWindowRect(window_, &frame);
    EXPECT_EQ(Corners(frame), Corners(step.Suggested));
    for (size_t i = 0; i < controls.size(); ++i) {
      EXPECT_EQ(Corners(ChildRect(controls[i])), Corners(step.Controls[i])) << "control " << i;
      const LOGFONTW font = FontOf(controls[i]);
      const bool gothic = i <= 1, pGothic = i == 2;
      EXPECT_EQ(font.lfHeight, gothic || pGothic ? step.JapaneseHeight : step.MessageHeight) << "control " << i;
      if (gothic || pGothic) {
        EXPECT_STREQ(font.lfFaceName, gothic ? L"ＭＳ ゴシック" : L"ＭＳ Ｐゴシック");
        EXPECT_EQ(font.lfCharSet, 128);
      }
    }
    // The fonts they replaced are freed, the ones in use are not.
    for (HFONT old : before) EXPECT_EQ(GetObjectType(old), 0u);
    for (HWND control : controls) EXPECT_EQ(GetObjectType(FontHandle(control)), static_cast<DWORD>(OBJ_FONT));
  }

  // Closing the window frees the fonts it made last.
  std::vector<HFONT> last;
  for (HWND control : controls) last.push_back(FontHandle(control));
  SendMessageW(window_, WM_CLOSE, 0, 0);
  ASSERT_FALSE(IsWindow(window_));
  for (HFONT font : last) EXPECT_EQ(GetObjectType(font), 0u);
}

// Keyboard focus after a read, with the window really active: 取得 gets the focus back only when
// nothing else holds it, and then a key press reads again; a focus held elsewhere stays there.

namespace {

enum class FocusHolder { Nothing, Window, ReadButton, IdmField, OtherProgram };
enum class ReadOutcome { Card, NoCard, Failure };

struct FocusCase {
  const char* Name;
  FocusHolder Before;
  ReadOutcome Outcome;
  bool ReadButtonGetsIt;
};

const FocusCase FocusCases[] = {
    {"nothing has the focus", FocusHolder::Nothing, ReadOutcome::Card, true},
    {"the window itself has it", FocusHolder::Window, ReadOutcome::NoCard, true},
    {"取得 had it, the read fails", FocusHolder::ReadButton, ReadOutcome::Failure, true},
    {"the IDm field has it", FocusHolder::IdmField, ReadOutcome::Card, false},
    {"the IDm field has it, the read fails", FocusHolder::IdmField, ReadOutcome::Failure, false},
    {"another program's window is in front", FocusHolder::OtherProgram, ReadOutcome::NoCard, false},
};

// A top-level window of another thread, which is what another program's window is to this
// thread: its focus is not this thread's. Lives for at most 30 s.
class ForeignWindow {
public:
  ForeignWindow() : thread_([this] { Run(); }) { WaitForSingleObject(ready_, 5000); }
  ~ForeignWindow() {
    stop_ = true;
    thread_.join();
    CloseHandle(ready_);
  }
  ForeignWindow(const ForeignWindow&) = delete;
  ForeignWindow& operator=(const ForeignWindow&) = delete;

  HWND Window() const { return window_; }

private:
  void Run() {
    window_ = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 300, 200, 80, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    SetEvent(ready_);
    const DWORD start = GetTickCount();
    while (!stop_ && GetTickCount() - start < 30000) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    if (window_) DestroyWindow(window_);
  }

  HANDLE ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> stop_{false};
  HWND window_ = nullptr;
  std::thread thread_;
};

// Brings a window to the front; ownActive is what this thread's active window then is.
bool MakeForeground(HWND window, HWND ownActive) {
  SetForegroundWindow(window);
  if (ownActive) SetActiveWindow(window);
  return PumpUntil([&] { return GetForegroundWindow() == window && GetActiveWindow() == ownActive; }, 3000);
}

} // namespace

TEST_F(MainFormTest, AReadGivesTheFocusBackToTheReadButtonOnlyWhenNothingElseHoldsIt) {
  // One window for all cases: closing an active window waits for the display each time.
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  for (const FocusCase& test : FocusCases) {
    SCOPED_TRACE(test.Name);
    shownErrors.clear();
    ASSERT_TRUE(MakeForeground(window_, window_));
    std::optional<ForeignWindow> other;
    HWND holder = nullptr;
    switch (test.Before) {
    case FocusHolder::Nothing:
      break;
    case FocusHolder::Window:
      holder = window_;
      break;
    case FocusHolder::ReadButton:
      holder = form->BtnPoll;
      break;
    case FocusHolder::IdmField:
      holder = form->TxtIDm;
      break;
    case FocusHolder::OtherProgram:
      other.emplace();
      ASSERT_NE(other->Window(), nullptr);
      // This thread then has neither an active window nor a focus.
      ASSERT_TRUE(MakeForeground(other->Window(), nullptr));
      break;
    }
    SetFocus(holder);
    ASSERT_EQ(GetFocus(), holder);

    if (test.Outcome == ReadOutcome::NoCard) {
      sim_remove_card();
    } else {
      PlaceTestCard();
    }
    if (test.Outcome == ReadOutcome::Failure) sim_fail("polling_and_get_card_information", 1040, 155, 1);
    Click(form->BtnPoll);
    EXPECT_EQ(shownErrors.size(), test.Outcome == ReadOutcome::Failure ? 1u : 0u);
    EXPECT_TRUE(IsWindowEnabled(form->BtnPoll));

    if (test.ReadButtonGetsIt) {
      EXPECT_EQ(GetFocus(), form->BtnPoll);
      // So Space, then Enter through the program's own dialog handling, reads again, each time
      // leaving the focus where it was.
      for (WORD key : {WORD{VK_SPACE}, WORD{VK_RETURN}}) {
        const int32_t reads = sim_call_count("polling_and_get_card_information");
        PressKey(key);
        EXPECT_TRUE(PumpUntil([&] { return sim_call_count("polling_and_get_card_information") > reads; }, 3000,
                              window_))
            << "key " << key;
        EXPECT_EQ(GetFocus(), form->BtnPoll) << "key " << key;
      }
    } else {
      EXPECT_EQ(GetFocus(), holder);
      EXPECT_EQ(GetActiveWindow(), other ? nullptr : window_);
      if (other) {
        EXPECT_EQ(GetForegroundWindow(), other->Window());
      }
    }

  }
}

namespace {

std::wstring ClipboardText() {
  std::wstring text = L"(nothing)";
  if (!OpenClipboard(nullptr)) return L"(clipboard busy)";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void SetClipboardText(const std::wstring& text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  std::memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(memory);
  SetClipboardData(CF_UNICODETEXT, memory);
  CloseClipboard();
}

void PressCtrlC() {
  INPUT inputs[4]{};
  const WORD keys[4] = {VK_CONTROL, 'C', 'C', VK_CONTROL};
  for (int i = 0; i < 4; ++i) {
    inputs[i].type = INPUT_KEYBOARD;
    inputs[i].ki.wVk = keys[i];
    inputs[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
  }
  SendInput(4, inputs, sizeof(INPUT));
}

// The program's own loop: the window's translation step, then dispatch.
void PumpAsTheProgram(HWND window, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (TranslateMainFormMessage(window, message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

} // namespace

// After 取得 the focus is on the button, where Ctrl+C copied nothing: now it copies the IDm from
// anywhere in the window, and a field with text selected still copies its selection.
TEST_F(MainFormTest, CtrlCCopiesTheShownIdmWhereverTheFocusIsUnlessTextIsSelected) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  struct Case {
    const char* name;
    HWND MainForm::*focus;
    int selectFrom, selectTo; // in the focused field; equal: nothing selected
    bool card;
    const wchar_t* copied;
  };
  const Case cases[] = {
      {"the read button, after a read", &MainForm::BtnPoll, 0, 0, true, L"0123456789ABCDEF"},
      {"the IDm field", &MainForm::TxtIDm, 0, 0, true, L"0123456789ABCDEF"},
      {"the status text", &MainForm::TxtMsg, 0, 0, true, L"0123456789ABCDEF"},
      {"a part of the IDm selected", &MainForm::TxtIDm, 2, 6, true, L"2345"},
      {"a part of the status text selected", &MainForm::TxtMsg, 0, 4, true, L"カードを"},
      {"no IDm shown", &MainForm::BtnPoll, 0, 0, false, L"before"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    if (test.card) {
      PlaceTestCard();
    } else {
      sim_remove_card();
    }
    Click(form->BtnPoll);
    ASSERT_EQ(Text(form->TxtIDm), test.card ? L"0123456789ABCDEF" : L"");
    ASSERT_TRUE(MakeForeground(window_, window_));
    HWND focus = form->*test.focus;
    SetFocus(focus);
    ASSERT_EQ(GetFocus(), focus);
    SendMessageW(focus, EM_SETSEL, test.selectFrom, test.selectTo);
    SetClipboardText(L"before");
    PressCtrlC();
    PumpAsTheProgram(window_, 300);
    EXPECT_EQ(ClipboardText(), test.copied);
  }
}

// A screen reader asks the field's accessible object for its name: the label's words, while the
// value stays the IDm shown.
TEST_F(MainFormTest, TheIdmFieldIsNamedByItsLabelForScreenReaders) {
  MainForm* form = Open();
  ASSERT_NE(form, nullptr);
  PlaceTestCard();
  Click(form->BtnPoll);
  IAccessible* object = nullptr;
  ASSERT_EQ(AccessibleObjectFromWindow(form->TxtIDm, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&object)),
            S_OK);
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr, value = nullptr;
  EXPECT_EQ(object->get_accName(self, &name), S_OK);
  EXPECT_EQ(std::wstring(name ? name : L"(none)"), L"IDm");
  EXPECT_EQ(object->get_accValue(self, &value), S_OK);
  EXPECT_EQ(std::wstring(value ? value : L"(none)"), L"0123456789ABCDEF");
  VARIANT role{};
  EXPECT_EQ(object->get_accRole(self, &role), S_OK);
  EXPECT_EQ(role.lVal, ROLE_SYSTEM_TEXT);
  SysFreeString(name);
  SysFreeString(value);
  object->Release();
  // Another control keeps its standard name.
  ASSERT_EQ(AccessibleObjectFromWindow(form->BtnPoll, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&object)),
            S_OK);
  name = nullptr;
  EXPECT_EQ(object->get_accName(self, &name), S_OK);
  EXPECT_EQ(std::wstring(name ? name : L"(none)"), L"取得");
  SysFreeString(name);
  object->Release();
}

namespace {

// The guide as the release ships it (UTF-8, LF in the sources).
std::wstring GuideText() { return Utf8FileText(GUIDE_PATH); }

std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find(L'\n', at);
    if (end == std::wstring::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

} // namespace

// The guide shows a dialog as the program shows it: its example is the box of a start without a
// reader, line for line, and each dialog it explains opens with the program's own first lines.
TEST_F(MainFormTest, TheGuideShowsEachDialogAsTheProgramDoes) {
  const std::vector<std::wstring> guide = Lines(GuideText());
  ASSERT_GT(guide.size(), 100u) << GUIDE_PATH;

  sim_attach_reader(0);
  window_ = CreateMainForm(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE, false);
  ASSERT_EQ(shownErrors.size(), 1u);
  const std::vector<std::wstring> shown = Lines(shownErrors[0] + L"\r\n");
  // The example: the indented block after the line that introduces it.
  auto at = std::find_if(guide.begin(), guide.end(), [](const std::wstring& line) {
    return line.find(L"例えば次のように表示されます") != std::wstring::npos;
  });
  ASSERT_NE(at, guide.end());
  ASSERT_GE(guide.end() - at, static_cast<ptrdiff_t>(shown.size() + 1));
  for (size_t i = 0; i < shown.size(); ++i) {
    std::wstring line = shown[i];
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    EXPECT_EQ(at[static_cast<ptrdiff_t>(i + 2)], line.empty() ? L"" : L"  " + line) << "line " << i;
  }

  // The headings of the dialogs in their section: 「...」 from a line's start, continued on the
  // next lines.
  std::vector<std::wstring> headings;
  auto section = std::find(guide.begin(), guide.end(), L"■ エラー メッセージと対処");
  ASSERT_NE(section, guide.end());
  for (auto line = section + 1; line != guide.end() && line->rfind(L"■", 0) != 0; ++line) {
    if (line->rfind(L"「", 0) != 0) continue;
    std::wstring heading = line->substr(1);
    while (heading.find(L"」") == std::wstring::npos && line + 1 != guide.end()) {
      std::wstring next = *++line;
      next.erase(0, next.find_first_not_of(L' '));
      heading += L"\r\n" + next;
    }
    headings.push_back(heading.substr(0, heading.find(L"」")));
  }
  const std::wstring Desc = L"D";
  std::vector<std::wstring> firstLines;
  for (int32_t number : {515, 513, 514, 53}) {
    const std::wstring text = ErrorMessageText({number, number == 53 ? L"" : L"FelicaAPI", Desc}, L"");
    firstLines.push_back(text.substr(0, text.find(L"\r\n\r\n")));
  }
  EXPECT_EQ(headings, firstLines);

  // Each error type it quotes, as the dialog's details name it or as varnelo-reader writes it.
  size_t quoted = 0;
  for (std::wstring line : guide) {
    line.erase(0, line.find_first_not_of(L' '));
    for (const std::wstring key : {L"FeliCaErrorCode [", L"RWErrorCode ", L"FeliCaErrorType=", L"RWErrorType="}) {
      if (line.rfind(key, 0) != 0) continue;
      const bool felica = key[0] == L'F';
      const int32_t code = std::stoi(line.substr(line.find_first_of(L"0123456789")));
      std::wstring expected;
      if (key.back() == L'=') {
        expected = key + std::to_wstring(code) + L" " + (felica ? FelicaAPI::FelicaErrorText(code) : FelicaAPI::RwErrorText(code));
      } else {
        expected = Lines(FelicaAPI::ComposeFelicaErrorDescription(L"F", code, code))[felica ? 2 : 3];
        if (!expected.empty() && expected.back() == L'\r') expected.pop_back();
      }
      EXPECT_EQ(line, expected);
      ++quoted;
    }
  }
  EXPECT_GE(quoted, 10u);
}
