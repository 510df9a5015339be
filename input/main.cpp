// varnelo-input: types each card's ID into the window that has the focus. One per user session:
// a second start brings the first one's window forward and ends. "/tray" (the start with
// Windows) opens it in the notification area only.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "InputLayout.h"
#include "InputWindow.h"

namespace {

// The first one's window, which may still be on its way up.
void BringFirstForward() {
  for (int i = 0; i < 100; ++i) {
    if (HWND first = FindWindowW(kInputWindowClass, nullptr)) {
      DWORD process = 0;
      GetWindowThreadProcessId(first, &process);
      // Only a program in front may hand the foreground on: it is ours while we start.
      AllowSetForegroundWindow(process);
      DWORD_PTR ignored = 0;
      SendMessageTimeoutW(first, RegisterWindowMessageW(kShowMessageName), 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
      return;
    }
    Sleep(50);
  }
}

// "/tray" as a word of its own after the program's path.
bool InTray() {
  std::wstring line = GetCommandLineW();
  CharLowerBuffW(line.data(), static_cast<DWORD>(line.size()));
  line += L' ';
  return line.find(std::wstring(L" ") + kTrayArgument + L" ") != std::wstring::npos;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  HANDLE single = CreateMutexW(nullptr, FALSE, L"Local\\VarneloInput");
  if (single && GetLastError() == ERROR_ALREADY_EXISTS) {
    BringFirstForward();
    CloseHandle(single);
    return 0;
  }
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  HWND window = CreateInputWindow(instance, InTray());
  if (!window)
    return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!TranslateInputMessage(window, message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (single)
    CloseHandle(single);
  return static_cast<int>(message.wParam);
}
