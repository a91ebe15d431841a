// The painters, pixel by pixel, on a memory surface and on a real button's surface.
#include <gtest/gtest.h>
#include <olectl.h>

#include <algorithm>
#include <climits>
#include <ios>
#include <stdexcept>
#include <vector>

#include "button.h"
#include "button_fixture.h"
#include "button_painting.h"
#include "test_pictures.h"

namespace kestrave {
namespace {

std::vector<COLORREF> AllPixels(const ButtonSurface& surface) {
    std::vector<COLORREF> pixels;
    for (int y = 0; y < surface.Height(); ++y) {
        for (int x = 0; x < surface.Width(); ++x)
            pixels.push_back(surface.Pixel(x, y));
    }
    return pixels;
}

TEST(BlendColor, MixesChannelsByTheWeightOfTheFirstColour) {
    const ColorValue buttonFace = static_cast<ColorValue>(GetSysColor(COLOR_BTNFACE));
    struct Case {
        ColorValue a;
        ColorValue b;
        long weightA;
        ColorValue expected;
    } cases[] = {
        {0x123456, 0xFFFFFF, 0, 0xFFFFFF},    // the light border: always white
        {0xFFFFFF, 0x000000, 128, 0x808080},  // the dark border of white
        {0x0000FF, 0x000000, 128, 0x000080},  // red darkened, other channels stay 0
        {0x000000, 0x000000, 128, 0x000000},  // black stays black
        {0xFFFFFF, 0x000000, 0, 0x000000},    // weight 0 gives the second colour
        {0xFFFFFF, 0x000000, 255, 0xFFFFFF},  // weight 255 gives the first
        {0x102030, 0x000000, 255, 0x102030},
        {0x8000000F, 0x000000, 255, buttonFace},  // system colours are translated first
        {0x7F000000, 0x000000, 255, 0xFFFFFF},    // untranslatable: 255 in every channel
        {0x0000C8, 0x000064, 128, 0x000096},      // 127*100/255 + 128*200/255 = 150.2
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BlendColor(c.a, c.b, c.weightA), c.expected)
            << std::hex << c.a << " " << c.b << " weight " << std::dec << c.weightA;
    }
}

TEST(BlendColor, RefusesWeightsThatOverflow) {
    EXPECT_THROW(BlendColor(0xFFFFFF, 0, LONG_MAX), std::overflow_error);
    EXPECT_THROW(BlendColor(0xFFFFFF, 0, LONG_MIN), std::overflow_error);
}

TEST(ToRgb, TranslatesSystemColoursAndReportsWhatItCannot) {
    EXPECT_EQ(ToRgb(0x00123456), 0x123456);
    EXPECT_EQ(ToRgb(kButtonTextColor), static_cast<long>(GetSysColor(COLOR_BTNTEXT)));
    EXPECT_EQ(ToRgb(kButtonFaceColor), static_cast<long>(GetSysColor(COLOR_BTNFACE)));
    EXPECT_EQ(ToRgb(0x7F000000), -1);
}

// The program translates colours itself rather than load OLE for it; the system's own
// translation is the reference, across every kind of colour and the edges of each.
TEST(ToRgb, AgreesWithTheSystem) {
    std::vector<ColorValue> colours{0x00000000, 0x00FFFFFF, 0x00123456, 0x01000005, 0x0100FFFF,
                                    0x02123456, 0x03000000, 0x7F000000, 0x80000100, 0x8000FF05,
                                    0x81000000, 0xFF000000, 0xFFFFFFFF};
    for (ColorValue index = 0; index <= 0x20; ++index)
        colours.push_back(0x80000000 | index);
    for (ColorValue colour : colours) {
        COLORREF system = 0;
        const long expected =
            OleTranslateColor(colour, nullptr, &system) == S_OK ? static_cast<long>(system) : -1;
        EXPECT_EQ(ToRgb(colour), expected) << std::hex << colour;
    }
}

TEST(FlatFace, HasTheBackColourInsideAOnePixelBorder) {
    constexpr COLORREF kBack = RGB(10, 20, 30);
    const COLORREF systemText = GetSysColor(COLOR_BTNTEXT);
    const COLORREF systemTextDark =
        RGB(GetRValue(systemText) * 128 / 255.0 + 0.5, GetGValue(systemText) * 128 / 255.0 + 0.5,
            GetBValue(systemText) * 128 / 255.0 + 0.5);
    struct Case {
        const char* what;
        FaceRelief relief;
        ColorValue fore;
        COLORREF first;   // left column (bottom-left corner included) and top row
        COLORREF second;  // right column (top-right corner included) and bottom row
    } cases[] = {
        {"raised, blue", FaceRelief::Raised, 0xFF0000, RGB(255, 255, 255), RGB(0, 0, 128)},
        {"sunken, blue", FaceRelief::Sunken, 0xFF0000, RGB(0, 0, 128), RGB(255, 255, 255)},
        {"raised, black", FaceRelief::Raised, 0x000000, RGB(255, 255, 255), RGB(0, 0, 0)},
        {"sunken, black", FaceRelief::Sunken, 0x000000, RGB(0, 0, 0), RGB(255, 255, 255)},
        {"raised, button text", FaceRelief::Raised, kButtonTextColor, RGB(255, 255, 255),
         systemTextDark},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ButtonSurface surface(20, 10);
        surface.foreColor = c.fore;
        surface.backColor = kBack;
        PaintFace(surface, nullptr, c.relief, L"");
        EXPECT_EQ(surface.Pixel(19, 0), c.second) << "top-right corner";
        EXPECT_EQ(surface.Pixel(0, 9), c.first) << "bottom-left corner";
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 20; ++x) {
                COLORREF expected = kBack;
                if (x == 0 || (y == 0 && x < 19)) {
                    expected = c.first;
                } else if (x == 19 || y == 9) {
                    expected = c.second;
                }
                ASSERT_EQ(surface.Pixel(x, y), expected) << "at " << x << ", " << y;
            }
        }
        EXPECT_EQ(surface.foreColor, c.fore) << "the fore colour is back as it was";
    }
}

// A 40 x 20 picture whose nine pieces (6-pixel corners) each have their own colour.
constexpr COLORREF kPieceColors[9] = {
    RGB(255, 0, 0),   RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 0), RGB(0, 255, 255),
    RGB(255, 0, 255), RGB(128, 0, 0), RGB(0, 128, 0), RGB(0, 0, 128),
};
int Piece(int x, int y, int width, int height) {
    int column = x < 6 ? 0 : x < width - 6 ? 1 : 2;
    int row = y < 6 ? 0 : y < height - 6 ? 1 : 2;
    return row * 3 + column;
}
PictureRef PiecesPicture() {
    return testing::PaintedPicture(40, 20,
                                   [](int x, int y) { return kPieceColors[Piece(x, y, 40, 20)]; });
}

TEST(NineSlice, CornersStayAndEdgesAndCentreStretch) {
    PictureRef picture = PiecesPicture();
    const auto copies =
        NineSliceCopies(100, 30, picture->HimetricWidth(), picture->HimetricHeight());
    const SliceCopy expected[9] = {
        {{0, 0, 6, 6}, {0, 0, 6, 6}},     {{6, 0, 88, 6}, {6, 0, 28, 6}},
        {{94, 0, 6, 6}, {34, 0, 6, 6}},   {{0, 6, 6, 18}, {0, 6, 6, 8}},
        {{6, 6, 88, 18}, {6, 6, 28, 8}},  {{94, 6, 6, 18}, {34, 6, 6, 8}},
        {{0, 24, 6, 6}, {0, 14, 6, 6}},   {{6, 24, 88, 6}, {6, 14, 28, 6}},
        {{94, 24, 6, 6}, {34, 14, 6, 6}},
    };
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(copies[i].destination, expected[i].destination) << "piece " << i;
        EXPECT_EQ(copies[i].source, expected[i].source) << "piece " << i;
    }

    ButtonSurface surface(100, 30);
    PaintFace(surface, picture, FaceRelief::Raised, L"");
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 100; ++x) {
            ASSERT_EQ(surface.Pixel(x, y), kPieceColors[Piece(x, y, 100, 30)])
                << "at " << x << ", " << y;
        }
    }
}

TEST(NineSlice, AButtonSmallerThanTwoCornersGetsUnmirroredCorners) {
    ButtonSurface surface(10, 8);
    PaintFace(surface, PiecesPicture(), FaceRelief::Raised, L"");
    EXPECT_EQ(surface.Pixel(0, 0), kPieceColors[0]);
    EXPECT_EQ(surface.Pixel(9, 0), kPieceColors[2]);
    EXPECT_EQ(surface.Pixel(0, 7), kPieceColors[6]);
    EXPECT_EQ(surface.Pixel(9, 7), kPieceColors[8]);
}

// Bounds of the caption's pixels: those inside the border that differ from the white back.
struct InkBounds {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
};
InkBounds Ink(const ButtonSurface& surface) {
    InkBounds ink;
    for (int y = 1; y < surface.Height() - 1; ++y) {
        for (int x = 1; x < surface.Width() - 1; ++x) {
            if (surface.Pixel(x, y) == RGB(255, 255, 255))
                continue;
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
            ink.top = std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y);
        }
    }
    return ink;
}

class CaptionTest : public ::testing::Test {
  protected:
    ButtonSurface& Painted(const std::wstring& caption, int width = 80, int height = 48) {
        surface_ = std::make_unique<ButtonSurface>(width, height);
        surface_->foreColor = 0;
        surface_->backColor = 0xFFFFFF;
        surface_->font = MakeFont({});
        PaintFace(*surface_, nullptr, FaceRelief::Raised, caption);
        return *surface_;
    }
    int LineHeight() {
        MemoryDc dc(CreateCompatibleDC(nullptr));
        SelectedObject font(dc.get(), MakeFont({})->Handle());
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc.get(), &metrics);
        return metrics.tmHeight;
    }
    std::unique_ptr<ButtonSurface> surface_;
};

TEST_F(CaptionTest, IsCentredAcrossAndDown) {
    InkBounds ink = Ink(Painted(L"注册"));
    ASSERT_GE(ink.right, 0) << "the caption is drawn";
    EXPECT_NEAR((ink.left + ink.right) / 2.0, 79 / 2.0, 1.5);
    EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 47 / 2.0, LineHeight() / 2.0);
}

TEST_F(CaptionTest, TooLongTextIsCutAtBothEdgesOnOneLine) {
    InkBounds ink = Ink(Painted(L"WWWWWWWWWWWWWWWWWWWWWWWW\nWWWWWWWWWWWWWWWWWWWWWWWWW"));
    EXPECT_EQ(ink.left, 1);
    EXPECT_EQ(ink.right, 78);
    EXPECT_LT(ink.bottom - ink.top, LineHeight()) << "a line break starts no second line";
}

TEST_F(CaptionTest, EveryCharacterIsDrawnWhateverTheCodePage) {
    // Through a narrow code page these would all come out as "?".
    std::vector<COLORREF> question = AllPixels(Painted(L"?"));
    for (const wchar_t* text : {L"ñ", L"한", L"注"}) {
        EXPECT_NE(AllPixels(Painted(text)), question) << "caption " << static_cast<int>(text[0]);
    }
}

TEST_F(CaptionTest, IsDrawnOverAPicture) {
    surface_ = std::make_unique<ButtonSurface>(80, 30);
    surface_->foreColor = 0;
    PaintFace(*surface_, testing::SolidPicture(20, 20, RGB(255, 255, 255)), FaceRelief::Raised,
              L"注册");
    InkBounds ink = Ink(*surface_);
    EXPECT_GE(ink.right, ink.left);
}

// The painters of a real button, each with its own picture.
class ButtonPaintersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        button_ = Button::Create(window_.Handle(), L"b", 10, 10, 60, 24, host_);
        button_->InitProperties();
        button_->SetForeColor(0x000000);
        button_->SetBackColor(RGB(10, 20, 30));
    }
    testing::TestWindow window_{400, 400, 100, 60};
    testing::RecordingHost host_;
    std::unique_ptr<Button> button_;
};

TEST_F(ButtonPaintersTest, EachLookTakesItsOwnPictureOrTheFlatFace) {
    constexpr COLORREF kWhite = RGB(255, 255, 255);
    constexpr COLORREF kBack = RGB(10, 20, 30);
    constexpr COLORREF kRed = RGB(200, 0, 0);
    button_->SetPicture(testing::SolidPicture(12, 12, kRed));
    struct Case {
        const char* painter;
        void (Button::*paint)();
        COLORREF topLeft;
        COLORREF inside;
    } cases[] = {
        {"normal", &Button::PaintNormal, kRed, kRed},
        {"mouse on", &Button::PaintMouseOn, kWhite, kBack},
        {"down", &Button::PaintDown, RGB(0, 0, 0), kBack},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.painter);
        (button_.get()->*c.paint)();
        EXPECT_EQ(button_->Surface().Pixel(0, 0), c.topLeft);
        EXPECT_EQ(button_->Surface().Pixel(5, 5), c.inside);
    }
}

TEST_F(ButtonPaintersTest, RedrawWhileDownAndNotYetPolledLeavesTheSurfaceAlone) {
    button_->SetPictureDown(testing::SolidPicture(12, 12, RGB(200, 0, 0)));
    SendMessageW(button_->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    ASSERT_EQ(button_->MouseState(), ButtonState::MouseOn);
    const std::vector<COLORREF> mouseOn = AllPixels(button_->Surface());

    SendMessageW(button_->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ASSERT_EQ(button_->MouseState(), ButtonState::Down);
    EXPECT_EQ(AllPixels(button_->Surface()), mouseOn);
    button_->Redraw();
    EXPECT_EQ(AllPixels(button_->Surface()), mouseOn);
    // A paint request from the system shows the same kept surface.
    InvalidateRect(button_->Handle(), nullptr, FALSE);
    UpdateWindow(button_->Handle());
    EXPECT_EQ(AllPixels(button_->Surface()), mouseOn);
    ReleaseCapture();
}

}  // namespace
}  // namespace kestrave
