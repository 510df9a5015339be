// Drives windows the way a user or a robot does: real messages, bounded waits, and message
// boxes found and answered from a second thread.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

std::wstring Text(HWND window);
// A click as the parent hears it; works without focus or activation.
void Click(HWND button);
// Pumps this thread's messages until done() holds or the time is up. With a dialogWindow the
// messages go through its dialog manager first, as in the program's own loop, where Tab and
// Enter are handled there.
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds, HWND dialogWindow = nullptr);
// A key pressed and released on the keyboard: it goes to whatever holds the focus.
void PressKey(WORD key);

struct SeenDialog {
  std::wstring Title;
  std::wstring Text;
  HWND Owner;
  bool HasCancel;
};

// Answers every message box (#32770) of one process with OK, after running whileOpen on
// its own thread. Stops, bounded, when destroyed.
class DialogWatcher {
public:
  explicit DialogWatcher(DWORD processId, std::function<void()> whileOpen = {});
  ~DialogWatcher();
  DialogWatcher(const DialogWatcher&) = delete;
  DialogWatcher& operator=(const DialogWatcher&) = delete;

  std::vector<SeenDialog> Seen();
  // Waits (without pumping) until count boxes have been answered.
  bool WaitForAnswered(size_t count, DWORD milliseconds);

private:
  void Run();

  DWORD processId_;
  std::function<void()> whileOpen_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<SeenDialog> seen_;
  std::thread thread_;
};

// A UTF-8 text file (up to 64 KiB) as UTF-16; empty when it can't be read.
std::wstring Utf8FileText(const char* path);

// Bytes in use on all of the process's heaps: a memory figure Wine does report.
long long HeapBytesInUse();
