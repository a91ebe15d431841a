#include "packed_bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "picture.h"

namespace kestrave {
namespace {

// Every pixel of a bitmap as 32-bit top-down rows, whatever its own format.
std::vector<std::uint32_t> Pixels(HBITMAP bitmap, int& width, int& height) {
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof info, &info))
        return {};
    width = info.bmWidth;
    height = info.bmHeight;
    BITMAPINFO format{};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<std::uint32_t> pixels(static_cast<size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, bitmap, 0, height, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != height)
        return {};
    return pixels;
}

class PackedPictureTest : public ::testing::TestWithParam<const wchar_t*> {};

// The program shows exactly what draw_pictures.py drew: the packed resource, unpacked by the
// system, gives the pixels Windows' own loader reads from the original .bmp.
TEST_P(PackedPictureTest, ShowsThePixelsOfTheDrawnBitmap) {
    const std::wstring name = GetParam();
    PictureRef packed = Picture::FromResource(GetModuleHandleW(nullptr), name);
    ASSERT_TRUE(packed) << "no packed picture " << testing::PrintToString(name);

    std::wstring file = name;
    for (auto& c : file)
        c = towlower(c);
    // The build passes the Unix path; Wine sees the whole Unix tree as drive Z:.
    file = L"Z:" KESTRAVE_RESOURCES_DIR L"/" + file + L".bmp";
    BitmapHandle original(static_cast<HBITMAP>(LoadImageW(nullptr, file.c_str(), IMAGE_BITMAP, 0, 0,
                                                          LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
    ASSERT_TRUE(original) << "cannot read " << testing::PrintToString(file);

    int packedWidth = 0, packedHeight = 0, width = 0, height = 0;
    const auto shown = Pixels(packed->Bitmap(), packedWidth, packedHeight);
    const auto drawn = Pixels(original.get(), width, height);
    ASSERT_FALSE(drawn.empty());
    EXPECT_EQ(packedWidth, width);
    EXPECT_EQ(packedHeight, height);
    EXPECT_TRUE(shown == drawn) << "the pixels differ";
    EXPECT_EQ(packed->Width(), width);
    EXPECT_EQ(packed->Height(), height);
}

INSTANTIATE_TEST_SUITE_P(EveryPicture, PackedPictureTest,
                         ::testing::Values(L"MAIN_BACKGROUND", L"DIALOG_BACKGROUND", L"HELP_PAGE",
                                           L"BUTTON_NORMAL", L"BUTTON_HOVER", L"BUTTON_DOWN",
                                           L"CLOSE_NORMAL", L"CLOSE_HOVER", L"CLOSE_DOWN",
                                           L"CHECK_EMPTY", L"CHECK_TICKED"));

std::vector<unsigned char> Resource(const wchar_t* name) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, name, kPackedBitmapType);
    if (!found)
        return {};
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(self, found)));
    return {bytes, bytes + SizeofResource(self, found)};
}

void SetLength(std::vector<unsigned char>& packed, std::uint32_t length) {
    std::memcpy(packed.data(), &length, sizeof length);
}

// A damaged or foreign resource gives no picture (the window then goes without it) rather than
// a crash, a huge allocation or a bitmap of garbage.
TEST(PackedBitmapTest, RefusesDamagedData) {
    const std::vector<unsigned char> good = Resource(L"CHECK_TICKED");
    ASSERT_GT(good.size(), 16u);
    std::uint32_t length = 0;
    std::memcpy(&length, good.data(), sizeof length);

    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"only a length", {good.begin(), good.begin() + 4}});
    cases.push_back({"cut short", {good.begin(), good.begin() + good.size() / 2}});
    Case longer{"length beyond what unpacks", good};
    SetLength(longer.bytes, length + 100);
    cases.push_back(longer);
    Case shorter{"length short of a header", good};
    SetLength(shorter.bytes, 20);
    cases.push_back(shorter);
    Case huge{"absurd length", good};
    SetLength(huge.bytes, 0xFFFFFFF0u);
    cases.push_back(huge);
    Case raw{"not compressed at all", {}};
    raw.bytes.resize(4 + 40, 0);
    SetLength(raw.bytes, 40);
    cases.push_back(raw);

    for (const Case& c : cases)
        EXPECT_FALSE(UnpackBitmap(c.bytes.data(), static_cast<DWORD>(c.bytes.size()))) << c.what;
    EXPECT_TRUE(UnpackBitmap(good.data(), static_cast<DWORD>(good.size())));
}

// The header inside the packed data is checked too: a bitmap claiming more pixels than the
// data holds is refused, not read past its end.
TEST(PackedBitmapTest, RefusesAHeaderThatOverstatesThePixels) {
    // A 2 x 2 24-bit DIB stored in one uncompressed LZNT1 chunk, its height then inflated.
    std::vector<unsigned char> dib(40 + 16, 0x5a);
    BITMAPINFOHEADER header{sizeof header, 2, 2, 1, 24, BI_RGB, 16, 0, 0, 0, 0};
    std::memcpy(dib.data(), &header, sizeof header);
    auto pack = [](const std::vector<unsigned char>& data) {
        std::vector<unsigned char> packed(4);
        SetLength(packed, static_cast<std::uint32_t>(data.size()));
        const auto chunkHeader = static_cast<std::uint16_t>(0x3000 | (data.size() - 1));
        packed.push_back(static_cast<unsigned char>(chunkHeader & 0xff));
        packed.push_back(static_cast<unsigned char>(chunkHeader >> 8));
        packed.insert(packed.end(), data.begin(), data.end());
        return packed;
    };
    const auto fits = pack(dib);
    EXPECT_TRUE(UnpackBitmap(fits.data(), static_cast<DWORD>(fits.size())));

    header.biHeight = 3;
    std::memcpy(dib.data(), &header, sizeof header);
    const auto overstated = pack(dib);
    EXPECT_FALSE(UnpackBitmap(overstated.data(), static_cast<DWORD>(overstated.size())));
}

}  // namespace
}  // namespace kestrave
