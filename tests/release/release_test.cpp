// The shipped binaries as a person meets them: what Explorer's Properties show, and
// varnelo-reader.exe started in a folder of its own, as the release lays it out.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "varnelo_version.h"

namespace {

std::wstring Wide(const char* text) {
  std::wstring out(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), static_cast<int>(out.size()));
  out.pop_back();
  return out;
}

// The build's paths are Unix ones; Wine's Z: drive is the Unix root.
std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:" + Wide(unixPath);
  for (wchar_t& c : path)
    if (c == L'/')
      c = L'\\';
  return path;
}

std::wstring VersionString(const std::vector<char>& info, const wchar_t* name) {
  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  UINT size = 0;
  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size))
    return L"(no translation)";
  wchar_t query[96];
  swprintf(query, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language, translation->codePage, name);
  wchar_t* value = nullptr;
  if (!VerQueryValueW(info.data(), query, reinterpret_cast<void**>(&value), &size))
    return L"(missing)";
  return std::wstring(value, wcsnlen(value, size));
}

struct Binary {
  const char* path;
  const wchar_t* fileName;
  const wchar_t* describedAs; // a part of its description that tells it from the others
  DWORD fileType;
  bool icon = false;
};

TEST(Release, EachBinaryCarriesItsVersionInformation) {
  const Binary binaries[] = {
      {VARNELO_EXE, L"varnelo.exe", L"IDm", VFT_APP, true},
      {READER_EXE, L"varnelo-reader.exe", L"console tool", VFT_APP},
      {OUR_LIBRARY, L"felica_for_vb.dll", L"Varnelo's PC/SC reader library", VFT_DLL},
      {INPUT_EXE, L"varnelo-input.exe", L"types each", VFT_APP, true},
  };
  const std::wstring version = Wide(VARNELO_VERSION_TEXT);
  std::vector<std::wstring> descriptions;
  for (const Binary& binary : binaries) {
    SCOPED_TRACE(binary.path);
    const std::wstring path = WindowsPath(binary.path);
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(VARNELO_VERSION_MINOR, VARNELO_VERSION_MAJOR)));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType, binary.fileType);
    EXPECT_EQ(VersionString(info, L"ProductName"), L"Varnelo");
    EXPECT_EQ(VersionString(info, L"FileVersion"), version);
    EXPECT_EQ(VersionString(info, L"ProductVersion"), version);
    EXPECT_EQ(VersionString(info, L"OriginalFilename"), binary.fileName);
    const std::wstring copyright = VersionString(info, L"LegalCopyright");
    EXPECT_NE(copyright.find(L"Copyright (c) 2026 Varnelo developers"), std::wstring::npos) << copyright;
    EXPECT_NE(copyright.find(L"MIT License"), std::wstring::npos) << copyright;
    descriptions.push_back(VersionString(info, L"FileDescription"));
    EXPECT_NE(descriptions.back().find(binary.describedAs), std::wstring::npos) << descriptions.back();
    HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_EQ(image && FindResourceW(image, MAKEINTRESOURCEW(1), RT_GROUP_ICON), binary.icon) << "an icon for a window";
    if (image)
      FreeLibrary(image);
  }
  EXPECT_NE(descriptions[0], descriptions[1]);
  EXPECT_NE(descriptions[1], descriptions[2]);
  EXPECT_NE(descriptions[0], descriptions[3]);
}

// A folder of its own under the temporary folder, removed with what it holds.
class Folder {
public:
  explicit Folder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"varnelo-release-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~Folder() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileW((path_ + L"\\" + found.cFileName).c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(path_.c_str());
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const wchar_t* name) const { return path_ + L"\\" + name; }

private:
  std::wstring path_;
};

struct ToolRun {
  DWORD exitCode = 259;
  std::string out, err;
};

std::string ReadAll(const std::wstring& path) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// Runs the tool with its standard output and error redirected to files, bounded to 30 s. An
// extra PATH entry goes in front of the inherited PATH.
ToolRun RunTool(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workingFolder,
            const std::wstring& pathFront = L"") {
  Folder outputs(L"output");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const std::wstring outPath = outputs / L"out", errPath = outputs / L"err";
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  std::wstring environment;
  for (const wchar_t* entry = GetEnvironmentStringsW(); *entry; entry += wcslen(entry) + 1) {
    std::wstring line = entry;
    if (!pathFront.empty() && _wcsnicmp(line.c_str(), L"PATH=", 5) == 0)
      line = L"PATH=" + pathFront + L";" + line.substr(5);
    environment += line + L'\0';
  }
  environment += L'\0';
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  ToolRun run;
  if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                     environment.data(), workingFolder.c_str(), &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0)
      TerminateProcess(process.hProcess, 258);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out);
  CloseHandle(err);
  run.out = ReadAll(outPath);
  run.err = ReadAll(errPath);
  return run;
}

std::string Utf8(const std::wstring& text) {
  std::string out(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  out.pop_back();
  return out;
}

// Where a felica_for_vb.dll lies, and what the tool must say about it: Varnelo's own search order
// (its folder, the system folders, PATH) and never the current directory.
TEST(ReaderTool, SaysWhichReaderLibraryVarneloWouldLoadAndWhetherItIsOurs) {
  enum Place { Nowhere, BesideOurs, BesideForeign, OnPathOurs, CurrentDirectoryOnly, BesideOursAndForeignOnPath };
  struct Case {
    const char* name;
    Place place;
    const char* expected; // the line, with @APP@ and @PATH@ for the two folders; empty: exit 1
  };
  const Case cases[] = {
      {"none anywhere", Nowhere, "library=none\r\n"},
      {"ours beside the program", BesideOurs, "library=@APP@\\felica_for_vb.dll ours=yes version=" VARNELO_VERSION_TEXT "\r\n"},
      {"another of the same name beside it", BesideForeign, "library=@APP@\\felica_for_vb.dll ours=no version=none\r\n"},
      {"ours on PATH", OnPathOurs, "library=@PATH@\\felica_for_vb.dll ours=yes version=" VARNELO_VERSION_TEXT "\r\n"},
      {"only in the current directory", CurrentDirectoryOnly, "library=none\r\n"},
      {"beside wins over PATH", BesideOursAndForeignOnPath,
       "library=@APP@\\felica_for_vb.dll ours=yes version=" VARNELO_VERSION_TEXT "\r\n"},
  };
  const std::wstring ours = WindowsPath(OUR_LIBRARY), foreign = WindowsPath(FOREIGN_LIBRARY);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Folder app(L"app"), onPath(L"path"), current(L"current");
    ASSERT_TRUE(CopyFileW(WindowsPath(READER_EXE).c_str(), (app / L"varnelo-reader.exe").c_str(), FALSE));
    switch (c.place) {
    case Nowhere:
      break;
    case BesideOurs:
      CopyFileW(ours.c_str(), (app / L"felica_for_vb.dll").c_str(), FALSE);
      break;
    case BesideForeign:
      CopyFileW(foreign.c_str(), (app / L"felica_for_vb.dll").c_str(), FALSE);
      break;
    case OnPathOurs:
      CopyFileW(ours.c_str(), (onPath / L"felica_for_vb.dll").c_str(), FALSE);
      break;
    case CurrentDirectoryOnly:
      CopyFileW(ours.c_str(), (current / L"felica_for_vb.dll").c_str(), FALSE);
      break;
    case BesideOursAndForeignOnPath:
      CopyFileW(ours.c_str(), (app / L"felica_for_vb.dll").c_str(), FALSE);
      CopyFileW(foreign.c_str(), (onPath / L"felica_for_vb.dll").c_str(), FALSE);
      break;
    }
    const ToolRun run = RunTool(app / L"varnelo-reader.exe", L"library", current.path(), onPath.path());
    std::string expected = c.expected;
    for (auto [mark, folder] : {std::pair{"@APP@", &app}, std::pair{"@PATH@", &onPath}})
      if (size_t at = expected.find(mark); at != std::string::npos)
        expected.replace(at, strlen(mark), Utf8(folder->path()));
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.exitCode, c.place == Nowhere || c.place == CurrentDirectoryOnly ? 1u : 0u);
  }
}

// The tool speaks the user's language, as this test does: ctest runs these cases once in English
// and once in Japanese (LC_ALL, which Wine turns into the UI language of the whole run).
bool Japanese() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE; }

struct Said {
  const char* english;
  const char* japanese;
  const char* text() const { return Japanese() ? japanese : english; }
};

// Redirected to a file, the tool writes UTF-8 with CR LF; values to standard output, problems
// to standard error, the problem named.
TEST(ReaderTool, WritesUtf8ToFilesInTheUsersLanguage) {
  struct Case {
    const wchar_t* arguments;
    DWORD exitCode;
    Said outStarts; // empty: nothing on standard output
    Said err;
    bool errStarts = false; // err is how standard error begins
  };
  const Said help{"varnelo-reader: checks a FeliCa reader over PC/SC", "varnelo-reader: FeliCa リーダーを PC/SC で調べます。"};
  const Case cases[] = {
      {L"--help", 0, help, {"", ""}},
      {L"/?", 0, help, {"", ""}},
      {L"-h", 0, help, {"", ""}},
      {L"lst", 2, {"", ""},
       {"varnelo-reader: unknown command: lst\r\nSee varnelo-reader --help.\r\n",
        "varnelo-reader: 不明なコマンドです: lst\r\nvarnelo-reader --help で使い方を表示します。\r\n"}},
      {L"list --bogus", 2, {"", ""},
       {"varnelo-reader: unknown option: --bogus\r\nSee varnelo-reader --help.\r\n",
        "varnelo-reader: 不明なオプションです: --bogus\r\nvarnelo-reader --help で使い方を表示します。\r\n"}},
      {L"--reader x", 2, {"", ""},
       {"varnelo-reader: no command given.\r\nSee varnelo-reader --help.\r\n",
        "varnelo-reader: コマンドを指定してください。\r\nvarnelo-reader --help で使い方を表示します。\r\n"}},
      // Help after a command, in any case; a word too many is named as such.
      {L"list /?", 0, help, {"", ""}},
      {L"READ --Help", 0, help, {"", ""}},
      {L"list extra", 2, {"", ""},
       {"varnelo-reader: surplus argument: extra\r\nSee varnelo-reader --help.\r\n",
        "varnelo-reader: 余分な引数です: extra\r\nvarnelo-reader --help で使い方を表示します。\r\n"}},
      {L"LIST --Bogus", 2, {"", ""},
       {"varnelo-reader: unknown option: --Bogus\r\nSee varnelo-reader --help.\r\n",
        "varnelo-reader: 不明なオプションです: --Bogus\r\nvarnelo-reader --help で使い方を表示します。\r\n"}},
      // The system's words for why, not its number.
      {L"watch --csv Z:\\no\\such\\folder\\cards.csv", 1, {"", ""},
       {"varnelo-reader: Cannot open the CSV file: Z:\\no\\such\\folder\\cards.csv (",
        "varnelo-reader: CSV ファイルを開けません: Z:\\no\\such\\folder\\cards.csv ("},
       true},
  };
  Folder current(L"current");
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.arguments));
    const ToolRun run = RunTool(WindowsPath(READER_EXE), c.arguments, current.path());
    EXPECT_EQ(run.exitCode, c.exitCode);
    const std::string outStarts = c.outStarts.text();
    EXPECT_EQ(run.out.substr(0, outStarts.size()), outStarts);
    if (outStarts.empty()) {
      EXPECT_EQ(run.out, "");
    }
    const std::string err = c.err.text();
    EXPECT_EQ(c.errStarts ? run.err.substr(0, err.size()) : run.err, err);
    if (c.errStarts) {
      EXPECT_EQ(run.err.find(") \r\n"), std::string::npos) << run.err;
      EXPECT_EQ(run.err.find("(3)"), std::string::npos) << "a bare number: " << run.err;
    }
    // Every line ends in CR LF.
    for (size_t at = run.out.find('\n'); at != std::string::npos; at = run.out.find('\n', at + 1))
      EXPECT_TRUE(at > 0 && run.out[at - 1] == '\r') << run.out;
  }
}

// The help of the whole tool and of each command fits a console 80 columns wide (a full-width
// character takes two) and keeps its descriptions in one column.
TEST(ReaderTool, HelpInTheUsersLanguageFitsTheConsoleAligned) {
  Folder current(L"current");
  for (const wchar_t* command : {L"", L"list ", L"read ", L"watch ", L"type ", L"library "}) {
    SCOPED_TRACE(Utf8(command));
    const ToolRun run = RunTool(WindowsPath(READER_EXE), std::wstring(command) + L"--help", current.path());
    EXPECT_EQ(run.exitCode, 0u);
    const std::wstring text = Wide(run.out.c_str());
    // Columns as a console counts them: every character the help has beyond ASCII is full-width.
    auto columns = [](const std::wstring& part) {
      size_t n = 0;
      for (wchar_t c : part)
        n += c < 0x80 ? 1 : 2;
      return n;
    };
    size_t rows = 0;
    for (size_t at = 0, end; (end = text.find(L"\r\n", at)) != std::wstring::npos; at = end + 2) {
      const std::wstring line = text.substr(at, end - at);
      EXPECT_LE(columns(line), 79u) << Utf8(line);
      if (line.rfind(L"  ", 0) != 0)
        continue;
      // A row's description begins after its term and two blanks or more, or after the blanks
      // that continue it.
      const size_t term = line.find_first_not_of(L' ');
      const size_t gap = term > 2 ? 0 : line.find(L"  ", term);
      const size_t described = gap == std::wstring::npos ? gap : line.find_first_not_of(L' ', gap);
      ASSERT_NE(described, std::wstring::npos) << Utf8(line);
      EXPECT_EQ(columns(line.substr(0, described)), 24u) << Utf8(line);
      ++rows;
    }
    EXPECT_GE(rows, 3u) << run.out;
  }
}

// The screen buffer's lines, trailing blanks dropped, up to the last non-empty one.
std::vector<std::wstring> ScreenLines(HANDLE screen) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  std::vector<std::wstring> lines;
  if (!GetConsoleScreenBufferInfo(screen, &info))
    return lines;
  for (SHORT y = 0; y <= info.dwCursorPosition.Y && y < info.dwSize.Y; ++y) {
    std::wstring line(static_cast<size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, line.data(), static_cast<DWORD>(line.size()), COORD{0, y}, &read);
    line.resize(read);
    while (!line.empty() && line.back() == L' ')
      line.pop_back();
    lines.push_back(line);
  }
  while (!lines.empty() && lines.back().empty())
    lines.pop_back();
  return lines;
}

// On a console, the tool writes characters, not bytes: Japanese reaches the screen as it is,
// whatever the console's code page.
TEST(ReaderTool, WritesJapaneseToAConsoleWhateverItsCodePage) {
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(screen, INVALID_HANDLE_VALUE);
  Folder current(L"current");
  for (UINT codePage : {932u, 437u, 65001u}) {
    SCOPED_TRACE(codePage);
    SetConsoleOutputCP(codePage);
    const COORD origin{0, 0};
    DWORD written = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(screen, &info);
    FillConsoleOutputCharacterW(screen, L' ', static_cast<DWORD>(info.dwSize.X * info.dwSize.Y), origin, &written);
    SetConsoleCursorPosition(screen, origin);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = screen;
    startup.hStdError = screen;
    PROCESS_INFORMATION process{};
    const std::wstring exe = WindowsPath(READER_EXE);
    std::wstring command = L"\"" + exe + L"\" lst";
    ASSERT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               current.path().c_str(), &startup, &process));
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0)
      TerminateProcess(process.hProcess, 258);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const std::vector<std::wstring> expected =
        Japanese() ? std::vector<std::wstring>{L"varnelo-reader: 不明なコマンドです: lst",
                                               L"varnelo-reader --help で使い方を表示します。"}
                   : std::vector<std::wstring>{L"varnelo-reader: unknown command: lst", L"See varnelo-reader --help."};
    EXPECT_EQ(ScreenLines(screen), expected);
  }
  CloseHandle(screen);
  FreeConsole();
}

// Double-clicked, the tool has a console of its own, which closes with it: it shows the readers
// (here the error of a machine without PC/SC readers) and waits for a key.
struct OwnConsoleRun {
  std::vector<std::wstring> lines;
  bool waiting = false, stillRunning = false;
  DWORD ended = WAIT_FAILED, exitCode = 0;
};

// The tool counts the processes on its console once, at its start; the test attaches after
// `delay`. Attaching before that count makes the tool see two processes and act as if started
// from a shell, so a run that ended without ever waiting is tried again with a longer delay.
OwnConsoleRun RunOnAConsoleOfItsOwn(DWORD delay) {
  OwnConsoleRun run;
  FreeConsole();
  Folder current(L"current");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const std::wstring exe = WindowsPath(READER_EXE);
  std::wstring command = L"\"" + exe + L"\"";
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      current.path().c_str(), &startup, &process))
    return run;
  Sleep(delay);
  bool attached = false;
  for (int i = 0; i < 200 && !run.waiting && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT; ++i) {
    if (!attached)
      attached = AttachConsole(process.dwProcessId) != FALSE;
    if (attached) {
      HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
      run.lines = ScreenLines(screen);
      CloseHandle(screen);
      run.waiting = !run.lines.empty() && run.lines.back() == (Japanese() ? L"何かキーを押すとこのウィンドウを閉じます。"
                                                                            : L"Press any key to close this window.");
    }
    if (!run.waiting)
      Sleep(50);
  }
  run.stillRunning = WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
  if (attached) {
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    INPUT_RECORD key{};
    key.EventType = KEY_EVENT;
    key.Event.KeyEvent.bKeyDown = TRUE;
    key.Event.KeyEvent.wRepeatCount = 1;
    key.Event.KeyEvent.wVirtualKeyCode = VK_SPACE;
    key.Event.KeyEvent.uChar.UnicodeChar = L' ';
    DWORD written = 0;
    WriteConsoleInputW(input, &key, 1, &written);
    CloseHandle(input);
  }
  run.ended = WaitForSingleObject(process.hProcess, 10000);
  if (run.ended != WAIT_OBJECT_0)
    TerminateProcess(process.hProcess, 258);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  FreeConsole();
  return run;
}

TEST(ReaderTool, OnAConsoleOfItsOwnShowsTheReadersAndWaitsForAKey) {
  OwnConsoleRun run;
  for (DWORD delay : {50u, 500u, 2000u}) {
    run = RunOnAConsoleOfItsOwn(delay);
    if (run.waiting)
      break;
  }
  std::string shown;
  for (const std::wstring& line : run.lines)
    shown += Utf8(line) + "\n";
  ASSERT_TRUE(run.waiting) << shown;
  EXPECT_TRUE(run.stillRunning);
  EXPECT_EQ(run.ended, WAIT_OBJECT_0);
  ASSERT_GE(run.lines.size(), 4u);
  // What to do, in a sentence, then the details.
  EXPECT_EQ(run.lines[0], Japanese() ? L"リーダーが見つかりません。リーダーをつないでから、もう一度起動してください。"
                                     : L"No card reader found. Connect the reader, then start varnelo-reader again.");
  EXPECT_EQ(run.lines[1].substr(0, 16), L"FeliCaErrorType=");
  EXPECT_EQ(run.exitCode, 1u);
}

} // namespace
