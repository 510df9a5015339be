#include "MainForm.h"

#include <commctrl.h>

#include <exception>
#include <iterator>
#include <new>

#include "MainFormLayout.h"
#include "MainFormText.h"
#include "bridge/CardEventBridge.h"
#include "felica/FelicaAPI.h"
#include "varnelo_version.h"

namespace {

constexpr wchar_t WindowClassName[] = L"VarneloMainForm";
constexpr int IconResource = 1;

// Same order as MainFormControls.
constexpr HWND MainForm::*ControlSlots[] = {
    &MainForm::TxtIDm, &MainForm::TxtFeliCaNo, &MainForm::TxtMsg,        &MainForm::Text4,   &MainForm::Text5,
    &MainForm::BtnCmd, &MainForm::PollingHandle, &MainForm::BtnPoll, &MainForm::IdmOnly,
};
static_assert(std::size(ControlSlots) == std::size(MainFormControls));

ErrorDialogFunction errorDialog = nullptr;

void SetText(HWND control, const std::wstring& text) { SetWindowTextW(control, text.c_str()); }

// Keeps the form alive while a handler that may pump messages runs: a close asked for meanwhile
// is carried out, and a form whose window is gone is freed, when the outermost handler ends.
void CloseForm(MainForm& form) noexcept;

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

std::wstring Widen(const char* text) {
  int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 1) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

// The error being handled, as the dialog shows it. Only call from inside a catch block.
FelicaError CurrentError() {
  try {
    throw;
  } catch (const FelicaError& error) {
    return error;
  } catch (const std::bad_alloc&) {
    return {7, RuntimeErrorSource, L"メモリが不足しています。"};
  } catch (const std::exception& error) {
    return {51, RuntimeErrorSource, Widen(error.what())};
  } catch (...) {
    return {51, RuntimeErrorSource, L""};
  }
}

bool SameError(const FelicaError& a, const FelicaError& b) {
  return a.Number == b.Number && a.Source == b.Source && a.Description == b.Description;
}

// Shows the error being handled. Only call from inside a catch block.
void ReportCurrentError(MainForm& form) noexcept {
  try {
    FelicaError error = CurrentError();
    if (form.ShownError && SameError(*form.ShownError, error)) return;
    form.ShownError = error;
    ShowError(form, error, L"");
  } catch (...) {
  }
}

void EnableReadButton(MainForm& form) {
  EnableWindow(form.BtnPoll, TRUE);
  // Disabling the button took the keyboard focus away; give it back for the next press.
  if (GetFocus() == nullptr && GetActiveWindow() == form.Window) SetFocus(form.BtnPoll);
}

// A one-shot read that ran during continuous polling leaves that mode its connection.
void ReleaseReadConnection(MainForm& form) {
  if (!form.PollingActive) CloseConnection(form);
}

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

// --- Layout -------------------------------------------------------------------------------

template <typename Function> Function User32Function(const char* name) {
  FARPROC address = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// The DPI functions of Windows 10 are looked up, so the program still starts on Windows 7.
UINT WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
  if (getDpiForWindow) {
    if (UINT dpi = getDpiForWindow(window)) return dpi;
  }
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

RECT FrameForClient(HWND window, int width, int height, UINT dpi) {
  using AdjustForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = User32Function<AdjustForDpiFunction>("AdjustWindowRectExForDpi");
  RECT frame{0, 0, width, height};
  auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  if (adjustForDpi) {
    adjustForDpi(&frame, style, FALSE, exStyle, dpi);
  } else {
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  }
  return frame;
}

int Pixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

HFONT JapaneseFont(const wchar_t* face, UINT dpi) {
  return CreateFontW(-MulDiv(JapaneseFontCentipoints, static_cast<int>(dpi), 7200), 0, 0, 0, FW_NORMAL, FALSE,
                     FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face);
}

// The system's message font, at the window's DPI.
HFONT DefaultFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  }
  HDC screen = GetDC(nullptr);
  int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (systemDpi > 0) metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), systemDpi);
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

void DeleteFonts(MainForm& form) {
  for (HFONT* font : {&form.GothicFont, &form.PGothicFont, &form.DefaultFont}) {
    if (*font && *font != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(*font);
    *font = nullptr;
  }
}

// Picks the controls' fonts for the window's current DPI.
void ApplyFonts(MainForm& form) {
  HFONT oldFonts[] = {form.GothicFont, form.PGothicFont, form.DefaultFont};
  form.GothicFont = JapaneseFont(GothicFace, form.Dpi);
  form.PGothicFont = JapaneseFont(PGothicFace, form.Dpi);
  form.DefaultFont = DefaultFont(form.Dpi);
  for (size_t i = 0; i < std::size(MainFormControls); ++i) {
    const ControlLayout& layout = MainFormControls[i];
    HFONT font = layout.Font == ControlFont::Gothic    ? form.GothicFont
                 : layout.Font == ControlFont::PGothic ? form.PGothicFont
                                                       : form.DefaultFont;
    SendMessageW(form.*ControlSlots[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  for (HFONT font : oldFonts) {
    if (font && font != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(font);
  }
}

// Places the controls and picks their fonts anew, after a DPI change.
void ApplyLayout(MainForm& form) {
  for (size_t i = 0; i < std::size(MainFormControls); ++i) {
    const ControlLayout& layout = MainFormControls[i];
    SetWindowPos(form.*ControlSlots[i], nullptr, Pixels(layout.Left, form.Dpi), Pixels(layout.Top, form.Dpi),
                 Pixels(layout.Width, form.Dpi), Pixels(layout.Height, form.Dpi), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ApplyFonts(form);
}

void SizeWindowToDesign(MainForm& form, bool move) {
  RECT frame = FrameForClient(form.Window, Pixels(ClientWidthTwips, form.Dpi), Pixels(ClientHeightTwips, form.Dpi),
                              form.Dpi);
  SetWindowPos(form.Window, nullptr, Pixels(FormLeftTwips, form.Dpi), Pixels(FormTopTwips, form.Dpi),
               frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOZORDER | SWP_NOACTIVATE | (move ? 0 : SWP_NOMOVE));
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

bool CreateControls(MainForm& form, HINSTANCE instance) {
  for (size_t i = 0; i < std::size(MainFormControls); ++i) {
    const ControlLayout& layout = MainFormControls[i];
    DWORD style = WS_CHILD | (layout.Visible ? WS_VISIBLE : 0);
    DWORD exStyle = 0;
    const wchar_t* windowClass = L"EDIT";
    switch (layout.Kind) {
    case ControlKind::ValueField:
      style |= ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP;
      exStyle |= WS_EX_CLIENTEDGE;
      break;
    case ControlKind::Status:
      style |= ES_READONLY | ES_MULTILINE;
      break;
    case ControlKind::Caption:
      style |= ES_READONLY | ES_RIGHT;
      break;
    case ControlKind::EventBox:
      style |= ES_AUTOHSCROLL;
      exStyle |= WS_EX_CLIENTEDGE;
      break;
    case ControlKind::Button:
      windowClass = L"BUTTON";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case ControlKind::CheckBox:
      windowClass = L"BUTTON";
      style |= BS_AUTOCHECKBOX | WS_TABSTOP;
      break;
    }
    // Made in place: moving each control afterwards would resize and re-measure it once more.
    HWND control = CreateWindowExW(exStyle, windowClass, layout.Text, style, Pixels(layout.Left, form.Dpi),
                                   Pixels(layout.Top, form.Dpi), Pixels(layout.Width, form.Dpi),
                                   Pixels(layout.Height, form.Dpi), form.Window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.Id)), instance, nullptr);
    if (!control) return false;
    form.*ControlSlots[i] = control;
  }
  // The box's key-up reaches the window through this subclass; the bridge's procedure goes on
  // top of it at load and uses the window's user data slot, which this leaves free.
  return SetWindowSubclass(form.PollingHandle, PollingHandleProc, 1, reinterpret_cast<DWORD_PTR>(&form)) != FALSE;
}

// System colour of a control's background, or -1 for the control's own.
int BackColor(const MainForm& form, HWND control) {
  if (control == form.TxtMsg || control == form.Text4 || control == form.Text5) return COLOR_BTNFACE;
  if (control == form.TxtFeliCaNo) return form.FeliCaNoBackColor;
  if (control == form.TxtIDm) return COLOR_WINDOW;
  return -1;
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
    if (!CreateControls(form, reinterpret_cast<CREATESTRUCTW*>(lParam)->hInstance)) {
      result = -1;
      return true;
    }
    ApplyFonts(form);
    SizeWindowToDesign(form, true);
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
  case 0x02E0: { // WM_DPICHANGED
    form.Dpi = HIWORD(wParam);
    const auto* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(form.Window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyLayout(form);
    result = 0;
    return true;
  }
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
    DeleteFonts(form);
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

// --- Window -------------------------------------------------------------------------------

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

void SetErrorDialogForTesting(ErrorDialogFunction dialog) { errorDialog = dialog; }

void ShowError(MainForm& form, const FelicaError& error, const std::wstring& location) {
  const std::wstring text = ErrorMessageText(error, location);
  if (errorDialog) {
    errorDialog(form.Window, text);
    return;
  }
  MessageBoxW(form.Window, text.c_str(), AppTitle, MB_OK | MB_ICONWARNING);
}

// --- Connection and one-shot read ---------------------------------------------------------

void OpenConnection(MainForm& form) {
  if (form.ReaderOpen) return;
  form.ReaderOpen = FormTrue;
  FelicaAPI::InitializeLibrary();
  FelicaAPI::OpenReaderWriterAuto();
}

void CloseConnection(MainForm& form) {
  if (!form.ReaderOpen) return;
  form.ReaderOpen = FormFalse;
  try {
    FelicaAPI::CloseReaderWriter();
  } catch (...) {
    // With the flag down nothing would dispose of the library later: do it now, and report
    // the close's failure.
    try {
      FelicaAPI::DisposeLibrary();
    } catch (...) {
    }
    throw;
  }
  FelicaAPI::DisposeLibrary();
}

std::wstring FelicaNumberText(const MainForm& form) {
  if (form.IdmOnlyMode) return std::wstring();
  return FelicaAPI::GetFelicaNumber();
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

void BtnPoll_Click(MainForm& form) {
  try {
    EnableWindow(form.BtnPoll, FALSE);
    SetText(form.TxtMsg, MsgPolling);
    DoEvents();
    if (form.CloseRequested) {
      // The window was closed while the text was drawn: read nothing, let go of the reader.
      EnableReadButton(form);
      ReleaseReadConnection(form);
      return;
    }
    OpenConnection(form);
    const FelicaAPI::CardInformation card = FelicaAPI::PollCard(0xFF, 0xFF, 0);
    if (card.CardCount != 0) {
      SetText(form.TxtMsg, MsgCardRead);
      SetText(form.TxtIDm, FelicaAPI::BytesToHex(card.IDm, 8, 8));
      SetText(form.TxtFeliCaNo, FelicaNumberText(form));
    } else {
      SetText(form.TxtMsg, MsgNoCard);
      SetText(form.TxtIDm, L"");
      SetText(form.TxtFeliCaNo, L"");
    }
    EnableReadButton(form);
    ReleaseReadConnection(form);
  } catch (...) {
    ReportCurrentError(form);
    SetText(form.TxtMsg, MsgHoldCardAndPress);
    SetText(form.TxtIDm, L"");
    SetText(form.TxtFeliCaNo, L"");
    EnableReadButton(form);
    try {
      ReleaseReadConnection(form);
    } catch (...) {
      ReportCurrentError(form);
    }
  }
}

void IdmOnly_Click(MainForm& form) {
  if (SendMessageW(form.IdmOnly, BM_GETCHECK, 0, 0) != BST_UNCHECKED) {
    form.IdmOnlyMode = FormTrue;
    form.FeliCaNoBackColor = COLOR_BTNFACE;
  } else {
    form.IdmOnlyMode = FormFalse;
    form.FeliCaNoBackColor = COLOR_WINDOW;
  }
  InvalidateRect(form.TxtFeliCaNo, nullptr, TRUE);
}

// --- Continuous polling -------------------------------------------------------------------

int16_t StartContinuousPolling(MainForm& form) {
  if (form.PollingActive) return FormFalse;
  const bool wasOpen = form.ReaderOpen != 0;
  try {
    OpenConnection(form);
    FelicaAPI::SetCallbackParameters(form.PollingHandle, 0, 1);
    FelicaAPI::StartPolling(0xFF, 0xFF, 0);
  } catch (...) {
    // A mode that did not start must not hold the library; the start's own error is the one
    // worth showing.
    if (!wasOpen) {
      try {
        CloseConnection(form);
      } catch (...) {
      }
    }
    throw;
  }
  form.PollingActive = FormTrue;
  return FormTrue;
}

int16_t StopContinuousPolling(MainForm& form) {
  if (!form.PollingActive) return FormFalse;
  FelicaAPI::StopPolling();
  // The library's polling has stopped: a failed close below must not leave the mode marked
  // running, or every later stop would fail against a library that no longer polls.
  form.PollingActive = FormFalse;
  CloseConnection(form);
  return FormTrue;
}

void BtnCmd_Click(MainForm& form) {
  try {
    if (form.PollingActive) {
      StopContinuousPolling(form);
      SetText(form.BtnCmd, CaptionStartPolling);
    } else {
      StartContinuousPolling(form);
      SetText(form.BtnCmd, CaptionStopPolling);
    }
  } catch (...) {
    ReportCurrentError(form);
    // The caption follows the mode as it now is, also after a stop that stopped but failed to close.
    SetText(form.BtnCmd, form.PollingActive ? CaptionStopPolling : CaptionStartPolling);
  }
}

void PollingHandle_KeyUp(MainForm& form, int16_t KeyCode, int16_t /*Shift*/) {
  // Once unloading began the library is on its way out: nothing is read or shown.
  if (form.Unloading) return;
  if (KeyCode == FelicaAPI::KeyCardFound) {
    CardFound(form);
  } else if (KeyCode == FelicaAPI::KeyCardLost) {
    CardLoss(form);
  }
}

void CardFound(MainForm& form) {
  SetText(form.TxtMsg, MsgCardFound);
  // Without the connection the library is disposed: there is nothing to read.
  SetText(form.TxtIDm, form.ReaderOpen ? FelicaAPI::GetIDm() : std::wstring());
  SetText(form.TxtFeliCaNo, form.ReaderOpen ? FelicaNumberText(form) : std::wstring());
}

void CardLoss(MainForm& form) {
  SetText(form.TxtMsg, MsgHoldCard);
  SetText(form.TxtIDm, L"");
  SetText(form.TxtFeliCaNo, L"");
}
