// Pictures made in code, for the button's tests and its demo (no resources needed).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "picture.h"

namespace kestrave::testing {

// A width x height picture whose pixel (x, y) is colorAt(x, y).
PictureRef PaintedPicture(int width, int height,
                          const std::function<COLORREF(int x, int y)>& colorAt,
                          std::wstring name = {});

inline PictureRef SolidPicture(int width, int height, COLORREF color, std::wstring name = {}) {
    return PaintedPicture(
        width, height, [color](int, int) { return color; }, std::move(name));
}

}  // namespace kestrave::testing
