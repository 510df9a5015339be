// How the window program enters a card: keys with the input method of the window in front turned
// off meanwhile, or a paste that leaves the user's clipboard as it was.
#include <windows.h>

#include <imm.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "TypistParts.h"

namespace pcsc {
namespace {

// The target takes a paste as it handles Ctrl+V; a busy one may take a while, but a window that
// does not paste at all must not hold the next card for long.
constexpr DWORD kPasteWaitMs = 1500;
// The clipboard stays open while the target copies the text out of it.
constexpr DWORD kClipboardWaitMs = 1000;
constexpr DWORD kImeAnswerMs = 500;
// WM_IME_CONTROL's commands for the open status, which MinGW's imm.h leaves out.
constexpr WPARAM kGetOpenStatus = 0x0005, kSetOpenStatus = 0x0006;

// --- The input method ---

HWND closedIme = nullptr;

BOOL CALLBACK FindImeWindow(HWND window, LPARAM found) {
  wchar_t name[8] = L"";
  GetClassNameW(window, name, 8);
  if (lstrcmpW(name, L"IME") != 0)
    return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The default IME window of the control that has the focus in the window in front. Some systems
// give another process's default IME window only to that process: then the thread's own window
// of that class.
HWND ImeWindowOf(HWND foreground) {
  const DWORD thread = GetWindowThreadProcessId(foreground, nullptr);
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const HWND focus = GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus : foreground;
  HWND ime = ImmGetDefaultIMEWnd(focus);
  if (!ime)
    EnumThreadWindows(thread, FindImeWindow, reinterpret_cast<LPARAM>(&ime));
  return ime;
}

bool ImeControl(HWND ime, WPARAM command, LPARAM value, DWORD_PTR& result) {
  return SendMessageTimeoutW(ime, WM_IME_CONTROL, command, value, SMTO_ABORTIFHUNG, kImeAnswerMs, &result) != 0;
}

void CloseInputMethod(HWND foreground) {
  const HWND ime = ImeWindowOf(foreground);
  if (closedIme && closedIme != ime)
    RestoreInputMethod();
  DWORD_PTR open = 0;
  if (ime && ImeControl(ime, kGetOpenStatus, 0, open) && open && ImeControl(ime, kSetOpenStatus, 0, open))
    closedIme = ime;
}

// --- The clipboard ---

// A copy of one format's data that the clipboard can take back, or nullptr.
HANDLE CopyGlobal(HANDLE data) {
  const SIZE_T size = GlobalSize(data);
  const void* from = size ? GlobalLock(data) : nullptr;
  if (!from)
    return nullptr;
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (void* to = copy ? GlobalLock(copy) : nullptr) {
    std::memcpy(to, from, size);
    GlobalUnlock(copy);
  }
  GlobalUnlock(data);
  return copy;
}

HANDLE CopyPalette(HANDLE data) {
  const auto palette = static_cast<HPALETTE>(data);
  const UINT count = GetPaletteEntries(palette, 0, 0, nullptr);
  if (count == 0)
    return nullptr;
  std::vector<BYTE> bytes(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
  auto* logical = reinterpret_cast<LOGPALETTE*>(bytes.data());
  logical->palVersion = 0x300;
  logical->palNumEntries = static_cast<WORD>(count);
  GetPaletteEntries(palette, 0, count, logical->palPalEntry);
  return CreatePalette(logical);
}

HANDLE CopyMetafilePicture(HANDLE data) {
  HANDLE copy = CopyGlobal(data);
  auto* picture = copy ? static_cast<METAFILEPICT*>(GlobalLock(copy)) : nullptr;
  if (!picture)
    return copy;
  picture->hMF = CopyMetaFileW(picture->hMF, nullptr);
  const bool copied = picture->hMF != nullptr;
  GlobalUnlock(copy);
  if (copied)
    return copy;
  GlobalFree(copy);
  return nullptr;
}

HANDLE CopyFormat(UINT format, HANDLE data) {
  switch (format) {
  case CF_BITMAP:
  case CF_DSPBITMAP:
    return CopyImage(data, IMAGE_BITMAP, 0, 0, 0);
  case CF_ENHMETAFILE:
  case CF_DSPENHMETAFILE:
    return CopyEnhMetaFileW(static_cast<HENHMETAFILE>(data), nullptr);
  case CF_METAFILEPICT:
  case CF_DSPMETAFILEPICT:
    return CopyMetafilePicture(data);
  case CF_PALETTE:
    return CopyPalette(data);
  case CF_OWNERDISPLAY:
    return nullptr; // drawn by its owner, nothing to copy
  default:
    // Private and GDI object formats are handles only their owner understands.
    if ((format >= CF_PRIVATEFIRST && format <= CF_PRIVATELAST) || (format >= CF_GDIOBJFIRST && format <= CF_GDIOBJLAST))
      return nullptr;
    return CopyGlobal(data);
  }
}

void FreeFormat(UINT format, HANDLE data) {
  switch (format) {
  case CF_BITMAP:
  case CF_DSPBITMAP:
  case CF_PALETTE:
    DeleteObject(data);
    break;
  case CF_ENHMETAFILE:
  case CF_DSPENHMETAFILE:
    DeleteEnhMetaFile(static_cast<HENHMETAFILE>(data));
    break;
  case CF_METAFILEPICT:
  case CF_DSPMETAFILEPICT:
    if (auto* picture = static_cast<METAFILEPICT*>(GlobalLock(data))) {
      DeleteMetaFile(picture->hMF);
      GlobalUnlock(data);
    }
    GlobalFree(data);
    break;
  default:
    GlobalFree(data);
  }
}

struct SavedFormat {
  UINT format;
  HANDLE data;
};

// Waits, taking the messages other threads send to this one (the target's request for the text
// among them), until done() or the time is up.
template <class Done> bool TakeSentMessagesUntil(DWORD ms, Done done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= ms)
      return false;
    // done() may turn true without a message (the clipboard closed): look again soon.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(ms - spent, 5), QS_SENDMESSAGE);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  return true;
}

// The clipboard is another program's while it reads from it.
bool OpenClipboardSoon(HWND owner) {
  return TakeSentMessagesUntil(kClipboardWaitMs, [owner] { return OpenClipboard(owner) != FALSE; });
}

std::wstring offered;
DWORD pastingProcess = 0;
bool rendered = false;

// A clipboard manager may ask for the text as soon as it is offered: it gets none, so the
// target's own request still tells when it pastes. One that opens the clipboard for no window
// cannot be told apart and is taken for the target.
bool AskedByTarget() {
  const HWND opener = GetOpenClipboardWindow();
  DWORD process = 0;
  return !opener || (GetWindowThreadProcessId(opener, &process) && process == pastingProcess);
}

HANDLE GlobalText(const std::wstring& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (void* to = memory ? GlobalLock(memory) : nullptr) {
    std::memcpy(to, text.c_str(), bytes);
    GlobalUnlock(memory);
  }
  return memory;
}

HANDLE GlobalDword(DWORD value) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof value);
  if (void* to = memory ? GlobalLock(memory) : nullptr) {
    std::memcpy(to, &value, sizeof value);
    GlobalUnlock(memory);
  }
  return memory;
}

// The text is rendered only when asked for: the request says the target is pasting.
LRESULT CALLBACK ClipboardOwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_RENDERFORMAT && wParam == CF_UNICODETEXT && !offered.empty() && AskedByTarget()) {
    HANDLE text = GlobalText(offered);
    // The clipboard owns the memory only once SetClipboardData succeeded.
    if (text && !SetClipboardData(CF_UNICODETEXT, text))
      GlobalFree(text); // cppcheck-suppress doubleFree
    rendered = true;
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND ClipboardOwner() {
  static HWND owner = [] {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ClipboardOwnerProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VarneloClipboardOwner";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
  }();
  return owner;
}

class Clipboard {
public:
  ~Clipboard() {
    for (const SavedFormat& saved : saved_)
      FreeFormat(saved.format, saved.data);
  }
  bool Save(HWND owner) {
    if (!OpenClipboardSoon(owner))
      return false;
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
      HANDLE data = GetClipboardData(format);
      if (HANDLE copy = data ? CopyFormat(format, data) : nullptr)
        saved_.push_back({format, copy});
    }
    CloseClipboard();
    return true;
  }
  // Gives every saved format back; the clipboard owns them then.
  bool Restore(HWND owner) {
    if (!OpenClipboardSoon(owner))
      return false;
    EmptyClipboard();
    for (SavedFormat& saved : saved_)
      if (SetClipboardData(saved.format, saved.data))
        saved.data = nullptr;
    CloseClipboard();
    std::erase_if(saved_, [](const SavedFormat& saved) { return saved.data == nullptr; });
    return true;
  }

private:
  std::vector<SavedFormat> saved_;
};

// Offers the text, rendered on request, and asks clipboard histories to leave it out.
bool Offer(HWND owner, const std::string& text) {
  if (!OpenClipboardSoon(owner))
    return false;
  EmptyClipboard();
  offered.assign(text.begin(), text.end());
  rendered = false;
  SetClipboardData(CF_UNICODETEXT, nullptr);
  for (const wchar_t* name : {L"ExcludeClipboardContentFromMonitorProcessing", L"CanIncludeInClipboardHistory",
                              L"CanUploadToCloudClipboard"}) {
    HANDLE zero = GlobalDword(0);
    if (zero && !SetClipboardData(RegisterClipboardFormatW(name), zero))
      GlobalFree(zero);
  }
  CloseClipboard();
  return true;
}

Typed Paste(HWND foreground, const std::string& text, ThenKey then, unsigned& error) {
  const HWND owner = ClipboardOwner();
  pastingProcess = 0;
  GetWindowThreadProcessId(foreground, &pastingProcess);
  Clipboard users;
  if (!owner || !users.Save(owner)) {
    error = GetLastError();
    return Typed::Failed;
  }
  if (!Offer(owner, text)) {
    error = GetLastError();
    return Typed::Failed;
  }
  std::vector<INPUT> inputs;
  typist::AddKey(inputs, VK_CONTROL, 0);
  typist::AddKey(inputs, 'V', 0);
  typist::AddKey(inputs, 'V', KEYEVENTF_KEYUP);
  typist::AddKey(inputs, VK_CONTROL, KEYEVENTF_KEYUP);
  typist::AddThen(inputs, then);
  Typed typed = typist::Send(inputs, error);
  if (typed == Typed::Done && !TakeSentMessagesUntil(kPasteWaitMs, [] { return rendered; }))
    typed = Typed::NotPasted;
  offered.clear();
  if (!users.Restore(owner) && typed == Typed::Done) {
    error = GetLastError();
    typed = Typed::Failed;
  }
  return typed;
}

} // namespace

Typed EnterText(const std::string& text, const EntryOptions& options, unsigned& error) {
  const HWND foreground = GetForegroundWindow();
  const Typed obstacle = typist::Obstacle(foreground, error);
  if (obstacle != Typed::Done)
    return obstacle;
  if (options.way == EntryWay::Paste)
    return Paste(foreground, text, options.then, error);
  if (options.closeInputMethod && foreground)
    CloseInputMethod(foreground);
  std::vector<INPUT> inputs;
  typist::AddText(inputs, text);
  typist::AddThen(inputs, options.then);
  return typist::Send(inputs, error);
}

void RestoreInputMethod() {
  DWORD_PTR ignored = 0;
  if (closedIme && IsWindow(closedIme))
    ImeControl(closedIme, kSetOpenStatus, 1, ignored);
  closedIme = nullptr;
}

} // namespace pcsc
