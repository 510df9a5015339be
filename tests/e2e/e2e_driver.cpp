// Drives one running Varnelo as a user would, for the end-to-end stage (scripts/e2e). It reads
// one command a line on standard input and answers each with one line on standard output, so the
// stage can place and take away cards between commands:
//   start <varnelo.exe>        starts it; "ok window" or "ok dialog" (an error box at start)
//   dialog <ms>                answers the error box: "ok text=..."
//   read <ms>                  presses 取得 and waits until the press is over: "ok msg=... idm=... felica=..."
//                              or, if an error box came, "dialog text=..." (answered)
//   idmonly 0|1                sets the hidden IDm-only box and clicks it
//   cmd <ms>                   presses the hidden start/stop button: "ok caption=..." or "dialog text=..."
//   wait found|lost <ms>       waits for a card event's fields: "ok at=<unix ms> msg=... idm=..."
//   alive <ms>                 the window answers a message within ms
//   rect                       "ok rect=l,t,r,b"
//   close <ms>                 closes the window, waits for the end: "ok exit=<code>"
//   exit <ms>                  waits for the program to end by itself: "ok exit=<code>"
// and varnelo-input, which types into a window of this robot:
//   target                     shows the window with a focused edit field and gives it the foreground
//   input <varnelo-input.exe>  starts it in the notification area: "ok status=..."
//   istatus <ms> <text>        waits until its status starts with text: "ok status=..."
//   typed <ms> <text>          waits until the field holds text (\n for Enter): "ok at=<unix ms> text=...",
//                              then empties the field
//   untouched <ms>             the field stays empty for ms: "ok", or "fail typed: ..."
//   iquit <ms>                 quits it from its menu's command: "ok exit=<code>"
//   quit                       ends this robot, ending the programs first if they still run
// Line breaks in texts are written as \n. Every wait is bounded; a failure answers "fail <why>".
// The robot's window takes messages all the while, as any program people type into does.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <deque>
#include <mutex>

#include "InputLayout.h"
#include "MainFormLayout.h"
#include "robot.h"

using namespace robot;

namespace {

constexpr wchar_t MsgPolling[] = L"ポーリング中";
constexpr wchar_t MsgCardFound[] = L"カードを認識しました";
constexpr wchar_t MsgCardLost[] = L"カードをかざして下さい。";

struct Varnelo {
  PROCESS_INFORMATION process{};
  HWND main = nullptr;
};

void Answer(const std::wstring& line) {
  std::wstring escaped;
  for (wchar_t c : line) {
    if (c == L'\n') {
      escaped += L"\\n";
    } else if (c != L'\r') {
      escaped += c;
    }
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, escaped.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, escaped.c_str(), -1, utf8.data(), size, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::wstring Widen(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), size);
  return wide;
}

// The wall clock in milliseconds since 1970, the same clock the stage reads on the host.
long long UnixMilliseconds() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const long long ticks = (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - 116444736000000000LL) / 10000;
}

HWND Control(const Varnelo& app, int id) { return GetDlgItem(app.main, id); }

std::wstring Fields(const Varnelo& app) {
  return L"msg=" + Text(Control(app, IdTxtMsg)) + L" idm=" + Text(Control(app, IdTxtIDm)) +
         L" felica=" + Text(Control(app, IdTxtFeliCaNo));
}

bool Running(const Varnelo& app) {
  return app.process.hProcess && WaitForSingleObject(app.process.hProcess, 0) == WAIT_TIMEOUT;
}

HWND ErrorBox(const Varnelo& app) { return FindTopLevel(app.process.dwProcessId, L"", L"#32770"); }

// Reads the box's text (its static control 0xFFFF) and presses OK.
std::wstring AnswerBox(HWND box) {
  std::wstring text = Text(GetDlgItem(box, 0xFFFF));
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return text;
}

// Waits until done() holds or an error box stands (answered and reported), at most ms.
template <typename Done>
std::wstring WaitFor(const Varnelo& app, DWORD ms, Done done, const wchar_t* what) {
  for (DWORD start = GetTickCount();; Sleep(5)) {
    if (HWND box = ErrorBox(app)) return L"dialog text=" + AnswerBox(box);
    if (done()) return L"ok";
    if (!Running(app)) return L"fail the program ended while waiting for " + std::wstring(what);
    if (GetTickCount() - start > ms) return L"fail timed out waiting for " + std::wstring(what);
  }
}

std::wstring Start(Varnelo& app, const std::wstring& exe) {
  // Varnelo gets no handle of ours: the stage reads our output to its end.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
  std::wstring command = L"\"" + exe + L"\"";
  const BOOL started =
      CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &app.process);
  CloseHandle(nul);
  if (!started) return L"fail varnelo.exe did not start";
  CloseHandle(app.process.hThread);
  for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(20)) {
    if (ErrorBox(app)) return L"ok dialog";
    app.main = FindTopLevel(app.process.dwProcessId, L"Varnelo (");
    if (app.main) return L"ok window";
    if (!Running(app)) return L"fail the program ended without a window";
  }
  return L"fail no window in 30 s";
}

// Clicks a button and waits until its handler has returned, answering an error box on the way.
// The click is sent from a thread of its own: it returns when the handler did, which no look at
// the fields can tell apart from a handler half-way through its updates.
struct SentClick {
  HWND button;
  DWORD ms;
};

DWORD WINAPI SendClick(void* argument) {
  const auto* click = static_cast<const SentClick*>(argument);
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(GetParent(click->button), WM_COMMAND,
                             MAKEWPARAM(GetDlgCtrlID(click->button), BN_CLICKED),
                             reinterpret_cast<LPARAM>(click->button), SMTO_NORMAL, click->ms, &result)
             ? 0
             : 1;
}

std::wstring PressAndWait(const Varnelo& app, HWND button, DWORD ms) {
  SentClick click{button, ms};
  HANDLE sender = CreateThread(nullptr, 0, SendClick, &click, 0, nullptr);
  if (!sender) return L"fail no thread to click with";
  std::wstring dialog;
  HWND answered = nullptr;
  // The sender's own bound ends it at the latest ms after the click.
  for (DWORD start = GetTickCount(); WaitForSingleObject(sender, 5) == WAIT_TIMEOUT;) {
    HWND box = ErrorBox(app);
    if (box && box != answered) {
      dialog += (dialog.empty() ? L"" : L" | ") + AnswerBox(box);
      answered = box;
    }
    if (GetTickCount() - start > ms + 5000) break;
  }
  DWORD timedOut = 1;
  if (WaitForSingleObject(sender, 0) == WAIT_OBJECT_0) GetExitCodeThread(sender, &timedOut);
  CloseHandle(sender);
  if (timedOut) return L"fail the handler did not return in time";
  return dialog.empty() ? L"ok" : L"dialog text=" + dialog;
}

std::wstring Read(const Varnelo& app, DWORD ms) {
  const std::wstring result = PressAndWait(app, Control(app, IdBtnPoll), ms);
  return result == L"ok" ? L"ok " + Fields(app) : result;
}

std::wstring PressCmd(const Varnelo& app, DWORD ms) {
  const std::wstring result = PressAndWait(app, Control(app, IdBtnCmd), ms);
  return result == L"ok" ? L"ok caption=" + Text(Control(app, IdBtnCmd)) : result;
}

std::wstring WaitEvent(const Varnelo& app, const std::string& kind, DWORD ms) {
  const bool found = kind == "found";
  const std::wstring result = WaitFor(
      app, ms,
      [&] {
        const std::wstring idm = Text(Control(app, IdTxtIDm));
        return found ? Text(Control(app, IdTxtMsg)) == MsgCardFound && !idm.empty()
                     : Text(Control(app, IdTxtMsg)) == MsgCardLost && idm.empty();
      },
      found ? L"a card's fields" : L"cleared fields");
  return result == L"ok" ? L"ok at=" + std::to_wstring(UnixMilliseconds()) + L" " + Fields(app) : result;
}

std::wstring WaitExit(const Varnelo& app, DWORD ms) {
  if (WaitForSingleObject(app.process.hProcess, ms) != WAIT_OBJECT_0) return L"fail still running";
  DWORD code = 0;
  GetExitCodeProcess(app.process.hProcess, &code);
  return L"ok exit=" + std::to_wstring(code);
}

// --- varnelo-input and the window it types into ---

HWND field = nullptr;

constexpr auto Pump = robot::PumpUntil;

std::wstring Target() {
  if (!field) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VarneloE2ETarget";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500, 20,
                                  400, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    field = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN, 0, 0, 380, 160,
                            window, nullptr, windowClass.hInstance, nullptr);
  }
  SetForegroundWindow(GetParent(field));
  SetFocus(field);
  return Pump(3000, [] { return GetFocus() == field && GetForegroundWindow() == GetParent(field); })
             ? L"ok"
             : L"fail the field has no focus";
}

std::wstring FieldText() {
  wchar_t text[512] = L"";
  GetWindowTextW(field, text, 512);
  return text;
}

std::wstring Status(const Varnelo& input) { return Text(GetDlgItem(input.main, IdStatus)); }

std::wstring StartInput(Varnelo& input, const std::wstring& exe) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring command = L"\"" + exe + L"\" /tray";
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &input.process))
    return L"fail varnelo-input.exe did not start";
  CloseHandle(input.process.hThread);
  // Its window is hidden in the notification area; it is ready once it says what it does.
  Pump(30000, [&] {
    input.main = FindWindowW(kInputWindowClass, nullptr);
    return (input.main && !Status(input).empty()) || !Running(input);
  });
  return input.main ? L"ok status=" + Status(input) : L"fail no window";
}

std::wstring InputDispatch(Varnelo& input, const std::string& verb, const std::string& arg) {
  const DWORD ms = static_cast<DWORD>(std::strtoul(arg.c_str(), nullptr, 10));
  const size_t space = arg.find(' ');
  const std::wstring text = space == std::string::npos ? L"" : Widen(arg.substr(space + 1));
  if (verb == "target") return Target();
  if (verb == "input") return input.process.hProcess ? L"fail already started" : StartInput(input, Widen(arg));
  if (!input.main || !Running(input)) return L"fail varnelo-input is not running";
  if (verb == "istatus") {
    const bool shown = Pump(ms, [&] { return Status(input).starts_with(text); });
    return (shown ? L"ok status=" : L"fail status=") + Status(input);
  }
  if (verb == "typed" || verb == "untouched") {
    std::wstring expected;
    for (size_t i = 0; i < text.size(); ++i) {
      const bool enter = text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'n';
      expected += enter ? std::wstring(L"\r\n") : std::wstring(1, text[i]);
      i += enter ? 1 : 0;
    }
    if (verb == "untouched") {
      Pump(ms, [] { return !FieldText().empty(); });
      return FieldText().empty() ? L"ok" : L"fail typed: " + FieldText();
    }
    if (!Pump(ms, [&] { return FieldText() == expected; })) return L"fail the field holds: " + FieldText();
    const std::wstring answer = L"ok at=" + std::to_wstring(UnixMilliseconds()) + L" text=" + FieldText();
    SetWindowTextW(field, L"");
    return answer;
  }
  if (verb == "iquit") {
    PostMessageW(input.main, WM_COMMAND, IdMenuQuit, 0);
    if (!Pump(ms, [&] { return !Running(input); })) return L"fail still running";
    DWORD code = 0;
    GetExitCodeProcess(input.process.hProcess, &code);
    return L"ok exit=" + std::to_wstring(code);
  }
  return L"fail unknown command";
}

std::wstring Dispatch(Varnelo& app, Varnelo& input, const std::string& verb, const std::string& arg) {
  const DWORD ms = static_cast<DWORD>(std::strtoul(arg.c_str(), nullptr, 10));
  for (const char* inputVerb : {"target", "input", "istatus", "typed", "untouched", "iquit"})
    if (verb == inputVerb) return InputDispatch(input, verb, arg);
  if (verb == "start") return app.process.hProcess ? L"fail already started" : Start(app, Widen(arg));
  if (!app.process.hProcess) return L"fail not started";
  if (verb == "dialog") {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(20)) {
      if (HWND box = ErrorBox(app)) return L"ok text=" + AnswerBox(box);
    }
    return L"fail no dialog";
  }
  if (verb == "exit") return WaitExit(app, ms);
  if (!app.main || !Running(app)) return L"fail no window";
  if (verb == "read") return Read(app, ms);
  if (verb == "cmd") return PressCmd(app, ms);
  if (verb == "wait") {
    const size_t space = arg.find(' ');
    if (space == std::string::npos) return L"fail usage: wait found|lost <ms>";
    return WaitEvent(app, arg.substr(0, space), std::strtoul(arg.c_str() + space + 1, nullptr, 10));
  }
  if (verb == "idmonly") {
    HWND box = Control(app, IdIdmOnly);
    SendMessageTimeoutW(box, BM_SETCHECK, arg == "1" ? BST_CHECKED : BST_UNCHECKED, 0, SMTO_NORMAL, 2000, nullptr);
    Click(box);
    return L"ok";
  }
  if (verb == "alive") {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(app.main, WM_NULL, 0, 0, SMTO_NORMAL, ms, &result) ? L"ok" : L"fail not answering";
  }
  if (verb == "rect") {
    RECT frame;
    GetWindowRect(app.main, &frame);
    return L"ok rect=" + std::to_wstring(frame.left) + L"," + std::to_wstring(frame.top) + L"," +
           std::to_wstring(frame.right) + L"," + std::to_wstring(frame.bottom);
  }
  if (verb == "close") {
    PostMessageW(app.main, WM_CLOSE, 0, 0);
    return WaitExit(app, ms);
  }
  return L"fail unknown command";
}

// Standard input is read on a thread of its own, so that the main thread takes its window's
// messages while it waits for the next command.
struct Commands {
  std::mutex mutex;
  std::deque<std::string> lines;
  bool ended = false;
  HANDLE arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

DWORD WINAPI ReadCommands(void* argument) {
  auto* commands = static_cast<Commands*>(argument);
  char line[1024];
  bool more = true;
  while (more) {
    more = std::fgets(line, sizeof line, stdin) != nullptr;
    {
      std::lock_guard<std::mutex> guard(commands->mutex);
      if (more) commands->lines.emplace_back(line);
      commands->ended = !more;
    }
    SetEvent(commands->arrived);
  }
  return 0;
}

bool NextCommand(Commands& commands, std::string& command) {
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(commands.mutex);
      if (!commands.lines.empty()) {
        command = commands.lines.front();
        commands.lines.pop_front();
        return true;
      }
      if (commands.ended) return false;
    }
    MsgWaitForMultipleObjects(1, &commands.arrived, FALSE, INFINITE, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

} // namespace

int main() {
  Varnelo app, input;
  Commands commands;
  HANDLE reader = CreateThread(nullptr, 0, ReadCommands, &commands, 0, nullptr);
  std::string command;
  while (reader && NextCommand(commands, command)) {
    while (!command.empty() && (command.back() == '\n' || command.back() == '\r')) command.pop_back();
    if (command == "quit") break;
    const size_t space = command.find(' ');
    const std::string verb = command.substr(0, space);
    const std::string arg = space == std::string::npos ? std::string() : command.substr(space + 1);
    Answer(Dispatch(app, input, verb, arg));
  }
  for (Varnelo* program : {&app, &input}) {
    if (Running(*program)) {
      TerminateProcess(program->process.hProcess, 1);
      WaitForSingleObject(program->process.hProcess, 5000);
    }
  }
  // The reader thread may still wait for a line: the process ends it.
  return 0;
}
