#include "test_pictures.h"

#include <cstdint>

#include "handles.h"
#include "packed_bitmap.h"

namespace kestrave::testing {

PictureRef PaintedPicture(int width, int height,
                          const std::function<COLORREF(int x, int y)>& colorAt, std::wstring name) {
    void* bits = nullptr;
    BitmapHandle bitmap = MakeTopDownBitmap(width, height, bits);
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
