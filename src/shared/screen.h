// Twips (1/1440 inch), the screen's pixels and the display scale. The windows are laid out in
// twips of a 96-DPI design; every window scales that design to its own DPI with ScaleToDpi.
#pragma once

#include <windows.h>

#include <cmath>

namespace kestrave {

// The DPI the windows were designed at: 100 %.
inline constexpr int kDesignDpi = 96;

int ScreenDpiX();
int ScreenDpiY();
// Size of one device pixel in twips: 15 at 96 dots per inch.
int TwipsPerPixelX();
int TwipsPerPixelY();

inline int TwipsToPixelsX(double twips) {
    return static_cast<int>(std::lround(twips / TwipsPerPixelX()));
}
inline int TwipsToPixelsY(double twips) {
    return static_cast<int>(std::lround(twips / TwipsPerPixelY()));
}
inline double PixelsToTwipsX(double pixels) {
    return pixels * TwipsPerPixelX();
}
inline double PixelsToTwipsY(double pixels) {
    return pixels * TwipsPerPixelY();
}

// The DPI `window` is shown at: the system's per-window answer where it has one (Windows 10
// 1607 and later; looked up at run time, as the program also runs on Windows 7), else the
// screen's.
int WindowDpi(HWND window);

// The one rounding rule of every window size and control position: design pixels times
// dpi / 96, halves rounded away from zero. A rectangle is scaled edge by edge, so controls that
// touch in the design still touch and never overlap at any scale.
inline int ScaleToDpi(int designPixels, int dpi) {
    return MulDiv(designPixels, dpi, kDesignDpi);
}
inline RECT ScaleToDpi(const RECT& design, int dpi) {
    return RECT{ScaleToDpi(design.left, dpi), ScaleToDpi(design.top, dpi),
                ScaleToDpi(design.right, dpi), ScaleToDpi(design.bottom, dpi)};
}

}  // namespace kestrave
