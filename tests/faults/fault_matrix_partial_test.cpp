// The window over a reader library that lacks read_block_without_encryption and start_polling
// (tests-faults-partial/felica_for_vb.dll, fixture_older_library.c): what needs neither works,
// the FeliCa number is quietly empty, and starting continuous polling shows error 453.
#include "matrix.h"

using namespace matrix;

namespace {

enum class Flow { Load, OneShot, FelicaNumber, ContinuousStart, Unload };

struct Cell {
  const char* Name;
  Flow Path;
  std::vector<Dialog> Dialogs;
  View After;
};

const std::vector<Cell> Cells = {
    {"Load", Flow::Load, {}, Loaded},
    {"OneShot", Flow::OneShot, {}, ReadIdm},
    {"FelicaNumber_read_block_missing", Flow::FelicaNumber, {}, ReadIdmNoNumber},
    {"ContinuousStart_start_polling_missing", Flow::ContinuousStart, {{InternalHead(), InternalTail(453)}}, Stopped},
    {"Unload", Flow::Unload, {}, Gone},
};

// What the fixture library still holds: 1 initialised, 2 reader open.
int32_t Holds() {
  using HoldsFunction = int32_t(__stdcall*)();
  auto holds = reinterpret_cast<HoldsFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"felica_for_vb.dll"), "fixture_holds")));
  return holds ? holds() : -1;
}

void PrintTo(const Cell& cell, std::ostream* out) { *out << cell.Name; }

class MissingEntryPoint : public ::testing::TestWithParam<Cell> {};

TEST_P(MissingEntryPoint, Cell) {
  const Cell& cell = GetParam();
  ++tally.Cells;
  shownErrors.clear();
  SetErrorDialogForTesting(CaptureError);
  HWND window = CreateMainForm(GetModuleHandleW(nullptr), SW_HIDE, false);
  MainForm* form = MainFormOf(window);
  ASSERT_NE(form, nullptr);
  switch (cell.Path) {
  case Flow::Load:
    break;
  case Flow::OneShot:
    Click(form->BtnPoll);
    break;
  case Flow::FelicaNumber:
    SendMessageW(form->IdmOnly, BM_SETCHECK, BST_UNCHECKED, 0);
    Click(form->IdmOnly);
    Click(form->BtnPoll);
    break;
  case Flow::ContinuousStart:
    Click(form->BtnCmd);
    break;
  case Flow::Unload:
    SendMessageW(window, WM_CLOSE, 0, 0);
    break;
  }
  CheckDialogs(shownErrors, cell.Dialogs);
  if (cell.Path == Flow::ContinuousStart && shownErrors.size() == 1) {
    EXPECT_NE(shownErrors[0].find(L"start_polling"), std::wstring::npos);
  }
  CheckView(window, cell.After);
  const int32_t holds = Holds();
  if (holds != 0) ++tally.HeldConnections;
  EXPECT_EQ(holds, 0);

  if (IsWindow(window)) SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window));
  SetErrorDialogForTesting(nullptr);
}

INSTANTIATE_TEST_SUITE_P(OlderLibrary, MissingEntryPoint, ::testing::ValuesIn(Cells),
                         [](const ::testing::TestParamInfo<Cell>& info) { return std::string(info.param.Name); });

} // namespace

FAULT_MATRIX_MAIN("library without two entry points")
