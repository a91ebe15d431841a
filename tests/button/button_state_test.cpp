// The button's looks and events driven by the real cursor and mouse buttons under the system's
// own input handling, so the window under the cursor is found exactly as for a user.
#include <gtest/gtest.h>

#include "button.h"
#include "button_fixture.h"
#include "screen.h"
#include "test_pictures.h"

namespace kestrave {
namespace {

using testing::MoveCursorTo;
using testing::PressLeft;
using testing::PressRight;
using testing::PumpUntil;
using testing::ReleaseLeft;
using testing::ReleaseRight;

constexpr COLORREF kNormalLook = RGB(0, 0, 200);
constexpr COLORREF kMouseOnLook = RGB(0, 200, 0);
constexpr COLORREF kDownLook = RGB(200, 0, 0);

class ButtonStateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Start from a cursor over no window of ours.
        MoveCursorTo({5, 5});
        button_ = Button::Create(window_.Handle(), L"注册", 20, 20, 120, 40, host_);
        button_->InitProperties();
        button_->SetPicture(testing::SolidPicture(12, 12, kNormalLook));
        button_->SetPictureMouseOn(testing::SolidPicture(12, 12, kMouseOnLook));
        button_->SetPictureDown(testing::SolidPicture(12, 12, kDownLook));
        PumpUntil([] { return false; }, 50);
        host_.events.clear();
        ASSERT_EQ(Look(), kNormalLook);
    }
    void TearDown() override {
        // Leave no button held for the next test, whatever happened.
        if (GetAsyncKeyState(VK_LBUTTON) < 0)
            ReleaseLeft();
        if (GetAsyncKeyState(VK_RBUTTON) < 0)
            ReleaseRight();
        MoveCursorTo({5, 5});
        PumpUntil([] { return false; }, 30);
    }

    POINT OnButton() const { return testing::ScreenPoint(button_->Handle(), 10, 5); }
    // On the host window, beside the button.
    POINT BesideButton() const { return testing::ScreenPoint(window_.Handle(), 200, 150); }
    COLORREF Look() const { return button_->Surface().Pixel(2, 2); }
    ButtonState State() const { return button_->MouseState(); }
    DownTracking Tracking() const { return button_->Tracking(); }

    void Hover() {
        MoveCursorTo(OnButton());
        ASSERT_TRUE(PumpUntil([&] { return State() == ButtonState::MouseOn; }));
    }
    void PressUntilTracked() {
        PressLeft();
        ASSERT_TRUE(PumpUntil([&] { return Tracking() == DownTracking::Inside; }));
    }

    testing::TestWindow window_{100, 100, 300, 200};
    testing::RecordingHost host_;
    std::unique_ptr<Button> button_;
};

TEST_F(ButtonStateTest, HoverShowsMouseOnAtOnceAndPollingFindsTheCursorGone) {
    MoveCursorTo(OnButton());
    ASSERT_TRUE(PumpUntil([&] { return State() == ButtonState::MouseOn; }));
    EXPECT_EQ(Look(), kMouseOnLook);
    EXPECT_TRUE(button_->IsPolling());

    // The host window gets this move, not the button: only the poll can see the cursor leave.
    MoveCursorTo(BesideButton());
    ASSERT_TRUE(PumpUntil([&] { return State() == ButtonState::Normal; }));
    EXPECT_EQ(Look(), kNormalLook);
    EXPECT_FALSE(button_->IsPolling());
    EXPECT_TRUE(host_.events.empty());
}

TEST_F(ButtonStateTest, PressShowsTheDownLookOnlyFromTheFirstPoll) {
    Hover();
    PressLeft();
    ASSERT_TRUE(PumpUntil([&] { return State() == ButtonState::Down; }));
    EXPECT_EQ(Tracking(), DownTracking::Untracked);
    EXPECT_EQ(Look(), kMouseOnLook) << "the press itself leaves the surface as it was";

    ASSERT_TRUE(PumpUntil([&] { return Tracking() == DownTracking::Inside; }));
    EXPECT_EQ(Look(), kDownLook);
}

TEST_F(ButtonStateTest, ReleaseOverTheButtonClicksBeforeMouseUpWithTheNormalLookShown) {
    Hover();
    PressUntilTracked();
    ReleaseLeft();
    ASSERT_TRUE(PumpUntil([&] { return host_.Count(L"MouseUp 1") == 1; }));

    ASSERT_EQ(host_.Names(), (std::vector<std::wstring>{L"MouseDown 1", L"Click", L"MouseUp 1"}));
    const auto& click = host_.events[1];
    EXPECT_EQ(click.stateThen, ButtonState::Normal);
    EXPECT_EQ(click.lookThen, kNormalLook) << "drawn normal before the host's handler runs";
    const auto& down = host_.events[0];
    EXPECT_EQ(down.x, 10.0f * TwipsPerPixelX()) << "coordinates in twips";
    EXPECT_EQ(down.y, 5.0f * TwipsPerPixelY());
    EXPECT_EQ(GetCapture(), nullptr);

    // The cursor stays on the button, yet the look stays normal until the mouse really moves.
    ASSERT_TRUE(PumpUntil([&] { return !button_->IsPolling(); }));
    EXPECT_EQ(State(), ButtonState::Normal);
    EXPECT_EQ(Look(), kNormalLook);
    EXPECT_EQ(Tracking(), DownTracking::Untracked);
}

TEST_F(ButtonStateTest, LeavingAfterAClickAndComingBackToTheSamePixelShowsMouseOnAgain) {
    Hover();
    PressUntilTracked();
    ReleaseLeft();
    ASSERT_TRUE(PumpUntil([&] { return host_.Count(L"Click") == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return !button_->IsPolling(); }));
    ASSERT_EQ(Look(), kNormalLook);

    // Off the button only its host sees the mouse, and nothing polls any more.
    MoveCursorTo(BesideButton());
    testing::PumpFor(50);
    const int movesBefore = host_.moves;
    MoveCursorTo(OnButton());
    ASSERT_TRUE(PumpUntil([&] { return State() == ButtonState::MouseOn; }));
    EXPECT_EQ(Look(), kMouseOnLook);
    EXPECT_GT(host_.moves, movesBefore);
    EXPECT_TRUE(button_->IsPolling());
}

TEST_F(ButtonStateTest, SecondPressWithoutAMoveShowsNoDownLookButStillClicks) {
    Hover();
    PressUntilTracked();
    ReleaseLeft();
    ASSERT_TRUE(PumpUntil([&] { return host_.Count(L"Click") == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return !button_->IsPolling(); }));

    PressLeft();
    ASSERT_TRUE(PumpUntil([&] { return State() == ButtonState::Down; }));
    testing::PumpFor(100);  // nothing polls any more, so no down look may come
    EXPECT_EQ(Look(), kNormalLook);
    EXPECT_EQ(Tracking(), DownTracking::Untracked);

    ReleaseLeft();
    ASSERT_TRUE(PumpUntil([&] { return host_.Count(L"Click") == 2; }));
    EXPECT_EQ(host_.Count(L"MouseUp 1"), 2);
}

TEST_F(ButtonStateTest, DraggingOffShowsMouseOnAndDraggingBackShowsDown) {
    Hover();
    PressUntilTracked();

    MoveCursorTo(BesideButton());
    ASSERT_TRUE(PumpUntil([&] { return Tracking() == DownTracking::Outside; }));
    EXPECT_EQ(Look(), kMouseOnLook);
    EXPECT_EQ(State(), ButtonState::Down);

    MoveCursorTo(OnButton());
    ASSERT_TRUE(PumpUntil([&] { return Tracking() == DownTracking::Inside; }));
    EXPECT_EQ(Look(), kDownLook);
    EXPECT_EQ(host_.Count(L"Click"), 0);
}

TEST_F(ButtonStateTest, ReleaseAwayFromTheButtonRaisesNothing) {
    // Covers the right half of the button.
    POINT buttonRight = testing::ScreenPoint(button_->Handle(), 60, 0);
    testing::TestWindow cover(buttonRight.x, buttonRight.y, 100, 40, true);
    PumpUntil([] { return false; }, 30);

    struct Case {
        const char* where;
        POINT point;
    } cases[] = {
        {"beside the button", BesideButton()},
        {"on the button, under a covering window", testing::ScreenPoint(button_->Handle(), 90, 20)},
        {"over no window of ours", {5, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        host_.events.clear();
        Hover();
        PressUntilTracked();
        MoveCursorTo(c.point);
        ASSERT_TRUE(PumpUntil([&] { return Tracking() == DownTracking::Outside; }));
        ReleaseLeft();
        ASSERT_TRUE(PumpUntil([&] { return State() == ButtonState::Normal; }));
        testing::PumpFor(50);
        EXPECT_EQ(host_.Names(), std::vector<std::wstring>{L"MouseDown 1"});
        EXPECT_EQ(Tracking(), DownTracking::Untracked);
        EXPECT_EQ(Look(), kNormalLook);
        EXPECT_EQ(GetCapture(), nullptr);
    }
}

TEST_F(ButtonStateTest, RightButtonRaisesDownAndUpButNoClickAndKeepsTheLook) {
    Hover();
    PressRight();
    ASSERT_TRUE(PumpUntil([&] { return host_.Count(L"MouseDown 2") == 1; }));
    ReleaseRight();
    ASSERT_TRUE(PumpUntil([&] { return host_.Count(L"MouseUp 2") == 1; }));
    EXPECT_EQ(host_.Names(), (std::vector<std::wstring>{L"MouseDown 2", L"MouseUp 2"}));
    EXPECT_EQ(State(), ButtonState::MouseOn);
    EXPECT_EQ(Look(), kMouseOnLook);
}

TEST_F(ButtonStateTest, RightReleaseWhileTheLeftIsHeldEndsThePressWithoutClick) {
    Hover();
    PressUntilTracked();
    PressRight();
    ReleaseRight();
    ASSERT_TRUE(PumpUntil([&] { return host_.Count(L"MouseUp 2") == 1; }));
    EXPECT_EQ(State(), ButtonState::Normal);
    EXPECT_EQ(Look(), kNormalLook);
    ReleaseLeft();
    ASSERT_TRUE(PumpUntil([&] { return host_.Count(L"MouseUp 1") == 1; }));
    EXPECT_EQ(host_.Count(L"Click"), 1) << "the left release over the button still clicks";
}

// The button's own tests after raising an event use what the host's handler left.
TEST_F(ButtonStateTest, MoveAndPressRulesUseTheButtonAsTheHostLeftIt) {
    struct Case {
        const char* what;
        UINT message;
        WPARAM keys;
        short rewriteTo;  // -1: the host leaves the argument alone
        ButtonState expected;
    } cases[] = {
        {"move, right button held", WM_MOUSEMOVE, MK_RBUTTON, -1, ButtonState::Normal},
        {"move, right held, host says none", WM_MOUSEMOVE, MK_RBUTTON, 0, ButtonState::MouseOn},
        {"move, nothing held, host says right", WM_MOUSEMOVE, 0, 2, ButtonState::Normal},
        {"right press", WM_RBUTTONDOWN, MK_RBUTTON, -1, ButtonState::Normal},
        {"right press, host says left", WM_RBUTTONDOWN, MK_RBUTTON, 1, ButtonState::Down},
        {"left press, host says right", WM_LBUTTONDOWN, MK_LBUTTON, 2, ButtonState::Normal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto button = Button::Create(window_.Handle(), L"b", 150, 20, 100, 30, host_);
        auto rewrite = [&c](short& which) {
            if (c.rewriteTo >= 0)
                which = c.rewriteTo;
        };
        host_.rewriteMoveButton = rewrite;
        host_.rewriteDownButton = rewrite;
        int x = 3 + static_cast<int>(&c - cases);  // a fresh point for every move
        SendMessageW(button->Handle(), c.message, c.keys, MAKELPARAM(x, 4));
        EXPECT_EQ(button->MouseState(), c.expected);
        if (c.message == WM_MOUSEMOVE) {
            EXPECT_TRUE(button->IsPolling()) << "any move polls";
        }
        ReleaseCapture();
    }
    host_.rewriteMoveButton = nullptr;
    host_.rewriteDownButton = nullptr;
}

class ButtonPushTest : public ButtonStateTest {};

TEST_F(ButtonPushTest, PushShowsTheDownLookForTwoTicksAndClicksAtOnceOrAtTheEnd) {
    struct Case {
        short delayClick;
        int clicksInsidePush;
    } cases[] = {{0, 1}, {-1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delayClick);
        host_.events.clear();
        button_->Push(c.delayClick);
        EXPECT_EQ(host_.Count(L"Click"), c.clicksInsidePush);
        EXPECT_EQ(Look(), kDownLook);
        EXPECT_TRUE(button_->IsPushing());

        ASSERT_TRUE(testing::PumpTimerTicks(button_->Handle(), Button::kPushTimerId, 1));
        EXPECT_EQ(Look(), kDownLook) << "the first tick only counts";
        ASSERT_TRUE(testing::PumpTimerTicks(button_->Handle(), Button::kPushTimerId, 1));
        EXPECT_FALSE(button_->IsPushing());
        EXPECT_EQ(Look(), kNormalLook);
        ASSERT_EQ(host_.Names(), std::vector<std::wstring>{L"Click"});
        EXPECT_EQ(host_.events[0].lookThen, kDownLook) << "Click comes while the down look shows";
        EXPECT_EQ(State(), ButtonState::Normal) << "a push leaves the mouse state alone";
        EXPECT_EQ(Tracking(), DownTracking::Untracked);
    }
}

TEST_F(ButtonPushTest, APushDuringAPushRestartsTheCountAndOnlyTheLastDelayCounts) {
    button_->Push(-1);
    ASSERT_TRUE(testing::PumpTimerTicks(button_->Handle(), Button::kPushTimerId, 1));
    button_->Push(0);
    EXPECT_EQ(host_.Count(L"Click"), 1);

    ASSERT_TRUE(testing::PumpTimerTicks(button_->Handle(), Button::kPushTimerId, 1));
    EXPECT_TRUE(button_->IsPushing()) << "the count started again with the second push";
    EXPECT_EQ(Look(), kDownLook);
    ASSERT_TRUE(PumpUntil([&] { return !button_->IsPushing(); }));
    EXPECT_EQ(Look(), kNormalLook);
    EXPECT_EQ(host_.Count(L"Click"), 1) << "the first push's delayed click is lost";
}

}  // namespace
}  // namespace kestrave
