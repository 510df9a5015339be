// The error dialog: a caught error becomes the warning box's text, shown once per piece of work.
#include <exception>
#include <new>

#include "MainFormParts.h"
#include "MainFormText.h"

namespace {

ErrorDialogFunction errorDialog = nullptr;

std::wstring Widen(const char* text) {
  int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 1) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

// The error being handled, as the dialog shows it. Only call from inside a catch block.
FelicaError CurrentError() {
  try {
    throw;
  } catch (const FelicaError& error) {
    return error;
  } catch (const std::bad_alloc&) {
    return {7, RuntimeErrorSource, L"メモリが不足しています。"};
  } catch (const std::exception& error) {
    return {51, RuntimeErrorSource, Widen(error.what())};
  } catch (...) {
    return {51, RuntimeErrorSource, L""};
  }
}

bool SameError(const MainForm& form, const FelicaError& shown, const FelicaError& error) {
  return shown.Number == error.Number && shown.Source == error.Source &&
         (form.LoadFailed || shown.Description == error.Description);
}

} // namespace

void ReportCurrentError(MainForm& form) noexcept {
  try {
    FelicaError error = CurrentError();
    if (form.ShownError && SameError(form, *form.ShownError, error)) return;
    form.ShownError = error;
    ShowError(form, error, L"");
  } catch (...) {
  }
}

void SetErrorDialogForTesting(ErrorDialogFunction dialog) { errorDialog = dialog; }

void ShowError(MainForm& form, const FelicaError& error, const std::wstring& location) {
  const std::wstring text = ErrorMessageText(error, location);
  if (errorDialog) {
    errorDialog(form.Window, text);
    return;
  }
  MessageBoxW(form.Window, text.c_str(), AppTitle, MB_OK | MB_ICONWARNING);
}
