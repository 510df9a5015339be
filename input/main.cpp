// varnelo-input: types each card's ID into the window that has the focus. One per user session:
// a second start brings the first one's window forward and ends. "/tray" (the start with
// Windows) opens it in the notification area only.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

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

bool InTray() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  bool tray = false;
  for (int i = 1; arguments && i < count; ++i)
    tray = tray || lstrcmpiW(arguments[i], kTrayArgument) == 0;
  LocalFree(arguments);
  return tray;
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
