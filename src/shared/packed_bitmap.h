// The pictures carried compressed in the program's resources, as draw_pictures.py writes them:
// width, height and the CRC-32 of the pixels (32-bit little-endian each), then a raw deflate
// stream of the rows from the top, each a PNG filter byte and the filtered blue, green and red
// bytes of its pixels. Gradients and antialiased art have thousands of colours, so no palette
// form fits, and the raw bitmaps would be most of the program's size.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "handles.h"

namespace kestrave {

// The resource type the pictures are stored under.
inline constexpr wchar_t kDeflatedBitmapType[] = L"DEFLATE_DIB";

// A deflated bitmap resource found but not yet unpacked: its bytes as the module holds them
// (they live as long as the module) and its size in pixels, which its header tells.
struct DeflatedBitmap {
    const void* bytes = nullptr;
    DWORD size = 0;
    int width = 0;
    int height = 0;
};

// The deflated bitmap resource `name` of `module`; none when there is no such resource or its
// header is no picture's.
std::optional<DeflatedBitmap> FindDeflatedBitmap(HINSTANCE module, const std::wstring& name);

// The form of every bitmap the program draws from: 32 bits a pixel, rows from the top.
BITMAPINFO TopDownInfo(int width, int height);
// A DIB section of that form, `bits` pointing at its pixels; null when none can be made.
BitmapHandle MakeTopDownBitmap(int width, int height, void*& bits);

// A 32-bit DIB section made from a deflated bitmap; null when it is damaged (its pixels do not
// unpack whole or do not match their CRC).
BitmapHandle InflateBitmap(const void* bytes, DWORD size);

}  // namespace kestrave
