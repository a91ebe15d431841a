#pragma once

#include <windows.h>

#include <string>

namespace kestrave {

// The system's own description of an error code or HRESULT, without the trailing line break;
// empty when the system has no text for it.
std::wstring SystemErrorText(DWORD code);

}  // namespace kestrave
