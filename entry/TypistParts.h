// What TypeText and EnterText share: the checks on the window in front and the key input.
// Windows only.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "Typist.h"

namespace pcsc::typist {

// What keeps a card from being entered into the window in front; Done when nothing does.
Typed Obstacle(HWND foreground, unsigned& error);
void AddKey(std::vector<INPUT>& inputs, WORD vk, DWORD flags);
void AddText(std::vector<INPUT>& inputs, const std::string& text);
void AddThen(std::vector<INPUT>& inputs, ThenKey then);
// Sends them in one SendInput.
Typed Send(std::vector<INPUT>& inputs, unsigned& error);

} // namespace pcsc::typist
