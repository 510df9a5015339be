// The window side of continuous polling: the library sends two registered messages to a
// window we hand it; a subclassing window procedure turns them into the keys "F" and "L".
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace FelicaAPI {

// Platform id of the running Windows (2 = NT family, wide calls), asked once per process.
int32_t GetPlatformId();
// Test seam: sets the cached platform id (marks it known); a negative value forgets it.
void SetPlatformIdForTesting(int32_t platformId);

// Dispatchers that pick the ANSI or the wide call by platform id.
UINT RegisterWindowMessageAuto(const std::wstring& name);
LONG GetWindowLongAuto(HWND window, int index);
void SetWindowLongAuto(HWND window, int index, LONG value);
LRESULT CallWindowProcAuto(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Copy of a text in the ANSI code page, for the ANSI calls and the library's names.
std::string SingleByteText(const std::wstring& text);

struct CallbackMessages {
  std::wstring FindMessageName; // "FelicaAPI_callback_find"
  std::wstring LossMessageName; // "FelicaAPI_callback_loss"
  int32_t FindMessageId;
  int32_t LossMessageId;
};
CallbackMessages GetCallbackMessages();

inline constexpr int16_t KeyCardFound = 70; // "F"
inline constexpr int16_t KeyCardLost = 76;  // "L"

void SubclassWindow(HWND window);
void UnsubclassWindow(HWND window);
LRESULT CALLBACK CardEventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
void SendKeyStroke(HWND window, int16_t keyCode);

LONG GetWindowProcedure(HWND window);
LONG GetWindowUserData(HWND window);
void SetWindowProcedure(HWND window, LONG value);
void SetWindowUserData(HWND window, LONG value);
void SleepMilliseconds(int32_t milliseconds);

// Hand the library the window and the two message names; start its own polling.
void SetCallbackParameters(HWND window, int32_t parameter1, int32_t parameter2);
void StartPolling(uint8_t systemCode1, uint8_t systemCode2, uint8_t timeSlot);

} // namespace FelicaAPI
