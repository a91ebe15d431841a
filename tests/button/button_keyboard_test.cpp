// The button for those who do not use the mouse: the focus mark, Space and Enter, and what a
// screen reader learns about it.
#include <gtest/gtest.h>
#include <oleacc.h>

#include "button.h"
#include "button_fixture.h"
#include "test_pictures.h"

namespace kestrave {
namespace {

constexpr COLORREF kNormalLook = RGB(0, 0, 200);

class ButtonKeyboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        button_ = Button::Create(window_.Handle(), L"注册", 20, 20, 120, 40, host_);
        button_->InitProperties();
        // Large enough for every one of the nine slices to cover its part of the face.
        button_->SetPicture(testing::SolidPicture(40, 20, kNormalLook));
        button_->SetCaption(L"注 册");
        testing::PumpFor(30);
        host_.events.clear();
    }
    COLORREF Pixel(int x, int y) const { return button_->Surface().Pixel(x, y); }

    testing::TestWindow window_{100, 100, 300, 200};
    testing::RecordingHost host_;
    std::unique_ptr<Button> button_;
};

// The pixels of the rectangle `inset` pixels inside the surface's edge, side by side: top,
// bottom, left, right.
std::vector<std::vector<COLORREF>> Ring(const ButtonSurface& surface, int inset) {
    const int right = surface.Width() - inset - 1;
    const int bottom = surface.Height() - inset - 1;
    std::vector<std::vector<COLORREF>> sides(4);
    for (int x = inset; x <= right; ++x) {
        sides[0].push_back(surface.Pixel(x, inset));
        sides[1].push_back(surface.Pixel(x, bottom));
    }
    for (int y = inset; y <= bottom; ++y) {
        sides[2].push_back(surface.Pixel(inset, y));
        sides[3].push_back(surface.Pixel(right, y));
    }
    return sides;
}

TEST_F(ButtonKeyboardTest, TheFocusedButtonShowsADottedMarkInsideItsBorder) {
    const int inset = Button::kFocusMarkInset;
    const ButtonSurface& surface = button_->Surface();
    const auto markBefore = Ring(surface, inset);
    const auto outsideBefore = Ring(surface, inset - 1);
    const auto insideBefore = Ring(surface, inset + 1);

    SetFocus(button_->Handle());
    ASSERT_EQ(GetFocus(), button_->Handle());
    const auto mark = Ring(surface, inset);
    for (size_t side = 0; side < mark.size(); ++side) {
        int changed = 0;
        for (size_t i = 0; i < mark[side].size(); ++i)
            changed += mark[side][i] != markBefore[side][i];
        EXPECT_GE(changed * 3, static_cast<int>(mark[side].size()))
            << "a dotted line on side " << side;
    }
    EXPECT_EQ(Ring(surface, inset - 1), outsideBefore) << "the border is left alone";
    EXPECT_EQ(Ring(surface, inset + 1), insideBefore);

    SetFocus(window_.Handle());
    ASSERT_EQ(GetFocus(), window_.Handle());
    EXPECT_EQ(Ring(surface, inset), markBefore) << "the mark goes with the focus";
}

TEST_F(ButtonKeyboardTest, SpaceAndEnterClickButAHeldKeyDoesNotRepeat) {
    SetFocus(button_->Handle());
    constexpr LPARAM kRepeated = 1 << 30;
    struct Case {
        WPARAM key;
        LPARAM flags;
        int clicks;
    } cases[] = {{VK_SPACE, 1, 1},
                 {VK_RETURN, 1, 1},
                 {VK_SPACE, 1 | kRepeated, 0},
                 {'A', 1, 0},
                 {VK_ESCAPE, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        host_.events.clear();
        SendMessageW(button_->Handle(), WM_KEYDOWN, c.key, c.flags);
        EXPECT_EQ(host_.Count(L"Click"), c.clicks);
        EXPECT_EQ(host_.Count(L"MouseUp 1"), 0);
    }
    EXPECT_EQ(button_->MouseState(), ButtonState::Normal) << "the keys leave the mouse state";
}

TEST_F(ButtonKeyboardTest, AScreenReaderFindsAPushButtonNamedByItsCaption) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        IAccessible* accessible = nullptr;
        ASSERT_EQ(AccessibleObjectFromWindow(button_->Handle(), OBJID_CLIENT, IID_IAccessible,
                                             reinterpret_cast<void**>(&accessible)),
                  S_OK);
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        VARIANT role{};
        EXPECT_EQ(accessible->get_accRole(self, &role), S_OK);
        EXPECT_EQ(role.vt, VT_I4);
        EXPECT_EQ(role.lVal, ROLE_SYSTEM_PUSHBUTTON);
        BSTR name = nullptr;
        EXPECT_EQ(accessible->get_accName(self, &name), S_OK);
        EXPECT_EQ(std::wstring(name ? name : L""), L"注 册");
        SysFreeString(name);

        // A later caption is what the next question hears.
        button_->SetCaption(L"卸 载");
        name = nullptr;
        EXPECT_EQ(accessible->get_accName(self, &name), S_OK);
        accessible->Release();
        IAccessible* again = nullptr;
        ASSERT_EQ(AccessibleObjectFromWindow(button_->Handle(), OBJID_CLIENT, IID_IAccessible,
                                             reinterpret_cast<void**>(&again)),
                  S_OK);
        SysFreeString(name);
        name = nullptr;
        EXPECT_EQ(again->get_accName(self, &name), S_OK);
        EXPECT_EQ(std::wstring(name ? name : L""), L"卸 载");
        SysFreeString(name);
        again->Release();
    }
    CoUninitialize();
}

}  // namespace
}  // namespace kestrave
