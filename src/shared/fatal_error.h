// The last resort for an error nobody handled: its description in a message box, then the end
// of the program. Window procedures and thread entry points end up here, so no exception
// crosses into the system.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

namespace kestrave {

// Shows `description` titled as every message box of the program and ends the process, after
// the last action.
[[noreturn]] void ReportFatalError(const std::wstring& description);

// What must be done however the process ends, through EndProcess or a fatal error: taking away
// what the run put on disk. Set by whoever owns that; an empty action takes it back.
void SetLastAction(std::function<void()> action);

// Runs the last action, once, and ends the process with `exitCode`.
[[noreturn]] void EndProcess(UINT exitCode);
std::wstring DescribeException(std::exception_ptr error);

// Runs `action`; an exception that escapes it is reported as fatal.
template <typename Action>
auto RunGuarded(Action&& action) noexcept -> decltype(action()) {
    try {
        return action();
    } catch (...) {
        ReportFatalError(DescribeException(std::current_exception()));
    }
}

}  // namespace kestrave
