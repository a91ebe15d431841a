// Twips (1/1440 inch) and the screen's pixels: the program's geometry is laid out in twips.
#pragma once

#include <cmath>

namespace kestrave {

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

}  // namespace kestrave
