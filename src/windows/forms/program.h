// What the windows need from the program as a whole: its module, its folder, message boxes,
// the end of the run, and the last resort for an error nobody handled.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

#include "program_folder.h"

namespace kestrave {

HINSTANCE ProgramInstance();

// A modal message box owned by `owner`; returns the button pressed (kAnswerCancel, kAnswerYes,
// kAnswerNo, or IDOK).
int ShowMessage(HWND owner, const std::wstring& text, int style, const std::wstring& title);

// Ends the program at once: every window goes with the process, nothing is asked.
[[noreturn]] void EndProgram();

// Shows the error's description and ends the program.
[[noreturn]] void ReportFatalError(const std::wstring& description);
std::wstring DescribeException(std::exception_ptr error);

// Runs `action`; an exception that escapes it is reported as fatal. Window procedures and
// thread entry points run through this, so no exception crosses into the system.
template <typename Action>
auto RunGuarded(Action&& action) noexcept -> decltype(action()) {
    try {
        return action();
    } catch (...) {
        ReportFatalError(DescribeException(std::current_exception()));
    }
}

}  // namespace kestrave
