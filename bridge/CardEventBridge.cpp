// The window side of card events: a subclassing procedure that turns the library's two
// registered messages into key strokes on the same window.
#include "bridge/CardEventBridge.h"

#include "felica/LibraryRecords.h"

namespace FelicaAPI {
namespace {

constexpr int SlotProcedure = GWL_WNDPROC;
constexpr int SlotUserData = GWL_USERDATA;
constexpr UINT FirstRegisteredMessage = 0xC000;
constexpr UINT LastRegisteredMessage = 0xFFFF;

// Windows keeps the slots as LONG; this is a 32-bit program, so a procedure fits.
// The message names are plain ASCII.
template <size_t N> std::wstring Widened(const char (&ascii)[N]) { return std::wstring(ascii, ascii + N - 1); }

LONG ProcedureValue(WNDPROC procedure) { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(procedure)); }
WNDPROC ProcedureFromValue(LONG value) { return reinterpret_cast<WNDPROC>(static_cast<LONG_PTR>(value)); }

} // namespace

CallbackMessages GetCallbackMessages() {
  CallbackMessages messages{Widened(Library::kFindMessageName), Widened(Library::kLossMessageName), 0, 0};
  messages.FindMessageId = static_cast<int32_t>(RegisterWindowMessageAuto(messages.FindMessageName));
  messages.LossMessageId = static_cast<int32_t>(RegisterWindowMessageAuto(messages.LossMessageName));
  return messages;
}

LONG GetWindowProcedure(HWND window) { return GetWindowLongAuto(window, SlotProcedure); }
LONG GetWindowUserData(HWND window) { return GetWindowLongAuto(window, SlotUserData); }
void SetWindowProcedure(HWND window, LONG value) { SetWindowLongAuto(window, SlotProcedure, value); }
void SetWindowUserData(HWND window, LONG value) { SetWindowLongAuto(window, SlotUserData, value); }

void SleepMilliseconds(int32_t milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

void SubclassWindow(HWND window) {
  LONG current = GetWindowProcedure(window);
  // Never save our own procedure as the previous one: it would call itself for ever.
  if (current == ProcedureValue(CardEventWindowProc)) return;
  SetWindowUserData(window, current);
  SetWindowProcedure(window, ProcedureValue(CardEventWindowProc));
}

void UnsubclassWindow(HWND window) {
  LONG previous = GetWindowUserData(window);
  if (previous != 0) SetWindowProcedure(window, previous);
}

// Sent, not posted: the window has handled both keys before we return, and no WM_CHAR
// is made, so the text box keeps its text.
void SendKeyStroke(HWND window, int16_t keyCode) {
  WPARAM key = static_cast<WPARAM>(static_cast<int32_t>(keyCode));
  SendMessageA(window, WM_KEYDOWN, key, 0);
  SendMessageA(window, WM_KEYUP, key, 0);
}

LRESULT CALLBACK CardEventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message >= FirstRegisteredMessage && message <= LastRegisteredMessage) {
    try {
      CallbackMessages messages = GetCallbackMessages();
      if (message == static_cast<UINT>(messages.FindMessageId)) {
        SendKeyStroke(window, KeyCardFound);
        return 0;
      }
      if (message == static_cast<UINT>(messages.LossMessageId)) {
        SendKeyStroke(window, KeyCardLost);
        return 0;
      }
    } catch (...) {
      // Handled like any other message below.
    }
  }
  try {
    return CallWindowProcAuto(ProcedureFromValue(GetWindowUserData(window)), window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

} // namespace FelicaAPI
