// The window: its controls and their places, the settings they show and change, the notification
// icon and its menu, and the window's life from its start to the quit.
#include "InputWindow.h"

#include <commdlg.h>

#include <iterator>

#include "InputLayout.h"
#include "bridge/CardEventBridge.h"

namespace {

struct Control {
  int id;
  const wchar_t* windowClass;
  const Text* text; // nullptr: set from the settings
  DWORD style;
  int left, top, width, height;
};

constexpr DWORD kLabel = SS_LEFT | SS_NOPREFIX;
constexpr DWORD kList = CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL;
constexpr DWORD kCheck = BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kField = ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER;
constexpr DWORD kShown = ES_READONLY | ES_AUTOHSCROLL | WS_BORDER;

// In tab order. Combo boxes are as tall as their open list.
constexpr Control kControls[] = {
    {IdStatus, L"STATIC", nullptr, kLabel, 10, 10, 440, 36},
    {IdLastCard, L"STATIC", nullptr, kLabel, 10, 50, 440, 36},
    {IdPause, L"BUTTON", &kPause, kButton, 10, 90, 110, 26},
    {IdDetails, L"BUTTON", &kDetails, kButton, 130, 90, 110, 26},
    {IdFormGroup, L"BUTTON", &kFormGroup, BS_GROUPBOX, 10, 126, 440, 150},
    {IdSourceLabel, L"STATIC", &kSourceLabel, kLabel, 20, 150, 90, 20},
    {IdSource, L"COMBOBOX", nullptr, kList, 115, 146, 170, 120},
    {IdDigitsLabel, L"STATIC", &kDigitsLabel, kLabel, 20, 180, 90, 20},
    {IdDigits, L"COMBOBOX", nullptr, kList, 115, 176, 170, 120},
    {IdReversed, L"BUTTON", &kReversed, kCheck, 295, 176, 150, 24},
    {IdSeparatorLabel, L"STATIC", &kSeparatorLabel, kLabel, 20, 212, 90, 20},
    {IdSeparator, L"EDIT", nullptr, kField, 115, 208, 50, 24},
    {IdPrefixLabel, L"STATIC", &kPrefixLabel, kLabel, 175, 212, 50, 20},
    {IdPrefix, L"EDIT", nullptr, kField, 225, 208, 70, 24},
    {IdSuffixLabel, L"STATIC", &kSuffixLabel, kLabel, 305, 212, 50, 20},
    {IdSuffix, L"EDIT", nullptr, kField, 355, 208, 85, 24},
    {IdExampleLabel, L"STATIC", &kExampleLabel, kLabel, 20, 244, 90, 20},
    {IdExample, L"EDIT", nullptr, kShown, 115, 240, 325, 24},
    {IdEntryGroup, L"BUTTON", &kEntryGroup, BS_GROUPBOX, 10, 284, 440, 150},
    {IdThenLabel, L"STATIC", &kThenLabel, kLabel, 20, 308, 90, 20},
    {IdThen, L"COMBOBOX", nullptr, kList, 115, 304, 100, 120},
    {IdWayLabel, L"STATIC", &kWayLabel, kLabel, 230, 308, 75, 20},
    {IdWay, L"COMBOBOX", nullptr, kList, 305, 304, 135, 120},
    {IdCloseIme, L"BUTTON", &kCloseIme, kCheck, 20, 336, 420, 24},
    {IdSameCardLabel, L"STATIC", &kSameCardLabel, kLabel, 20, 370, 150, 20},
    {IdSameCard, L"EDIT", nullptr, kField | ES_NUMBER, 175, 366, 50, 24},
    {IdSameCardUnit, L"STATIC", &kSameCardUnit, kLabel, 232, 370, 208, 20},
    {IdSound, L"BUTTON", &kSound, kCheck, 20, 400, 420, 24},
    {IdCsvOn, L"BUTTON", &kCsvOn, kCheck, 10, 444, 330, 24},
    {IdCsvChoose, L"BUTTON", &kChoose, kButton, 350, 443, 100, 26},
    {IdCsvFile, L"EDIT", nullptr, kShown, 10, 474, 440, 24},
    {IdStartWithWindows, L"BUTTON", &kStartWithWindows, kCheck, 10, 506, 440, 24},
    {IdSettingsNote, L"STATIC", nullptr, kLabel, 10, 534, 440, 36},
};

constexpr UINT kIconId = 1;

struct Creation {
  InputWindow* w;
  bool attached;
};
UINT taskbarCreated = 0, showMessage = 0;

InputWindow* Of(HWND window) { return reinterpret_cast<InputWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }
HWND Item(const InputWindow& w, int id) { return GetDlgItem(w.window, id); }
bool Checked(const InputWindow& w, int id) { return IsDlgButtonChecked(w.window, id) == BST_CHECKED; }
void Check(const InputWindow& w, int id, bool on) { CheckDlgButton(w.window, id, on ? BST_CHECKED : BST_UNCHECKED); }
int Selected(const InputWindow& w, int id) { return static_cast<int>(SendMessageW(Item(w, id), CB_GETCURSEL, 0, 0)); }
void Select(const InputWindow& w, int id, int item) { SendMessageW(Item(w, id), CB_SETCURSEL, item, 0); }
int Scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

std::wstring Ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text)
    narrow += c < 0x80 ? static_cast<char>(c) : '\x7F'; // refused by the form's own check
  return narrow;
}

UINT Dpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  const UINT dpi = getDpiForWindow ? getDpiForWindow(window) : 0;
  return dpi ? dpi : 96;
}

void Layout(InputWindow& w) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  metrics.lfMessageFont.lfHeight = -Scaled(12, w.dpi);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  for (const Control& control : kControls) {
    HWND item = Item(w, control.id);
    SetWindowPos(item, nullptr, Scaled(control.left, w.dpi), Scaled(control.top, w.dpi),
                 Scaled(control.width, w.dpi), Scaled(control.height, w.dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  if (w.font)
    DeleteObject(w.font);
  w.font = font;
  RECT frame{0, 0, Scaled(kClientWidth, w.dpi), Scaled(kClientHeight, w.dpi)};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(w.window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(w.window, GWL_EXSTYLE)));
  SetWindowPos(w.window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

bool CreateControls(InputWindow& w, HINSTANCE instance) {
  for (const Control& control : kControls) {
    if (!CreateWindowExW(0, control.windowClass, control.text ? Say(*control.text) : L"",
                         WS_CHILD | WS_VISIBLE | control.style, 0, 0, 0, 0, w.window,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr))
      return false;
  }
  auto items = [&](int id, std::initializer_list<const Text*> texts) {
    for (const Text* text : texts)
      SendMessageW(Item(w, id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Say(*text)));
  };
  items(IdSource, {&kSourceIdm, &kSourceNumber});
  items(IdDigits, {&kDigitsUpper, &kDigitsLower, &kDigitsDecimal});
  const Text enter{L"Enter", L"Enter"}, tab{L"Tab", L"Tab"};
  items(IdThen, {&enter, &tab, &kThenNone});
  items(IdWay, {&kWayKeys, &kWayPaste});
  for (int id : {IdSeparator, IdPrefix, IdSuffix})
    SendMessageW(Item(w, id), EM_LIMITTEXT, pcsc::kMaxFormText, 0);
  SendMessageW(Item(w, IdSameCard), EM_LIMITTEXT, 4, 0);
  // The bridge keeps its previous procedure in this box's user data: the box is of our own
  // class, whose procedure needs none.
  w.events = CreateWindowExW(0, L"VarneloInputEvents", L"", WS_CHILD, 0, 0, 0, 0, w.window,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdEvents)), instance, nullptr);
  return w.events != nullptr;
}

// --- The settings in the controls ---

void Fill(InputWindow& w) {
  w.filling = true;
  const InputSettings& s = w.settings;
  Select(w, IdSource, s.form.source == pcsc::IdForm::Source::FelicaNumber ? SourceFelicaNumber : SourceIdm);
  Select(w, IdDigits, s.form.digits == pcsc::IdForm::Digits::Lower     ? DigitsLower
                      : s.form.digits == pcsc::IdForm::Digits::Decimal ? DigitsDecimal
                                                                       : DigitsUpper);
  Check(w, IdReversed, s.form.reversed);
  SetDlgItemTextW(w.window, IdSeparator, Ascii(s.form.separator).c_str());
  SetDlgItemTextW(w.window, IdPrefix, Ascii(s.form.prefix).c_str());
  SetDlgItemTextW(w.window, IdSuffix, Ascii(s.form.suffix).c_str());
  Select(w, IdThen, s.then == pcsc::ThenKey::Tab ? ThenTab : s.then == pcsc::ThenKey::None ? ThenNone : ThenEnter);
  Select(w, IdWay, s.way == pcsc::EntryWay::Paste ? WayPaste : WayKeys);
  Check(w, IdCloseIme, s.closeInputMethod);
  SetDlgItemInt(w.window, IdSameCard, static_cast<UINT>(s.sameCardSeconds), FALSE);
  Check(w, IdSound, s.sound);
  Check(w, IdCsvOn, !s.csvFile.empty());
  SetDlgItemTextW(w.window, IdCsvFile, s.csvFile.c_str());
  Check(w, IdStartWithWindows, StartsWithWindows(w.program));
  w.filling = false;
}

// The form the controls spell, or nothing with the word that cannot be used.
std::optional<pcsc::IdForm> FormOfControls(const InputWindow& w, std::string& bad) {
  pcsc::IdForm form;
  form.source = Selected(w, IdSource) == SourceFelicaNumber ? pcsc::IdForm::Source::FelicaNumber
                                                            : pcsc::IdForm::Source::Idm;
  const int digits = Selected(w, IdDigits);
  form.digits = digits == DigitsLower     ? pcsc::IdForm::Digits::Lower
                : digits == DigitsDecimal ? pcsc::IdForm::Digits::Decimal
                                          : pcsc::IdForm::Digits::Upper;
  form.reversed = Checked(w, IdReversed);
  form.separator = Narrow(ControlText(Item(w, IdSeparator)));
  form.prefix = Narrow(ControlText(Item(w, IdPrefix)));
  form.suffix = Narrow(ControlText(Item(w, IdSuffix)));
  // Through its words, so that the window allows exactly what the settings file does.
  return pcsc::ParseIdForm(pcsc::IdFormText(form), bad);
}

// Only what the window changed is saved: a hand-edited file stays as it is until then.
void Save(InputWindow& w) {
  if (!KillTimer(w.window, TimerSave))
    return;
  unsigned error = 0;
  if (!SaveSettings(w.settingsPath, w.settings, error))
    SetDlgItemTextW(w.window, IdSettingsNote, (Say(kSettingsNotSaved) + std::to_wstring(error)).c_str());
}

void TakeControls(InputWindow& w, int changed) {
  if (w.filling)
    return;
  InputSettings& s = w.settings;
  const bool plainBefore = s.form == pcsc::IdForm{};
  std::string bad;
  if (const auto form = FormOfControls(w, bad))
    s.form = *form;
  const int then = Selected(w, IdThen);
  s.then = then == ThenTab ? pcsc::ThenKey::Tab : then == ThenNone ? pcsc::ThenKey::None : pcsc::ThenKey::Enter;
  s.way = Selected(w, IdWay) == WayPaste ? pcsc::EntryWay::Paste : pcsc::EntryWay::Keys;
  s.closeInputMethod = Checked(w, IdCloseIme);
  BOOL number = FALSE;
  const UINT seconds = GetDlgItemInt(w.window, IdSameCard, &number, FALSE);
  if (number && seconds <= static_cast<UINT>(kMaxSameCardSeconds))
    s.sameCardSeconds = static_cast<int>(seconds);
  s.sound = Checked(w, IdSound);
  ShowExample(w);
  if (!bad.empty())
    SetDlgItemTextW(w.window, IdExample, (Say(kBadForm) + Ascii(bad)).c_str());
  // A new list takes the typed column when the form differs from the IDm's own.
  if (changed == IdCsvOn || (w.log && plainBefore != (s.form == pcsc::IdForm{})))
    OpenList(w);
  SetTimer(w.window, TimerSave, kSaveMs, nullptr);
}

void ChooseList(InputWindow& w) {
  wchar_t file[MAX_PATH] = L"";
  lstrcpynW(file, w.settings.csvFile.c_str(), MAX_PATH);
  const std::wstring filter = std::wstring(Say(kCsvFilter)) + L'\0' + L"*.csv" + L'\0' + L'\0';
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = w.window;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = file;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrDefExt = L"csv";
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN | OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&dialog))
    return;
  w.settings.csvFile = file;
  SetDlgItemTextW(w.window, IdCsvFile, file);
  Check(w, IdCsvOn, true);
  OpenList(w);
  SetTimer(w.window, TimerSave, kSaveMs, nullptr);
}

// --- The notification icon ---

void ShowIcon(InputWindow& w, DWORD change) {
  w.icon.cbSize = sizeof w.icon;
  w.icon.hWnd = w.window;
  w.icon.uID = kIconId;
  w.icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  w.icon.uCallbackMessage = WM_APP_ICON;
  w.icon.hIcon = reinterpret_cast<HICON>(GetClassLongPtrW(w.window, GCLP_HICONSM));
  const std::wstring tip = std::wstring(Say(kTitle)) + L"\r\n" + (w.state ? Say(*w.state) : L"");
  lstrcpynW(w.icon.szTip, tip.c_str(), static_cast<int>(std::size(w.icon.szTip)));
  if (change == NIM_MODIFY && !w.iconShown)
    change = NIM_ADD;
  if (!Shell_NotifyIconW(change, &w.icon)) {
    // The taskbar may not be there yet (at logon): try again a little later.
    if (change == NIM_ADD)
      SetTimer(w.window, TimerIcon, kIconMs, nullptr);
    return;
  }
  if (change == NIM_ADD) {
    w.iconShown = true;
    w.icon.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &w.icon);
  }
}

void Tell(InputWindow& w, const Text& text) {
  w.icon.uFlags = NIF_INFO;
  lstrcpynW(w.icon.szInfo, Say(text), static_cast<int>(std::size(w.icon.szInfo)));
  lstrcpynW(w.icon.szInfoTitle, Say(kTitle), static_cast<int>(std::size(w.icon.szInfoTitle)));
  w.icon.dwInfoFlags = NIIF_INFO;
  Shell_NotifyIconW(NIM_MODIFY, &w.icon);
}

void SetPaused(InputWindow& w, bool paused) {
  w.paused = paused;
  SetDlgItemTextW(w.window, IdPause, Say(paused ? kResume : kPause));
  if (paused) {
    StopReading(w);
    ShowState(w, kPaused);
  } else {
    ShowState(w, kOpening);
    StartReading(w);
  }
}

void IconMenu(InputWindow& w, POINT at) {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, IdMenuShow, Say(kShow));
  AppendMenuW(menu, MF_STRING, IdMenuPause, Say(w.paused ? kResume : kPause));
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IdMenuQuit, Say(kQuit));
  SetMenuDefaultItem(menu, IdMenuShow, FALSE);
  // Without the foreground the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(w.window);
  TrackPopupMenuEx(menu, TPM_RIGHTBUTTON | (GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN),
                   at.x, at.y, w.window, nullptr);
  DestroyMenu(menu);
}

void Bring(InputWindow& w) {
  ShowWindow(w.window, IsIconic(w.window) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(w.window);
}

void ShowDetail(InputWindow& w) {
  if (w.detail.empty())
    return;
  const std::wstring text = std::wstring(w.state ? Say(*w.state) : L"") + L"\r\n\r\n" + w.detail;
  MessageBoxW(w.window, text.c_str(), Say(kTitle), MB_OK | MB_ICONINFORMATION);
}

void OnCommand(InputWindow& w, int id, int code) {
  switch (id) {
  case IdPause:
  case IdMenuPause:
    SetPaused(w, !w.paused);
    break;
  case IdDetails:
    ShowDetail(w);
    break;
  case IdMenuShow:
    Bring(w);
    break;
  case IdMenuQuit:
    DestroyWindow(w.window);
    break;
  case IdCsvChoose:
    ChooseList(w);
    break;
  case IdCsvOn:
    if (!Checked(w, IdCsvOn)) {
      w.settings.csvFile.clear();
      SetDlgItemTextW(w.window, IdCsvFile, L"");
      TakeControls(w, id);
    } else if (w.settings.csvFile.empty()) {
      Check(w, IdCsvOn, false);
      ChooseList(w);
    }
    break;
  case IdStartWithWindows:
    if (!SetStartWithWindows(w.program, Checked(w, IdStartWithWindows)))
      Check(w, IdStartWithWindows, StartsWithWindows(w.program));
    break;
  case IDCANCEL: // Escape, as a close
    PostMessageW(w.window, WM_CLOSE, 0, 0);
    break;
  case IdSource:
  case IdDigits:
  case IdThen:
  case IdWay:
    if (code == CBN_SELCHANGE)
      TakeControls(w, id);
    break;
  case IdSeparator:
  case IdPrefix:
  case IdSuffix:
  case IdSameCard:
    if (code == EN_CHANGE)
      TakeControls(w, id);
    break;
  case IdReversed:
  case IdCloseIme:
  case IdSound:
    if (code == BN_CLICKED)
      TakeControls(w, id);
    break;
  default:
    break;
  }
}

void Quit(InputWindow& w) {
  StopReading(w);
  pcsc::RestoreInputMethod();
  if (IsWindow(w.events))
    FelicaAPI::UnsubclassWindow(w.events);
  if (w.iconShown)
    Shell_NotifyIconW(NIM_DELETE, &w.icon);
  w.iconShown = false;
  Save(w);
}

bool Handle(InputWindow& w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  switch (message) {
  case WM_COMMAND:
    OnCommand(w, LOWORD(wParam), HIWORD(wParam));
    return true;
  case WM_TIMER:
    if (wParam != TimerRetry && wParam != TimerCheck && wParam != TimerSave)
      KillTimer(w.window, wParam);
    if (wParam == TimerRetry)
      StartReading(w);
    else if (wParam == TimerCheck)
      CheckReader(w);
    else if (wParam == TimerInputMethod)
      pcsc::RestoreInputMethod();
    else if (wParam == TimerSave)
      Save(w);
    else if (wParam == TimerIcon)
      ShowIcon(w, NIM_ADD);
    return true;
  case WM_APP_START:
    StartReading(w);
    return true;
  case WM_APP_CARD:
    EnterCard(w);
    return true;
  case WM_APP_ICON:
    switch (LOWORD(lParam)) {
    case WM_CONTEXTMENU:
      IconMenu(w, {static_cast<short>(LOWORD(wParam)), static_cast<short>(HIWORD(wParam))});
      break;
    case NIN_SELECT:
    case NIN_KEYSELECT:
    case WM_LBUTTONUP:
      Bring(w);
      break;
    default:
      break;
    }
    return true;
  case WM_CLOSE:
    // The window goes; the program stays in the notification area, or on the taskbar without one.
    ShowWindow(w.window, w.iconShown ? SW_HIDE : SW_MINIMIZE);
    if (!w.toldInTray && w.iconShown)
      Tell(w, kInTray);
    w.toldInTray = true;
    return true;
  case WM_QUERYENDSESSION:
    result = TRUE;
    return true;
  case WM_ENDSESSION:
    if (wParam)
      Quit(w);
    return true;
  case WM_DESTROY:
    Quit(w);
    PostQuitMessage(0);
    return true;
  case 0x02E0: { // WM_DPICHANGED
    w.dpi = HIWORD(wParam);
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(w.window, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    Layout(w);
    return true;
  }
  default:
    if (message == taskbarCreated && taskbarCreated) {
      w.iconShown = false;
      ShowIcon(w, NIM_ADD);
      return true;
    }
    if (message == showMessage && showMessage) {
      Bring(w);
      return true;
    }
    return false;
  }
}

LRESULT CALLBACK InputWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  try {
    if (message == WM_NCCREATE) {
      auto* creation = static_cast<Creation*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      creation->w->window = window;
      creation->attached = true;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->w));
    }
    InputWindow* w = Of(window);
    LRESULT result = 0;
    if (w && Handle(*w, message, wParam, lParam, result))
      return result;
    if (message == WM_NCDESTROY && w) {
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      if (w->font)
        DeleteObject(w->font);
      delete w;
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The box's key-up is the card event the bridge made of the library's message.
LRESULT CALLBACK EventsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  try {
    if (message == WM_KEYUP) {
      if (InputWindow* w = Of(GetParent(window))) {
        if (wParam == static_cast<WPARAM>(FelicaAPI::KeyCardFound))
          CardFound(*w);
        else if (wParam == static_cast<WPARAM>(FelicaAPI::KeyCardLost))
          CardLost(*w);
      }
      return 0;
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterClasses(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = InputWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kInputWindowClass;
  windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  WNDCLASSEXW eventsClass{};
  eventsClass.cbSize = sizeof eventsClass;
  eventsClass.lpfnWndProc = EventsProc;
  eventsClass.hInstance = instance;
  eventsClass.lpszClassName = L"VarneloInputEvents";
  return RegisterClassExW(&windowClass) && RegisterClassExW(&eventsClass);
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

void LoadAll(InputWindow& w) {
  std::vector<std::wstring> bad;
  w.settingsPath = SettingsPath(Folder(w.program));
  w.settings = LoadSettings(w.settingsPath, bad);
  w.settingsNote = Say(kSettingsFile) + w.settingsPath;
  if (bad.size() == 1 && bad[0].empty()) {
    w.settingsNote = Say(kSettingsUnreadable) + w.settingsPath;
  } else if (!bad.empty()) {
    std::wstring keys;
    for (const std::wstring& key : bad)
      keys += (keys.empty() ? L"" : L", ") + key;
    w.settingsNote = Say(kSettingsBad) + keys;
  }
}

} // namespace

std::wstring ControlText(HWND control) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

void ShowState(InputWindow& w, const Text& state, const std::wstring& detail) {
  const bool changed = w.state != &state;
  w.state = &state;
  w.detail = detail;
  if (changed)
    SetDlgItemTextW(w.window, IdStatus, Say(state));
  EnableWindow(Item(w, IdDetails), !detail.empty());
  if (changed && w.iconShown)
    ShowIcon(w, NIM_MODIFY);
}

void ShowLastCard(InputWindow& w, const std::wstring& text) { SetDlgItemTextW(w.window, IdLastCard, text.c_str()); }

void ShowExample(InputWindow& w) {
  const std::wstring example = Ascii(pcsc::FormatId(w.example, w.settings.form));
  SetDlgItemTextW(w.window, IdExample, example.c_str());
}

HWND CreateInputWindow(HINSTANCE instance, bool inTray) {
  taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  showMessage = RegisterWindowMessageW(kShowMessageName);
  if (!RegisterClasses(instance))
    return nullptr;
  auto* w = new InputWindow;
  wchar_t program[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  w->program = program;
  // The form's example starts with a card of the kind people hold.
  w->example = {0x01, 0x14, 0xB3, 0x5E, 0x9C, 0x2A, 0x7D, 0xF6};
  Creation creation{w, false};
  const HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, kInputWindowClass, Say(kTitle),
                                      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, &creation);
  if (!window) {
    // Once the window had it, it went with the window.
    if (!creation.attached)
      delete w;
    return nullptr;
  }
  w->dpi = Dpi(window);
  if (!CreateControls(*w, instance)) {
    DestroyWindow(window);
    return nullptr;
  }
  Layout(*w);
  LoadAll(*w);
  Fill(*w);
  SetDlgItemTextW(window, IdSettingsNote, w->settingsNote.c_str());
  ShowExample(*w);
  OpenList(*w);
  ShowState(*w, kOpening);
  FelicaAPI::SubclassWindow(w->events);
  ShowIcon(*w, NIM_ADD);
  if (!inTray) {
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
  }
  // Shown first: opening the reader may take a while.
  PostMessageW(window, WM_APP_START, 0, 0);
  return window;
}

bool TranslateInputMessage(HWND window, MSG& message) { return IsDialogMessageW(window, &message) != FALSE; }
