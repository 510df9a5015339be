// The window's own texts and the two compositions that need no window: the title and the
// error dialog's message.
#pragma once
#include <string>

#include "felica/FelicaError.h"

inline constexpr wchar_t AppTitle[] = L"Varnelo";

inline constexpr wchar_t MsgHoldCardAndPress[] = L"カードをかざしてボタンを押して下さい。";
inline constexpr wchar_t MsgPolling[] = L"ポーリング中";
inline constexpr wchar_t MsgCardRead[] = L"カードを認識しました。";
inline constexpr wchar_t MsgNoCard[] = L"カードが認識出来ません。\r\nカードをかざしてボタンを押して下さい。";
inline constexpr wchar_t MsgCardFound[] = L"カードを認識しました";
inline constexpr wchar_t MsgHoldCard[] = L"カードをかざして下さい。";
inline constexpr wchar_t CaptionStartPolling[] = L"ポーリング開始";
inline constexpr wchar_t CaptionStopPolling[] = L"ポーリング停止";

// "Varnelo (ver1.1)": no blank between "ver" and the major number, no leading zeros.
std::wstring MainFormTitle(int major, int minor);

// The text of the warning box for a caught error; location is "" where the callers know none.
std::wstring ErrorMessageText(const FelicaError& error, const std::wstring& location);
