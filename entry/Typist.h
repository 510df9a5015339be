// Typing a card's ID into the window that has the keyboard focus, as Unicode key input (so the
// keyboard layout does not matter) or as a paste, and the system's sound for a card. Typing needs
// Windows.
#pragma once
#include <string>

namespace pcsc {

enum class ThenKey { Enter, Tab, None };

enum class Typed {
  Done,
  Refused,    // the window in front runs at a higher integrity level
  OwnConsole, // our own console has the focus: what is typed there would reach its shell
  OwnWindow,  // a window of this program has the focus
  NotPasted,  // the window in front did not take the paste in time; the clipboard is as it was
  Failed,     // error: the system's code
};

bool TypingAvailable();
// text: ASCII. Its keys and the key after it go in one SendInput, so the user's own keys
// cannot fall between them.
Typed TypeText(const std::string& text, ThenKey then, unsigned& error);
void Beep();

#ifdef _WIN32
// How the window program enters a card (entry/Entering.cpp; Windows only, and linked only where
// it is used, so the console tool loads no more system libraries at start).
enum class EntryWay { Keys, Paste };
struct EntryOptions {
  ThenKey then = ThenKey::Enter;
  EntryWay way = EntryWay::Keys;
  // Keys only: an input method that is on in the window in front would take the keys for
  // conversion; it is turned off for the keys and on again by RestoreInputMethod.
  bool closeInputMethod = true;
};
// A paste puts text on the clipboard only while the window in front takes it, then puts back
// every format the clipboard held. Runs on a thread that can take sent messages.
Typed EnterText(const std::string& text, const EntryOptions& options, unsigned& error);
// Turns on again an input method that EnterText turned off, once the keys have been taken.
void RestoreInputMethod();
#endif

} // namespace pcsc
