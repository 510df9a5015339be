// varnelo-input's one window and what it holds: the settings, the reader connection, the last
// card and the notification icon. Everything runs on the thread that made the window.
#pragma once
#include <windows.h>

#include <shellapi.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "CardLog.h"
#include "Settings.h"
#include "InputTexts.h"

struct InputWindow {
  HWND window = nullptr;
  HWND events = nullptr; // the hidden box the bridge turns card messages into keys on
  HFONT font = nullptr;
  UINT dpi = 96;
  std::wstring program, settingsPath;
  InputSettings settings;
  std::wstring settingsNote; // what the settings file gave, shown under the controls
  std::unique_ptr<pcsc::CardLog> log;
  bool filling = false; // the controls are being set from the settings: no change of theirs counts

  // The reader: paused by the user, or reading (polling or waiting to try again).
  bool paused = false;
  bool open = false, polling = false;
  bool hadReader = false; // a reader was in use: losing it is said so
  std::wstring detail;    // the access layer's numbered text of the last problem
  const Text* state = nullptr;

  // The card on the reader and the last one entered.
  bool present = false, enteredThisVisit = false;
  std::optional<pcsc::Idm> lastEntered;
  DWORD lastEnteredTick = 0;
  std::array<uint8_t, 8> example{}; // the last card's ID, for the form's example

  NOTIFYICONDATAW icon{};
  bool iconShown = false, toldInTray = false;
};

// Creates the window (shown unless inTray) and starts reading.
HWND CreateInputWindow(HINSTANCE instance, bool inTray);
bool TranslateInputMessage(HWND window, MSG& message);

// --- InputCards.cpp: the reader and what happens with each card ---
void StartReading(InputWindow& w);
void StopReading(InputWindow& w);
void CheckReader(InputWindow& w);
void CardFound(InputWindow& w);
void CardLost(InputWindow& w);
void EnterCard(InputWindow& w);
// The CSV list as the settings ask, opened anew; the problem said in the window.
void OpenList(InputWindow& w);

// --- Shared between the window's files ---
inline constexpr UINT WM_APP_START = WM_APP + 1, WM_APP_CARD = WM_APP + 2, WM_APP_ICON = WM_APP + 3;
enum InputTimer : UINT_PTR { TimerRetry = 1, TimerCheck, TimerInputMethod, TimerSave, TimerIcon };
inline constexpr UINT kRetryMs = 1000, kCheckMs = 2000, kInputMethodMs = 500, kSaveMs = 300, kIconMs = 2000;

void ShowState(InputWindow& w, const Text& state, const std::wstring& detail = L"");
void ShowLastCard(InputWindow& w, const std::wstring& text);
void ShowExample(InputWindow& w);
std::wstring ControlText(HWND control);
