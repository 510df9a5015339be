#include <windows.h>

#include <commctrl.h>

#include "MainForm.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  // A failed load has shown its error and ended the window already.
  HWND window = CreateMainForm(instance, showCommand, true);
  if (!window) return 0;

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!TranslateMainFormMessage(window, message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return static_cast<int>(message.wParam);
}
