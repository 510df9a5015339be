// The real program, started as a user starts it from a folder of its own: without a reader
// library, or with another program's felica_for_vb.dll that lacks our entry points, the load
// probe fails and the program must say so once and end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "form_driver.h"
#include "varnelo_version.h"

namespace {

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

} // namespace

TEST(VarneloProgram, WithoutAUsableReaderLibraryWarnsOnceAndEnds) {
  struct Case {
    const char* name;
    const wchar_t* library; // put beside the program, or nullptr
    const wchar_t* tail;    // how the one box ends
  };
  const Case cases[] = {
      {"no library", nullptr, L"(エラーコード：53)"},
      // Its close_reader_writer is missing as its initialize_library was: the same failure.
      {"another program's library", FOREIGN_LIBRARY, L"(エラーコード：453)"},
  };
  wchar_t self[MAX_PATH]{};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring folder = Folder(self) + L"\\varnelo-alone";
    const std::wstring exe = folder + L"\\varnelo.exe", library = folder + L"\\felica_for_vb.dll";
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW(library.c_str());
    ASSERT_TRUE(CopyFileW((Folder(Folder(self)) + L"\\bin\\varnelo.exe").c_str(), exe.c_str(), FALSE));
    if (c.library) {
      ASSERT_TRUE(CopyFileW(c.library, library.c_str(), FALSE));
    }

    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Started in its own folder, so the library beside these tests is not in reach.
    ASSERT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                               &startup, &process));
    CloseHandle(process.hThread);

    DWORD ended = WAIT_TIMEOUT;
    std::vector<SeenDialog> seen;
    {
      DialogWatcher watcher(process.dwProcessId);
      watcher.WaitForAnswered(1, 20000);
      ended = WaitForSingleObject(process.hProcess, 10000);
      seen = watcher.Seen();
    }
    if (ended != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    DeleteFileW(exe.c_str());
    DeleteFileW(library.c_str());
    RemoveDirectoryW(folder.c_str());

    ASSERT_EQ(seen.size(), 1u) << (seen.size() > 1 ? testing::PrintToString(seen[1].Text) : "");
    EXPECT_EQ(seen[0].Title, L"Varnelo");
    EXPECT_FALSE(seen[0].HasCancel);
    const std::wstring head = L"内部エラーが発生しました。\r\n\r\n--<詳細>----------------------------------------------\r\n";
    EXPECT_EQ(seen[0].Text.substr(0, head.size()), head);
    EXPECT_NE(seen[0].Text.find(L"felica_for_vb.dll"), std::wstring::npos);
    const std::wstring tail = c.tail;
    ASSERT_GE(seen[0].Text.size(), tail.size());
    EXPECT_EQ(seen[0].Text.substr(seen[0].Text.size() - tail.size()), tail);
    // The guide quotes the box's last line as it is.
    const std::wstring last = L"    " + seen[0].Text.substr(seen[0].Text.rfind(L"\r\n") + 2) + L"\n";
    EXPECT_NE(Utf8FileText(GUIDE_PATH).find(last), std::wstring::npos) << testing::PrintToString(last);
    EXPECT_EQ(ended, WAIT_OBJECT_0);
    EXPECT_EQ(exitCode, 0u);
  }
}

TEST(VarneloProgram, CarriesTheProjectVersionItsIconAndAManifest) {
  wchar_t self[MAX_PATH]{};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring exe = Folder(Folder(self)) + L"\\bin\\varnelo.exe";

  DWORD ignored = 0;
  std::vector<char> version(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
  ASSERT_FALSE(version.empty());
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), VARNELO_VERSION_MAJOR);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), VARNELO_VERSION_MINOR);

  HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr);
  // The icon group: the 32 x 32 image in 16 colours (4 bits per pixel), and true-colour images of
  // 16, 24, 32, 48 and 256 pixels (256 is stored as 0), each of which loads.
  HRSRC group = FindResourceW(image, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  const auto* directory = static_cast<const BYTE*>(LockResource(LoadResource(image, group)));
  ASSERT_NE(directory, nullptr);
  std::vector<std::string> entries;
  for (int i = 0; i < directory[4]; ++i) {
    const BYTE* entry = directory + 6 + 14 * i; // width, height, colours, reserved, planes, bits, bytes, id
    entries.push_back(std::to_string(entry[0]) + "x" + std::to_string(entry[1]) + "/" + std::to_string(entry[2]) + "/" +
                      std::to_string(entry[6]));
    const WORD id = static_cast<WORD>(entry[12] | entry[13] << 8);
    HRSRC icon = FindResourceW(image, MAKEINTRESOURCEW(id), RT_ICON);
    ASSERT_NE(icon, nullptr);
    const int size = entry[0] == 0 ? 256 : entry[0];
    HICON handle = CreateIconFromResourceEx(static_cast<BYTE*>(LockResource(LoadResource(image, icon))),
                                            SizeofResource(image, icon), TRUE, 0x00030000, size, size, 0);
    EXPECT_NE(handle, nullptr) << entries.back();
    if (handle) DestroyIcon(handle);
  }
  EXPECT_EQ(entries, (std::vector<std::string>{"32x32/16/4", "16x16/0/32", "24x24/0/32", "32x32/0/32", "48x48/0/32",
                                               "0x0/0/32"}));

  HRSRC manifest = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(manifest, nullptr);
  const std::string text(static_cast<const char*>(LockResource(LoadResource(image, manifest))),
                         SizeofResource(image, manifest));
  EXPECT_NE(text.find("PerMonitorV2, PerMonitor"), std::string::npos);
  EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  FreeLibrary(image);
}
