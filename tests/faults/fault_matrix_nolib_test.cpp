// The window where no reader library can be found: the load probe shows the internal error
// with number 53 once, and the program ends. A second start tries the library again.
#include "matrix.h"

using namespace matrix;

namespace {

class MissingLibrary : public ::testing::TestWithParam<int> {};

TEST_P(MissingLibrary, LoadShowsErrorFiftyThreeOnceAndEnds) {
  ++tally.Cells;
  shownErrors.clear();
  SetErrorDialogForTesting(CaptureError);
  HWND window = CreateMainForm(GetModuleHandleW(nullptr), SW_HIDE, false);
  SetErrorDialogForTesting(nullptr);

  CheckDialogs(shownErrors, {{InternalHead(), InternalTail(53)}});
  ASSERT_EQ(shownErrors.size(), 1u);
  EXPECT_NE(shownErrors[0].find(L"felica_for_vb.dll"), std::wstring::npos);
  CheckView(window, Gone);
  EXPECT_EQ(GetModuleHandleW(L"felica_for_vb.dll"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(NoLibrary, MissingLibrary, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return "start_" + std::to_string(info.param); });

} // namespace

FAULT_MATRIX_MAIN("no library")
