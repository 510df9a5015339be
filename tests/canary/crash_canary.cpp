// Cases that die on purpose, each in its own way, so the suite proves that a crash fails a test
// whatever status Wine reports for it. Every case here must fail; CMakeLists.txt says why each does.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

// Volatile, so the compiler can neither drop the write nor turn the recursion into a loop.
int* volatile nowhere = nullptr;

// It never ends, on purpose: the compiler need not say so.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return Recurse(depth + 1) + frame[0];
}
#pragma GCC diagnostic pop

// A subclass that finds itself as its own predecessor: every message goes round until the stack
// is gone, as it would in a bridge that saved its own procedure as the one to call on.
LRESULT CALLBACK OwnPredecessor(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return CallWindowProcW(previous, window, message, wParam, lParam);
}

void OverflowInsideWindowProcedure() {
  HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(edit, nullptr);
  SetWindowLongPtrW(edit, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(OwnPredecessor));
  SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OwnPredecessor));
  SendMessageW(edit, WM_APP, 0, 0);
}

TEST(Canary, NullWrite) { *nowhere = 1; }

TEST(Canary, StackOverflow) { EXPECT_NE(Recurse(0), 0); }

TEST(Canary, OverflowInsideWindowProcedure) { OverflowInsideWindowProcedure(); }

// Nothing after the failed expectation gets printed: no "[  FAILED  ]", no summary.
TEST(Canary, FailureThenCrash) {
  EXPECT_EQ(1, 2) << "a failed expectation just before the crash";
  OverflowInsideWindowProcedure();
}

// Ends the process with status 0 and no crash: only the failure line can tell. The pause first:
// under load Wine 8 now and then faults (or dies of SIGSEGV itself) when a process ends itself
// this early, which would show here as a crash that the case did not make (5 in 450 runs without
// it, none in 200 with it).
TEST(Canary, FailureThenQuietExit) {
  EXPECT_EQ(1, 2) << "a failed expectation just before a quiet exit";
  std::fflush(stdout);
  Sleep(200);
  ExitProcess(0);
}

} // namespace
