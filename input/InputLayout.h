// The window's controls: their ids, which the robots use too, and their places at 96 DPI.
#pragma once

inline constexpr wchar_t kInputWindowClass[] = L"VarneloInputWindow";
// Sent by a second start to the first one's window: come forward.
inline constexpr wchar_t kShowMessageName[] = L"VarneloInput_Show";

enum InputControl {
  IdStatus = 201,
  IdLastCard,
  IdPause,
  IdDetails,
  IdFormGroup,
  IdSourceLabel,
  IdSourceIdm, // each choice's buttons in order, as the settings list them
  IdSourceNumber,
  IdDigitsLabel,
  IdDigitsUpper,
  IdDigitsLower,
  IdDigitsDecimal,
  IdReversed,
  IdSeparatorLabel,
  IdSeparator,
  IdPrefixLabel,
  IdPrefix,
  IdSuffixLabel,
  IdSuffix,
  IdExampleLabel,
  IdExample,
  IdEntryGroup,
  IdThenLabel,
  IdThenEnter,
  IdThenTab,
  IdThenNone,
  IdWayLabel,
  IdWayKeys,
  IdWayPaste,
  IdCloseIme,
  IdSameCardLabel,
  IdSameCard,
  IdSameCardUnit,
  IdSound,
  IdCsvOn,
  IdCsvChoose,
  IdCsvFile,
  IdStartWithWindows,
  IdSettingsNote,
  IdEvents,
};

// Menu of the notification icon; also taken as WM_COMMAND by the window.
enum InputCommand { IdMenuShow = 301, IdMenuPause, IdMenuQuit };

inline constexpr int kClientWidth = 460, kClientHeight = 628;
