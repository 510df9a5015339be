// The polling thread of a reader library built here, and how the library's caller waits for it.
// For the libraries themselves; needs <windows.h>.
#pragma once
#include <windows.h>

#include <memory>

namespace FelicaAPI::Library {

template <typename T, void (*Body)(T&)> DWORD WINAPI LibraryThreadMain(void* argument) {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&LibraryThreadMain<T, Body>), &self);
  {
    std::unique_ptr<std::shared_ptr<T>> owned(static_cast<std::shared_ptr<T>*>(argument));
    try {
      Body(**owned);
    } catch (...) {
    }
  }
  // The thread holds its own reference to the library, so an early FreeLibrary cannot unmap it.
  FreeLibraryAndExitThread(self, 0);
}

// Runs Body(*object) on a thread of its own, which keeps object alive while it runs.
// The thread's handle, or nullptr when it could not be started.
template <typename T, void (*Body)(T&)> HANDLE StartLibraryThread(const std::shared_ptr<T>& object) {
  HMODULE self;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&LibraryThreadMain<T, Body>), &self))
    return nullptr;
  auto* argument = new std::shared_ptr<T>(object);
  HANDLE thread = CreateThread(nullptr, 0, LibraryThreadMain<T, Body>, argument, 0, nullptr);
  if (!thread) {
    delete argument;
    FreeLibrary(self);
  }
  return thread;
}

// Waits at most timeoutMs for the thread to end. The thread may be inside a send to a window of
// this very thread: keep taking sent messages while waiting, or neither side could go on. A send
// the caller has already seen (GetQueueStatus) but not taken counts too.
inline void JoinTakingSentMessages(HANDLE thread, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    const DWORD left = spent < timeoutMs ? timeoutMs - spent : 0;
    const DWORD r = MsgWaitForMultipleObjectsEx(1, &thread, left, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    if (r != WAIT_OBJECT_0 + 1 || left == 0)
      return;
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

} // namespace FelicaAPI::Library
