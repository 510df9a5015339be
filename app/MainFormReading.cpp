// The reader connection, the one-shot read behind 取得 and continuous polling with its card
// events. Every handler here runs inside a piece of work the window started.
#include "MainFormParts.h"
#include "MainFormText.h"
#include "bridge/CardEventBridge.h"
#include "felica/FelicaAPI.h"

namespace {

void EnableReadButton(MainForm& form) {
  EnableWindow(form.BtnPoll, TRUE);
  // Disabling the button took the keyboard focus away; give it back for the next press, unless
  // a control or another window holds it now.
  const HWND focus = GetFocus();
  if ((focus == nullptr || focus == form.Window) && GetActiveWindow() == form.Window) SetFocus(form.BtnPoll);
}

// A one-shot read that ran during continuous polling leaves that mode its connection.
void ReleaseReadConnection(MainForm& form) {
  if (!form.PollingActive) CloseConnection(form);
}

} // namespace

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

// --- Continuous polling ---

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
