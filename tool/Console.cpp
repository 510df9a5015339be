#include "Console.h"

#include <algorithm>
#include <cstdint>
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

std::string SystemMessage(unsigned code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (length > 0) {
    message.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                                           nullptr, nullptr)));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), message.data(), static_cast<int>(message.size()),
                        nullptr, nullptr);
  }
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

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

std::string SystemMessage(unsigned code) {
  char buffer[256] = "";
  // The GNU strerror_r, which may return a text of its own instead of filling the buffer.
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return text && *text ? text : "error " + std::to_string(code);
}

#endif

const char* Say(const Text& text) {
  static const bool japanese = UserLanguageIsJapanese();
  return japanese ? text.japanese : text.english;
}

void Tell(const Text& text, const std::string& detail) {
  Line(Stream::Err, detail.empty() ? std::string(Say(text)) : Say(text) + (" " + detail));
}

namespace {
const char* programName = "";
}

void SetProgramName(const char* name) { programName = name; }

void Complain(const Text& text, const std::string& detail) {
  Line(Stream::Err, std::string(programName) + ": " + Say(text) + (detail.empty() ? "" : " " + detail));
}

size_t Columns(const std::string& text) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length && i + k < text.size(); ++k)
      c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    // East Asian wide and full-width characters: Hangul Jamo, CJK with kana, Hangul syllables,
    // compatibility ideographs and forms, full-width forms.
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || c >= 0x20000;
    columns += wide ? 2 : 1;
  }
  return columns;
}

} // namespace console
