// A real EDIT control whose own procedure is replaced by a recording one, so a test sees
// exactly what reaches "the procedure installed before the bridge".
#pragma once
#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

struct RecordedMessage {
  UINT Message;
  WPARAM WParam;
  LPARAM LParam;
  bool operator==(const RecordedMessage&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const RecordedMessage& m) {
  return out << "{0x" << std::hex << m.Message << ", " << std::dec << m.WParam << ", " << m.LParam << "}";
}

// Messages the tests send on purpose; the recording procedure answers them itself.
inline constexpr UINT ProbeMessage = WM_USER + 7;
inline constexpr LRESULT ProbeResult = 0x5A5A;

struct Recorder {
  WNDPROC EditProcedure = nullptr;
  UINT OtherRegisteredMessage = 0;
  std::vector<RecordedMessage> Messages;
  std::wstring LastSetText;
};
inline Recorder TheRecorder;

inline LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  try {
    TheRecorder.Messages.push_back({message, wParam, lParam});
    if (message == WM_SETTEXT && lParam) TheRecorder.LastSetText = reinterpret_cast<const wchar_t*>(lParam);
  } catch (...) {
  }
  if (message == ProbeMessage || (message == TheRecorder.OtherRegisteredMessage && message != 0))
    return ProbeResult + static_cast<LRESULT>(wParam);
  return CallWindowProcW(TheRecorder.EditProcedure, window, message, wParam, lParam);
}

inline LONG ProcedureValue(WNDPROC procedure) { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(procedure)); }

// Creates the box with the text "abc" and installs RecordingProc as its procedure.
inline HWND CreateRecordingEdit() {
  TheRecorder = Recorder{};
  TheRecorder.OtherRegisteredMessage = RegisterWindowMessageW(L"Varnelo_test_other_message");
  HWND edit = CreateWindowExW(0, L"EDIT", L"abc", WS_POPUP, 0, 0, 120, 20, nullptr, nullptr, nullptr, nullptr);
  if (!edit) return nullptr;
  TheRecorder.EditProcedure =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc)));
  TheRecorder.Messages.clear();
  return edit;
}

// Only the messages with the given numbers, in order.
inline std::vector<RecordedMessage> RecordedOf(std::initializer_list<UINT> numbers) {
  std::vector<RecordedMessage> result;
  for (const RecordedMessage& m : TheRecorder.Messages)
    for (UINT n : numbers)
      if (m.Message == n) result.push_back(m);
  return result;
}

inline std::wstring WindowText(HWND window) {
  wchar_t text[64]{};
  GetWindowTextW(window, text, 64);
  return text;
}
