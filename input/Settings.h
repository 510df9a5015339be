// varnelo-input's settings: what they are, where the file lies, reading it (a bad value gives
// that key's default and is named), writing it whole and safely, and the start with Windows.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "IdForm.h"
#include "Typist.h"

struct InputSettings {
  pcsc::IdForm form;
  pcsc::ThenKey then = pcsc::ThenKey::Enter;
  pcsc::EntryWay way = pcsc::EntryWay::Keys;
  bool closeInputMethod = true;
  int sameCardSeconds = 0; // 0: a card is entered again as soon as it comes back
  bool sound = true;
  std::wstring csvFile;    // "" for no list
  bool operator==(const InputSettings&) const = default;
};

inline constexpr int kMaxSameCardSeconds = 3600;

// A function of a system DLL loaded at its first use: shell32 and comdlg32 cost a good part of the
// start-up under Wine, and the window is shown before it needs them. Both are known DLLs, which
// Windows takes from its system folder only.
template <class F> F Later(const wchar_t* library, const char* name) {
  const HMODULE module = LoadLibraryW(library);
  return module ? reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

// The form's texts are ASCII: anything else becomes a character the form refuses.
std::string NarrowText(const std::wstring& text);
inline std::wstring WideText(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Beside the program when its folder takes a new file, else under the user's AppData.
std::wstring SettingsPath(const std::wstring& programFolder);

// The keys that were there with a value that is not valid, as "Key=value"; the file could not be
// read at all: "". Missing keys and a missing file quietly give the defaults.
InputSettings LoadSettings(const std::wstring& path, std::vector<std::wstring>& bad);
// A new file beside the old one, pushed to the disk, then put in its place: a power cut leaves
// one or the other. False with the system's code.
bool SaveSettings(const std::wstring& path, const InputSettings& settings, unsigned& error);

// The per-user Run value that starts the program with Windows, in the notification area.
inline constexpr wchar_t kRunValueName[] = L"Varnelo Input";
inline constexpr wchar_t kTrayArgument[] = L"/tray";
bool StartsWithWindows(const std::wstring& program);
bool SetStartWithWindows(const std::wstring& program, bool on);
