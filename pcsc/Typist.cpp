#include "Typist.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <cstdio>
#include <unistd.h>
#endif

namespace pcsc {

#ifdef _WIN32

namespace {

// The mandatory integrity level of a process (its RID), or 0 when it cannot be read.
DWORD IntegrityLevel(HANDLE process, DWORD& error) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
    error = GetLastError();
    return 0;
  }
  DWORD level = 0, size = 0;
  GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size && GetTokenInformation(token, TokenIntegrityLevel, buffer.data(), size, &size)) {
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
    level = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u);
  }
  CloseHandle(token);
  return level;
}

// Windows drops input meant for a window of a higher integrity level without saying so
// (SendInput's count and error do not show it), so look before typing.
bool ForegroundIsHigher(HWND foreground) {
  DWORD process = 0;
  GetWindowThreadProcessId(foreground, &process);
  HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
  if (!handle)
    return false;
  DWORD theirError = 0, ourError = 0;
  const DWORD theirs = IntegrityLevel(handle, theirError);
  CloseHandle(handle);
  const DWORD ours = IntegrityLevel(GetCurrentProcess(), ourError);
  // An elevated program's token is closed to a program that is not.
  if (theirs == 0)
    return theirError == ERROR_ACCESS_DENIED && ours != 0 && ours < SECURITY_MANDATORY_HIGH_RID;
  return ours != 0 && theirs > ours;
}

void AddKey(std::vector<INPUT>& inputs, WORD vk, WORD scan, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = scan;
  input.ki.dwFlags = flags;
  inputs.push_back(input);
}

} // namespace

bool TypingAvailable() { return true; }

Typed TypeText(const std::string& text, ThenKey then, unsigned& error) {
  HWND foreground = GetForegroundWindow();
  if (foreground && foreground == GetConsoleWindow())
    return Typed::OwnConsole;
  if (foreground && ForegroundIsHigher(foreground))
    return Typed::Refused;
  std::vector<INPUT> inputs;
  for (char c : text) {
    const WORD unit = static_cast<unsigned char>(c);
    AddKey(inputs, 0, unit, KEYEVENTF_UNICODE);
    AddKey(inputs, 0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP);
  }
  if (then != ThenKey::None) {
    const WORD vk = then == ThenKey::Enter ? VK_RETURN : VK_TAB;
    const WORD scan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    AddKey(inputs, vk, scan, 0);
    AddKey(inputs, vk, scan, KEYEVENTF_KEYUP);
  }
  SetLastError(ERROR_SUCCESS);
  const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  if (sent == inputs.size())
    return Typed::Done;
  error = GetLastError();
  return error == ERROR_ACCESS_DENIED ? Typed::Refused : Typed::Failed;
}

void Beep() { MessageBeep(MB_OK); }

#else

bool TypingAvailable() { return false; }

Typed TypeText(const std::string&, ThenKey, unsigned& error) {
  error = 0;
  return Typed::Failed;
}

// The terminal's bell, and only on a terminal: a redirected stderr stays clean.
void Beep() {
  if (isatty(STDERR_FILENO)) {
    std::fputs("\a", stderr);
    std::fflush(stderr);
  }
}

#endif

} // namespace pcsc
