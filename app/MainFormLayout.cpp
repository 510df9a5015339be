// The controls, their fonts and colours, and the conversion of the design's twips with the
// window's DPI, at creation and whenever the DPI changes.
#include <iterator>

#include "MainFormLayout.h"
#include "MainFormParts.h"

namespace {

// Same order as MainFormControls.
constexpr HWND MainForm::*ControlSlots[] = {
    &MainForm::TxtIDm, &MainForm::TxtFeliCaNo, &MainForm::TxtMsg,        &MainForm::Text4,   &MainForm::Text5,
    &MainForm::BtnCmd, &MainForm::PollingHandle, &MainForm::BtnPoll, &MainForm::IdmOnly,
};
static_assert(std::size(ControlSlots) == std::size(MainFormControls));

template <typename Function> Function User32Function(const char* name) {
  FARPROC address = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// The system DPI, which is all there is before Windows 10.
int ScreenDpi() {
  WindowDC screen(nullptr);
  return GetDeviceCaps(screen.Get(), LOGPIXELSY);
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

OwnedFont JapaneseFont(const wchar_t* face, UINT dpi) {
  return OwnedFont(CreateFontW(-MulDiv(JapaneseFontCentipoints, static_cast<int>(dpi), 7200), 0, 0, 0, FW_NORMAL,
                               FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face));
}

// The system's message font, at the window's DPI.
OwnedFont MessageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return OwnedFont(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  }
  int systemDpi = ScreenDpi();
  if (systemDpi > 0) metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), systemDpi);
  return OwnedFont(CreateFontIndirectW(&metrics.lfMessageFont));
}

struct ControlWindow {
  const wchar_t* Class;
  DWORD Style, ExStyle;
};

ControlWindow WindowFor(const ControlLayout& layout) {
  ControlWindow made{L"EDIT", WS_CHILD | (layout.Visible ? WS_VISIBLE : 0u), 0};
  switch (layout.Kind) {
  case ControlKind::ValueField:
    made.Style |= ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP;
    made.ExStyle |= WS_EX_CLIENTEDGE;
    break;
  case ControlKind::Status:
    made.Style |= ES_READONLY | ES_MULTILINE;
    break;
  case ControlKind::Caption:
    made.Style |= ES_READONLY | ES_RIGHT;
    break;
  case ControlKind::EventBox:
    made.Style |= ES_AUTOHSCROLL;
    made.ExStyle |= WS_EX_CLIENTEDGE;
    break;
  case ControlKind::Button:
  case ControlKind::DefaultButton:
    made.Class = L"BUTTON";
    made.Style |= (layout.Kind == ControlKind::DefaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP;
    break;
  case ControlKind::CheckBox:
    made.Class = L"BUTTON";
    made.Style |= BS_AUTOCHECKBOX | WS_TABSTOP;
    break;
  }
  return made;
}

} // namespace

// The DPI functions of Windows 10 are looked up, so the program still starts on Windows 7.
UINT WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
  if (getDpiForWindow) {
    if (UINT dpi = getDpiForWindow(window)) return dpi;
  }
  int dpi = ScreenDpi();
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

bool CreateControls(MainForm& form, HINSTANCE instance) {
  for (size_t i = 0; i < std::size(MainFormControls); ++i) {
    const ControlLayout& layout = MainFormControls[i];
    const ControlWindow made = WindowFor(layout);
    // Made in place: moving each control afterwards would resize and re-measure it once more.
    HWND control = CreateWindowExW(made.ExStyle, made.Class, layout.Text, made.Style, Pixels(layout.Left, form.Dpi),
                                   Pixels(layout.Top, form.Dpi), Pixels(layout.Width, form.Dpi),
                                   Pixels(layout.Height, form.Dpi), form.Window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.Id)), instance, nullptr);
    if (!control) return false;
    form.*ControlSlots[i] = control;
  }
  return true;
}

void ApplyFonts(MainForm& form) {
  OwnedFont gothic = JapaneseFont(GothicFace, form.Dpi);
  OwnedFont pGothic = JapaneseFont(PGothicFace, form.Dpi);
  OwnedFont message = MessageFont(form.Dpi);
  for (size_t i = 0; i < std::size(MainFormControls); ++i) {
    const ControlLayout& layout = MainFormControls[i];
    HFONT font = layout.Font == ControlFont::Gothic    ? gothic.Get()
                 : layout.Font == ControlFont::PGothic ? pGothic.Get()
                                                       : message.Get();
    SendMessageW(form.*ControlSlots[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  // The controls have let go of the old fonts: these assignments free them.
  form.GothicFont = std::move(gothic);
  form.PGothicFont = std::move(pGothic);
  form.DefaultFont = std::move(message);
}

void SizeWindowToDesign(MainForm& form) {
  RECT frame = FrameForClient(form.Window, Pixels(ClientWidthTwips, form.Dpi), Pixels(ClientHeightTwips, form.Dpi),
                              form.Dpi);
  SetWindowPos(form.Window, nullptr, Pixels(FormLeftTwips, form.Dpi), Pixels(FormTopTwips, form.Dpi),
               frame.right - frame.left, frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ChangeDpi(MainForm& form, UINT dpi, const RECT& suggested) {
  form.Dpi = dpi;
  SetWindowPos(form.Window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  for (size_t i = 0; i < std::size(MainFormControls); ++i) {
    const ControlLayout& layout = MainFormControls[i];
    SetWindowPos(form.*ControlSlots[i], nullptr, Pixels(layout.Left, form.Dpi), Pixels(layout.Top, form.Dpi),
                 Pixels(layout.Width, form.Dpi), Pixels(layout.Height, form.Dpi), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ApplyFonts(form);
}

int BackColor(const MainForm& form, HWND control) {
  if (control == form.TxtMsg || control == form.Text4 || control == form.Text5) return COLOR_BTNFACE;
  if (control == form.TxtFeliCaNo) return form.FeliCaNoBackColor;
  if (control == form.TxtIDm) return COLOR_WINDOW;
  return -1;
}
