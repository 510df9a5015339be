// The window and its lifetime: the window class and procedure, creating the form, loading
// and unloading it, and closing it safely while a handler that pumps messages still runs.
#include "MainForm.h"

#include <commctrl.h>

#include <iterator>
#include <new>

#include "MainFormLayout.h"
#include "MainFormParts.h"
#include "MainFormText.h"
#include "bridge/CardEventBridge.h"
#include "felica/FelicaAPI.h"
#include "varnelo_version.h"

namespace {

constexpr wchar_t WindowClassName[] = L"VarneloMainForm";
constexpr int IconResource = 1;

void CloseForm(MainForm& form) noexcept;

// Keeps the form alive while a handler that may pump messages runs: a close asked for meanwhile
// is carried out, and a form whose window is gone is freed, when the outermost handler ends.
class BusyScope {
public:
  explicit BusyScope(MainForm& form) : form_(form) {
    if (form_.Busy++ == 0) form_.ShownError.reset();
  }
  ~BusyScope() {
    if (--form_.Busy > 0) return;
    if (form_.WindowGone) {
      delete &form_;
    } else if (form_.CloseRequested && !form_.Unloading) {
      CloseForm(form_);
    }
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

private:
  MainForm& form_;
};

void UnloadAndDestroy(MainForm& form) noexcept {
  Form_Unload(form);
  form.Unloaded = true;
  DestroyWindow(form.Window);
}

void CloseForm(MainForm& form) noexcept {
  BusyScope busy(form);
  UnloadAndDestroy(form);
}

// A window destroyed without unloading (not by closing it) still lets go of the library.
void ReleaseWithoutDialogs(MainForm& form) noexcept {
  form.Unloading = true;
  try {
    StopContinuousPolling(form);
  } catch (...) {
  }
  try {
    CloseConnection(form);
  } catch (...) {
  }
  try {
    FelicaAPI::UnsubclassWindow(form.PollingHandle);
  } catch (...) {
  }
}

LRESULT CALLBACK PollingHandleProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR data) noexcept {
  try {
    if (message == WM_KEYUP) {
      auto* form = reinterpret_cast<MainForm*>(data);
      int16_t shift = static_cast<int16_t>((GetKeyState(VK_SHIFT) < 0 ? 1 : 0) | (GetKeyState(VK_CONTROL) < 0 ? 2 : 0) |
                                           (GetKeyState(VK_MENU) < 0 ? 4 : 0));
      if (form && !form->WindowGone) PollingHandle_KeyUp(*form, static_cast<int16_t>(wParam), shift);
      return 0;
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(window, PollingHandleProc, id);
    return DefSubclassProc(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

// The box's key-up reaches the window through this subclass; the bridge's procedure goes on
// top of it at load and uses the window's user data slot, which this leaves free.
bool SubclassEventBox(MainForm& form) {
  return SetWindowSubclass(form.PollingHandle, PollingHandleProc, 1, reinterpret_cast<DWORD_PTR>(&form)) != FALSE;
}

void OnCommand(MainForm& form, int id, int code) {
  if (code != BN_CLICKED || form.Unloading || form.CloseRequested) return;
  HWND control = GetDlgItem(form.Window, id);
  // A disabled button takes no click, however the click is sent.
  if (!control || !IsWindowEnabled(control)) return;
  BusyScope busy(form);
  switch (id) {
  case IdBtnPoll:
    BtnPoll_Click(form);
    break;
  case IdBtnCmd:
    BtnCmd_Click(form);
    break;
  case IdIdmOnly:
    IdmOnly_Click(form);
    break;
  default:
    break;
  }
}

// Returns true when the message was handled and result holds its answer. form may be freed
// when this returns.
bool HandleMessage(MainForm& form, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
  case WM_CREATE:
    form.Dpi = WindowDpi(form.Window);
    if (!CreateControls(form, reinterpret_cast<CREATESTRUCTW*>(lParam)->hInstance) || !SubclassEventBox(form) ||
        !NameIdmField(form)) {
      result = -1;
      return true;
    }
    ApplyFonts(form);
    SizeWindowToDesign(form);
    result = 0;
    return true;
  case WM_COMMAND:
    OnCommand(form, LOWORD(wParam), HIWORD(wParam));
    result = 0;
    return true;
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLOREDIT: {
    int color = BackColor(form, reinterpret_cast<HWND>(lParam));
    if (color < 0) return false;
    auto dc = reinterpret_cast<HDC>(wParam);
    SetBkColor(dc, GetSysColor(color));
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    result = reinterpret_cast<LRESULT>(GetSysColorBrush(color));
    return true;
  }
  case 0x02E0: // WM_DPICHANGED
    ChangeDpi(form, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
    result = 0;
    return true;
  case WM_CLOSE:
    if (form.Unloading) {
      // Closing is under way already.
    } else if (form.Busy > 0) {
      form.CloseRequested = true;
    } else {
      CloseForm(form);
    }
    result = 0;
    return true;
  case WM_DESTROY:
    if (!form.Unloaded) ReleaseWithoutDialogs(form);
    if (form.EndProgramOnClose) PostQuitMessage(0);
    return false;
  case WM_NCDESTROY:
    form.WindowGone = true;
    SetWindowLongPtrW(form.Window, GWLP_USERDATA, 0);
    // The controls are gone, so their fonts can go, even when the form outlives its window.
    for (OwnedFont* font : {&form.GothicFont, &form.PGothicFont, &form.DefaultFont}) font->Reset();
    if (form.Busy == 0) delete &form;
    return false;
  default:
    return false;
  }
}

struct CreationParameters {
  MainForm* Form;
  bool Attached;
};

LRESULT CALLBACK MainFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  try {
    if (message == WM_NCCREATE) {
      auto* parameters = static_cast<CreationParameters*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      parameters->Form->Window = window;
      parameters->Attached = true;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(parameters->Form));
    }
    if (auto* form = reinterpret_cast<MainForm*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
      LRESULT result = 0;
      if (HandleMessage(*form, message, wParam, lParam, result)) return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

bool RegisterMainFormClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = MainFormProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = WindowClassName;
  windowClass.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IconResource), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IconResource), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                      LR_SHARED));
  return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace

MainForm* MainFormOf(HWND window) {
  if (!window || !IsWindow(window)) return nullptr;
  wchar_t className[64]{};
  GetClassNameW(window, className, static_cast<int>(std::size(className)));
  if (std::wstring(className) != WindowClassName) return nullptr;
  return reinterpret_cast<MainForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

HWND CreateMainForm(HINSTANCE instance, int showCommand, bool endProgramOnClose) {
  if (!RegisterMainFormClass(instance)) return nullptr;
  auto* form = new (std::nothrow) MainForm;
  if (!form) return nullptr;
  form->EndProgramOnClose = endProgramOnClose;
  CreationParameters parameters{form, false};
  HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, WindowClassName, AppTitle,
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                                &parameters);
  if (!window) {
    // Once attached, the form went with its window.
    if (!parameters.Attached) delete form;
    return nullptr;
  }
  {
    BusyScope busy(*form);
    Form_Load(*form);
  }
  if (!IsWindow(window)) return nullptr;
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  if (MainForm* shown = MainFormOf(window)) SetFocus(shown->BtnPoll);
  return window;
}

void DoEvents() {
  MSG message;
  // Bounded, so a flood of posted messages can't keep a handler here for ever.
  for (int i = 0; i < 10000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void Form_Load(MainForm& form) {
  try {
    form.ReaderOpen = FormFalse;
    form.PollingActive = FormFalse;
    SetText(form.Window, MainFormTitle(VARNELO_VERSION_MAJOR, VARNELO_VERSION_MINOR));
    SetText(form.TxtMsg, MsgHoldCardAndPress);
    ShowWindow(form.BtnPoll, SW_SHOWNA);
    SetText(form.BtnCmd, CaptionStartPolling);
    if (SendMessageW(form.IdmOnly, BM_GETCHECK, 0, 0) != BST_CHECKED) {
      SendMessageW(form.IdmOnly, BM_SETCHECK, BST_CHECKED, 0);
      IdmOnly_Click(form);
    }
    FelicaAPI::SubclassWindow(form.PollingHandle);
    // Proves the library and a reader are there, and holds neither.
    OpenConnection(form);
    CloseConnection(form);
  } catch (...) {
    form.LoadFailed = true;
    ReportCurrentError(form);
    UnloadAndDestroy(form);
  }
}

void Form_Unload(MainForm& form) {
  form.Unloading = true;
  // Each step runs even when the one before failed, so the program still ends cleanly.
  try {
    StopContinuousPolling(form);
  } catch (...) {
    ReportCurrentError(form);
  }
  try {
    CloseConnection(form);
  } catch (...) {
    ReportCurrentError(form);
  }
  try {
    FelicaAPI::UnsubclassWindow(form.PollingHandle);
  } catch (...) {
  }
  DoEvents();
  FelicaAPI::SleepMilliseconds(200);
  DoEvents();
}
