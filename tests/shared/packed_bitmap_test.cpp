#include "packed_bitmap.h"

#include "inflate.h"

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

// The program shows exactly what draw_pictures.py drew: the deflated resource, unpacked, gives
// the pixels Windows' own loader reads from the original .bmp.
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

// A 2 x 2 picture in the carried form, its filtered rows stored in one uncompressed deflate
// block: each filter undone the way PNG defines it, the first row with zeros above it.
std::vector<std::uint8_t> Deflated(const std::vector<std::uint8_t>& rows,
                                   const std::vector<std::uint8_t>& pixels) {
    std::vector<std::uint8_t> bytes(12);
    const std::uint32_t header[3] = {2, 2, Crc32(pixels.data(), pixels.size())};
    std::memcpy(bytes.data(), header, sizeof header);
    const auto length = static_cast<std::uint16_t>(rows.size());
    const std::uint8_t stored[5] = {0x01, static_cast<std::uint8_t>(length & 0xff),
                                    static_cast<std::uint8_t>(length >> 8),
                                    static_cast<std::uint8_t>(~length & 0xff),
                                    static_cast<std::uint8_t>((~length >> 8) & 0xff)};
    bytes.insert(bytes.end(), stored, stored + 5);
    bytes.insert(bytes.end(), rows.begin(), rows.end());
    return bytes;
}

struct FilterCase {
    const char* what;
    std::vector<std::uint8_t> rows;    // per row: filter byte, then B G R B G R filtered
    std::vector<std::uint8_t> pixels;  // B G R of the four pixels, rows from the top
};

class FilteredRowsTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilteredRowsTest, UndoesEachFilter) {
    const FilterCase& c = GetParam();
    const std::vector<std::uint8_t> bytes = Deflated(c.rows, c.pixels);
    BitmapHandle bitmap = InflateBitmap(bytes.data(), static_cast<DWORD>(bytes.size()));
    ASSERT_TRUE(bitmap) << c.what;
    int width = 0, height = 0;
    const std::vector<std::uint32_t> shown = Pixels(bitmap.get(), width, height);
    std::vector<std::uint32_t> expected;
    for (size_t i = 0; i + 2 < c.pixels.size(); i += 3)
        expected.push_back(c.pixels[i] | c.pixels[i + 1] << 8 | c.pixels[i + 2] << 16);
    EXPECT_EQ(shown, expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFilter, FilteredRowsTest,
    ::testing::Values(FilterCase{"none",
                                 {0, 10, 20, 30, 40, 50, 60, 0, 70, 80, 90, 100, 110, 120},
                                 {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120}},
                      FilterCase{"sub: from the pixel on the left, wrapping past 255",
                                 {1, 10, 20, 30, 250, 5, 1, 1, 70, 80, 90, 1, 2, 3},
                                 {10, 20, 30, 4, 25, 31, 70, 80, 90, 71, 82, 93}},
                      FilterCase{"up: from the pixel above, zeros above the first row",
                                 {2, 10, 20, 30, 40, 50, 60, 2, 1, 2, 3, 4, 5, 6},
                                 {10, 20, 30, 40, 50, 60, 11, 22, 33, 44, 55, 66}},
                      FilterCase{"average of left and above, rounded down",
                                 {3, 10, 20, 30, 1, 1, 1, 3, 0, 0, 0, 0, 0, 0},
                                 {10, 20, 30, 6, 11, 16, 5, 10, 15, 5, 10, 15}},
                      // First row: with zeros above, the nearest is always the left. Second row,
                      // right pixel: blue and green take the pixel above, red the one above-left.
                      FilterCase{"Paeth: the neighbour nearest to left + above - above-left",
                                 {4, 10, 20, 30, 90, 80, 226, 4, 2, 2, 30, 0, 0, 5},
                                 {10, 20, 30, 100, 100, 0, 12, 22, 60, 100, 100, 35}}));

// A damaged picture gives no bitmap (the window then goes without it) rather than a crash, a
// huge allocation or a bitmap of garbage.
TEST(DeflatedBitmap, RefusesRowsItCannotUndo) {
    const std::vector<std::uint8_t> pixels(12, 7);
    std::vector<std::uint8_t> rows = {0, 7, 7, 7, 7, 7, 7, 0, 7, 7, 7, 7, 7, 7};
    auto good = Deflated(rows, pixels);
    EXPECT_TRUE(InflateBitmap(good.data(), static_cast<DWORD>(good.size())));
    rows[7] = 5;  // no such filter
    auto unknown = Deflated(rows, pixels);
    EXPECT_FALSE(InflateBitmap(unknown.data(), static_cast<DWORD>(unknown.size())));
    rows.pop_back();  // one byte short of two rows
    auto shorter = Deflated(rows, pixels);
    EXPECT_FALSE(InflateBitmap(shorter.data(), static_cast<DWORD>(shorter.size())));
}

}  // namespace
}  // namespace kestrave
