// What screen readers learn about a window of ours: the system's standard accessible object for
// it, with the role and name we give instead of the ones the system would guess.
#pragma once

#include <windows.h>

#include <string>

namespace kestrave {

// The answer to WM_GETOBJECT (`wParam`, `lParam` as the message gives them) for `window`: for
// OBJID_CLIENT the standard object reporting `role` (ROLE_SYSTEM_*) and `name`; 0 for any other
// object, so that the caller lets DefWindowProc answer.
LRESULT AnswerAccessibleObject(HWND window, WPARAM wParam, LPARAM lParam, long role,
                               const std::wstring& name);

}  // namespace kestrave
