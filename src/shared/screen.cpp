#include "screen.h"

#include <windows.h>

namespace kestrave {
namespace {

int ReadDpi(int index) {
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, index) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

}  // namespace

int ScreenDpiX() {
    static const int dpi = ReadDpi(LOGPIXELSX);
    return dpi;
}
int ScreenDpiY() {
    static const int dpi = ReadDpi(LOGPIXELSY);
    return dpi;
}
int TwipsPerPixelX() {
    return 1440 / ScreenDpiX();
}
int TwipsPerPixelY() {
    return 1440 / ScreenDpiY();
}

int WindowDpi(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    // user32 is loaded by the time there is a window to ask about.
    static const auto dpiForWindow = [] {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        return user32 ? reinterpret_cast<DpiForWindow>(
                            reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")))
                      : nullptr;
    }();
    const UINT dpi = dpiForWindow && window ? dpiForWindow(window) : 0;
    return dpi > 0 ? static_cast<int>(dpi) : ScreenDpiY();
}

}  // namespace kestrave
