#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  MessageBoxW(nullptr, L"Varnelo", L"Varnelo", MB_OK);
  return 0;
}
