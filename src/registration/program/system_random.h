// Names nobody can guess, drawn from the system's random source.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace kestrave {

// `digits` lowercase hexadecimal digits, or empty with `error` when the system's source failed.
std::wstring RandomHexDigits(std::size_t digits, DWORD& error);

}  // namespace kestrave
