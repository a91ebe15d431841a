#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kestrave {

// The system's own description of an error code or HRESULT, without the trailing line break;
// empty when the system has no text for it. Some texts name the object they are about ("%1 is
// not a valid application"): `subject` fills every such insert, so that no raw "%1" ever reaches
// the user.
std::wstring SystemErrorText(DWORD code, std::wstring_view subject = {});

// A system text with its inserts ("%1", "%2!s!") filled with `subject` and its escapes ("%%",
// "%n") resolved.
std::wstring FillInserts(std::wstring_view text, std::wstring_view subject);

}  // namespace kestrave
