// What the windows need from the program as a whole: its module, message boxes and the end of
// the run.
#pragma once

#include <windows.h>

#include <string>

namespace kestrave {

HINSTANCE ProgramInstance();

// A modal message box owned by `owner`; returns the button pressed (kAnswerCancel, kAnswerYes,
// kAnswerNo, or IDOK).
int ShowMessage(HWND owner, const std::wstring& text, int style, const std::wstring& title);

// Ends the program at once: every window goes with the process, nothing is asked. What the run
// put on disk is taken away first (see SetLastAction).
[[noreturn]] void EndProgram();

}  // namespace kestrave
