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

}  // namespace kestrave
