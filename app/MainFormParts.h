// What the window's source files share with each other and nobody else: MainForm.cpp has the
// window and its lifetime, MainFormLayout.cpp the controls, fonts and DPI, MainFormReading.cpp
// the connection, the one-shot read and continuous mode, MainFormError.cpp the error dialog.
#pragma once
#include <windows.h>

#include <string>

#include "MainForm.h"

inline void SetText(HWND control, const std::wstring& text) { SetWindowTextW(control, text.c_str()); }

// --- Layout, fonts and DPI ---

UINT WindowDpi(HWND window);
// Makes the nine controls in tab order, each in place at the form's DPI.
bool CreateControls(MainForm& form, HINSTANCE instance);
// Picks the controls' fonts for the form's DPI and frees the ones they replace.
void ApplyFonts(MainForm& form);
// Sizes and places the window so its client area has the design's size at the form's DPI.
void SizeWindowToDesign(MainForm& form);
// Takes the suggested frame, then places the controls and picks their fonts anew.
void ChangeDpi(MainForm& form, UINT dpi, const RECT& suggested);
// System colour index of a control's background, or -1 for the control's own.
int BackColor(const MainForm& form, HWND control);

// --- Error dialog ---

// Shows the error being handled, once per piece of work. Only call from inside a catch block.
void ReportCurrentError(MainForm& form) noexcept;
