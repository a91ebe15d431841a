// Bitmaps carried compressed in the program's resources: a 32-bit little-endian length, then
// a packed DIB (a .bmp without its file header) compressed with LZNT1. The system unpacks
// LZNT1 itself, so the pictures cost a sixth of their size without any decoder of our own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "handles.h"

namespace kestrave {

// The resource type the packed pictures are stored under.
inline constexpr wchar_t kPackedBitmapType[] = L"PACKED_DIB";

// A DIB section made from the packed bitmap resource `name` of `module`; null when there is no
// such resource or it does not unpack to a whole uncompressed DIB.
BitmapHandle LoadPackedBitmap(HINSTANCE module, const std::wstring& name);

// The same from the packed bytes themselves.
BitmapHandle UnpackBitmap(const void* packed, DWORD size);

// The larger pictures' resource type: width, height and the CRC-32 of the pixels (32-bit
// little-endian each), then a raw deflate stream of the rows from the top, each a PNG filter
// byte and the filtered blue, green and red bytes of its pixels (see draw_pictures.py).
inline constexpr wchar_t kDeflatedBitmapType[] = L"DEFLATE_DIB";

// A 32-bit DIB section made from the deflated bitmap resource `name` of `module`; null when
// there is no such resource, or it is damaged (its pixels do not match their CRC).
BitmapHandle LoadDeflatedBitmap(HINSTANCE module, const std::wstring& name);
BitmapHandle InflateBitmap(const void* bytes, DWORD size);

// Any packed resource's bytes (the same length-and-LZNT1 form): empty when they do not unpack
// whole.
std::vector<UCHAR> UnpackBytes(const void* packed, DWORD size);

}  // namespace kestrave
