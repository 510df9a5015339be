// The platform id query and the ANSI/wide dispatchers, observed on a real window.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>

#include "RecordingWindow.h"
#include "bridge/CardEventBridge.h"

using namespace FelicaAPI;

namespace {

// Stands in for kernel32's GetVersionExA while alive: its first bytes jump here, so the test
// sees every query the code makes and can make the query fail.
struct VersionQueryFake {
  static inline int Calls = 0;
  static inline BOOL Result = TRUE;
  static inline DWORD PlatformId = VER_PLATFORM_WIN32_NT;

  static BOOL WINAPI Fake(OSVERSIONINFOA* info) {
    ++Calls;
    if (!Result) return FALSE;
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return FALSE;
    info->dwPlatformId = PlatformId;
    return TRUE;
  }

  VersionQueryFake(BOOL result, DWORD platformId) {
    Calls = 0;
    Result = result;
    PlatformId = platformId;
    target = reinterpret_cast<unsigned char*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetVersionExA"));
    if (!target || !VirtualProtect(target, sizeof saved, PAGE_EXECUTE_READWRITE, &protection)) {
      target = nullptr;
      return;
    }
    std::memcpy(saved, target, sizeof saved);
    unsigned char jump[5] = {0xE9};
    const auto distance =
        static_cast<int32_t>(reinterpret_cast<intptr_t>(&Fake) - reinterpret_cast<intptr_t>(target + sizeof jump));
    std::memcpy(jump + 1, &distance, sizeof distance);
    std::memcpy(target, jump, sizeof jump);
    FlushInstructionCache(GetCurrentProcess(), target, sizeof saved);
  }
  ~VersionQueryFake() {
    if (!target) return;
    std::memcpy(target, saved, sizeof saved);
    DWORD ignored;
    VirtualProtect(target, sizeof saved, protection, &ignored);
    FlushInstructionCache(GetCurrentProcess(), target, sizeof saved);
  }
  bool Installed() const { return target != nullptr; }

  unsigned char* target = nullptr;
  unsigned char saved[5]{};
  DWORD protection = 0;
};

class PlatformIdTest : public ::testing::Test {
protected:
  void SetUp() override { SetPlatformIdForTesting(-1); }
  void TearDown() override { SetPlatformIdForTesting(-1); }
};

TEST_F(PlatformIdTest, WineReportsTheNtFamily) { EXPECT_EQ(GetPlatformId(), 2); }

TEST_F(PlatformIdTest, IsQueriedOnceAndThenKept) {
  HWND edit = CreateRecordingEdit();
  ASSERT_NE(edit, nullptr);
  {
    VersionQueryFake fake(TRUE, VER_PLATFORM_WIN32_NT);
    ASSERT_TRUE(fake.Installed());
    EXPECT_EQ(GetPlatformId(), 2);
    EXPECT_EQ(GetPlatformId(), 2);
    RegisterWindowMessageAuto(L"FelicaAPI_callback_find");
    GetWindowLongAuto(edit, GWL_WNDPROC);
    SubclassWindow(edit);
    UnsubclassWindow(edit);
    EXPECT_EQ(VersionQueryFake::Calls, 1);
  }
  DestroyWindow(edit);
}

TEST_F(PlatformIdTest, TheOlderFamilyAndAFailedQueryBothGiveOne) {
  {
    VersionQueryFake fake(TRUE, VER_PLATFORM_WIN32_WINDOWS);
    ASSERT_TRUE(fake.Installed());
    EXPECT_EQ(GetPlatformId(), 1);
  }
  SetPlatformIdForTesting(-1);
  HWND edit = CreateRecordingEdit();
  ASSERT_NE(edit, nullptr);
  {
    VersionQueryFake fake(FALSE, VER_PLATFORM_WIN32_NT);
    ASSERT_TRUE(fake.Installed());
    EXPECT_EQ(GetPlatformId(), 1);
    // ...and the dispatchers then take the ANSI calls: the wide procedure is seen through a handle.
    EXPECT_EQ(GetWindowLongAuto(edit, GWL_WNDPROC), GetWindowLongA(edit, GWL_WNDPROC));
    EXPECT_NE(GetWindowLongAuto(edit, GWL_WNDPROC), ProcedureValue(RecordingProc));
    EXPECT_EQ(VersionQueryFake::Calls, 1);
  }
  DestroyWindow(edit);
}

// Each platform id against the variant it must choose.
class DispatcherTest : public ::testing::TestWithParam<int32_t> {
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
  bool Wide() const { return GetParam() == 2; }
  HWND edit = nullptr;
};

TEST_P(DispatcherTest, GetAndSetWindowLongUseTheChosenVariant) {
  // A wide procedure read through the ANSI call comes back as a handle, not as itself.
  const LONG procedure = GetWindowLongAuto(edit, GWL_WNDPROC);
  EXPECT_EQ(procedure == ProcedureValue(RecordingProc), Wide());
  EXPECT_EQ(procedure, Wide() ? GetWindowLongW(edit, GWL_WNDPROC) : GetWindowLongA(edit, GWL_WNDPROC));

  SetWindowLongAuto(edit, GWL_USERDATA, 0x1234567);
  EXPECT_EQ(GetWindowLongAuto(edit, GWL_USERDATA), 0x1234567);
  EXPECT_EQ(GetWindowLongW(edit, GWL_USERDATA), 0x1234567);

  // Installing a procedure through the ANSI call makes the window an ANSI window.
  SetWindowLongAuto(edit, GWL_WNDPROC, ProcedureValue(RecordingProc));
  EXPECT_EQ(IsWindowUnicode(edit) != FALSE, Wide());
}

TEST_P(DispatcherTest, CallWindowProcHandsTextInTheChosenCharacterSet) {
  const char ansiText[] = "Card";
  const wchar_t wideText[] = L"Card";
  const LPARAM text = Wide() ? reinterpret_cast<LPARAM>(wideText) : reinterpret_cast<LPARAM>(ansiText);
  // The previous procedure as the bridge keeps it: read with the same variant (a handle for ANSI).
  const LONG slot = Wide() ? GetWindowLongW(edit, GWL_WNDPROC) : GetWindowLongA(edit, GWL_WNDPROC);
  const auto previous = reinterpret_cast<WNDPROC>(static_cast<LONG_PTR>(slot));
  EXPECT_TRUE(CallWindowProcAuto(previous, edit, WM_SETTEXT, 0, text));
  EXPECT_EQ(TheRecorder.LastSetText, L"Card");
  EXPECT_EQ(WindowText(edit), L"Card");
  EXPECT_EQ(CallWindowProcAuto(previous, edit, ProbeMessage, 9, 0), ProbeResult + 9);
}

TEST_P(DispatcherTest, BothVariantsRegisterTheSameCardMessages) {
  const UINT find = RegisterWindowMessageW(L"FelicaAPI_callback_find");
  const UINT loss = RegisterWindowMessageW(L"FelicaAPI_callback_loss");
  ASSERT_GE(find, 0xC000u);
  ASSERT_GE(loss, 0xC000u);
  ASSERT_NE(find, loss);
  EXPECT_EQ(RegisterWindowMessageAuto(L"FelicaAPI_callback_find"), find);

  const CallbackMessages messages = GetCallbackMessages();
  EXPECT_EQ(messages.FindMessageName, L"FelicaAPI_callback_find");
  EXPECT_EQ(messages.LossMessageName, L"FelicaAPI_callback_loss");
  EXPECT_EQ(messages.FindMessageId, static_cast<int32_t>(find));
  EXPECT_EQ(messages.LossMessageId, static_cast<int32_t>(loss));
}

INSTANTIATE_TEST_SUITE_P(Platforms, DispatcherTest, ::testing::Values(2, 1, 0),
                         [](const auto& info) { return "PlatformId" + std::to_string(info.param); });

} // namespace
