// Helpers of the loading tests.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "felica/FelicaAPI.h"
#include "../felica/caught_error.h"

// The folder of a sibling test folder of this program's own, e.g. L"tests-fixture".
inline std::wstring SiblingFolder(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring relative = std::wstring(path, length);
  relative = relative.substr(0, relative.find_last_of(L'\\')) + L"\\..\\" + name;
  wchar_t full[MAX_PATH];
  DWORD fullLength = GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
  return std::wstring(full, fullLength);
}

// The file the reader library was loaded from, or "" when it isn't loaded.
inline std::wstring LoadedLibraryPath() {
  HMODULE module = GetModuleHandleW(L"felica_for_vb.dll");
  if (module == nullptr) {
    return L"";
  }
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return std::wstring(path, length);
}
