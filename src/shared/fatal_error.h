// The last resort for an error nobody handled: its description in a message box, then the end
// of the program. Window procedures and thread entry points end up here, so no exception
// crosses into the system.
#pragma once

#include <exception>
#include <string>

namespace kestrave {

// Shows `description` titled as every message box of the program and ends the process.
[[noreturn]] void ReportFatalError(const std::wstring& description);
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
