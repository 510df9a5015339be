// Typing a card's IDm into the window that has the keyboard focus, as Unicode key input (so the
// keyboard layout does not matter), and the system's sound for a card. Typing needs Windows.
#pragma once
#include <string>

namespace pcsc {

enum class ThenKey { Enter, Tab, None };

enum class Typed {
  Done,
  Refused,    // the window in front runs at a higher integrity level
  OwnConsole, // our own console has the focus: what is typed there would reach its shell
  Failed,     // error: the system's code
};

bool TypingAvailable();
// text: ASCII. Its keys and the key after it go in one SendInput, so the user's own keys
// cannot fall between them.
Typed TypeText(const std::string& text, ThenKey then, unsigned& error);
void Beep();

} // namespace pcsc
