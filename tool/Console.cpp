#include "Console.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

namespace console {

#ifdef _WIN32

void Write(Stream stream, const std::string& text) {
  HANDLE handle = GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty())
    return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    std::wstring wide(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                              nullptr, 0)),
                      L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        static_cast<int>(wide.size()));
    // Older consoles take a few thousand characters at a time.
    for (size_t at = 0; at < wide.size();) {
      DWORD written = 0;
      const DWORD part = static_cast<DWORD>(std::min<size_t>(wide.size() - at, 4096));
      if (!WriteConsoleW(handle, wide.data() + at, part, &written, nullptr) || written == 0)
        return;
      at += written;
    }
    return;
  }
  std::string bytes;
  for (char c : text) {
    if (c == '\n')
      bytes += '\r';
    bytes += c;
  }
  for (size_t at = 0; at < bytes.size();) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written, nullptr) || written == 0)
      return;
    at += written;
  }
}

bool UserLanguageIsJapanese() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE; }

bool OwnsItsConsole() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

void WaitForKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode))
    return;
  FlushConsoleInputBuffer(input);
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0)
      return;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
      return;
  }
}

#else

void Write(Stream stream, const std::string& text) {
  std::FILE* file = stream == Stream::Out ? stdout : stderr;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fflush(file);
}

bool UserLanguageIsJapanese() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0')
      return std::strncmp(value, "ja", 2) == 0;
  }
  return false;
}

bool OwnsItsConsole() { return false; }
void WaitForKey() {}

#endif

const char* Say(const Text& text) {
  static const bool japanese = UserLanguageIsJapanese();
  return japanese ? text.japanese : text.english;
}

void Tell(const Text& text, const std::string& detail) {
  Line(Stream::Err, detail.empty() ? std::string(Say(text)) : Say(text) + (" " + detail));
}

} // namespace console
