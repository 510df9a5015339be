// What the robots that drive a running Varnelo from another process share: reading a window's
// text, finding a top-level window or a child, pressing a button. Every wait is bounded.
#pragma once
#include <windows.h>

#include <cwchar>
#include <functional>
#include <string>

namespace robot {

// Dispatches this thread's messages (keyboard input included) until done() or ms have passed.
inline bool PumpUntil(DWORD ms, const std::function<bool()>& done) {
  for (const DWORD start = GetTickCount();; MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT)) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done())
      return true;
    if (GetTickCount() - start >= ms)
      return false;
  }
}

// Reads a window's text with WM_GETTEXT, which reaches the control in the other process.
inline std::wstring Text(HWND window) {
  wchar_t text[512]{};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 2000, &copied);
  return text;
}

inline std::wstring ClassName(HWND window) {
  wchar_t name[64]{};
  GetClassNameW(window, name, 64);
  return name;
}

// A visible top-level window of the process (any process for 0) whose title starts with prefix,
// or whose class is className when that is given.
struct Search {
  DWORD process;
  const wchar_t* prefix;
  const wchar_t* className;
  HWND found;
};

inline BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if ((search->process != 0 && pid != search->process) || !IsWindowVisible(window)) return TRUE;
  wchar_t title[256]{};
  GetWindowTextW(window, title, 256);
  const bool match = search->className ? ClassName(window) == search->className
                                       : wcsncmp(title, search->prefix, wcslen(search->prefix)) == 0;
  if (match) search->found = window;
  return match ? FALSE : TRUE;
}

inline HWND FindTopLevel(DWORD process, const wchar_t* prefix, const wchar_t* className = nullptr) {
  Search search{process, prefix, className, nullptr};
  EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline bool Ended(HANDLE process, DWORD milliseconds) {
  return WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0;
}

// Gives up early once the process it waits for (when given) has ended.
inline HWND WaitForTopLevel(DWORD process, const wchar_t* prefix, DWORD milliseconds, HANDLE running = nullptr) {
  for (DWORD waited = 0; waited < milliseconds; waited += 50) {
    if (HWND found = FindTopLevel(process, prefix)) return found;
    if (running && Ended(running, 0)) return nullptr;
    Sleep(50);
  }
  return nullptr;
}

inline BOOL CALLBACK MatchChild(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (Text(window) == search->prefix) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

inline HWND FindChild(HWND parent, const wchar_t* text) {
  Search search{0, text, nullptr, nullptr};
  EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Clicks a button the way its parent hears a click, which needs no focus or activation. Sent, it
// returns when the handler did (at most 5 s); posted, a handler that opens a modal box holds no one.
inline void Click(HWND button, bool post = false) {
  const WPARAM command = MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED);
  const LPARAM from = reinterpret_cast<LPARAM>(button);
  if (post) {
    PostMessageW(GetParent(button), WM_COMMAND, command, from);
  } else {
    SendMessageTimeoutW(GetParent(button), WM_COMMAND, command, from, SMTO_NORMAL, 5000, nullptr);
  }
}

inline bool Press(HWND parent, const wchar_t* caption) {
  HWND button = FindChild(parent, caption);
  if (button) Click(button);
  return button != nullptr;
}

} // namespace robot
