// ANSI or wide window calls, chosen by the platform id that Windows reports once per process.
#include "bridge/CardEventBridge.h"

#include <string>

#include "felica/FelicaError.h"

namespace FelicaAPI {
namespace {

// One version record for the whole process; only dwPlatformId is read back.
union VersionRecord {
  OSVERSIONINFOA Ansi;
  OSVERSIONINFOW Wide;
};
VersionRecord Version{};
bool PlatformIdKnown = false;

constexpr DWORD PlatformOlderFamily = VER_PLATFORM_WIN32_WINDOWS;

using GetVersionExAFunction = BOOL(WINAPI*)(OSVERSIONINFOA*);
using GetVersionExWFunction = BOOL(WINAPI*)(OSVERSIONINFOW*);

// Looked up by name, so a system without the call is told apart from a call that fails.
// As a plain function pointer, which casts to the entry's real type without a warning.
void (*Kernel32Entry(const char* name))() {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)) : nullptr;
}

bool WideCalls() { return GetPlatformId() == VER_PLATFORM_WIN32_NT; }

} // namespace

std::string SingleByteText(const std::wstring& text) {
  if (text.empty()) return {};
  int length = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), length, result.data(), size, nullptr, nullptr);
  return result;
}

int32_t GetPlatformId() {
  if (PlatformIdKnown) return static_cast<int32_t>(Version.Ansi.dwPlatformId);

  if (auto ansiQuery = reinterpret_cast<GetVersionExAFunction>(Kernel32Entry("GetVersionExA"))) {
    Version.Ansi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!ansiQuery(&Version.Ansi)) Version.Ansi.dwPlatformId = PlatformOlderFamily;
  } else {
    auto wideQuery = reinterpret_cast<GetVersionExWFunction>(Kernel32Entry("GetVersionExW"));
    if (!wideQuery)
      RaiseRuntimeError(ErrEntryPointNotFound, L"kernel32.dll にエントリ ポイント GetVersionExW が見つかりません。");
    Version.Wide.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (!wideQuery(&Version.Wide)) Version.Wide.dwPlatformId = PlatformOlderFamily;
  }
  PlatformIdKnown = true;
  return static_cast<int32_t>(Version.Ansi.dwPlatformId);
}

void SetPlatformIdForTesting(int32_t platformId) {
  PlatformIdKnown = platformId >= 0;
  Version.Ansi.dwPlatformId = PlatformIdKnown ? static_cast<DWORD>(platformId) : 0;
}

UINT RegisterWindowMessageAuto(const std::wstring& name) {
  if (WideCalls()) return RegisterWindowMessageW(name.c_str());
  return RegisterWindowMessageA(SingleByteText(name).c_str());
}

LONG GetWindowLongAuto(HWND window, int index) {
  if (WideCalls()) return GetWindowLongW(window, index);
  return GetWindowLongA(window, index);
}

void SetWindowLongAuto(HWND window, int index, LONG value) {
  if (WideCalls())
    SetWindowLongW(window, index, value);
  else
    SetWindowLongA(window, index, value);
}

LRESULT CallWindowProcAuto(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (WideCalls()) return CallWindowProcW(previous, window, message, wParam, lParam);
  return CallWindowProcA(previous, window, message, wParam, lParam);
}

} // namespace FelicaAPI
