// Drives a running Varnelo as a person would, for scripts/run on a machine without a display:
// starts varnelo.exe, places a card on the virtual reader, presses 取得, waits for the IDm and
// prints where the main window is, so the script can take its screenshot. Then it waits for
// Varnelo to end, which a second run with --close asks it to, and fails unless it ended well:
// Varnelo shares this program's output, so a crash is reported to whoever runs this one.
// Every wait is bounded.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Reads a window's text with WM_GETTEXT, which reaches the control in the other process.
std::wstring Text(HWND window) {
  wchar_t text[256]{};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 2000, &copied);
  return text;
}

struct Search {
  DWORD process;
  const wchar_t* prefix;
  HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t title[256]{};
  GetWindowTextW(window, title, 256);
  if ((search->process == 0 || pid == search->process) && IsWindowVisible(window) &&
      wcsncmp(title, search->prefix, wcslen(search->prefix)) == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK MatchChild(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (Text(window) == search->prefix) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

bool Ended(HANDLE process, DWORD milliseconds) { return WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0; }

// Gives up early once the process it waits for (when given) has ended.
HWND WaitForTopLevel(DWORD process, const wchar_t* prefix, DWORD milliseconds, HANDLE running = nullptr) {
  for (DWORD waited = 0; waited < milliseconds; waited += 50) {
    Search search{process, prefix, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    if (running && Ended(running, 0)) return nullptr;
    Sleep(50);
  }
  return nullptr;
}

HWND FindChild(HWND parent, const wchar_t* text) {
  Search search{0, text, nullptr};
  EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Presses a button the way its parent hears a click, which needs no focus or activation.
bool Press(HWND parent, const wchar_t* caption) {
  HWND button = FindChild(parent, caption);
  if (!button) return false;
  SendMessageTimeoutW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                      reinterpret_cast<LPARAM>(button), SMTO_NORMAL, 5000, nullptr);
  return true;
}

// The field that shows an IDm: the child whose text is 16 hex digits.
HWND FindIdmField(HWND main) {
  for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    std::wstring text = Text(child);
    if (text.size() == 16 && text.find_first_not_of(L"0123456789ABCDEF") == std::wstring::npos) return child;
  }
  return nullptr;
}

int Fail(const char* what) {
  std::fprintf(stderr, "demo: %s\n", what);
  return 1;
}

// Places a card, reads it and prints where the windows are; answers what went wrong, or nullptr.
const char* ReadACard(const PROCESS_INFORMATION& process) {
  HWND main = WaitForTopLevel(process.dwProcessId, L"Varnelo", 20000, process.hProcess);
  if (!main) {
    return Ended(process.hProcess, 0) ? "varnelo.exe ended before its window appeared"
                                      : "the main window did not appear";
  }
  HWND reader = WaitForTopLevel(process.dwProcessId, L"仮想リーダー", 10000, process.hProcess);
  if (!reader) {
    return Ended(process.hProcess, 0) ? "varnelo.exe ended before its reader window appeared"
                                      : "the virtual reader window did not appear";
  }

  if (!Press(reader, L"カードを置く")) return "no button to place a card";
  if (!Press(main, L"取得")) return "no read button";

  HWND idm = nullptr;
  for (int i = 0; i < 200 && !idm; ++i) {
    idm = FindIdmField(main);
    if (!idm) Sleep(50);
  }
  if (!idm) return "no IDm appeared";

  RECT frame;
  GetWindowRect(main, &frame);
  RECT readerFrame;
  GetWindowRect(reader, &readerFrame);
  std::printf("idm=%ls\n", Text(idm).c_str());
  std::printf("window=%ld,%ld,%ld,%ld\n", frame.left, frame.top, frame.right, frame.bottom);
  std::printf("reader=%ld,%ld,%ld,%ld\n", readerFrame.left, readerFrame.top, readerFrame.right, readerFrame.bottom);
  std::fflush(stdout);
  if (!Ended(process.hProcess, 120000)) return "varnelo.exe was not closed";
  return nullptr;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && wcscmp(argv[1], L"--close") == 0) {
    HWND main = WaitForTopLevel(0, L"Varnelo", 2000);
    if (main) PostMessageW(main, WM_CLOSE, 0, 0);
    return 0;
  }
  if (argc != 2) return Fail("usage: demo_driver <path of varnelo.exe> | --close");

  std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return Fail("varnelo.exe did not start");
  CloseHandle(process.hThread);

  const char* failure = ReadACard(process);
  if (failure) TerminateProcess(process.hProcess, 1); // leaves nothing running behind a failure
  WaitForSingleObject(process.hProcess, 10000);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  if (failure) return Fail(failure);
  if (status != 0) {
    std::fprintf(stderr, "demo: varnelo.exe ended with status %lu\n", status);
    return 1;
  }
  return 0;
}
