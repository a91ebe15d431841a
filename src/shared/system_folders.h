// Folders of the system, asked of the system. Never from environment variables: an elevated
// program gets the user's environment, which any program of that user can change.
#pragma once

#include <string>

namespace kestrave {

// The system's Windows folder (GetSystemWindowsDirectoryW), without a trailing backslash;
// empty only when the system cannot say.
std::wstring SystemWindowsFolder();

// The system folder (GetSystemDirectoryW: System32, or SysWOW64 as a 32-bit program on 64-bit
// Windows sees it), without a trailing backslash; empty only when the system cannot say.
std::wstring SystemFolder();

}  // namespace kestrave
