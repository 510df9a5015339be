// How a failed library call becomes a raised FelicaError, and the program's own runtime errors.
#include <limits>

#include "ErrorDescription.h"
#include "FelicaAPI.h"
#include "Library.h"

void RaiseRuntimeError(int32_t number, const std::wstring& description) {
  throw FelicaError{number, RuntimeErrorSource, description};
}

namespace FelicaAPI {

std::wstring ComposeFelicaErrorDescription(const std::wstring& funcName, int32_t felicaErrorType,
                                           int32_t rwErrorType) {
  // The spacing lines the brackets of the two code lines up; the name's bracket sits one further right.
  return L"FelicaAPIでエラーが発生しました。\r\n"
         L"funcName         [" + funcName + L"]\r\n"
         L"FeliCaErrorCode [" + std::to_wstring(felicaErrorType) + L"] (" + FelicaErrorText(felicaErrorType) +
         L")\r\n"
         L"RWErrorCode     [" + std::to_wstring(rwErrorType) + L"] (" + RwErrorText(rwErrorType) + L")";
}

std::wstring ComposeErrorQueryFailedDescription() {
  return L"GetLastErrorTypesが失敗したためエラー情報が取得出来ません。\r\n"
         L"FeliCaライブラリが初期化されていない可能性があります。";
}

void RaiseOverflow() { RaiseRuntimeError(ErrOverflow, L"オーバーフローしました。"); }

void RaiseSubscriptOutOfRange() {
  RaiseRuntimeError(ErrSubscriptOutOfRange, L"インデックスが有効範囲にありません。");
}

int32_t FelicaErrorNumber(int16_t kind) {
  int32_t number = int32_t{kind} + 513;
  if (number > std::numeric_limits<int16_t>::max()) {
    RaiseOverflow();
  }
  return number;
}

int32_t LastFelicaErrorType() {
  int32_t felicaErrorType = 0;
  int32_t rwErrorType = 0;
  if (!Library::get_last_error_types(&felicaErrorType, &rwErrorType)) {
    return -1;
  }
  return felicaErrorType;
}

void RaiseFelicaError(const std::wstring& funcName, int16_t kind) {
  int32_t number = FelicaErrorNumber(kind);
  int32_t felicaErrorType = 0;
  int32_t rwErrorType = 0;
  std::wstring description = Library::get_last_error_types(&felicaErrorType, &rwErrorType)
                                 ? ComposeFelicaErrorDescription(funcName, felicaErrorType, rwErrorType)
                                 : ComposeErrorQueryFailedDescription();
  throw FelicaError{number, FelicaErrorSource, std::move(description)};
}

} // namespace FelicaAPI
