// The one window: its controls, the reader connection, the one-shot read, continuous polling
// and the error dialog. Everything runs on the thread that created the window.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "GdiHandles.h"
#include "felica/FelicaError.h"

// 16-bit Booleans: false 0, true -1, any non-zero value counts as true.
inline constexpr int16_t FormTrue = -1;
inline constexpr int16_t FormFalse = 0;

struct MainForm {
  HWND Window = nullptr;
  HWND TxtIDm = nullptr, TxtFeliCaNo = nullptr, TxtMsg = nullptr, Text4 = nullptr, Text5 = nullptr,
       BtnCmd = nullptr, PollingHandle = nullptr, BtnPoll = nullptr, IdmOnly = nullptr;

  int16_t ReaderOpen = FormFalse;
  int16_t PollingActive = FormFalse;
  int16_t IdmOnlyMode = FormFalse;

  // System colour index of TxtFeliCaNo's background (button face or window).
  int FeliCaNoBackColor = COLOR_BTNFACE;

  UINT Dpi = 96;
  OwnedFont GothicFont, PGothicFont, DefaultFont;
  bool EndProgramOnClose = false;

  // Handlers that are running (they can pump messages); a close asked for meanwhile waits
  // for the outermost one to finish.
  int Busy = 0;
  bool CloseRequested = false;
  bool Unloading = false;
  bool Unloaded = false;
  bool WindowGone = false;
  // The error this piece of work has shown; a cleanup that fails the same way (a library that
  // can't be loaded fails every call alike) is not shown twice.
  std::optional<FelicaError> ShownError;
  // The load probe failed: its cleanup is the same failure when it raises the same error number,
  // whatever call it names (a library without our entry points lacks close as it lacked open).
  bool LoadFailed = false;
};

// Creates the window, runs Form_Load and shows the window. Returns nullptr when the load
// failed: the error has been shown and the window is gone again. With endProgramOnClose the
// window posts WM_QUIT when it is destroyed.
HWND CreateMainForm(HINSTANCE instance, int showCommand, bool endProgramOnClose);
MainForm* MainFormOf(HWND window);

// The message loop's step before dispatching: Ctrl+C anywhere in the window copies the shown IDm
// (unless a field has text selected), then the dialog manager's keys. True when handled.
bool TranslateMainFormMessage(HWND window, MSG& message);
bool CopyIdmOnCtrlC(HWND window, const MSG& message);
// Gives the IDm field its label's name for screen readers.
bool NameIdmField(MainForm& form);

// Pumps every pending message of this thread; a WM_QUIT met on the way is posted again.
void DoEvents();

void OpenConnection(MainForm& form);
void CloseConnection(MainForm& form);
std::wstring FelicaNumberText(const MainForm& form);

void Form_Load(MainForm& form);
void Form_Unload(MainForm& form);
void BtnPoll_Click(MainForm& form);
void IdmOnly_Click(MainForm& form);

int16_t StartContinuousPolling(MainForm& form);
int16_t StopContinuousPolling(MainForm& form);
void BtnCmd_Click(MainForm& form);
void PollingHandle_KeyUp(MainForm& form, int16_t KeyCode, int16_t Shift);
void CardFound(MainForm& form);
void CardLoss(MainForm& form);

// Modal warning box owned by the window, caption "Varnelo".
void ShowError(MainForm& form, const FelicaError& error, const std::wstring& location);

// Tests may take the composed message instead of a modal box; nullptr restores the box.
using ErrorDialogFunction = void (*)(HWND owner, const std::wstring& text);
void SetErrorDialogForTesting(ErrorDialogFunction dialog);
