// Pictures for a display scale: the set drawn for it, the next larger set reduced, and the
// reduction itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

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
    ::testing::Values(
        ResampleCase{"the same size is an exact copy",
                     {0x102030, 0xFFFFFF, 0x000001, 0x7F7F7F, 0xA0B0C0, 0x010203},
                     3, 2, 3, 2,
                     {0x102030, 0xFFFFFF, 0x000001, 0x7F7F7F, 0xA0B0C0, 0x010203}},
        ResampleCase{"four pixels into one: each channel averaged",
                     {0x0000FF, 0xFF0000, 0x00FF00, 0x000000}, 2, 2, 1, 1, {0x404040}},
        // 1.5 source pixels per target pixel: the middle one is shared half and half.
        ResampleCase{"three into two shares the middle pixel",
                     {0x000000, 0x00005A, 0x0000B4}, 3, 1, 2, 1, {0x00001E, 0x000096}},
        ResampleCase{"a one-pixel line shrunk stays as a lighter line, not dropped",
                     {0xFFFFFF, 0x000000, 0xFFFFFF}, 3, 1, 2, 1, {0xAAAAAA, 0xAAAAAA}},
        ResampleCase{"enlarging repeats each pixel over the area it covers",
                     {0x000010, 0x000020}, 2, 1, 4, 1, {0x000010, 0x000010, 0x000020, 0x000020}},
        ResampleCase{"an empty size gives nothing", {0x000000}, 1, 1, 0, 1, {}},
        ResampleCase{"too few source pixels give nothing", {0x000000}, 2, 2, 1, 1, {}}));

struct ScaleCase {
    int dpi;
    int width, height;  // of MAIN_BACKGROUND, drawn 321 x 407 at 100 %
    int pictureDpi;
};

class PictureForDpiTest : public ::testing::TestWithParam<ScaleCase> {};

// 144 and 192 DPI get the sets drawn for them; 120 the 150 % set reduced; beyond 200 % the
// 200 % set enlarged; at or below 96 the 100 % picture.
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
                                           ScaleCase{120, 402, 509, 120},
                                           ScaleCase{144, 482, 611, 144},
                                           ScaleCase{168, 562, 712, 168},
                                           ScaleCase{192, 642, 814, 192},
                                           ScaleCase{240, 803, 1018, 240}));

TEST(PictureForDpi, APictureNotFromTheResourcesStaysAsItIs) {
    const PictureRef shared = Picture::FromResource(GetModuleHandleW(nullptr), L"CHECK_EMPTY");
    ASSERT_TRUE(shared);
    BitmapHandle copy(static_cast<HBITMAP>(CopyImage(shared->Bitmap(), IMAGE_BITMAP, 0, 0,
                                                     LR_CREATEDIBSECTION)));
    const PictureRef own = Picture::FromBitmap(std::move(copy), L"mine");
    EXPECT_EQ(own->AtDpi(192), own);
    EXPECT_EQ(shared->AtDpi(96), shared);
}

}  // namespace
}  // namespace kestrave
