// Text for a person at a console or for a program reading a file or a pipe. On Windows a console
// gets the text through its wide-character output, so Japanese shows whatever its code page;
// a file or a pipe gets UTF-8 with CR LF line ends. Values go to standard output, errors and
// notes to standard error.
#pragma once
#include <string>

namespace console {

enum class Stream { Out, Err };

// UTF-8 text, "\n" ending each line.
void Write(Stream stream, const std::string& text);
inline void Line(Stream stream, const std::string& text) { Write(stream, text + "\n"); }

// The user's interface language is Japanese (Windows: the UI language; elsewhere the locale's
// environment variables).
bool UserLanguageIsJapanese();

// A text in English and Japanese; the user's interface language picks one.
struct Text {
  const char* english;
  const char* japanese;
};
const char* Say(const Text& text);
// On standard error, one line, with the detail after the text.
void Tell(const Text& text, const std::string& detail = "");

// The program's name, which begins each problem it reports; set once, at its start.
void SetProgramName(const char* name);
// A problem, on standard error: one line of the program's name, the text and the detail.
void Complain(const Text& text, const std::string& detail = "");
// The system's own words for one of its error codes (on Windows in the user's language), or the
// code when it has none.
std::string SystemMessage(unsigned code);

// The columns a UTF-8 text takes on a console: two for each full-width character.
size_t Columns(const std::string& text);

// Started on a console that no other process shares: double-clicked from Explorer, whose console
// closes with the program. Always false outside Windows.
bool OwnsItsConsole();
// Waits for a key pressed on the console, if standard input is one.
void WaitForKey();

} // namespace console
