#include "window_base.h"

#include <stdexcept>

#include "system_error.h"
#include "text.h"

namespace kestrave {

void RegisterWindowClass(const wchar_t* className, WNDPROC procedure, UINT style, HICON icon) {
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(module, className, &existing))
        return;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = module;
    windowClass.hIcon = icon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className;
    if (RegisterClassExW(&windowClass))
        return;
    const DWORD error = GetLastError();
    if (error == ERROR_CLASS_ALREADY_EXISTS)
        return;
    throw std::runtime_error("cannot register the window class: " +
                             Utf8FromWide(SystemErrorText(error)));
}

short MouseButtons(WPARAM keys) {
    short buttons = 0;
    if (keys & MK_LBUTTON)
        buttons += 1;
    if (keys & MK_RBUTTON)
        buttons += 2;
    if (keys & MK_MBUTTON)
        buttons += 4;
    return buttons;
}

short ShiftState(WPARAM keys) {
    short shift = 0;
    if (keys & MK_SHIFT)
        shift += 1;
    if (keys & MK_CONTROL)
        shift += 2;
    if (GetKeyState(VK_MENU) < 0)
        shift += 4;
    return shift;
}

}  // namespace kestrave
