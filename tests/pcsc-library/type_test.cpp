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

namespace {

constexpr char kIdm70[] = "012E4C8A1B3D5F70";
constexpr char kIdm71[] = "012E4C8A1B3D5F71";
constexpr char kIdm72[] = "012E4C8A1B3D5F72";

// Dispatches this thread's messages (keyboard input included) until done or ms have passed.
bool PumpUntil(DWORD ms, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start >= ms)
      return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

std::wstring Here(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, length);
  return text.substr(0, text.find_last_of(L'\\') + 1) + name;
}

// The tool as a child process: its standard input plays the reader; its output is collected.
class Tool {
public:
  explicit Tool(const std::wstring& arguments, bool ownGroup = false) {
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
                              ownGroup ? CREATE_NEW_PROCESS_GROUP : 0, nullptr, nullptr, &startup, &process_);
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
  // Its exit code once it has ended within ms, else nothing.
  std::optional<DWORD> Ended(DWORD ms) {
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

class TypeInto : public ::testing::TestWithParam<Then> {};

TEST_P(TypeInto, EachArrivalOnceWithTheChosenKey) {
  const Then& then = GetParam();
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
      {"place 70", {std::string("found IDm=") + kIdm70}, kIdm70},
      {"remove", {"lost"}, nullptr},
      {"place 70", {std::string("found IDm=") + kIdm70}, kIdm70}, // the same card again
      {"place 71", {"lost", std::string("found IDm=") + kIdm71}, kIdm71}, // replaced without a gap
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
        << "after " << step.command << ": " << target.seen();
    // Long enough for several looks at the reader: a card that stays is not typed again.
    PumpUntil(700, [] { return false; });
    EXPECT_EQ(target.seen(), expected) << "after " << step.command;
  }
  EXPECT_EQ(target.Text(), expectedText);
  EXPECT_EQ(tool.Errors().find("wine: "), std::string::npos) << tool.Errors();
}

INSTANTIATE_TEST_SUITE_P(Then, TypeInto,
                         ::testing::Values(Then{"enter", "<Enter>", L"\r\n"}, Then{"tab", "<Tab>", L"\t"},
                                           Then{"none", "", L""}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
