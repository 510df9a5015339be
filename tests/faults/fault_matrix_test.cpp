// Every flow of the window that calls the reader library, with each of its calls made to fail
// in each way that matters, over the simulated library: the dialogs shown, the window after
// the flow, and what the library still holds.
#include "matrix.h"

#include <commctrl.h>

#include <map>

#include "sim_control.h"

using namespace matrix;

namespace {

enum class Flow { Load, OneShot, FelicaNumber, ContinuousStart, ContinuousStop, CardFound, Unload };

const char* FlowName(Flow flow) {
  switch (flow) {
  case Flow::Load: return "Load";
  case Flow::OneShot: return "OneShot";
  case Flow::FelicaNumber: return "FelicaNumber";
  case Flow::ContinuousStart: return "ContinuousStart";
  case Flow::ContinuousStop: return "ContinuousStop";
  case Flow::CardFound: return "CardFound";
  case Flow::Unload: return "Unload";
  }
  return "?";
}

// State another program left the library in before the flow.
enum class Before { Clean, Initialised, ReaderOpen };
// When the failure is armed: before the flow, or once the IDm is on screen, so that the
// FeliCa number's own polling (system FE00) is the call that fails.
enum class When { Start, AfterIdm };

// What the simulated library holds afterwards.
enum class Held {
  Nothing,
  Polling,     // continuous polling legitimately runs: initialised, open, polling
  Initialised, // dispose_library itself failed, so the library can't be let go
};

struct Cell {
  Flow Path;
  const char* Entry; // nullptr: no call fails
  int32_t FelicaType;
  int32_t RwType;
  bool QueryFails;
  When Timing;
  int32_t Misbehaviour;
  Before Prior;
  std::vector<Dialog> Dialogs;
  View After;
  Held Holds;
};

// --- Expected texts, fixed from the error tables ---------------------------------------------

std::wstring TypeText(int32_t type) {
  static const std::map<int32_t, std::wstring> texts{
      {0, L"未定義"},
      {1001, L"未定義のエラーです"},
      {101, L"未定義のエラーです"},
      {1003, L"メモリの確保が出来ません"},
      {103, L"メモリの確保が出来ません"},
      {1028, L"リーダ・ライタを自動認識できません"},
      {1029, L"リーダ・ライタがオープンされていません"},
      {120, L"ポートがオープンされていません"},
      {1032, L"カードがかざされたときに送信するメッセージの登録に失敗しました"},
      {1035, L"コールバックを行うための連続ポーリングが開始されていません"},
      {1040, L"カードからのデータの読み込みに失敗しました"},
      {155, L"リーダ・ライタからのデータの受信に失敗しました"},
      {1055, L"連続ポーリングはすでに起動しています"},
      {100, L"エラーは発生していません"},
  };
  return texts.at(type);
}

std::wstring Describe(const wchar_t* name, int32_t felicaType, int32_t rwType) {
  return L"FelicaAPIでエラーが発生しました。\r\n"
         L"funcName         [" + std::wstring(name) + L"]\r\n"
         L"FeliCaErrorCode [" + std::to_wstring(felicaType) + L"] (" + TypeText(felicaType) + L")\r\n"
         L"RWErrorCode     [" + std::to_wstring(rwType) + L"] (" + TypeText(rwType) + L")";
}

const std::wstring QueryFailed = L"GetLastErrorTypesが失敗したためエラー情報が取得出来ません。\r\n"
                                 L"FeliCaライブラリが初期化されていない可能性があります。";

Dialog Box(int number, const std::wstring& description) {
  std::wstring head;
  switch (number) {
  case 513: head = L"FeliCaカードリーダーの操作でエラーが発生しました。\r\n"; break;
  case 514: head = L"FeliCaリーダー／ライターソフトウェアがインストールされていない可能性があります。\r\n"; break;
  case 515: head = L"FeliCaカードリーダが接続されていないか、\r\nカードリーダーにアクセスしているアプリケーションが存在します。\r\n"; break;
  }
  return {head + L"\r\n" + Sep + L"\r\n" + description, L""};
}

Dialog Box(int number, const wchar_t* name, int32_t felicaType, int32_t rwType) {
  return Box(number, Describe(name, felicaType, rwType));
}

// --- The table -----------------------------------------------------------------------------

constexpr bool Q = true;          // the error query fails too
constexpr int32_t AnyF = 1001;    // types of a failure whose error query fails: never seen
constexpr int32_t AnyRw = 101;

Cell Fail(Flow flow, const char* entry, int32_t felicaType, int32_t rwType, std::vector<Dialog> dialogs, View after,
          Held held = Held::Nothing, When when = When::Start) {
  return {flow, entry, felicaType, rwType, false, when, SIM_BEHAVE_NORMALLY, Before::Clean, std::move(dialogs), after,
          held};
}
Cell FailQ(Flow flow, const char* entry, std::vector<Dialog> dialogs, View after, Held held = Held::Nothing,
           When when = When::Start) {
  return {flow, entry, AnyF, AnyRw, Q, when, SIM_BEHAVE_NORMALLY, Before::Clean, std::move(dialogs), after, held};
}
Cell Left(Flow flow, Before before, View after, Held held = Held::Nothing) {
  return {flow, nullptr, 0, 0, false, When::Start, SIM_BEHAVE_NORMALLY, before, {}, after, held};
}
Cell Misbehave(Flow flow, int32_t mode, View after, Held held = Held::Nothing) {
  return {flow, nullptr, 0, 0, false, When::Start, mode, Before::Clean, {}, after, held};
}

const char Init[] = "initialize_library";
const char Dispose[] = "dispose_library";
const char Open[] = "open_reader_writer_auto";
const char Close[] = "close_reader_writer";
const char Poll[] = "polling_and_get_card_information";
const char Read[] = "read_block_without_encryption";
const char SetCb[] = "set_call_back_parameters";
const char StartP[] = "start_polling";
const char StopP[] = "stop_polling";

// Notes on outcomes that follow from the simulated library rather than from the failed call:
// - A failed initialize_library leaves the library uninitialised, and an uninitialised library
//   can't answer the error query; so 1006 is not recognised then and 514 carries the two-line
//   description. 1006 as it happens for real (initialised before) is the Before::Initialised row.
// - A failed open_reader_writer_auto leaves the reader closed: the close that follows fails with
//   1029, which is tolerated; a later polling or start_polling fails with 1029.
// - A failed dispose_library leaves the library initialised: nothing may retry it.
const std::vector<Cell> Cells = {
    // Load probe: initialize, open, close, dispose; any error ends the program.
    Fail(Flow::Load, Init, 1006, 106, {Box(514, QueryFailed)}, Gone),
    Fail(Flow::Load, Init, 1003, 103, {Box(514, QueryFailed)}, Gone),
    FailQ(Flow::Load, Init, {Box(514, QueryFailed)}, Gone),
    Left(Flow::Load, Before::Initialised, Loaded),
    Fail(Flow::Load, Open, 1030, 121, {}, Loaded),
    Fail(Flow::Load, Open, 1028, 0, {Box(515, L"OpenReaderWriterAuto", 1028, 0)}, Gone),
    FailQ(Flow::Load, Open, {Box(515, QueryFailed)}, Gone),
    Left(Flow::Load, Before::ReaderOpen, Loaded),
    Fail(Flow::Load, Close, 1029, 120, {}, Loaded),
    Fail(Flow::Load, Close, 1001, 101, {Box(513, L"CloseReaderWriter", 1001, 101)}, Gone),
    FailQ(Flow::Load, Close, {}, Loaded),
    Fail(Flow::Load, Dispose, 1001, 101, {Box(513, L"DisposeLibrary", 1001, 101)}, Gone, Held::Initialised),
    FailQ(Flow::Load, Dispose, {}, Loaded, Held::Initialised),

    // One-shot read in IDm-only mode, a card on the reader: initialize, open, poll, close, dispose.
    Fail(Flow::OneShot, Init, 1006, 106, {Box(514, QueryFailed)}, ReadFailed),
    Fail(Flow::OneShot, Init, 1003, 103, {Box(514, QueryFailed)}, ReadFailed),
    FailQ(Flow::OneShot, Init, {Box(514, QueryFailed)}, ReadFailed),
    Left(Flow::OneShot, Before::Initialised, ReadIdm),
    Fail(Flow::OneShot, Open, 1030, 121, {Box(513, L"PollingAndGetCardInformation", 1029, 120)}, ReadFailed),
    Fail(Flow::OneShot, Open, 1028, 0, {Box(515, L"OpenReaderWriterAuto", 1028, 0)}, ReadFailed),
    FailQ(Flow::OneShot, Open, {Box(515, QueryFailed)}, ReadFailed),
    Left(Flow::OneShot, Before::ReaderOpen, ReadIdm),
    Fail(Flow::OneShot, Poll, 1036, 157, {}, ReadNoCard),
    Fail(Flow::OneShot, Poll, 1040, 155, {Box(513, L"PollingAndGetCardInformation", 1040, 155)}, ReadFailed),
    FailQ(Flow::OneShot, Poll, {Box(513, QueryFailed)}, ReadFailed),
    Fail(Flow::OneShot, Close, 1029, 120, {}, ReadIdm),
    // A close that fails goes the read error path, which clears what was read.
    Fail(Flow::OneShot, Close, 1001, 101, {Box(513, L"CloseReaderWriter", 1001, 101)}, ReadFailed),
    FailQ(Flow::OneShot, Close, {}, ReadIdm),
    Fail(Flow::OneShot, Dispose, 1001, 101, {Box(513, L"DisposeLibrary", 1001, 101)}, ReadFailed, Held::Initialised),
    FailQ(Flow::OneShot, Dispose, {}, ReadIdm, Held::Initialised),

    // FeliCa number read (box cleared): its polling of FE00 and its block read never show an error.
    Fail(Flow::FelicaNumber, Poll, 1036, 157, {}, ReadIdmNoNumber, Held::Nothing, When::AfterIdm),
    Fail(Flow::FelicaNumber, Poll, 1040, 155, {}, ReadIdmNoNumber, Held::Nothing, When::AfterIdm),
    FailQ(Flow::FelicaNumber, Poll, {}, ReadIdmNoNumber, Held::Nothing, When::AfterIdm),
    Fail(Flow::FelicaNumber, Read, 1042, 159, {}, ReadIdmNoNumber),
    FailQ(Flow::FelicaNumber, Read, {}, ReadIdmNoNumber),
    Left(Flow::FelicaNumber, Before::Clean, ReadNumber),

    // Continuous start: initialize, open, set_call_back_parameters, start_polling. A failed start
    // holds nothing.
    Fail(Flow::ContinuousStart, Init, 1006, 106, {Box(514, QueryFailed)}, Stopped),
    Fail(Flow::ContinuousStart, Init, 1003, 103, {Box(514, QueryFailed)}, Stopped),
    FailQ(Flow::ContinuousStart, Init, {Box(514, QueryFailed)}, Stopped),
    Left(Flow::ContinuousStart, Before::Initialised, Running, Held::Polling),
    Fail(Flow::ContinuousStart, Open, 1030, 121, {Box(513, L"StartPolling", 1029, 120)}, Stopped),
    Fail(Flow::ContinuousStart, Open, 1028, 0, {Box(515, L"OpenReaderWriterAuto", 1028, 0)}, Stopped),
    FailQ(Flow::ContinuousStart, Open, {Box(515, QueryFailed)}, Stopped),
    Left(Flow::ContinuousStart, Before::ReaderOpen, Running, Held::Polling),
    Fail(Flow::ContinuousStart, SetCb, 1032, 100, {Box(513, L"SetCallbackParameters", 1032, 100)}, Stopped),
    FailQ(Flow::ContinuousStart, SetCb, {Box(513, QueryFailed)}, Stopped),
    Fail(Flow::ContinuousStart, StartP, 1055, 100, {Box(513, L"StartPolling", 1055, 100)}, Stopped),
    FailQ(Flow::ContinuousStart, StartP, {Box(513, QueryFailed)}, Stopped),

    // Continuous stop: stop_polling, close, dispose. A failed stop keeps the mode running; once the
    // library's polling has stopped, a failed close leaves the mode stopped.
    Fail(Flow::ContinuousStop, StopP, 1035, 100, {Box(513, L"StopPolling", 1035, 100)}, Running, Held::Polling),
    FailQ(Flow::ContinuousStop, StopP, {Box(513, QueryFailed)}, Running, Held::Polling),
    Fail(Flow::ContinuousStop, Close, 1029, 120, {}, Stopped),
    Fail(Flow::ContinuousStop, Close, 1001, 101, {Box(513, L"CloseReaderWriter", 1001, 101)}, Stopped),
    FailQ(Flow::ContinuousStop, Close, {}, Stopped),
    Fail(Flow::ContinuousStop, Dispose, 1001, 101, {Box(513, L"DisposeLibrary", 1001, 101)}, Stopped,
         Held::Initialised),
    FailQ(Flow::ContinuousStop, Dispose, {}, Stopped, Held::Initialised),

    // Card found while polling runs (box cleared): poll FFFF, poll FE00, block read; all swallowed.
    Fail(Flow::CardFound, Poll, 1036, 157, {}, FoundNumber, Held::Polling),
    Fail(Flow::CardFound, Poll, 1040, 155, {}, FoundNumber, Held::Polling),
    FailQ(Flow::CardFound, Poll, {}, FoundNumber, Held::Polling),
    Fail(Flow::CardFound, Poll, 1036, 157, {}, FoundIdm, Held::Polling, When::AfterIdm),
    Fail(Flow::CardFound, Poll, 1040, 155, {}, FoundIdm, Held::Polling, When::AfterIdm),
    FailQ(Flow::CardFound, Poll, {}, FoundIdm, Held::Polling, When::AfterIdm),
    Fail(Flow::CardFound, Read, 1042, 159, {}, FoundIdm, Held::Polling),
    FailQ(Flow::CardFound, Read, {}, FoundIdm, Held::Polling),
    Left(Flow::CardFound, Before::Clean, FoundBoth, Held::Polling),

    // Unload while polling runs: stop_polling, close, dispose; every step runs.
    Fail(Flow::Unload, StopP, 1035, 100, {Box(513, L"StopPolling", 1035, 100)}, Gone),
    FailQ(Flow::Unload, StopP, {Box(513, QueryFailed)}, Gone),
    Fail(Flow::Unload, Close, 1029, 120, {}, Gone),
    Fail(Flow::Unload, Close, 1001, 101, {Box(513, L"CloseReaderWriter", 1001, 101)}, Gone),
    FailQ(Flow::Unload, Close, {}, Gone),
    Fail(Flow::Unload, Dispose, 1001, 101, {Box(513, L"DisposeLibrary", 1001, 101)}, Gone, Held::Initialised),
    FailQ(Flow::Unload, Dispose, {}, Gone, Held::Initialised),

    // A library that reports success and writes nothing: the count stays 0, the buffers zero.
    Misbehave(Flow::OneShot, SIM_SUCCEED_WITHOUT_OUTPUT, ReadNoCard),
    Misbehave(Flow::FelicaNumber, SIM_SUCCEED_WITHOUT_OUTPUT, ReadNoCard),
    Misbehave(Flow::CardFound, SIM_SUCCEED_WITHOUT_OUTPUT, FoundNothing, Held::Polling),
    // A block count beyond the buffer's room: the number is still the first 8 bytes read.
    Misbehave(Flow::FelicaNumber, SIM_OVERSTATE_BLOCK_COUNT, ReadNumber),
    Misbehave(Flow::CardFound, SIM_OVERSTATE_BLOCK_COUNT, FoundBoth, Held::Polling),
};

// --- Driving a flow ------------------------------------------------------------------------

const uint8_t TestIdm[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const uint8_t TestPmm[8] = {0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF};
const uint8_t TestBlock0[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x0F};

void PlaceTestCard() { sim_place_custom_card(TestIdm, TestPmm, 1, TestBlock0); }

// The simulated library's own entry point, called through its real ABI as another program would.
bool CallEntry(const char* name) {
  using Entry = unsigned char(__stdcall*)();
  auto entry = reinterpret_cast<Entry>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"felica_for_vb.dll"), name)));
  return entry && entry() != 0;
}

const Cell* armedAfterIdm = nullptr;

void Arm(const Cell& cell) {
  if (cell.Entry) sim_fail(cell.Entry, cell.FelicaType, cell.RwType, 1);
  if (cell.QueryFails) sim_fail_error_query(1);
}

// Arms the failure when the IDm reaches its field, before the FeliCa number is read.
LRESULT CALLBACK ArmOnIdm(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (message == WM_SETTEXT && armedAfterIdm && lParam && *reinterpret_cast<const wchar_t*>(lParam) != L'\0') {
    Arm(*armedAfterIdm);
    armedAfterIdm = nullptr;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {
protected:
  void SetUp() override {
    sim_reset();
    shownErrors.clear();
    armedAfterIdm = nullptr;
    SetErrorDialogForTesting(CaptureError);
  }

  void TearDown() override {
    // The cell is checked; what is left is cleaned up without faults.
    sim_clear_failures();
    sim_fail_error_query(0);
    sim_misbehave(SIM_BEHAVE_NORMALLY);
    if (window_ && IsWindow(window_)) SendMessageW(window_, WM_CLOSE, 0, 0);
    SetErrorDialogForTesting(nullptr);
    sim_reset();
    PumpUntil([] { return false; }, 20);
  }

  MainForm* OpenWindow() {
    // Hidden: without a window manager Wine waits up to 2 s for every shown window to be
    // withdrawn when it is destroyed. Clicks and texts go through messages all the same.
    window_ = CreateMainForm(GetModuleHandleW(nullptr), SW_HIDE, false);
    return MainFormOf(window_);
  }

  void Prepare(const Cell& cell) {
    if (cell.Prior != Before::Clean) CallEntry("initialize_library");
    if (cell.Prior == Before::ReaderOpen) CallEntry("open_reader_writer_auto");
    sim_misbehave(cell.Misbehaviour);
    if (cell.Timing == When::AfterIdm) {
      armedAfterIdm = &cell;
    } else {
      Arm(cell);
    }
  }

  HWND window_ = nullptr;
};

TEST_P(FaultMatrix, Cell) {
  const Cell& cell = GetParam();
  ++tally.Cells;

  if (cell.Path == Flow::Load) {
    Prepare(cell);
    OpenWindow();
  } else {
    MainForm* form = OpenWindow();
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(shownErrors.empty());
    SetWindowSubclass(form->TxtIDm, ArmOnIdm, 1, 0);
    const bool withNumber = cell.Path == Flow::FelicaNumber || cell.Path == Flow::CardFound;
    if (withNumber) {
      SendMessageW(form->IdmOnly, BM_SETCHECK, BST_UNCHECKED, 0);
      Click(form->IdmOnly);
      ASSERT_EQ(form->IdmOnlyMode, 0);
    }
    switch (cell.Path) {
    case Flow::OneShot:
    case Flow::FelicaNumber:
      PlaceTestCard();
      Prepare(cell);
      Click(form->BtnPoll);
      break;
    case Flow::ContinuousStart:
      Prepare(cell);
      Click(form->BtnCmd);
      break;
    case Flow::ContinuousStop:
    case Flow::Unload:
      Click(form->BtnCmd);
      ASSERT_EQ(sim_is_polling(), 1);
      Prepare(cell);
      if (cell.Path == Flow::Unload) {
        SendMessageW(window_, WM_CLOSE, 0, 0);
      } else {
        Click(form->BtnCmd);
      }
      break;
    case Flow::CardFound: {
      Click(form->BtnCmd);
      ASSERT_EQ(sim_is_polling(), 1);
      Prepare(cell);
      const int32_t delivered = sim_events_delivered();
      PlaceTestCard();
      EXPECT_TRUE(PumpUntil([&] { return sim_events_delivered() > delivered; }, 5000)) << "no card event";
      PumpUntil([] { return false; }, 20);
      break;
    }
    case Flow::Load:
      break;
    }
    // Still armed means the flow never showed the IDm: the cell tested nothing.
    EXPECT_EQ(armedAfterIdm, nullptr);
  }

  CheckDialogs(shownErrors, cell.Dialogs);
  CheckView(window_, cell.After);

  const int32_t initialised = sim_is_initialized(), open = sim_is_reader_open(), polling = sim_is_polling();
  switch (cell.Holds) {
  case Held::Nothing:
    if (initialised || open || polling) ++tally.HeldConnections;
    EXPECT_EQ(initialised, 0);
    EXPECT_EQ(open, 0);
    EXPECT_EQ(polling, 0);
    break;
  case Held::Polling:
    EXPECT_EQ(initialised, 1);
    EXPECT_EQ(open, 1);
    EXPECT_EQ(polling, 1);
    break;
  case Held::Initialised:
    EXPECT_EQ(initialised, 1);
    EXPECT_EQ(open, 0);
    EXPECT_EQ(polling, 0);
    break;
  }
}

void PrintTo(const Cell& cell, std::ostream* out) {
  *out << FlowName(cell.Path) << " " << (cell.Entry ? cell.Entry : "-") << " " << cell.FelicaType
       << (cell.QueryFails ? " query fails" : "");
}

std::string CellName(const ::testing::TestParamInfo<Cell>& info) {
  const Cell& cell = info.param;
  std::string name = std::to_string(info.index) + "_" + FlowName(cell.Path) + "_";
  if (cell.Entry) {
    name += cell.Entry;
    name += cell.QueryFails ? std::string("_query_fails") : std::string("_").append(std::to_string(cell.FelicaType));
    if (cell.Timing == When::AfterIdm) name += "_after_idm";
  } else if (cell.Misbehaviour == SIM_SUCCEED_WITHOUT_OUTPUT) {
    name += "succeeds_without_output";
  } else if (cell.Misbehaviour == SIM_OVERSTATE_BLOCK_COUNT) {
    name += "overstates_block_count";
  } else {
    name += cell.Prior == Before::Initialised ? "already_initialised"
            : cell.Prior == Before::ReaderOpen ? "reader_already_open"
                                                 : "no_fault";
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Simulated, FaultMatrix, ::testing::ValuesIn(Cells), CellName);

} // namespace

FAULT_MATRIX_MAIN("simulated library")
