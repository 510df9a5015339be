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
  IdSource,
  IdDigitsLabel,
  IdDigits,
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
  IdThen,
  IdWayLabel,
  IdWay,
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

// Combo box items, in order.
enum SourceItem { SourceIdm, SourceFelicaNumber };
enum DigitsItem { DigitsUpper, DigitsLower, DigitsDecimal };
enum ThenItem { ThenEnter, ThenTab, ThenNone };
enum WayItem { WayKeys, WayPaste };

inline constexpr int kClientWidth = 460, kClientHeight = 572;
