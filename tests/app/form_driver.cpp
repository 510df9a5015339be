#include "form_driver.h"

std::wstring Text(HWND window) {
  wchar_t text[4096]{};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000,
                      &copied);
  return text;
}

void Click(HWND button) {
  SendMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds, HWND dialogWindow) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (dialogWindow && IsDialogMessageW(dialogWindow, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done()) return true;
    if (GetTickCount() - start >= milliseconds) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void PressKey(WORD key) {
  INPUT inputs[2]{};
  for (INPUT& input : inputs) {
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
  }
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, inputs, sizeof(INPUT));
}

namespace {

struct Search {
  DWORD ProcessId;
  HWND Found;
};

BOOL CALLBACK FindMessageBox(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  wchar_t className[16]{};
  GetClassNameW(window, className, 16);
  if (processId == search->ProcessId && IsWindowVisible(window) && std::wstring(className) == L"#32770") {
    search->Found = window;
    return FALSE;
  }
  return TRUE;
}

} // namespace

DialogWatcher::DialogWatcher(DWORD processId, std::function<void()> whileOpen)
    : processId_(processId ? processId : GetCurrentProcessId()), whileOpen_(std::move(whileOpen)),
      thread_([this] { Run(); }) {}

DialogWatcher::~DialogWatcher() {
  stop_ = true;
  thread_.join();
}

void DialogWatcher::Run() {
  // Bounded even if nobody stops the watcher.
  const DWORD start = GetTickCount();
  while (!stop_ && GetTickCount() - start < 50000) {
    Search search{processId_, nullptr};
    EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&search));
    if (!search.Found) {
      Sleep(20);
      continue;
    }
    HWND box = search.Found;
    SeenDialog dialog{Text(box), L"", GetWindow(box, GW_OWNER), GetDlgItem(box, IDCANCEL) != nullptr};
    // The message text is the static control 0xFFFF.
    if (HWND message = GetDlgItem(box, 0xFFFF)) dialog.Text = Text(message);
    if (whileOpen_) whileOpen_();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(dialog);
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(10);
  }
}

std::vector<SeenDialog> DialogWatcher::Seen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

bool DialogWatcher::WaitForAnswered(size_t count, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (Seen().size() < count) {
    if (GetTickCount() - start >= milliseconds) return false;
    Sleep(20);
  }
  return true;
}

long long HeapBytesInUse() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  long long bytes = 0;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) bytes += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return bytes;
}

std::wstring Utf8FileText(const char* path) {
  std::wstring text;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  std::string bytes(1 << 16, '\0');
  DWORD got = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  text.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(got), nullptr, 0)));
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(got), text.data(), static_cast<int>(text.size()));
  return text;
}
