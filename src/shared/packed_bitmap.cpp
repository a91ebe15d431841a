#include "packed_bitmap.h"

#include "inflate.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestrave {
namespace {

constexpr USHORT kFormatLznt1 = 2;  // COMPRESSION_FORMAT_LZNT1
// Far above any picture of ours; keeps a damaged length from asking for gigabytes.
constexpr DWORD kLargestUnpacked = 64u << 20;

using DecompressBuffer = LONG(NTAPI*)(USHORT format, PUCHAR unpacked, ULONG unpackedSize,
                                      PUCHAR packed, ULONG packedSize, PULONG finalSize);

// ntdll is in every process from its first instruction, so this loads nothing.
DecompressBuffer SystemDecompressor() {
    static const auto decompress = reinterpret_cast<DecompressBuffer>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDecompressBuffer")));
    return decompress;
}

DWORD ColourTableEntries(const BITMAPINFOHEADER& header) {
    if (header.biCompression == BI_BITFIELDS)
        return 3;
    if (header.biBitCount > 8)
        return header.biClrUsed;
    return header.biClrUsed != 0 ? header.biClrUsed : 1u << header.biBitCount;
}

}  // namespace

std::vector<UCHAR> UnpackBytes(const void* packed, DWORD size) {
    const DecompressBuffer decompress = SystemDecompressor();
    std::uint32_t unpackedSize = 0;
    if (!decompress || size <= sizeof unpackedSize)
        return {};
    std::memcpy(&unpackedSize, packed, sizeof unpackedSize);
    if (unpackedSize == 0 || unpackedSize > kLargestUnpacked)
        return {};
    std::vector<UCHAR> bytes(unpackedSize);
    auto* source = const_cast<PUCHAR>(static_cast<const UCHAR*>(packed) + sizeof unpackedSize);
    ULONG produced = 0;
    if (decompress(kFormatLznt1, bytes.data(), unpackedSize, source, size - sizeof unpackedSize,
                   &produced) != 0 ||
        produced != unpackedSize)
        return {};
    return bytes;
}

BitmapHandle UnpackBitmap(const void* packed, DWORD size) {
    const std::vector<UCHAR> dib = UnpackBytes(packed, size);
    const std::uint32_t unpackedSize = static_cast<std::uint32_t>(dib.size());
    if (unpackedSize < sizeof(BITMAPINFOHEADER))
        return {};

    BITMAPINFOHEADER header;
    std::memcpy(&header, dib.data(), sizeof header);
    const bool rgb =
        header.biCompression == BI_RGB || (header.biCompression == BI_BITFIELDS &&
                                           (header.biBitCount == 16 || header.biBitCount == 32));
    const WORD depth = header.biBitCount;
    if (header.biSize < sizeof header || header.biSize > unpackedSize || !rgb ||
        header.biWidth <= 0 || header.biHeight == 0 || header.biPlanes != 1 ||
        (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32))
        return {};
    const std::uint64_t stride = (static_cast<std::uint64_t>(header.biWidth) * depth + 31) / 32 * 4;
    const std::uint64_t pixelBytes =
        stride * static_cast<std::uint64_t>(std::llabs(header.biHeight));
    const std::uint64_t pixelsAt =
        header.biSize + std::uint64_t{ColourTableEntries(header)} * sizeof(RGBQUAD);
    if (pixelsAt + pixelBytes > unpackedSize)
        return {};

    void* pixels = nullptr;
    BitmapHandle bitmap(CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(dib.data()),
                                         DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!bitmap || !pixels)
        return {};
    std::memcpy(pixels, dib.data() + pixelsAt, static_cast<std::size_t>(pixelBytes));
    return bitmap;
}

namespace {

// PNG's predictor: the neighbour (left, up or up-left) nearest to left + up - upLeft.
int Paeth(int left, int up, int upLeft) {
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft)
        return left;
    return toUp <= toUpLeft ? up : upLeft;
}

// Undoes the rows' filters in place: `rows` holds each row's filter byte and bytes; `pixels`
// receives the rows' bytes alone. False for an unknown filter.
bool Unfilter(const std::vector<std::uint8_t>& rows, std::size_t stride, std::size_t height,
              std::vector<std::uint8_t>& pixels) {
    constexpr std::size_t kBytesPerPixel = 3;
    pixels.assign(stride * height, 0);
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t filter = rows[y * (stride + 1)];
        const std::uint8_t* in = rows.data() + y * (stride + 1) + 1;
        std::uint8_t* out = pixels.data() + y * stride;
        const std::uint8_t* above = y > 0 ? out - stride : nullptr;
        for (std::size_t i = 0; i < stride; ++i) {
            const int left = i >= kBytesPerPixel ? out[i - kBytesPerPixel] : 0;
            const int up = above ? above[i] : 0;
            const int upLeft = above && i >= kBytesPerPixel ? above[i - kBytesPerPixel] : 0;
            int predicted = 0;
            switch (filter) {
                case 0: predicted = 0; break;
                case 1: predicted = left; break;
                case 2: predicted = up; break;
                case 3: predicted = (left + up) / 2; break;
                case 4: predicted = Paeth(left, up, upLeft); break;
                default: return false;
            }
            out[i] = static_cast<std::uint8_t>(in[i] + predicted);
        }
    }
    return true;
}

}  // namespace

BitmapHandle InflateBitmap(const void* bytes, DWORD size) {
    std::uint32_t header[3] = {};
    if (size <= sizeof header)
        return {};
    std::memcpy(header, bytes, sizeof header);
    const std::uint32_t width = header[0];
    const std::uint32_t height = header[1];
    if (width == 0 || height == 0 || std::uint64_t{width} * height * 4 > kLargestUnpacked)
        return {};
    const std::size_t stride = std::size_t{width} * 3;
    const std::vector<std::uint8_t> rows =
        Inflate(static_cast<const std::uint8_t*>(bytes) + sizeof header, size - sizeof header,
                (stride + 1) * height);
    std::vector<std::uint8_t> pixels;
    if (rows.empty() || !Unfilter(rows, stride, height, pixels) ||
        Crc32(pixels.data(), pixels.size()) != header[2])
        return {};

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    BitmapHandle bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits)
        return {};
    auto* target = static_cast<std::uint8_t*>(bits);
    for (std::size_t i = 0, count = std::size_t{width} * height; i < count; ++i) {
        target[i * 4] = pixels[i * 3];
        target[i * 4 + 1] = pixels[i * 3 + 1];
        target[i * 4 + 2] = pixels[i * 3 + 2];
        target[i * 4 + 3] = 0;
    }
    return bitmap;
}

namespace {

// A resource's bytes as the module holds them (never freed: they live as long as the module),
// or null when it has no resource of that name and type.
const void* ResourceBytes(HINSTANCE module, const std::wstring& name, const wchar_t* type,
                          DWORD& size) {
    HRSRC found = FindResourceW(module, name.c_str(), type);
    if (!found)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    size = bytes ? SizeofResource(module, found) : 0;
    return bytes;
}

}  // namespace

BitmapHandle LoadDeflatedBitmap(HINSTANCE module, const std::wstring& name) {
    DWORD size = 0;
    const void* bytes = ResourceBytes(module, name, kDeflatedBitmapType, size);
    return bytes ? InflateBitmap(bytes, size) : BitmapHandle{};
}

BitmapHandle LoadPackedBitmap(HINSTANCE module, const std::wstring& name) {
    DWORD size = 0;
    const void* bytes = ResourceBytes(module, name, kPackedBitmapType, size);
    return bytes ? UnpackBitmap(bytes, size) : BitmapHandle{};
}

}  // namespace kestrave
