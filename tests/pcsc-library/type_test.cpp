// varnelo-reader over the stand-in service, as a process of its own under Wine: `type` puts each
// arriving card's IDm, and the chosen key, into the focused edit control of this test's window
// through real keyboard input; `--csv` keeps the list across a stop in the middle.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "robot.h"

namespace {

constexpr char kIdm70[] = "012E4C8A1B3D5F70";
constexpr char kIdm71[] = "012E4C8A1B3D5F71";
constexpr char kIdm72[] = "012E4C8A1B3D5F72";

using robot::PumpUntil;

std::wstring Here(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, length);
  return text.substr(0, text.find_last_of(L'\\') + 1) + name;
}

// The tool as a child process: its standard input plays the reader; its output is collected.
class Tool {
public:
  explicit Tool(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE inRead, outWrite, errWrite;
    CreatePipe(&inRead, &input_, &inherit, 0);
    CreatePipe(&output_, &outWrite, &inherit, 0);
    CreatePipe(&errors_, &errWrite, &inherit, 0);
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errors_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    const std::wstring exe = Here(L"varnelo-reader-standin.exe");
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    started_ = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE,
                              0, nullptr, nullptr, &startup, &process_);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (started_) {
      CloseHandle(process_.hThread);
      outReader_ = std::thread([this] { Collect(output_, out_); });
      errReader_ = std::thread([this] { Collect(errors_, err_); });
    }
  }
  ~Tool() {
    if (started_) {
      Kill();
      outReader_.join();
      errReader_.join();
      CloseHandle(process_.hProcess);
    }
    CloseHandle(input_);
    CloseHandle(output_);
    CloseHandle(errors_);
  }
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  bool started() const { return started_; }
  DWORD id() const { return process_.dwProcessId; }
  void Send(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  // The next line of standard output, pumping messages while waiting.
  std::optional<std::string> Next(DWORD ms) {
    std::optional<std::string> line;
    PumpUntil(ms, [&] {
      std::lock_guard<std::mutex> guard(mutex_);
      const size_t end = out_.find('\n', read_);
      if (end == std::string::npos)
        return false;
      line = out_.substr(read_, end - read_);
      if (!line->empty() && line->back() == '\r')
        line->pop_back();
      read_ = end + 1;
      return true;
    });
    return line;
  }
  std::string Errors() {
    std::lock_guard<std::mutex> guard(mutex_);
    return err_;
  }
  // Ends it the hard way, as a power cut or the task manager would.
  void Kill() {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 5000);
  }
  // Ctrl+C on the console it shares with this test (see ShareAConsole); its exit code once it
  // has ended within ms, else nothing.
  std::optional<DWORD> Interrupt(DWORD ms) {
    SetConsoleCtrlHandler(nullptr, TRUE); // this test stays
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
      return std::nullopt;
    if (!PumpUntil(ms, [&] { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }))
      return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

private:
  void Collect(HANDLE pipe, std::string& into) {
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      std::lock_guard<std::mutex> guard(mutex_);
      into.append(buffer, got);
    }
  }

  bool started_ = false;
  PROCESS_INFORMATION process_{};
  HANDLE input_ = nullptr, output_ = nullptr, errors_ = nullptr;
  std::thread outReader_, errReader_;
  std::mutex mutex_;
  std::string out_, err_;
  size_t read_ = 0;
};

// A console of this test's own for the tool to share, so that Ctrl+C can reach it. Its window
// comes up with the foreground: made before the test's window, which then takes it.
HWND ShareAConsole() {
  FreeConsole();
  if (!AllocConsole())
    return nullptr;
  PumpUntil(2000, [] { return GetConsoleWindow() && GetForegroundWindow() == GetConsoleWindow(); });
  return GetConsoleWindow();
}

// A window of this process with a focused multi-line edit control that records what reaches
// it: each character, and each key other than the Unicode packets that carry characters.
class Target {
public:
  Target() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VarneloTypeTarget";
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, wc.lpszClassName, L"type target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 500,
                              200, nullptr, nullptr, wc.hInstance, nullptr);
    edit_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL,
                            0, 0, 480, 160, window_, nullptr, wc.hInstance, nullptr);
    current_ = this;
    SetWindowLongPtrW(edit_, GWLP_USERDATA, SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Record)));
    SetForegroundWindow(window_);
    SetFocus(edit_);
    PumpUntil(2000, [&] { return GetForegroundWindow() == window_ && GetFocus() == edit_; });
  }
  ~Target() {
    DestroyWindow(window_);
    current_ = nullptr;
  }
  HWND window() const { return window_; }
  bool Ready() const { return GetForegroundWindow() == window_ && GetFocus() == edit_; }
  std::string seen() const { return seen_; }
  std::wstring Text() const {
    wchar_t text[1024] = {};
    SendMessageW(edit_, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
  }

private:
  static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (current_ && message == WM_KEYDOWN && wParam != VK_PACKET) {
      current_->seen_ += wParam == VK_RETURN ? "<Enter>" : wParam == VK_TAB ? "<Tab>" : "<key " + std::to_string(wParam) + ">";
    } else if (current_ && message == WM_CHAR && wParam >= 0x20) {
      current_->seen_ += wParam < 0x80 ? static_cast<char>(wParam) : '?';
    }
    return CallWindowProcW(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA)), window, message, wParam,
                           lParam);
  }

  static inline Target* current_ = nullptr;
  HWND window_ = nullptr, edit_ = nullptr;
  std::string seen_;
};

struct Then {
  const char* name;
  std::string key;   // as the edit control's recorder shows it
  std::wstring text; // what the key leaves in a multi-line edit control
};

void PrintTo(const Then& then, std::ostream* os) { *os << then.name; }

class TypeInto : public ::testing::TestWithParam<Then> {};

TEST_P(TypeInto, EachArrivalOnceWithTheChosenKey) {
  const Then& then = GetParam();
  ASSERT_TRUE(ShareAConsole());
  Target target;
  ASSERT_TRUE(target.Ready()) << "the test window has the foreground and the edit control the focus";
  Tool tool(L"type --reader \"00 00\" --then " + std::wstring(then.name, then.name + strlen(then.name)));
  ASSERT_TRUE(tool.started());
  tool.Send("reader Test Reader 00 00");
  ASSERT_TRUE(PumpUntil(5000, [&] { return tool.Errors().find("Ctrl+C") != std::string::npos; }))
      << "says it waits and how to stop: " << tool.Errors();

  std::string expected;
  std::wstring expectedText;
  struct Step {
    const char* command;
    std::vector<std::string> lines;
    const char* typed; // the IDm it types, or none
  };
  const Step steps[] = {
      {"place 70", {std::string("found card=felica IDm=") + kIdm70}, kIdm70},
      {"remove", {"lost"}, nullptr},
      {"place 70", {std::string("found card=felica IDm=") + kIdm70}, kIdm70}, // the same card again
      {"place 71", {"lost", std::string("found card=felica IDm=") + kIdm71}, kIdm71}, // replaced without a gap
  };
  for (const Step& step : steps) {
    tool.Send(step.command);
    for (const std::string& line : step.lines)
      EXPECT_EQ(tool.Next(5000).value_or("(nothing)"), line) << step.command;
    if (step.typed) {
      expected += step.typed + then.key;
      expectedText += std::wstring(step.typed, step.typed + 16) + then.text;
    }
    EXPECT_TRUE(PumpUntil(3000, [&] { return target.seen() == expected; }))
        << "after " << step.command << ": " << target.seen() << "\n" << tool.Errors();
    // Long enough for several looks at the reader: a card that stays is not typed again.
    PumpUntil(700, [] { return false; });
    EXPECT_EQ(target.seen(), expected) << "after " << step.command;
  }
  EXPECT_EQ(target.Text(), expectedText);
  EXPECT_EQ(tool.Interrupt(5000).value_or(12345), 0u) << "Ctrl+C ends it cleanly";
  EXPECT_EQ(target.seen(), expected) << "nothing typed on the way out";
  EXPECT_EQ(tool.Errors().find("wine: "), std::string::npos) << tool.Errors();
}

TEST(TypeIntoOwnConsole, NothingTypedAndSaysWhy) {
  const HWND console = ShareAConsole();
  ASSERT_TRUE(console);
  Target target;
  SetForegroundWindow(console);
  ASSERT_TRUE(PumpUntil(2000, [&] { return GetForegroundWindow() == console; }));
  Tool tool(L"type");
  ASSERT_TRUE(tool.started());
  tool.Send("reader Test Reader 00 00");
  tool.Send("place 70");
  EXPECT_EQ(tool.Next(5000).value_or("(nothing)"), std::string("found card=felica IDm=") + kIdm70);
  // What it typed there would reach the shell once the tool ends.
  EXPECT_NE(tool.Errors().find("this console has the focus"), std::string::npos) << tool.Errors();
  SetForegroundWindow(target.window());
  PumpUntil(500, [] { return false; });
  EXPECT_EQ(target.seen(), "");
  EXPECT_EQ(tool.Interrupt(5000).value_or(12345), 0u);
}

// With no reader, watch and type say so at once, go on waiting, say when one is plugged in and
// read its cards; Ctrl+C still ends them with 0.
class NoReader : public ::testing::TestWithParam<const char*> {};

TEST_P(NoReader, SaidAtOnceThenItsArrival) {
  ASSERT_TRUE(ShareAConsole());
  Tool tool(std::wstring(GetParam(), GetParam() + strlen(GetParam())));
  ASSERT_TRUE(tool.started());
  auto said = [&](const char* text) {
    return PumpUntil(5000, [&] { return tool.Errors().find(text) != std::string::npos; });
  };
  EXPECT_TRUE(said("No reader is connected.")) << tool.Errors();
  EXPECT_EQ(tool.Errors().find("Reader connected:"), std::string::npos) << tool.Errors();
  tool.Send("reader Test Reader 00 00");
  EXPECT_TRUE(said("Reader connected: Test Reader 00 00")) << tool.Errors();
  tool.Send("place 70");
  EXPECT_EQ(tool.Next(5000).value_or("(nothing)"), std::string("found card=felica IDm=") + kIdm70);
  EXPECT_EQ(tool.Interrupt(5000).value_or(12345), 0u) << "Ctrl+C ends it cleanly";
  EXPECT_EQ(tool.Errors().find("wine: "), std::string::npos) << tool.Errors();
}

INSTANTIATE_TEST_SUITE_P(Commands, NoReader, ::testing::Values("watch", "type"),
                         [](const auto& info) { return std::string(info.param); });

// The form asked for, the FeliCa number read anew for each card; without one nothing is typed.
TEST(TypeForm, EachCardInTheFormAskedFor) {
  ASSERT_TRUE(ShareAConsole());
  struct Case {
    const wchar_t* form;
    const char* place;
    std::string found; // the watch line's form, after the IDm
    std::string typed;
  };
  const Case cases[] = {
      {L"decimal,reversed", "place 70", " ID=8097257843529100801", "8097257843529100801"},
      {L"lower,separator=:", "place 71", " ID=01:2e:4c:8a:1b:3d:5f:71", "01:2e:4c:8a:1b:3d:5f:71"},
      {L"felica-number,prefix=N", "place 70", " ID=N123456789ABCDEF0", "N123456789ABCDEF0"},
      {L"felica-number", "place-plain 70", "", ""},
  };
  for (const Case& c : cases) {
    Target target;
    ASSERT_TRUE(target.Ready());
    Tool tool(L"type --reader \"00 00\" --then none --format " + std::wstring(c.form));
    ASSERT_TRUE(tool.started());
    tool.Send("reader Test Reader 00 00");
    tool.Send(c.place);
    const std::string idm = std::string(c.place).ends_with("71") ? kIdm71 : kIdm70;
    EXPECT_EQ(tool.Next(5000).value_or("(nothing)"), "found card=felica IDm=" + idm + c.found);
    if (c.typed.empty())
      EXPECT_TRUE(PumpUntil(3000, [&] { return tool.Errors().find("no FeliCa number") != std::string::npos; }))
          << tool.Errors();
    else
      EXPECT_TRUE(PumpUntil(3000, [&] { return target.seen() == c.typed; })) << target.seen() << "\n" << tool.Errors();
    PumpUntil(300, [] { return false; });
    EXPECT_EQ(target.seen(), c.typed) << c.place;
    EXPECT_EQ(tool.Errors().find("wine: "), std::string::npos) << tool.Errors();
  }
}

INSTANTIATE_TEST_SUITE_P(Then, TypeInto,
                         ::testing::Values(Then{"enter", "<Enter>", L"\r\n"}, Then{"tab", "<Tab>", L"\t"},
                                           Then{"none", "", L""}),
                         [](const auto& info) { return std::string(info.param.name); });

// The file as another program sees it while the tool may still write: shared for reading and writing.
std::string ReadShared(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return "(cannot open: " + std::to_string(GetLastError()) + ")";
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  CloseHandle(file);
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  if (at < text.size())
    lines.push_back(text.substr(at) + "(no line end)");
  return lines;
}

uint64_t UtcNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

// The instant a "time" column names, in UTC file-time ticks, or 0 when it is not
// YYYY-MM-DDTHH:MM:SS+HH:MM (or -HH:MM).
uint64_t InstantOf(const std::string& time) {
  SYSTEMTIME local{};
  int year, month, day, hour, minute, second, offsetHours, offsetMinutes, used = 0;
  char sign = 0;
  if (time.size() != 25 || std::sscanf(time.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d%n", &year, &month, &day, &hour,
                                       &minute, &second, &sign, &offsetHours, &offsetMinutes, &used) != 9 ||
      used != 25 || (sign != '+' && sign != '-'))
    return 0;
  local.wYear = static_cast<WORD>(year);
  local.wMonth = static_cast<WORD>(month);
  local.wDay = static_cast<WORD>(day);
  local.wHour = static_cast<WORD>(hour);
  local.wMinute = static_cast<WORD>(minute);
  local.wSecond = static_cast<WORD>(second);
  FILETIME file;
  if (!SystemTimeToFileTime(&local, &file))
    return 0;
  const int64_t offset = (sign == '-' ? -1 : 1) * (offsetHours * 60 + offsetMinutes) * 600000000LL;
  return (static_cast<uint64_t>(file.dwHighDateTime) << 32 | file.dwLowDateTime) - offset;
}

struct CardStep {
  const char* command;
  std::vector<std::string> lines;
};

void Play(Tool& tool, const std::vector<CardStep>& steps) {
  for (const CardStep& step : steps) {
    tool.Send(step.command);
    for (const std::string& line : step.lines)
      EXPECT_EQ(tool.Next(5000).value_or("(nothing)"), line) << step.command;
  }
}

// FeliCa IDms only; with --any-card other cards' UIDs too, never one made up anew at each touch.
class TypeAnyCard : public ::testing::TestWithParam<bool> {};

TEST_P(TypeAnyCard, OtherCardsOnlyWhenAsked) {
  const bool any = GetParam();
  ASSERT_TRUE(ShareAConsole());
  Target target;
  ASSERT_TRUE(target.Ready());
  Tool tool(any ? L"type --then tab --any-card" : L"type --then tab");
  ASSERT_TRUE(tool.started());
  tool.Send("reader Test Reader 00 00");
  Play(tool, {{"place-a 04A1B2C3", {"found card=iso14443a UID=04A1B2C3"}},
              {"place-a 08A1B2C3", {"lost", "found card=iso14443a UID=08A1B2C3 random=yes"}},
              {"place 70", {"lost", std::string("found card=felica IDm=") + kIdm70}}});
  const std::string expected = (any ? "04A1B2C3<Tab>" : "") + std::string(kIdm70) + "<Tab>";
  EXPECT_TRUE(PumpUntil(3000, [&] { return target.seen() == expected; })) << target.seen() << "\n" << tool.Errors();
  // Each card that is not typed is named on standard error, with the reason.
  EXPECT_NE(tool.Errors().find(any ? "changes at every touch" : "Add --any-card"), std::string::npos) << tool.Errors();
  EXPECT_EQ(tool.Interrupt(5000).value_or(12345), 0u);
  EXPECT_EQ(target.seen(), expected) << "nothing typed on the way out";
}

INSTANTIATE_TEST_SUITE_P(Option, TypeAnyCard, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "AnyCard" : "FelicaOnly"); });

TEST(CardList, EveryLineKeptThroughAStopInTheMiddle) {
  ASSERT_TRUE(ShareAConsole());
  Target target; // for the typing of the first run
  const std::wstring path = Here(L"cards-under-test.csv");
  DeleteFileW(path.c_str());
  const std::string found70 = std::string("found card=felica IDm=") + kIdm70, found71 = std::string("found card=felica IDm=") + kIdm71,
                    found72 = std::string("found card=felica IDm=") + kIdm72;
  const uint64_t start = UtcNow();
  {
    Tool tool(L"type --then none --csv \"" + path + L"\"");
    ASSERT_TRUE(tool.started());
    tool.Send("reader Test Reader 00 00");
    Play(tool, {{"place 70", {found70}}, {"place 71", {"lost", found71}}, {"remove", {"lost"}}, {"place 70", {found70}}});
    // Each line is in the file as soon as its card is, for a program that reads it meanwhile.
    EXPECT_TRUE(PumpUntil(2000, [&] { return SplitLines(ReadShared(path)).size() == 4; })) << ReadShared(path);
    tool.Kill();
    EXPECT_EQ(tool.Errors().find("wine: "), std::string::npos) << tool.Errors();
  }
  // As if the power had gone in the middle of a line an earlier run wrote.
  const std::string cut = "2026-12-09T10:15:30+09:00,012E4C";
  {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, cut.data(), static_cast<DWORD>(cut.size()), &written, nullptr);
    CloseHandle(file);
  }
  {
    Tool tool(L"watch --beep --csv \"" + path + L"\"");
    ASSERT_TRUE(tool.started());
    tool.Send("reader Test Reader 00 00");
    Play(tool, {{"place 72", {found72}}, {"place 70", {"lost", found70}}, {"place 72", {"lost", found72}}});
    EXPECT_EQ(tool.Interrupt(5000).value_or(12345), 0u) << "Ctrl+C ends it cleanly";
    EXPECT_EQ(tool.Errors().find("wine: "), std::string::npos) << tool.Errors();
  }
  const uint64_t end = UtcNow();

  const std::vector<std::string> lines = SplitLines(ReadShared(path));
  // Each line after its time.
  const std::vector<std::string> rest = {
      std::string(",") + kIdm70 + ",", std::string(",") + kIdm71 + ",", std::string(",") + kIdm70 + ",repeat",
      "", // the cut line, kept as it was
      std::string(",") + kIdm72 + ",", std::string(",") + kIdm70 + ",", std::string(",") + kIdm72 + ",repeat",
  };
  ASSERT_EQ(lines.size(), 1 + rest.size()) << ReadShared(path);
  EXPECT_EQ(lines[0], "time,IDm,repeat") << "one header, from the first run";
  EXPECT_EQ(lines[4], cut) << "the cut line stays; the next run starts on a line of its own";
  for (size_t i = 0; i < rest.size(); ++i) {
    if (i == 3)
      continue;
    const std::string& line = lines[i + 1];
    const uint64_t at = InstantOf(line.substr(0, 25));
    EXPECT_NE(at, 0u) << "local time with its offset: " << line;
    EXPECT_EQ(line.substr(19, 6), "+09:00") << line;
    // Whole seconds in the file: allow the second the run started in.
    EXPECT_TRUE(at + 10000000 >= start && at <= end) << line;
    EXPECT_EQ(line.substr(std::min<size_t>(25, line.size())), rest[i]) << "line " << i + 1;
  }
  // The file stays in the build for a look, until the next run.
}

} // namespace
