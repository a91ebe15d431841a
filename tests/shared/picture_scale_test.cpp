// Pictures for a display scale: the set drawn for it, the next larger set reduced, the
// reduction itself, and the deflated form the larger set is carried in.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "inflate.h"
#include "packed_bitmap.h"
#include "picture.h"

namespace kestrave {
namespace {

struct ResampleCase {
    const char* what;
    std::vector<std::uint32_t> source;
    int width, height, newWidth, newHeight;
    std::vector<std::uint32_t> expected;
};

class ResampleTest : public ::testing::TestWithParam<ResampleCase> {};

TEST_P(ResampleTest, AveragesTheAreaEachPixelCovers) {
    const ResampleCase& c = GetParam();
    EXPECT_EQ(ResamplePixels(c.source, c.width, c.height, c.newWidth, c.newHeight), c.expected)
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResampleTest,
    ::testing::Values(ResampleCase{"the same size is an exact copy",
                                   {0x102030, 0xFFFFFF, 0x000001, 0x7F7F7F, 0xA0B0C0, 0x010203},
                                   3,
                                   2,
                                   3,
                                   2,
                                   {0x102030, 0xFFFFFF, 0x000001, 0x7F7F7F, 0xA0B0C0, 0x010203}},
                      ResampleCase{"four pixels into one: each channel averaged",
                                   {0x0000FF, 0xFF0000, 0x00FF00, 0x000000},
                                   2,
                                   2,
                                   1,
                                   1,
                                   {0x404040}},
                      // 1.5 source pixels per target pixel: the middle one is shared half and half.
                      ResampleCase{"three into two shares the middle pixel",
                                   {0x000000, 0x00005A, 0x0000B4},
                                   3,
                                   1,
                                   2,
                                   1,
                                   {0x00001E, 0x000096}},
                      ResampleCase{"a one-pixel line shrunk stays as a lighter line, not dropped",
                                   {0xFFFFFF, 0x000000, 0xFFFFFF},
                                   3,
                                   1,
                                   2,
                                   1,
                                   {0xAAAAAA, 0xAAAAAA}},
                      ResampleCase{"enlarging repeats each pixel over the area it covers",
                                   {0x000010, 0x000020},
                                   2,
                                   1,
                                   4,
                                   1,
                                   {0x000010, 0x000010, 0x000020, 0x000020}},
                      ResampleCase{"an empty size gives nothing", {0x000000}, 1, 1, 0, 1, {}},
                      ResampleCase{
                          "too few source pixels give nothing", {0x000000}, 2, 2, 1, 1, {}}));

struct ScaleCase {
    int dpi;
    int width, height;  // of MAIN_BACKGROUND, drawn 321 x 407 at 100 %
    int pictureDpi;
};

class PictureForDpiTest : public ::testing::TestWithParam<ScaleCase> {};

// 192 DPI gets the set drawn for it, every DPI in between it reduced, one beyond 200 % it
// enlarged; at or below 96 the 100 % picture.
TEST_P(PictureForDpiTest, TakesTheSetDrawnForTheScaleOrTheNextLargerReduced) {
    const ScaleCase& c = GetParam();
    const PictureRef picture =
        Picture::FromResource(GetModuleHandleW(nullptr), L"MAIN_BACKGROUND", c.dpi);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Width(), c.width);
    EXPECT_EQ(picture->Height(), c.height);
    EXPECT_EQ(picture->Dpi(), c.pictureDpi);
    EXPECT_EQ(picture->Name(), L"MAIN_BACKGROUND") << "saved properties know it by one name";

    // Back at 100 % from any scale: the very picture drawn at 100 %.
    const PictureRef designed = picture->AtDpi(96);
    EXPECT_EQ(designed->Width(), 321);
    EXPECT_EQ(designed->Height(), 407);
}

INSTANTIATE_TEST_SUITE_P(Scales, PictureForDpiTest,
                         ::testing::Values(ScaleCase{96, 321, 407, 96}, ScaleCase{72, 321, 407, 96},
                                           ScaleCase{120, 401, 509, 120},
                                           ScaleCase{144, 482, 611, 144},
                                           ScaleCase{168, 562, 712, 168},
                                           ScaleCase{192, 642, 814, 192},
                                           ScaleCase{240, 803, 1018, 240}));

TEST(PictureForDpi, APictureNotFromTheResourcesStaysAsItIs) {
    const PictureRef shared = Picture::FromResource(GetModuleHandleW(nullptr), L"CHECK_EMPTY");
    ASSERT_TRUE(shared);
    BitmapHandle copy(
        static_cast<HBITMAP>(CopyImage(shared->Bitmap(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    const PictureRef own = Picture::FromBitmap(std::move(copy), L"mine");
    EXPECT_EQ(own->AtDpi(192), own);
    EXPECT_EQ(shared->AtDpi(96), shared);
}

struct InflateCase {
    const char* what;
    std::vector<std::uint8_t> packed;
    std::size_t size;
    std::string expected;  // empty: refused
};

class InflateTest : public ::testing::TestWithParam<InflateCase> {};

TEST_P(InflateTest, UnpacksWholeStreamsAndRefusesOthers) {
    const InflateCase& c = GetParam();
    const std::vector<std::uint8_t> out = Inflate(c.packed.data(), c.packed.size(), c.size);
    EXPECT_EQ(std::string(out.begin(), out.end()), c.expected) << c.what;
}

// Streams made with zlib (raw deflate); the dynamic-code blocks are the pictures themselves.
const std::vector<std::uint8_t> kFixed = {0xf3, 0x4e, 0x2d, 0x2e, 0x29, 0x4a, 0x2c, 0x4b,
                                          0x55, 0xf0, 0x46, 0x67, 0x28, 0x02, 0x00};
constexpr char kText[] = "Kestrave Kestrave Kestrave!";

INSTANTIATE_TEST_SUITE_P(
    Cases, InflateTest,
    ::testing::Values(
        InflateCase{"a stored block", {0x01, 0x03, 0x00, 0xfc, 0xff, 'a', 'b', 'c'}, 3, "abc"},
        InflateCase{"fixed codes with back references", kFixed, 27, kText},
        InflateCase{"a stored block whose length check is wrong",
                    {0x01, 0x03, 0x00, 0xfc, 0xfe, 'a', 'b', 'c'}, 3, ""},
        InflateCase{"a stream cut short",
                    std::vector<std::uint8_t>(kFixed.begin(), kFixed.begin() + 8), 27, ""},
        InflateCase{"more bytes than expected", kFixed, 26, ""},
        InflateCase{"fewer bytes than expected", kFixed, 28, ""},
        InflateCase{"the reserved block type", {0x07, 0x00}, 1, ""},
        InflateCase{"a distance before the start", {0x03, 0x02, 0x00}, 3, ""}));

TEST(DeflatedPicture, ADamagedResourceGivesNoPicture) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, L"CHECK_TICKED_200", kDeflatedBitmapType);
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(self, found)));
    std::vector<std::uint8_t> copy(bytes, bytes + SizeofResource(self, found));
    EXPECT_TRUE(InflateBitmap(copy.data(), static_cast<DWORD>(copy.size())));

    // A changed pixel value is caught by the check sum even where the stream still unpacks.
    std::vector<std::uint8_t> changedSum = copy;
    changedSum[8] ^= 1;
    EXPECT_FALSE(InflateBitmap(changedSum.data(), static_cast<DWORD>(changedSum.size())));
    std::vector<std::uint8_t> cut(copy.begin(), copy.end() - 10);
    EXPECT_FALSE(InflateBitmap(cut.data(), static_cast<DWORD>(cut.size())));
    std::vector<std::uint8_t> huge = copy;
    huge[3] = 0x7f;  // a width of two billion pixels
    EXPECT_FALSE(InflateBitmap(huge.data(), static_cast<DWORD>(huge.size())));
}

}  // namespace
}  // namespace kestrave
