// varnelo-input as a person meets it: a copy in a folder of its own, started as a process of its
// own over the simulated library, whose reader window the test drives; this test's window, with
// a focused edit field, is the program it types into.
#include <gtest/gtest.h>

#include <windows.h>

#include <imm.h>

#include <functional>
#include <string>
#include <vector>

#include "InputLayout.h"
#include "InputTexts.h"
#include "robot.h"

namespace {

std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:" + std::wstring(unixPath, unixPath + strlen(unixPath));
  for (wchar_t& c : path)
    if (c == L'/')
      c = L'\\';
  return path;
}

using robot::PumpUntil;
void Pump(DWORD ms) { PumpUntil(ms, [] { return false; }); }

std::string ReadAll(const std::wstring& path) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  char buffer[4096];
  DWORD got = 0;
  while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
  return text;
}

void Write(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

// The settings file as text (it is UTF-16 with its byte order mark).
std::wstring ReadSettings(const std::wstring& path) {
  const std::string bytes = ReadAll(path);
  return bytes.size() < 2 ? L"" : std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  while (search != INVALID_HANDLE_VALUE) {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path + L"\\" + name);
      else
        DeleteFileW((path + L"\\" + name).c_str());
    }
    if (!FindNextFileW(search, &found)) {
      FindClose(search);
      break;
    }
  }
  RemoveDirectoryW(path.c_str());
}

// A copy of the program in a folder of its own, with AppData beside it; all removed at the end.
struct Installed {
  std::wstring folder, program, appData;
  explicit Installed(const std::string& settings = "") {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int made = 0;
    folder = std::wstring(temp) + L"varnelo-input-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++made);
    appData = folder + L"\\AppData";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(appData.c_str(), nullptr);
    program = folder + L"\\varnelo-input.exe";
    CopyFileW(WindowsPath(INPUT_EXE).c_str(), program.c_str(), FALSE);
    if (!settings.empty())
      Write(Settings(), settings);
  }
  ~Installed() { RemoveTree(folder); }
  std::wstring Settings() const { return folder + L"\\varnelo-input.ini"; }
};

struct Search {
  DWORD process;
  const wchar_t* className;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->process || robot::ClassName(window) != search->className)
    return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindWindowOf(DWORD process, const wchar_t* className) {
  Search search{process, className, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The running program. The simulated library is on its PATH, and its reader window on screen.
class Input {
public:
  Input(const Installed& at, const wchar_t* arguments, const wchar_t* simWindow = L"1", bool library = true) {
    std::wstring environment;
    for (const wchar_t* entry = GetEnvironmentStringsW(); *entry; entry += wcslen(entry) + 1) {
      std::wstring line = entry;
      if (library && _wcsnicmp(line.c_str(), L"PATH=", 5) == 0)
        line = L"PATH=" + WindowsPath(SIM_DIR) + L";" + line.substr(5);
      if (_wcsnicmp(line.c_str(), L"APPDATA=", 8) != 0)
        environment += line + L'\0';
    }
    environment += L"APPDATA=" + at.appData + L'\0' + L"VARNELO_SIM_WINDOW=" + simWindow + L'\0' + L'\0';
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring command = L"\"" + at.program + L"\" " + arguments;
    if (!CreateProcessW(at.program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), at.folder.c_str(), &startup, &process_))
      return;
    CloseHandle(process_.hThread);
    // Ready once it says what it does: its controls show the settings by then.
    PumpUntil(20000, [&] {
      window_ = FindWindowOf(process_.dwProcessId, kInputWindowClass);
      return (window_ && !Text(IdStatus).empty()) || WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
    });
  }
  ~Input() {
    if (!process_.hProcess)
      return;
    if (!Ended(0)) {
      Command(IdMenuQuit);
      if (!Ended(10000))
        TerminateProcess(process_.hProcess, 99);
    }
    CloseHandle(process_.hProcess);
  }
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  HWND window() const { return window_; }
  DWORD id() const { return process_.dwProcessId; }
  bool Ended(DWORD ms) { return PumpUntil(ms, [&] { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }); }
  DWORD ExitCode() {
    DWORD code = 259;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }
  std::wstring Text(int id) const { return robot::Text(GetDlgItem(window_, id)); }
  bool Checked(int id) const {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(GetDlgItem(window_, id), BM_GETCHECK, 0, 0, SMTO_NORMAL, 2000, &state);
    return state == BST_CHECKED;
  }
  // Sent from the test's thread: it keeps taking what the program sends it meanwhile.
  void Command(int id, int code = 0) {
    SendMessageTimeoutW(window_, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window_, id)),
                        SMTO_NORMAL, 5000, nullptr);
  }
  bool WaitStatus(const ::Text& status, DWORD ms = 5000) {
    return PumpUntil(ms, [&] { return Text(IdStatus) == Say(status); });
  }
  // The simulated reader's window: place a card of a kind, take it away, plug the reader in or out.
  void Reader(int control, int kind = 0) {
    HWND reader = nullptr;
    PumpUntil(10000, [&] { return (reader = FindWindowOf(id(), L"VarneloVirtualReader")) != nullptr; });
    SendMessageTimeoutW(GetDlgItem(reader, 101), CB_SETCURSEL, kind, 0, SMTO_NORMAL, 2000, nullptr);
    SendMessageTimeoutW(reader, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(reader, control)), SMTO_NORMAL, 5000, nullptr);
  }

private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

constexpr int kPlace = 102, kRemove = 103, kPlug = 104;

// A window of this test with a focused multi-line edit field that records each character and the
// open status of its input method at the time. Wine 8's default IME window takes WM_IME_CONTROL
// but does not set the open status; here it does as Windows documents it.
class Target {
public:
  Target() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VarneloInputTarget";
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, wc.lpszClassName, L"input target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 480, 10, 400,
                              200, nullptr, nullptr, wc.hInstance, nullptr);
    edit_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN, 0, 0, 380, 160,
                            window_, nullptr, wc.hInstance, nullptr);
    current_ = this;
    SetWindowLongPtrW(edit_, GWLP_USERDATA, SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Record)));
    ime_ = ImmGetDefaultIMEWnd(edit_);
    imeProc_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(ime_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Ime)));
    Focus();
  }
  ~Target() {
    SetWindowLongPtrW(ime_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(imeProc_));
    DestroyWindow(window_);
    current_ = nullptr;
  }
  bool Focus() {
    SetForegroundWindow(window_);
    SetFocus(edit_);
    return PumpUntil(3000, [&] { return GetForegroundWindow() == window_ && GetFocus() == edit_; });
  }
  std::wstring Text() const { return robot::Text(edit_); }
  HIMC Context() const { return ImmGetContext(edit_); }
  std::string imeWhileTyping; // "1" for a character that came with the input method on, else "0"

private:
  static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (current_ && message == WM_CHAR) {
      HIMC context = ImmGetContext(window);
      current_->imeWhileTyping += ImmGetOpenStatus(context) ? '1' : '0';
      ImmReleaseContext(window, context);
    }
    return CallWindowProcW(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA)), window, message,
                           wParam, lParam);
  }
  static LRESULT CALLBACK Ime(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (current_ && message == WM_IME_CONTROL && (wParam == 5 || wParam == 6)) { // IMC_GET/SETOPENSTATUS
      HIMC context = ImmGetContext(current_->edit_);
      const LRESULT result = wParam == 5 ? ImmGetOpenStatus(context) : !ImmSetOpenStatus(context, lParam != 0);
      ImmReleaseContext(current_->edit_, context);
      return result;
    }
    return CallWindowProcW(current_->imeProc_, window, message, wParam, lParam);
  }
  static inline Target* current_ = nullptr;
  HWND window_ = nullptr, edit_ = nullptr, ime_ = nullptr;
  WNDPROC imeProc_ = nullptr;
};

// Every format on the clipboard with its bytes (memory formats; others by their name only).
std::vector<std::pair<UINT, std::string>> Clipboard() {
  std::vector<std::pair<UINT, std::string>> formats;
  if (!OpenClipboard(nullptr))
    return {{0, "(clipboard not opened)"}};
  for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
    HANDLE data = GetClipboardData(format);
    const void* bytes = format != CF_BITMAP && data ? GlobalLock(data) : nullptr;
    formats.emplace_back(format, bytes ? std::string(static_cast<const char*>(bytes), GlobalSize(data)) : "");
    if (bytes)
      GlobalUnlock(data);
  }
  CloseClipboard();
  return formats;
}

void PutOnClipboard() {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  const wchar_t text[] = L"the user's own text";
  const char bytes[] = {1, 2, 3, 0, static_cast<char>(255)};
  for (auto [format, data, size] : {std::tuple{UINT{CF_UNICODETEXT}, static_cast<const void*>(text), sizeof text},
                                    std::tuple{RegisterClipboardFormatW(L"Varnelo test bytes"),
                                               static_cast<const void*>(bytes), sizeof bytes}}) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    memcpy(GlobalLock(memory), data, size);
    GlobalUnlock(memory);
    SetClipboardData(format, memory);
  }
  CloseClipboard();
}

struct Step {
  int control; // kPlace, kRemove, or 0 for a wait
  int kind;    // the card, or the milliseconds of a wait
  const wchar_t* typed;
};

struct Entry {
  const char* name;
  const char* settings;
  std::vector<Step> steps;
  bool imeOn = false; // the target's input method is on: the keys come with it off, and it is on again after
  std::vector<std::string> csv = {}; // the list's header and each line after its time, when it keeps one
};

void PrintTo(const Entry& entry, std::ostream* os) { *os << entry.name; }

class Entering : public ::testing::TestWithParam<Entry> {};

TEST_P(Entering, EachCardOnceInTheFormWithTheKey) {
  const Entry& entry = GetParam();
  Installed installed;
  const std::wstring list = installed.folder + L"\\cards.csv";
  Write(installed.Settings(), std::string("[varnelo-input]\r\n") + entry.settings +
                                  (entry.csv.empty() ? "" : "CsvFile=\"" + std::string(list.begin(), list.end()) + "\"\r\n"));
  const bool paste = strstr(entry.settings, "Way=paste") != nullptr;
  if (paste)
    PutOnClipboard();
  const auto clipboard = Clipboard();
  Target target;
  Input input(installed, L"/tray");
  ASSERT_TRUE(input.window());
  ASSERT_TRUE(input.WaitStatus(kWaiting, 10000)) << input.Text(IdStatus);
  ASSERT_TRUE(target.Focus());
  if (entry.imeOn) {
    ASSERT_TRUE(ImmSetOpenStatus(target.Context(), TRUE));
    ASSERT_TRUE(ImmGetOpenStatus(target.Context()));
  }
  std::wstring expected;
  for (const Step& step : entry.steps) {
    if (step.control == 0) {
      Pump(static_cast<DWORD>(step.kind));
      continue;
    }
    input.Reader(step.control, step.kind);
    expected += step.typed;
    EXPECT_TRUE(PumpUntil(5000, [&] { return target.Text() == expected; }))
        << "after " << step.control << " " << step.kind << ": " << ::testing::PrintToString(target.Text()) << "\n"
        << ::testing::PrintToString(input.Text(IdLastCard));
    // Long enough for the library's looks and the program's check: a card that stays is entered once.
    Pump(600);
    EXPECT_EQ(target.Text(), expected);
  }
  if (entry.imeOn) {
    EXPECT_EQ(target.imeWhileTyping, std::string(target.imeWhileTyping.size(), '0')) << "every key came with the IME off";
    EXPECT_TRUE(PumpUntil(3000, [&] { return ImmGetOpenStatus(target.Context()) != FALSE; })) << "the IME is on again";
  }
  if (paste) {
    EXPECT_EQ(Clipboard(), clipboard) << "the user's clipboard is as it was, every format";
  }
  if (!entry.csv.empty()) {
    std::vector<std::string> lines;
    const std::string text = ReadAll(list);
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.push_back(lines.empty() ? text.substr(at, end - at) : text.substr(std::min(at + 26, end), end - at - 26));
    EXPECT_EQ(lines, entry.csv) << text;
  }
  input.Command(IdMenuQuit);
  EXPECT_TRUE(input.Ended(10000));
  EXPECT_EQ(input.ExitCode(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, Entering,
    ::testing::Values(
        Entry{"IdmEnterKeys", "", {{kPlace, 0, L"012E4C8A1B3D5F70\r\n"}, {kRemove, 0, L""}, {kPlace, 0, L"012E4C8A1B3D5F70\r\n"}, {kPlace, 1, L"012E4C8A1B3D5F71\r\n"}}},
        Entry{"LowerReversedSeparatorTabPaste", "Form=\"lower,reversed,separator=:\"\r\nThen=tab\r\nWay=paste\r\n",
              {{kPlace, 0, L"70:5f:3d:1b:8a:4c:2e:01\t"}, {kRemove, 0, L""}, {kPlace, 2, L"72:5f:3d:1b:8a:4c:2e:01\t"}}},
        Entry{"DecimalPrefixSuffixNoKey", "Form=\"decimal,prefix=ID-,suffix=;\"\r\nThen=none\r\n",
              {{kPlace, 0, L"ID-85089599012822896;"}, {kPlace, 1, L"ID-85089599012822897;"}},
              false,
              {"time,IDm,repeat,typed", "012E4C8A1B3D5F70,,ID-85089599012822896;", "012E4C8A1B3D5F71,,ID-85089599012822897;"}},
        Entry{"FelicaNumberPasteAndACardWithout", "Form=\"felica-number\"\r\nWay=paste\r\n",
              {{kPlace, 0, L"123456789ABCDEF0\r\n"}, {kPlace, 1, L""}, {kPlace, 0, L"123456789ABCDEF0\r\n"}}},
        Entry{"SameCardWithinTwoSeconds", "SameCardSeconds=2\r\n",
              {{kPlace, 0, L"012E4C8A1B3D5F70\r\n"}, {kRemove, 0, L""}, {kPlace, 0, L""}, {kPlace, 1, L"012E4C8A1B3D5F71\r\n"},
               {0, 1500, L""}, {kRemove, 0, L""}, {kPlace, 0, L"012E4C8A1B3D5F70\r\n"}},
              false,
              {"time,IDm,repeat", "012E4C8A1B3D5F70,", "012E4C8A1B3D5F70,repeat", "012E4C8A1B3D5F71,",
               "012E4C8A1B3D5F70,repeat"}},
        Entry{"InputMethodOnInTheTarget", "", {{kPlace, 0, L"012E4C8A1B3D5F70\r\n"}}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InputProgram, NothingGoesIntoItsOwnWindow) {
  Installed installed;
  Target target;
  Input input(installed, L"");
  ASSERT_TRUE(input.WaitStatus(kWaiting, 10000));
  SetForegroundWindow(input.window());
  ASSERT_TRUE(PumpUntil(3000, [&] { return GetForegroundWindow() == input.window(); }));
  input.Reader(kPlace, 0);
  EXPECT_TRUE(PumpUntil(5000, [&] { return input.Text(IdLastCard).starts_with(Say(kOwnWindow)); }))
      << ::testing::PrintToString(input.Text(IdLastCard));
  EXPECT_EQ(input.Text(IdSeparator), L"") << "none of its own fields took the ID";
  EXPECT_EQ(target.Text(), L"");
}

// No reader at the start, then plugged in, out and in again: it says each at once, goes on by
// itself, and shows no dialog.
TEST(InputProgram, WaitsForTheReaderAndGoesOnByItself) {
  Installed installed;
  Target target;
  Input input(installed, L"/tray", L"unplugged");
  ASSERT_TRUE(input.window());
  EXPECT_TRUE(input.WaitStatus(kNoReader)) << input.Text(IdStatus);
  input.Reader(kPlug);
  EXPECT_TRUE(input.WaitStatus(kWaiting)) << input.Text(IdStatus);
  EXPECT_EQ(input.Text(IdLastCard), Say(kReaderBack));
  ASSERT_TRUE(target.Focus());
  input.Reader(kPlace, 0);
  EXPECT_TRUE(PumpUntil(5000, [&] { return target.Text() == L"012E4C8A1B3D5F70\r\n"; }));
  input.Reader(kPlug);
  EXPECT_TRUE(input.WaitStatus(kReaderGone)) << input.Text(IdStatus);
  input.Reader(kPlug);
  EXPECT_TRUE(input.WaitStatus(kWaiting)) << input.Text(IdStatus);
  input.Reader(kRemove);
  input.Reader(kPlace, 1);
  EXPECT_TRUE(PumpUntil(5000, [&] { return target.Text() == L"012E4C8A1B3D5F70\r\n012E4C8A1B3D5F71\r\n"; }));
  EXPECT_EQ(FindWindowOf(input.id(), L"#32770"), nullptr) << "no dialog on the way";
}

TEST(InputProgram, WithoutTheLibrarySaysSoWithTheDetailOnRequest) {
  Installed installed;
  Input input(installed, L"", L"1", false);
  EXPECT_TRUE(input.WaitStatus(kNoLibrary)) << input.Text(IdStatus);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(input.window(), IdDetails)));
  EXPECT_EQ(FindWindowOf(input.id(), L"#32770"), nullptr);
}

// Settings from the file: each bad value named once and replaced by its default; a folder that
// takes no file sends them to AppData.
TEST(InputSettings, DamagedBadAndUnwritable) {
  struct Case {
    const char* name;
    std::string file;
    bool blocked; // the program's folder cannot take the new file a save writes first
    const Text& note;
    const wchar_t* named; // what the note names
    int then;             // the button chosen
  };
  const Case cases[] = {
      {"good", "[varnelo-input]\r\nThen=tab\r\n", false, kSettingsFile, L"\\varnelo-input.ini", IdThenTab},
      {"damaged", std::string("\x00\xFF\x13garbage\x01", 12), false, kSettingsUnreadable, L"\\varnelo-input.ini", IdThenEnter},
      {"bad values", "[varnelo-input]\r\nThen=sideways\r\nSameCardSeconds=-3\r\nForm=decimal,separator=:\r\nWay=paste\r\n",
       false, kSettingsBad, L"Form=decimal,separator=:, Then=sideways, SameCardSeconds=-3", IdThenEnter},
      {"unwritable folder", "", true, kSettingsFile, L"\\AppData\\Varnelo\\varnelo-input.ini", IdThenEnter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installed installed(c.file);
    if (c.blocked)
      CreateDirectoryW((installed.Settings() + L".new").c_str(), nullptr);
    Input input(installed, L"/tray");
    ASSERT_TRUE(input.window());
    const std::wstring note = input.Text(IdSettingsNote);
    EXPECT_TRUE(note.starts_with(Say(c.note))) << ::testing::PrintToString(note);
    EXPECT_NE(note.find(c.named), std::wstring::npos) << ::testing::PrintToString(note);
    EXPECT_TRUE(input.Checked(c.then));
    if (c.note.english == kSettingsBad.english) {
      EXPECT_TRUE(input.Checked(IdWayPaste)) << "a good key stays";
    }
    if (c.blocked) {
      input.Command(IdThenNone, BN_CLICKED);
      const std::wstring saved = installed.appData + L"\\Varnelo\\varnelo-input.ini";
      EXPECT_TRUE(PumpUntil(3000, [&] { return ReadSettings(saved).find(L"Then=none") != std::wstring::npos; }));
    }
  }
}

// A change in the window is in the file at once, and the next start shows it.
TEST(InputSettings, RoundTrip) {
  Installed installed;
  {
    Input input(installed, L"/tray");
    ASSERT_TRUE(input.window());
    input.Command(IdThenTab, BN_CLICKED);
    SendMessageTimeoutW(GetDlgItem(input.window(), IdPrefix), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"ID "),
                        SMTO_NORMAL, 2000, nullptr);
    EXPECT_TRUE(PumpUntil(3000, [&] {
      const std::wstring text = ReadSettings(installed.Settings());
      return text.find(L"Then=tab") != std::wstring::npos && text.find(L"Form=\"prefix=ID \"") != std::wstring::npos;
    })) << ::testing::PrintToString(ReadSettings(installed.Settings()));
    EXPECT_EQ(input.Text(IdExample), L"ID 0114B35E9C2A7DF6") << "the example follows the form";
  }
  Input again(installed, L"/tray");
  ASSERT_TRUE(again.window());
  EXPECT_TRUE(again.Checked(IdThenTab));
  EXPECT_FALSE(again.Checked(IdThenEnter));
  EXPECT_EQ(again.Text(IdPrefix), L"ID ");
  EXPECT_TRUE(again.Text(IdSettingsNote).starts_with(Say(kSettingsFile)));
}

std::wstring RunValue() {
  wchar_t value[MAX_PATH + 32] = L"";
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Varnelo Input",
                   RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return L"(none)";
  return value;
}

TEST(InputProgram, StartWithWindowsIsTheUsersRunValue) {
  Installed installed;
  Input input(installed, L"/tray");
  ASSERT_TRUE(input.window());
  ASSERT_EQ(RunValue(), L"(none)");
  for (bool on : {true, false}) {
    SendMessageTimeoutW(GetDlgItem(input.window(), IdStartWithWindows), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED,
                        0, SMTO_NORMAL, 2000, nullptr);
    input.Command(IdStartWithWindows, BN_CLICKED);
    EXPECT_EQ(RunValue(), on ? L"\"" + installed.program + L"\" /tray" : L"(none)");
  }
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Varnelo Input");
}

// Closing keeps it in the notification area; a second start only brings the first forward; Quit ends it.
TEST(InputProgram, OneInstanceStaysWhenClosedAndQuitsFromItsMenu) {
  Installed installed;
  Input first(installed, L"/tray");
  ASSERT_TRUE(first.window());
  EXPECT_FALSE(IsWindowVisible(first.window())) << "started for the notification area";
  {
    Input second(installed, L"");
    EXPECT_TRUE(second.Ended(10000));
    EXPECT_EQ(second.ExitCode(), 0u);
  }
  EXPECT_TRUE(PumpUntil(3000, [&] { return IsWindowVisible(first.window()) != FALSE; })) << "the first came forward";
  PostMessageW(first.window(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(PumpUntil(3000, [&] { return !IsWindowVisible(first.window()); }));
  EXPECT_FALSE(first.Ended(500)) << "closing the window keeps the program";
  first.Command(IdMenuShow);
  EXPECT_TRUE(IsWindowVisible(first.window()));
  first.Command(IdMenuQuit);
  EXPECT_TRUE(first.Ended(10000));
  EXPECT_EQ(first.ExitCode(), 0u);
}

} // namespace
