// A real button in a real top-level window, a host that records what the button raises, and
// bounded message pumping with the cursor and mouse buttons driven through the system's input.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "button.h"

namespace kestrave::testing {

// A visible borderless top-level window at a screen rectangle.
class TestWindow {
  public:
    TestWindow(int x, int y, int width, int height, bool topmost = false);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND Handle() const { return window_; }

  private:
    HWND window_ = nullptr;
};

class RecordingHost : public ButtonHost {
  public:
    struct Event {
        std::wstring what;  // "Click", "MouseDown", "MouseUp"
        short button = 0;
        short shift = 0;
        float x = 0;
        float y = 0;
        ButtonState stateThen = ButtonState::Normal;
        COLORREF lookThen = CLR_INVALID;  // the surface's pixel (2, 2) when it was raised
    };

    void ButtonClick(Button& button) override;
    void ButtonMouseDown(Button& button, short& which, short& shift, float& x, float& y) override;
    void ButtonMouseUp(Button& button, short& which, short& shift, float& x, float& y) override;
    void ButtonMouseMove(Button& button, short& which, short& shift, float& x, float& y) override;
    void ButtonPropertyChanged(Button&, const std::wstring& propertyName) override;
    FontRef AmbientFont() override { return ambientFont; }
    void ButtonEventFailed(Button&, std::exception_ptr) override { ++failures; }

    // Names of the events other than moves, in order, e.g. "MouseDown 1", "Click".
    std::vector<std::wstring> Names() const;
    int Count(const std::wstring& name) const;

    std::vector<Event> events;
    int moves = 0;
    std::vector<std::wstring> changedProperties;
    int failures = 0;
    FontRef ambientFont = MakeFont({});
    // What a handler leaves in `button`, as a host may change the arguments it is given.
    std::function<void(short& button)> rewriteMoveButton;
    std::function<void(short& button)> rewriteDownButton;

  private:
    void Record(const wchar_t* what, Button& button, short which, short shift, float x, float y);
};

// Handles messages until `done` holds (checked after every message) or about `limitMs` pass.
bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 3000);
// Handles messages until `ticks` ticks of timer `timerId` on `window` have been handled.
bool PumpTimerTicks(HWND window, UINT_PTR timerId, int ticks, DWORD limitMs = 3000);
// Handles messages for about `ms`: only to give a wrong behaviour the chance to show.
void PumpFor(DWORD ms);

// The cursor and mouse buttons, as a user would move and press them.
void MoveCursorTo(POINT screen);
void PressLeft();
void ReleaseLeft();
void PressRight();
void ReleaseRight();

// Screen point of a point in `window`'s client area.
POINT ScreenPoint(HWND window, int x, int y);

}  // namespace kestrave::testing
