#include "packed_bitmap.h"

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

BitmapHandle LoadPackedBitmap(HINSTANCE module, const std::wstring& name) {
    HRSRC found = FindResourceW(module, name.c_str(), kPackedBitmapType);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return {};
    return UnpackBitmap(bytes, SizeofResource(module, found));
}

}  // namespace kestrave
