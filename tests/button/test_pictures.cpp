#include "test_pictures.h"

#include <cstdint>

#include "handles.h"

namespace kestrave::testing {

PictureRef PaintedPicture(int width, int height,
                          const std::function<COLORREF(int x, int y)>& colorAt, std::wstring name) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    BitmapHandle bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap)
        return nullptr;
    auto* pixels = static_cast<std::uint32_t*>(bits);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            COLORREF color = colorAt(x, y);
            pixels[y * width + x] =
                (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
        }
    }
    return Picture::FromBitmap(std::move(bitmap), std::move(name));
}

}  // namespace kestrave::testing
