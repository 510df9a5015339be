#include "MainFormText.h"

namespace {

constexpr wchar_t CrLf[] = L"\r\n";
constexpr wchar_t DetailSeparator[] = L"--<詳細>----------------------------------------------";
static_assert(sizeof DetailSeparator / sizeof(wchar_t) - 1 == 52);

bool IsFelicaError(const FelicaError& error, int32_t number) {
  return error.Source == FelicaErrorSource && error.Number == number;
}

} // namespace

std::wstring MainFormTitle(int major, int minor) {
  return std::wstring(AppTitle) + L" (ver" + std::to_wstring(major) + L"." + std::to_wstring(minor) + L")";
}

std::wstring ErrorMessageText(const FelicaError& error, const std::wstring& location) {
  const std::wstring where = location.empty() ? std::wstring() : CrLf + std::wstring(L"エラー発生箇所：") + location;
  const std::wstring details = std::wstring(CrLf) + CrLf + DetailSeparator + CrLf + error.Description;

  if (IsFelicaError(error, 513)) return L"FeliCaカードリーダーの操作でエラーが発生しました。" + where + details;
  if (IsFelicaError(error, 514)) {
    return L"FeliCaリーダー／ライターソフトウェアがインストールされていない可能性があります。" + details;
  }
  if (IsFelicaError(error, 515)) {
    return std::wstring(L"FeliCaカードリーダが接続されていないか、") + CrLf +
           L"カードリーダーにアクセスしているアプリケーションが存在します。" + details;
  }
  return L"内部エラーが発生しました。" + details + L"(エラーコード：" + std::to_wstring(error.Number) + L")" + where;
}
