#include <windows.h>
#include <gtest/gtest.h>

TEST(Smoke, EditControlKeepsItsText) {
  HWND edit = CreateWindowExW(0, L"EDIT", L"abc", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(edit, nullptr);
  wchar_t text[16]{};
  GetWindowTextW(edit, text, 16);
  EXPECT_STREQ(text, L"abc");
  DestroyWindow(edit);
}
