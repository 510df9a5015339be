#include "Settings.h"

#include <shlobj.h>

#include <cwchar>

namespace {

constexpr wchar_t kSection[] = L"varnelo-input";
constexpr wchar_t kFileName[] = L"varnelo-input.ini";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring NewFile(const std::wstring& path) { return path + L".new"; }

// A folder takes the settings when the file that a save writes first can be made there.
bool TakesNewFile(const std::wstring& path) {
  HANDLE file = CreateFileW(NewFile(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  CloseHandle(file);
  return true;
}

std::wstring AppDataFolder() {
  wchar_t folder[MAX_PATH] = L"";
  const DWORD length = GetEnvironmentVariableW(L"APPDATA", folder, MAX_PATH);
  static const auto getFolderPath = Later<decltype(&SHGetFolderPathW)>(L"shell32.dll", "SHGetFolderPathW");
  if ((length == 0 || length >= MAX_PATH) && getFolderPath)
    getFolderPath(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder);
  return folder;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Read(const std::wstring& path, const wchar_t* key, bool& present) {
  wchar_t value[1024] = L"";
  // A marker no file holds tells a missing key from an empty one.
  GetPrivateProfileStringW(kSection, key, L"\x1F", value, 1024, path.c_str());
  present = std::wcscmp(value, L"\x1F") != 0;
  return present ? value : L"";
}

template <class T> struct Choice {
  const wchar_t* word;
  T value;
};

template <class T, size_t N> bool Pick(const std::wstring& word, const Choice<T> (&choices)[N], T& value) {
  for (const Choice<T>& choice : choices) {
    if (_wcsicmp(word.c_str(), choice.word) == 0) {
      value = choice.value;
      return true;
    }
  }
  return false;
}

template <class T, size_t N> const wchar_t* WordOf(T value, const Choice<T> (&choices)[N]) {
  for (const Choice<T>& choice : choices)
    if (choice.value == value)
      return choice.word;
  return choices[0].word;
}

constexpr Choice<pcsc::ThenKey> kThen[] = {
    {L"enter", pcsc::ThenKey::Enter}, {L"tab", pcsc::ThenKey::Tab}, {L"none", pcsc::ThenKey::None}};
constexpr Choice<pcsc::EntryWay> kWay[] = {{L"keys", pcsc::EntryWay::Keys}, {L"paste", pcsc::EntryWay::Paste}};
constexpr Choice<bool> kInputMethod[] = {{L"off", true}, {L"leave", false}};
constexpr Choice<bool> kSound[] = {{L"system", true}, {L"none", false}};

} // namespace

std::string NarrowText(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text)
    narrow += c < 0x80 ? static_cast<char>(c) : '\x7F';
  return narrow;
}

std::wstring SettingsPath(const std::wstring& programFolder) {
  const std::wstring beside = programFolder + L"\\" + kFileName;
  if (TakesNewFile(beside))
    return beside;
  const std::wstring folder = AppDataFolder() + L"\\Varnelo";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring own = folder + L"\\" + kFileName;
  // An administrator's file beside a program in a folder closed to users starts each user's own.
  if (!Exists(own) && Exists(beside))
    CopyFileW(beside.c_str(), own.c_str(), TRUE);
  return own;
}

InputSettings LoadSettings(const std::wstring& path, std::vector<std::wstring>& bad) {
  InputSettings settings;
  bad.clear();
  if (!Exists(path))
    return settings;
  wchar_t sections[256] = L"";
  GetPrivateProfileSectionNamesW(sections, 256, path.c_str());
  bool ours = false;
  for (const wchar_t* name = sections; *name; name += std::wcslen(name) + 1)
    ours = ours || _wcsicmp(name, kSection) == 0;
  if (!ours) {
    bad.push_back(L"");
    return settings;
  }
  bool present = false;
  auto check = [&](const wchar_t* key, auto parse) {
    const std::wstring value = Read(path, key, present);
    if (present && !parse(value))
      bad.push_back(std::wstring(key) + L"=" + value);
  };
  check(L"Form", [&](const std::wstring& value) {
    std::string word;
    const auto form = pcsc::ParseIdForm(NarrowText(value), word);
    if (form)
      settings.form = *form;
    return form.has_value();
  });
  check(L"Then", [&](const std::wstring& value) { return Pick(value, kThen, settings.then); });
  check(L"Way", [&](const std::wstring& value) { return Pick(value, kWay, settings.way); });
  check(L"InputMethod", [&](const std::wstring& value) { return Pick(value, kInputMethod, settings.closeInputMethod); });
  check(L"Sound", [&](const std::wstring& value) { return Pick(value, kSound, settings.sound); });
  check(L"SameCardSeconds", [&](const std::wstring& value) {
    wchar_t* end = nullptr;
    const long seconds = std::wcstol(value.c_str(), &end, 10);
    if (value.empty() || *end != L'\0' || seconds < 0 || seconds > kMaxSameCardSeconds)
      return false;
    settings.sameCardSeconds = static_cast<int>(seconds);
    return true;
  });
  check(L"CsvFile", [&](const std::wstring& value) {
    settings.csvFile = value;
    return true;
  });
  return settings;
}

bool SaveSettings(const std::wstring& path, const InputSettings& settings, unsigned& error) {
  const std::string form = pcsc::IdFormText(settings.form);
  // UTF-16 with its byte order mark, which the profile calls read, so any file name survives;
  // quoted, so that a blank at either end of a text does too.
  const std::wstring text =
      L"\xFEFF; Varnelo Input settings. README-ja.txt describes each key.\r\n"
      L"[" + std::wstring(kSection) + L"]\r\n"
      L"Form=\"" + WideText(form) + L"\"\r\n"
      L"Then=" + WordOf(settings.then, kThen) + L"\r\n"
      L"Way=" + WordOf(settings.way, kWay) + L"\r\n"
      L"InputMethod=" + WordOf(settings.closeInputMethod, kInputMethod) + L"\r\n"
      L"SameCardSeconds=" + std::to_wstring(settings.sameCardSeconds) + L"\r\n"
      L"Sound=" + WordOf(settings.sound, kSound) + L"\r\n"
      L"CsvFile=\"" + settings.csvFile + L"\"\r\n";
  const std::wstring fresh = NewFile(path);
  HANDLE file = CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return false;
  }
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  DWORD written = 0;
  const bool whole = WriteFile(file, text.data(), bytes, &written, nullptr) && written == bytes && FlushFileBuffers(file);
  error = whole ? 0 : GetLastError();
  CloseHandle(file);
  if (whole) {
    if (Exists(path) && ReplaceFileW(path.c_str(), fresh.c_str(), nullptr, 0, nullptr, nullptr))
      return true;
    if (MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    error = GetLastError();
  }
  DeleteFileW(fresh.c_str());
  return false;
}

bool StartsWithWindows(const std::wstring& program) {
  wchar_t value[MAX_PATH + 32] = L"";
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValueName, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return false;
  return _wcsicmp(value, (L"\"" + program + L"\" " + kTrayArgument).c_str()) == 0;
}

bool SetStartWithWindows(const std::wstring& program, bool on) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  LSTATUS status;
  if (on) {
    const std::wstring command = L"\"" + program + L"\" " + kTrayArgument;
    status = RegSetValueExW(key, kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                            static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  } else {
    status = RegDeleteValueW(key, kRunValueName);
    if (status == ERROR_FILE_NOT_FOUND)
      status = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}
