#pragma once

#include <string>

namespace kestrave {

// The folder of the program's .exe, without a trailing backslash unless it is a drive's root.
std::wstring ProgramFolder();

}  // namespace kestrave
