// What varnelo-reader tells the person at the desk while it types and keeps the list, in the
// user's language: Japanese where the user interface is Japanese, English otherwise.
#pragma once
#include <string>

namespace pcsc {

enum class UserText {
  Waiting,           // type: waiting, and how to stop
  TypingUnavailable, // type where the system cannot type
  Refused,           // the window in front refuses input
  OwnConsole,        // the console itself has the focus
  TypingFailed,      // detail: the system's error code
  CsvInUse,          // detail: the file
  CsvOpenFailed,     // detail: error code and file
  CsvWriteFailed,    // detail: error code and the line not written
};

std::string Text(UserText text, bool japanese);
// On standard error, one line, with the detail after the text.
void Tell(UserText text, const std::string& detail = "");

} // namespace pcsc
