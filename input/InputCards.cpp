// The reader through the access layer and the card event bridge, kept going by itself: opened
// again while it is missing, looked at while it polls; and what happens with each card.
#include <cstdlib>

#include "IdForm.h"
#include "InputWindow.h"
#include "bridge/CardEventBridge.h"
#include "felica/FelicaAPI.h"
#include "felica/Library.h"

namespace {

constexpr int32_t kReaderNotRecognised = 1028;
constexpr int32_t kOpenFailed = 1027;
constexpr int32_t kReaderInUse = 121;

// What went wrong, in plain words, from the error being handled. Only call from inside a catch.
const Text& Problem(bool hadReader) {
  try {
    throw;
  } catch (const FelicaError& error) {
    if (error.Source != FelicaErrorSource)
      return kNoLibrary; // not loaded, or another program's DLL of that name
    if (error.Number == 514)
      return kLibrarySoftware;
    int32_t felicaType = 0, rwType = 0;
    FelicaAPI::Library::get_last_error_types(&felicaType, &rwType);
    if (felicaType == kOpenFailed && rwType == kReaderInUse)
      return kReaderBusy;
    if (felicaType == kReaderNotRecognised)
      return hadReader ? kReaderGone : kNoReader;
  } catch (...) {
  }
  return hadReader ? kReaderGone : kReaderProblem;
}

std::wstring Detail() {
  try {
    throw;
  } catch (const FelicaError& error) {
    return error.Description + L"\r\n(" + error.Source + L" " + std::to_wstring(error.Number) + L")";
  } catch (...) {
    return L"";
  }
}

void Close(InputWindow& w) {
  if (w.polling) {
    w.polling = false;
    try {
      FelicaAPI::StopPolling();
    } catch (...) {
    }
  }
  if (w.open) {
    w.open = false;
    try {
      FelicaAPI::CloseReaderWriter();
    } catch (...) {
    }
    try {
      FelicaAPI::DisposeLibrary();
    } catch (...) {
    }
  }
}

std::wstring Clock() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t text[16];
  swprintf(text, 16, L"%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
  return text;
}

// The FeliCa number as its 8 bytes, or nothing when the card has none that can be read.
std::optional<std::array<uint8_t, 8>> FelicaNumber() {
  const std::wstring hex = FelicaAPI::GetFelicaNumber();
  if (hex.size() != 16)
    return std::nullopt;
  std::array<uint8_t, 8> bytes{};
  for (size_t i = 0; i < 8; ++i)
    bytes[i] = static_cast<uint8_t>(std::wcstoul(hex.substr(2 * i, 2).c_str(), nullptr, 16));
  return bytes;
}

const Text* Outcome(pcsc::Typed typed) {
  switch (typed) {
  case pcsc::Typed::Done:
    return &kEntered;
  case pcsc::Typed::Refused:
    return &kRefused;
  case pcsc::Typed::OwnConsole:
  case pcsc::Typed::OwnWindow:
    return &kOwnWindow;
  case pcsc::Typed::NotPasted:
    return &kNotPasted;
  case pcsc::Typed::Failed:
    break;
  }
  return &kTypingFailed;
}

void AddToList(InputWindow& w, const pcsc::Idm& idm, const std::string& typed) {
  if (!w.log)
    return;
  std::string line;
  unsigned error = 0;
  if (!w.log->Add(idm, line, error, typed))
    ShowLastCard(w, Say(kCsvFailed) + std::to_wstring(error) + L" " + w.settings.csvFile);
}

} // namespace

void StartReading(InputWindow& w) {
  KillTimer(w.window, TimerRetry);
  if (w.paused || w.polling)
    return;
  try {
    w.open = true;
    FelicaAPI::InitializeLibrary();
    FelicaAPI::OpenReaderWriterAuto();
    FelicaAPI::SetCallbackParameters(w.events, 0, 1);
    FelicaAPI::StartPolling(0xFF, 0xFF, 0);
    w.polling = true;
  } catch (...) {
    const Text& problem = Problem(w.hadReader);
    const std::wstring detail = Detail();
    Close(w);
    ShowState(w, problem, detail);
    SetTimer(w.window, TimerRetry, kRetryMs, nullptr);
    return;
  }
  if (w.hadReader || w.state == &kNoReader)
    ShowLastCard(w, Say(kReaderBack));
  w.hadReader = true;
  ShowState(w, kWaiting);
  SetTimer(w.window, TimerCheck, kCheckMs, nullptr);
}

void StopReading(InputWindow& w) {
  KillTimer(w.window, TimerRetry);
  KillTimer(w.window, TimerCheck);
  Close(w);
  w.present = false;
}

// A library tells of cards, not of its reader: a polling of our own shows whether it is still
// there. No card is an answer; a failure means the reader is gone or broken.
void CheckReader(InputWindow& w) {
  if (!w.polling)
    return;
  try {
    FelicaAPI::PollAnyCard();
  } catch (...) {
    const Text& problem = Problem(true);
    const std::wstring detail = Detail();
    StopReading(w);
    ShowState(w, problem, detail);
    SetTimer(w.window, TimerRetry, kRetryMs, nullptr);
  }
}

// Inside the library's send: note the card and enter it once the send is over, so that a slow
// target (a paste waits for it) never holds the library's thread.
void CardFound(InputWindow& w) {
  w.present = true;
  PostMessageW(w.window, WM_APP_CARD, 0, 0);
}

void CardLost(InputWindow& w) {
  w.present = false;
  w.enteredThisVisit = false;
}

void EnterCard(InputWindow& w) {
  if (!w.polling || !w.present || w.enteredThisVisit)
    return;
  FelicaAPI::CardInformation card{};
  try {
    card = FelicaAPI::PollAnyCard();
  } catch (...) {
    return; // the check will tell what became of the reader
  }
  if (card.CardCount == 0)
    return; // gone already
  w.enteredThisVisit = true;
  pcsc::Idm idm;
  std::copy(std::begin(card.IDm), std::end(card.IDm), idm.begin());
  const std::wstring idmText = FelicaAPI::BytesToHex(card.IDm, 8, 8);
  const DWORD now = GetTickCount();
  if (w.settings.sameCardSeconds > 0 && w.lastEntered == idm &&
      now - w.lastEnteredTick < static_cast<DWORD>(w.settings.sameCardSeconds) * 1000) {
    AddToList(w, idm, "");
    ShowLastCard(w, Say(kSameCard) + idmText + L" (" + Clock() + L")");
    return;
  }
  std::array<uint8_t, 8> id = idm;
  if (w.settings.form.source == pcsc::IdForm::Source::FelicaNumber) {
    const auto number = FelicaNumber();
    if (!number) {
      AddToList(w, idm, "");
      ShowLastCard(w, Say(kNoFelicaNumber) + idmText + L" (" + Clock() + L")");
      return;
    }
    id = *number;
  }
  const std::string text = pcsc::FormatId(id, w.settings.form);
  unsigned error = 0;
  const pcsc::Typed typed =
      pcsc::EnterText(text, {w.settings.then, w.settings.way, w.settings.closeInputMethod}, error);
  if (typed == pcsc::Typed::Done) {
    w.lastEntered = idm;
    w.lastEnteredTick = now;
    if (w.settings.way == pcsc::EntryWay::Keys && w.settings.closeInputMethod)
      SetTimer(w.window, TimerInputMethod, kInputMethodMs, nullptr);
  }
  if (w.settings.sound && typed == pcsc::Typed::Done)
    pcsc::Beep();
  AddToList(w, idm, typed == pcsc::Typed::Done ? text : "");
  w.example = id;
  ShowExample(w);
  const std::wstring said = Say(*Outcome(typed)) + (typed == pcsc::Typed::Done ? WideText(text)
                                                    : typed == pcsc::Typed::Failed ? std::to_wstring(error)
                                                                                   : std::wstring());
  ShowLastCard(w, said + L" (" + Clock() + L")");
}

void OpenList(InputWindow& w) {
  w.log.reset();
  if (w.settings.csvFile.empty())
    return;
  auto log = std::make_unique<pcsc::CardLog>();
  unsigned error = 0;
  switch (log->Open(w.settings.csvFile, error, !(w.settings.form == pcsc::IdForm{}))) {
  case pcsc::CardLog::Opened::Ok:
    w.log = std::move(log);
    break;
  case pcsc::CardLog::Opened::InUse:
    ShowLastCard(w, Say(kCsvInUse) + w.settings.csvFile);
    break;
  case pcsc::CardLog::Opened::Failed:
    ShowLastCard(w, Say(kCsvOpenFailed) + std::to_wstring(error) + L" " + w.settings.csvFile);
    break;
  }
}
