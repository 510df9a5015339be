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

// A group of choices starts at its first button; every other control ends the one before.
constexpr DWORD kLabel = SS_LEFT | SS_NOPREFIX | WS_GROUP;
constexpr DWORD kFirstChoice = BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP;
constexpr DWORD kChoice = BS_AUTORADIOBUTTON;
constexpr DWORD kCheck = BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP;
constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP;
constexpr DWORD kField = ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER | WS_GROUP;
constexpr DWORD kShown = ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_GROUP;

// In tab order. Choices are buttons rather than lists: all in view, one click, and much quicker
// to make at the start.
constexpr Control kControls[] = {
    {IdStatus, L"STATIC", nullptr, kLabel, 10, 10, 440, 36},
    {IdLastCard, L"STATIC", nullptr, kLabel, 10, 50, 440, 36},
    {IdPause, L"BUTTON", &kPause, kButton, 10, 90, 110, 26},
    {IdDetails, L"BUTTON", &kDetails, kButton, 130, 90, 110, 26},
    {IdFormGroup, L"BUTTON", &kFormGroup, BS_GROUPBOX | WS_GROUP, 10, 126, 440, 180},
    {IdSourceLabel, L"STATIC", &kSourceLabel, kLabel, 20, 150, 90, 20},
    {IdSourceIdm, L"BUTTON", &kSourceIdm, kFirstChoice, 115, 146, 90, 24},
    {IdSourceNumber, L"BUTTON", &kSourceNumber, kChoice, 210, 146, 230, 24},
    {IdDigitsLabel, L"STATIC", &kDigitsLabel, kLabel, 20, 178, 90, 20},
    {IdDigitsUpper, L"BUTTON", &kDigitsUpper, kFirstChoice, 115, 174, 120, 24},
    {IdDigitsLower, L"BUTTON", &kDigitsLower, kChoice, 240, 174, 120, 24},
    {IdDigitsDecimal, L"BUTTON", &kDigitsDecimal, kChoice, 365, 174, 80, 24},
    {IdReversed, L"BUTTON", &kReversed, kCheck, 115, 202, 325, 24},
    {IdSeparatorLabel, L"STATIC", &kSeparatorLabel, kLabel, 20, 240, 90, 20},
    {IdSeparator, L"EDIT", nullptr, kField, 115, 236, 50, 24},
    {IdPrefixLabel, L"STATIC", &kPrefixLabel, kLabel, 175, 240, 50, 20},
    {IdPrefix, L"EDIT", nullptr, kField, 225, 236, 70, 24},
    {IdSuffixLabel, L"STATIC", &kSuffixLabel, kLabel, 305, 240, 50, 20},
    {IdSuffix, L"EDIT", nullptr, kField, 355, 236, 85, 24},
    {IdExampleLabel, L"STATIC", &kExampleLabel, kLabel, 20, 272, 90, 20},
    {IdExample, L"EDIT", nullptr, kShown, 115, 268, 325, 24},
    {IdEntryGroup, L"BUTTON", &kEntryGroup, BS_GROUPBOX | WS_GROUP, 10, 314, 440, 176},
    {IdThenLabel, L"STATIC", &kThenLabel, kLabel, 20, 338, 90, 20},
    {IdThenEnter, L"BUTTON", &kThenEnter, kFirstChoice, 115, 334, 75, 24},
    {IdThenTab, L"BUTTON", &kThenTab, kChoice, 195, 334, 65, 24},
    {IdThenNone, L"BUTTON", &kThenNone, kChoice, 265, 334, 175, 24},
    {IdWayLabel, L"STATIC", &kWayLabel, kLabel, 20, 366, 90, 20},
    {IdWayKeys, L"BUTTON", &kWayKeys, kFirstChoice, 115, 362, 120, 24},
    {IdWayPaste, L"BUTTON", &kWayPaste, kChoice, 240, 362, 200, 24},
    {IdCloseIme, L"BUTTON", &kCloseIme, kCheck, 20, 392, 420, 24},
    {IdSameCardLabel, L"STATIC", &kSameCardLabel, kLabel, 20, 426, 150, 20},
    {IdSameCard, L"EDIT", nullptr, kField | ES_NUMBER, 175, 422, 50, 24},
    {IdSameCardUnit, L"STATIC", &kSameCardUnit, kLabel, 232, 426, 208, 20},
    {IdSound, L"BUTTON", &kSound, kCheck, 20, 456, 420, 24},
    {IdCsvOn, L"BUTTON", &kCsvOn, kCheck, 10, 500, 330, 24},
    {IdCsvChoose, L"BUTTON", &kChoose, kButton, 350, 499, 100, 26},
    {IdCsvFile, L"EDIT", nullptr, kShown, 10, 530, 440, 24},
    {IdStartWithWindows, L"BUTTON", &kStartWithWindows, kCheck, 10, 562, 440, 24},
    {IdSettingsNote, L"STATIC", nullptr, kLabel, 10, 590, 440, 36},
};

// The groups of choices: their first button and how many there are.
struct Choices {
  int first, count;
};
constexpr Choices kSource{IdSourceIdm, 2}, kDigits{IdDigitsUpper, 3}, kThen{IdThenEnter, 3}, kWay{IdWayKeys, 2};
// A button's place in its group is the setting's value.
static_assert(IdSourceNumber - IdSourceIdm == static_cast<int>(pcsc::IdForm::Source::FelicaNumber));
static_assert(IdDigitsLower - IdDigitsUpper == static_cast<int>(pcsc::IdForm::Digits::Lower) &&
              IdDigitsDecimal - IdDigitsUpper == static_cast<int>(pcsc::IdForm::Digits::Decimal));
static_assert(IdThenTab - IdThenEnter == static_cast<int>(pcsc::ThenKey::Tab) &&
              IdThenNone - IdThenEnter == static_cast<int>(pcsc::ThenKey::None));
static_assert(IdWayPaste - IdWayKeys == static_cast<int>(pcsc::EntryWay::Paste));

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
// The place of the chosen button in its group.
int Chosen(const InputWindow& w, Choices choices) {
  for (int i = 0; i < choices.count; ++i)
    if (Checked(w, choices.first + i))
      return i;
  return 0;
}
void Choose(const InputWindow& w, Choices choices, int item) {
  CheckRadioButton(w.window, choices.first, choices.first + choices.count - 1, choices.first + item);
}
const Choices* GroupOf(int id) {
  for (const Choices* choices : {&kSource, &kDigits, &kThen, &kWay})
    if (id >= choices->first && id < choices->first + choices->count)
      return choices;
  return nullptr;
}
int Scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

UINT Dpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  const UINT dpi = getDpiForWindow ? getDpiForWindow(window) : 0;
  return dpi ? dpi : 96;
}

// The system's message font at the window's DPI; the one it replaces goes once the controls
// have let go of it.
HFONT TakeFont(InputWindow& w) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  metrics.lfMessageFont.lfHeight = -Scaled(12, w.dpi);
  HFONT old = w.font;
  w.font = CreateFontIndirectW(&metrics.lfMessageFont);
  return old;
}

void SizeWindow(InputWindow& w) {
  RECT frame{0, 0, Scaled(kClientWidth, w.dpi), Scaled(kClientHeight, w.dpi)};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(w.window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(w.window, GWL_EXSTYLE)));
  SetWindowPos(w.window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

// After a change of DPI.
void Layout(InputWindow& w) {
  const HFONT old = TakeFont(w);
  for (const Control& control : kControls) {
    HWND item = Item(w, control.id);
    SetWindowPos(item, nullptr, Scaled(control.left, w.dpi), Scaled(control.top, w.dpi),
                 Scaled(control.width, w.dpi), Scaled(control.height, w.dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(w.font), TRUE);
  }
  if (old)
    DeleteObject(old);
  SizeWindow(w);
}

// Each made in place with its font, before the window is shown: nothing is moved or drawn twice.
bool CreateControls(InputWindow& w, HINSTANCE instance) {
  TakeFont(w);
  for (const Control& control : kControls) {
    HWND item = CreateWindowExW(0, control.windowClass, control.text ? Say(*control.text) : L"",
                                WS_CHILD | WS_VISIBLE | control.style, Scaled(control.left, w.dpi),
                                Scaled(control.top, w.dpi), Scaled(control.width, w.dpi),
                                Scaled(control.height, w.dpi), w.window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
    if (!item)
      return false;
    SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(w.font), FALSE);
  }
  SizeWindow(w);
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
  Choose(w, kSource, static_cast<int>(s.form.source));
  Choose(w, kDigits, static_cast<int>(s.form.digits));
  Check(w, IdReversed, s.form.reversed);
  SetDlgItemTextW(w.window, IdSeparator, WideText(s.form.separator).c_str());
  SetDlgItemTextW(w.window, IdPrefix, WideText(s.form.prefix).c_str());
  SetDlgItemTextW(w.window, IdSuffix, WideText(s.form.suffix).c_str());
  Choose(w, kThen, static_cast<int>(s.then));
  Choose(w, kWay, static_cast<int>(s.way));
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
  form.source = static_cast<pcsc::IdForm::Source>(Chosen(w, kSource));
  form.digits = static_cast<pcsc::IdForm::Digits>(Chosen(w, kDigits));
  form.reversed = Checked(w, IdReversed);
  form.separator = NarrowText(ControlText(Item(w, IdSeparator)));
  form.prefix = NarrowText(ControlText(Item(w, IdPrefix)));
  form.suffix = NarrowText(ControlText(Item(w, IdSuffix)));
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
  s.then = static_cast<pcsc::ThenKey>(Chosen(w, kThen));
  s.way = static_cast<pcsc::EntryWay>(Chosen(w, kWay));
  s.closeInputMethod = Checked(w, IdCloseIme);
  BOOL number = FALSE;
  const UINT seconds = GetDlgItemInt(w.window, IdSameCard, &number, FALSE);
  if (number && seconds <= static_cast<UINT>(kMaxSameCardSeconds))
    s.sameCardSeconds = static_cast<int>(seconds);
  s.sound = Checked(w, IdSound);
  ShowExample(w);
  if (!bad.empty())
    SetDlgItemTextW(w.window, IdExample, (Say(kBadForm) + WideText(bad)).c_str());
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
  static const auto getSaveFileName = Later<decltype(&GetSaveFileNameW)>(L"comdlg32.dll", "GetSaveFileNameW");
  if (!getSaveFileName || !getSaveFileName(&dialog))
    return;
  w.settings.csvFile = file;
  SetDlgItemTextW(w.window, IdCsvFile, file);
  Check(w, IdCsvOn, true);
  OpenList(w);
  SetTimer(w.window, TimerSave, kSaveMs, nullptr);
}

// --- The notification icon ---

BOOL Notify(DWORD change, NOTIFYICONDATAW& icon) {
  static const auto notify = Later<decltype(&Shell_NotifyIconW)>(L"shell32.dll", "Shell_NotifyIconW");
  return notify && notify(change, &icon);
}

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
  if (!Notify(change, w.icon)) {
    // The taskbar may not be there yet (at logon): try again a little later.
    if (change == NIM_ADD)
      SetTimer(w.window, TimerIcon, kIconMs, nullptr);
    return;
  }
  if (change == NIM_ADD) {
    w.iconShown = true;
    w.icon.uVersion = NOTIFYICON_VERSION_4;
    Notify(NIM_SETVERSION, w.icon);
  }
}

void Tell(InputWindow& w, const Text& text) {
  w.icon.uFlags = NIF_INFO;
  lstrcpynW(w.icon.szInfo, Say(text), static_cast<int>(std::size(w.icon.szInfo)));
  lstrcpynW(w.icon.szInfoTitle, Say(kTitle), static_cast<int>(std::size(w.icon.szInfoTitle)));
  w.icon.dwInfoFlags = NIIF_INFO;
  Notify(NIM_MODIFY, w.icon);
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
    // A click sent by another program checks nothing by itself.
    if (const Choices* choices = GroupOf(id); choices && code == BN_CLICKED) {
      Choose(w, *choices, id - choices->first);
      TakeControls(w, id);
    }
    break;
  }
}

void Quit(InputWindow& w) {
  StopReading(w);
  pcsc::RestoreInputMethod();
  if (IsWindow(w.events))
    FelicaAPI::UnsubclassWindow(w.events);
  if (w.iconShown)
    Notify(NIM_DELETE, w.icon);
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
    ShowIcon(w, NIM_ADD);
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
  const std::wstring example = WideText(pcsc::FormatId(w.example, w.settings.form));
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
  LoadAll(*w);
  Fill(*w);
  SetDlgItemTextW(window, IdSettingsNote, w->settingsNote.c_str());
  ShowExample(*w);
  OpenList(*w);
  ShowState(*w, kOpening);
  FelicaAPI::SubclassWindow(w->events);
  if (!inTray) {
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
  }
  // Shown first: the icon and opening the reader may take a while.
  PostMessageW(window, WM_APP_START, 0, 0);
  return window;
}

bool TranslateInputMessage(HWND window, MSG& message) { return IsDialogMessageW(window, &message) != FALSE; }
