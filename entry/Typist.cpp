#include "Typist.h"

#ifdef _WIN32
#include "TypistParts.h"
#else
#include <cstdio>
#include <unistd.h>
#endif

namespace pcsc {

#ifdef _WIN32

namespace {

// user32 and advapi32 are loaded only to type or beep: user32 alone makes every start of the
// tool slower by a good part (under Wine it sets up the display driver). Both are known DLLs,
// which Windows takes from its system folder only.
struct Calls {
  decltype(&::GetForegroundWindow) getForegroundWindow;
  decltype(&::GetWindowThreadProcessId) getWindowThreadProcessId;
  decltype(&::MapVirtualKeyW) mapVirtualKey;
  decltype(&::SendInput) sendInput;
  decltype(&::MessageBeep) messageBeep;
  decltype(&::OpenProcessToken) openProcessToken;
  decltype(&::GetTokenInformation) getTokenInformation;
  decltype(&::GetSidSubAuthority) getSidSubAuthority;
  decltype(&::GetSidSubAuthorityCount) getSidSubAuthorityCount;
  bool complete;
};

template <class F>
void Find(HMODULE module, const char* name, F& f) {
  f = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

const Calls& Api() {
  static const Calls calls = [] {
    Calls c{};
    const HMODULE user = LoadLibraryW(L"user32.dll"), security = LoadLibraryW(L"advapi32.dll");
    Find(user, "GetForegroundWindow", c.getForegroundWindow);
    Find(user, "GetWindowThreadProcessId", c.getWindowThreadProcessId);
    Find(user, "MapVirtualKeyW", c.mapVirtualKey);
    Find(user, "SendInput", c.sendInput);
    Find(user, "MessageBeep", c.messageBeep);
    Find(security, "OpenProcessToken", c.openProcessToken);
    Find(security, "GetTokenInformation", c.getTokenInformation);
    Find(security, "GetSidSubAuthority", c.getSidSubAuthority);
    Find(security, "GetSidSubAuthorityCount", c.getSidSubAuthorityCount);
    c.complete = c.getForegroundWindow && c.getWindowThreadProcessId && c.mapVirtualKey && c.sendInput &&
                 c.messageBeep && c.openProcessToken && c.getTokenInformation && c.getSidSubAuthority &&
                 c.getSidSubAuthorityCount;
    return c;
  }();
  return calls;
}

// The mandatory integrity level of a process (its RID), or 0 when it cannot be read.
DWORD IntegrityLevel(HANDLE process, DWORD& error) {
  HANDLE token = nullptr;
  if (!Api().openProcessToken(process, TOKEN_QUERY, &token)) {
    error = GetLastError();
    return 0;
  }
  DWORD level = 0, size = 0;
  Api().getTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size && Api().getTokenInformation(token, TokenIntegrityLevel, buffer.data(), size, &size)) {
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
    level = *Api().getSidSubAuthority(sid, *Api().getSidSubAuthorityCount(sid) - 1u);
  }
  CloseHandle(token);
  return level;
}

// Windows drops input meant for a window of a higher integrity level without saying so
// (SendInput's count and error do not show it), so look before typing.
bool ForegroundIsHigher(HWND foreground) {
  DWORD process = 0;
  Api().getWindowThreadProcessId(foreground, &process);
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

} // namespace

namespace typist {

Typed Obstacle(HWND foreground, unsigned& error) {
  if (!Api().complete) {
    error = ERROR_PROC_NOT_FOUND;
    return Typed::Failed;
  }
  if (!foreground)
    return Typed::Done;
  if (foreground == GetConsoleWindow())
    return Typed::OwnConsole;
  DWORD process = 0;
  Api().getWindowThreadProcessId(foreground, &process);
  if (process == GetCurrentProcessId())
    return Typed::OwnWindow;
  return ForegroundIsHigher(foreground) ? Typed::Refused : Typed::Done;
}

void AddKey(std::vector<INPUT>& inputs, WORD vk, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = static_cast<WORD>(Api().mapVirtualKey(vk, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = flags;
  inputs.push_back(input);
}

void AddText(std::vector<INPUT>& inputs, const std::string& text) {
  for (char c : text) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = static_cast<unsigned char>(c);
    input.ki.dwFlags = KEYEVENTF_UNICODE;
    inputs.push_back(input);
    input.ki.dwFlags |= KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
}

void AddThen(std::vector<INPUT>& inputs, ThenKey then) {
  if (then == ThenKey::None)
    return;
  const WORD vk = then == ThenKey::Enter ? VK_RETURN : VK_TAB;
  AddKey(inputs, vk, 0);
  AddKey(inputs, vk, KEYEVENTF_KEYUP);
}

Typed Send(std::vector<INPUT>& inputs, unsigned& error) {
  SetLastError(ERROR_SUCCESS);
  const UINT sent = Api().sendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  if (sent == inputs.size())
    return Typed::Done;
  error = GetLastError();
  return error == ERROR_ACCESS_DENIED ? Typed::Refused : Typed::Failed;
}

} // namespace typist

bool TypingAvailable() { return true; }

Typed TypeText(const std::string& text, ThenKey then, unsigned& error) {
  const Typed obstacle = typist::Obstacle(Api().complete ? Api().getForegroundWindow() : nullptr, error);
  if (obstacle != Typed::Done)
    return obstacle;
  std::vector<INPUT> inputs;
  typist::AddText(inputs, text);
  typist::AddThen(inputs, then);
  return typist::Send(inputs, error);
}

void Beep() {
  if (Api().messageBeep)
    Api().messageBeep(MB_OK);
}

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
