// A small always-on-top "virtual reader" for people, shown when VARNELO_SIM_WINDOW=1.
// It runs on its own thread, so it answers while the caller is busy.
#include <string>

#include "Simulator.h"

namespace sim {
namespace {

// Control ids, documented in README.md for programs that drive the window.
enum : int {
  kCardChoiceId = 101,
  kPlaceId = 102,
  kRemoveId = 103,
  kAttachedId = 104,
  kStatusId = 105,
};
constexpr UINT_PTR kRefreshTimer = 1;
const wchar_t kClassName[] = L"VarneloVirtualReader";

const wchar_t* const kCardNames[kBuiltInCardKinds] = {
    L"カード0：共通領域あり（FeliCa番号）",
    L"カード1：システム0003のみ",
    L"カード2：共通領域、サービス33CBなし",
};

std::atomic<bool> g_started{false};

std::wstring StatusText() {
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.mutex);
  std::wstring text = !s.readerAttached ? L"リーダー：未接続" : s.readerOpen ? L"リーダー：使用中" : L"リーダー：待機中";
  if (s.poller)
    text += L"（連続ポーリング中）";
  text += L"\r\n";
  if (!s.card)
    text += L"カードなし";
  else if (s.cardKind >= 0)
    text += std::wstring(kCardNames[s.cardKind]) + L" を置いています";
  else
    text += L"ほかのカードを置いています";
  return text;
}

bool ReaderAttached() {
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.mutex);
  return s.readerAttached;
}

void Refresh(HWND window) {
  SetDlgItemTextW(window, kStatusId, StatusText().c_str());
  CheckDlgButton(window, kAttachedId, ReaderAttached() ? BST_CHECKED : BST_UNCHECKED);
}

void CreateControls(HWND window) {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  HFONT font = CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS UI Gothic");
  struct Item {
    const wchar_t* cls;
    const wchar_t* text;
    DWORD style;
    int id, x, y, w, h;
  };
  const Item items[] = {
      {L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kCardChoiceId, 10, 10, 300, 200},
      {L"BUTTON", L"カードを置く", BS_PUSHBUTTON | WS_TABSTOP, kPlaceId, 10, 44, 145, 28},
      {L"BUTTON", L"カードを取る", BS_PUSHBUTTON | WS_TABSTOP, kRemoveId, 165, 44, 145, 28},
      {L"BUTTON", L"リーダー接続", BS_CHECKBOX | WS_TABSTOP, kAttachedId, 10, 80, 300, 22},
      {L"STATIC", L"", SS_LEFT, kStatusId, 10, 108, 300, 36},
  };
  for (const Item& item : items) {
    HWND control = CreateWindowExW(0, item.cls, item.text, WS_CHILD | WS_VISIBLE | item.style, item.x, item.y, item.w,
                                   item.h, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(item.id)), instance,
                                   nullptr);
    if (control && font)
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  HWND choice = GetDlgItem(window, kCardChoiceId);
  for (const wchar_t* name : kCardNames)
    SendMessageW(choice, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  SendMessageW(choice, CB_SETCURSEL, 0, 0);
}

void OnCommand(HWND window, int id, int code) {
  if (code != BN_CLICKED)
    return;
  switch (id) {
  case kPlaceId: {
    const LRESULT kind = SendDlgItemMessageW(window, kCardChoiceId, CB_GETCURSEL, 0, 0);
    PlaceBuiltInCard(kind == CB_ERR ? 0 : static_cast<int>(kind));
    break;
  }
  case kRemoveId:
    RemoveCard();
    break;
  case kAttachedId:
    // A plain check box: a click sent by another program toggles it just like a real one.
    AttachReader(!ReaderAttached());
    break;
  default:
    return;
  }
  Refresh(window);
}

LRESULT CALLBACK ReaderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  try {
    switch (message) {
    case WM_CREATE:
      CreateControls(window);
      Refresh(window);
      SetTimer(window, kRefreshTimer, 300, nullptr);
      return 0;
    case WM_TIMER:
      Refresh(window);
      return 0;
    case WM_COMMAND:
      OnCommand(window, LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CLOSE:
      // The reader stays for the whole process; closing only hides it.
      ShowWindow(window, SW_HIDE);
      return 0;
    default:
      break;
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI ReaderWindowThread(void*) {
  // Keeps the library loaded for as long as the window lives, which is the whole process.
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ReaderWindowProc), &self);
  WNDCLASSW wc{};
  wc.lpfnWndProc = ReaderWindowProc;
  wc.hInstance = self;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassW(&wc);
  RECT rect{0, 0, 320, 152};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  AdjustWindowRectEx(&rect, style, FALSE, WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  // Below where the program's own small window opens, so the reader never hides what it reads.
  HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, L"仮想リーダー", style, 40, 220,
                                rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, self, nullptr);
  if (!window)
    return 1;
  ShowWindow(window, SW_SHOWNOACTIVATE);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return 0;
}

} // namespace

void ShowReaderWindowIfAsked() noexcept {
  if (g_started.load())
    return;
  wchar_t value[16];
  const DWORD n = GetEnvironmentVariableW(L"VARNELO_SIM_WINDOW", value, 16);
  const bool unplugged = n < 16 && std::wstring(value, n) == L"unplugged";
  if (!unplugged && (n != 1 || value[0] != L'1'))
    return;
  if (g_started.exchange(true))
    return;
  // A program that must find no reader at its first look.
  if (unplugged)
    AttachReader(false);
  HANDLE thread = CreateThread(nullptr, 0, ReaderWindowThread, nullptr, 0, nullptr);
  if (thread)
    CloseHandle(thread);
  else
    g_started = false;
}

} // namespace sim
