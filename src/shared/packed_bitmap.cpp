#include "packed_bitmap.h"

#include "inflate.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestrave {
namespace {

// Far above any picture of ours; keeps a damaged header from asking for gigabytes.
constexpr std::uint64_t kLargestPixels = 16u << 20;
constexpr std::size_t kHeaderBytes = 3 * sizeof(std::uint32_t);
constexpr std::size_t kBytesPerPixel = 3;

// PNG's predictor: of left, up and upLeft, the one nearest to left + up - upLeft (left on a
// tie, then up). Worked out without branches, which a picture's noise would make unpredictable:
// the estimate is nearest to upLeft only when upLeft lies outside the range of the other two
// by at least their spread, which the threshold 3 * upLeft - (left + up) measures.
inline int Paeth(int left, int up, int upLeft) {
    const int threshold = upLeft * 3 - (left + up);
    const int low = left < up ? left : up;
    const int high = left < up ? up : left;
    const int notAbove = high <= threshold ? low : upLeft;
    return threshold <= low ? high : notAbove;
}

// Undoes one row's filter in place; `above` is the row above, already undone (null for the
// first row, which PNG treats as having zeros above it). False for an unknown filter. This
// runs over every byte the program shows, so each filter has its own loop, and the filters
// that add the pixel on the left keep it in hand rather than read back what was just written.
bool Unfilter(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* above,
              std::size_t stride) {
    static_assert(kBytesPerPixel == 3);
    switch (filter) {
        case 0:
            return true;
        case 1: {
            std::uint8_t b = 0, g = 0, r = 0;
            for (std::size_t i = 0; i < stride; i += 3) {
                b = row[i] = static_cast<std::uint8_t>(row[i] + b);
                g = row[i + 1] = static_cast<std::uint8_t>(row[i + 1] + g);
                r = row[i + 2] = static_cast<std::uint8_t>(row[i + 2] + r);
            }
            return true;
        }
        case 2:
            if (above) {
                for (std::size_t i = 0; i < stride; ++i)
                    row[i] = static_cast<std::uint8_t>(row[i] + above[i]);
            }
            return true;
        case 3:
            for (std::size_t i = 0; i < stride; ++i) {
                const int left = i >= kBytesPerPixel ? row[i - kBytesPerPixel] : 0;
                const int up = above ? above[i] : 0;
                row[i] = static_cast<std::uint8_t>(row[i] + (left + up) / 2);
            }
            return true;
        case 4: {
            if (!above)
                return Unfilter(1, row, above, stride);  // with zeros above, Paeth is "left"
            int b = 0, g = 0, r = 0;                     // the pixel on the left
            int upB = 0, upG = 0, upR = 0;               // the one above that
            for (std::size_t i = 0; i < stride; i += 3) {
                const int aboveB = above[i], aboveG = above[i + 1], aboveR = above[i + 2];
                b = row[i] = static_cast<std::uint8_t>(row[i] + Paeth(b, aboveB, upB));
                g = row[i + 1] = static_cast<std::uint8_t>(row[i + 1] + Paeth(g, aboveG, upG));
                r = row[i + 2] = static_cast<std::uint8_t>(row[i + 2] + Paeth(r, aboveR, upR));
                upB = aboveB;
                upG = aboveG;
                upR = aboveR;
            }
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

std::optional<DeflatedBitmap> FindDeflatedBitmap(HINSTANCE module, const std::wstring& name) {
    HRSRC found = FindResourceW(module, name.c_str(), kDeflatedBitmapType);
    if (!found)
        return std::nullopt;
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = bytes ? SizeofResource(module, found) : 0;
    std::uint32_t header[2] = {};
    if (size <= kHeaderBytes)
        return std::nullopt;
    std::memcpy(header, bytes, sizeof header);
    if (header[0] == 0 || header[1] == 0 || std::uint64_t{header[0]} * header[1] > kLargestPixels)
        return std::nullopt;
    return DeflatedBitmap{bytes, size, static_cast<int>(header[0]), static_cast<int>(header[1])};
}

BITMAPINFO TopDownInfo(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

BitmapHandle MakeTopDownBitmap(int width, int height, void*& bits) {
    const BITMAPINFO info = TopDownInfo(width, height);
    bits = nullptr;
    return BitmapHandle(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
}

BitmapHandle InflateBitmap(const void* bytes, DWORD size) {
    std::uint32_t header[3] = {};
    if (size <= kHeaderBytes)
        return {};
    std::memcpy(header, bytes, sizeof header);
    const std::uint32_t width = header[0];
    const std::uint32_t height = header[1];
    if (width == 0 || height == 0 || std::uint64_t{width} * height > kLargestPixels)
        return {};
    const std::size_t stride = std::size_t{width} * kBytesPerPixel;
    std::vector<std::uint8_t> rows = Inflate(static_cast<const std::uint8_t*>(bytes) + kHeaderBytes,
                                             size - kHeaderBytes, (stride + 1) * height);
    if (rows.empty())
        return {};

    void* bits = nullptr;
    BitmapHandle bitmap =
        MakeTopDownBitmap(static_cast<int>(width), static_cast<int>(height), bits);
    if (!bitmap || !bits)
        return {};
    // Row by row while it is in the cache: undone, summed and widened to the bitmap's pixels.
    std::uint32_t crc = 0;
    const std::uint8_t* above = nullptr;
    auto* target = static_cast<std::uint32_t*>(bits);
    for (std::size_t y = 0; y < height; ++y) {
        std::uint8_t* row = rows.data() + y * (stride + 1);
        if (!Unfilter(row[0], row + 1, above, stride))
            return {};
        ++row;
        crc = Crc32(row, stride, crc);
        for (std::size_t x = 0; x < width; ++x, row += kBytesPerPixel)
            *target++ =
                std::uint32_t{row[0]} | std::uint32_t{row[1]} << 8 | std::uint32_t{row[2]} << 16;
        above = row - stride;
    }
    if (crc != header[2])
        return {};
    return bitmap;
}

}  // namespace kestrave
