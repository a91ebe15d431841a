#include "button.h"

#include <windowsx.h>

#include <stdexcept>
#include <system_error>

#include <oleacc.h>

#include "accessible.h"
#include "fatal_error.h"
#include "screen.h"

namespace kestrave {
namespace {

constexpr short kLeftButton = 1;
constexpr short kRightButton = 2;
constexpr short kMiddleButton = 4;

// When the user last pressed a key, moved or pressed the mouse; 0 when the system cannot say.
DWORD LastInputTime() {
    LASTINPUTINFO info{};
    info.cbSize = sizeof info;
    return GetLastInputInfo(&info) ? info.dwTime : 0;
}

float TwipsX(LPARAM position) {
    return static_cast<float>(GET_X_LPARAM(position)) * TwipsPerPixelX();
}
float TwipsY(LPARAM position) {
    return static_cast<float>(GET_Y_LPARAM(position)) * TwipsPerPixelY();
}

}  // namespace

void ButtonHost::ButtonEventFailed(Button&, std::exception_ptr error) {
    ReportFatalError(DescribeException(error));
}

Button::Button(std::wstring name, ButtonHost& host)
    : name_(std::move(name)), host_(host), surface_(0, 0) {
    surface_.font = host_.AmbientFont();
}

std::unique_ptr<Button> Button::Create(HWND parent, const std::wstring& name, int x, int y,
                                       int width, int height, ButtonHost& host) {
    // No CS_DBLCLKS: a quick second press must arrive as a press, not as a double click.
    RegisterWindowClass(kButtonClassName, &Button::WindowProc, CS_HREDRAW | CS_VREDRAW);
    std::unique_ptr<Button> button(new Button(name, host));
    HWND window = CreateWindowExW(0, kButtonClassName, name.c_str(),
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, x, y, width,
                                  height, parent, nullptr, GetModuleHandleW(nullptr), button.get());
    if (!window) {
        DWORD error = GetLastError();
        throw std::system_error(static_cast<int>(error), std::system_category(),
                                "CreateWindowExW (button)");
    }
    return button;
}

Button::~Button() {
    if (window_)
        DestroyWindow(window_);
}

LRESULT Button::MessageFailed(std::exception_ptr error) noexcept {
    try {
        host_.ButtonEventFailed(*this, error);
    } catch (...) {
    }
    return 0;
}

LRESULT Button::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return onCreate(*reinterpret_cast<CREATESTRUCTW*>(lParam));
        case WM_SIZE:
            return onSize(lParam);
        case WM_ERASEBKGND:
            return 1;  // the surface covers everything: no flicker
        case WM_PAINT:
            return onPaint();
        case WM_MOUSEMOVE:
            return onMouseMove(wParam, lParam);
        case WM_LBUTTONDOWN:
            return onButtonDown(kLeftButton, wParam, lParam);
        case WM_RBUTTONDOWN:
            return onButtonDown(kRightButton, wParam, lParam);
        case WM_MBUTTONDOWN:
            return onButtonDown(kMiddleButton, wParam, lParam);
        case WM_LBUTTONUP:
            return onButtonUp(kLeftButton, wParam, lParam);
        case WM_RBUTTONUP:
            return onButtonUp(kRightButton, wParam, lParam);
        case WM_MBUTTONUP:
            return onButtonUp(kMiddleButton, wParam, lParam);
        case WM_TIMER:
            return onTimer(wParam);
        case WM_KEYDOWN:
            return onKeyDown(wParam, lParam);
        case WM_SETFOCUS:
            return onFocusChanged(true);
        case WM_KILLFOCUS:
            return onFocusChanged(false);
        case WM_GETOBJECT:
            return onGetObject(wParam, lParam);
        default:
            return DefWindowProcW(window_, message, wParam, lParam);
    }
}

LRESULT Button::onCreate(const CREATESTRUCTW& creation) {
    surface_.Resize(creation.cx, creation.cy);
    return 0;
}

LRESULT Button::onSize(LPARAM size) {
    surface_.Resize(LOWORD(size), HIWORD(size));
    InvalidateRect(window_, nullptr, FALSE);
    return 0;
}

LRESULT Button::onPaint() {
    if (std::optional<Look> look = ChosenLook())
        Paint(*look);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    surface_.CopyTo(dc);
    EndPaint(window_, &paint);
    return 0;
}

LRESULT Button::onMouseMove(WPARAM keys, LPARAM position) {
    POINT screen{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    ClientToScreen(window_, &screen);
    // Without this, the motionless move that follows releasing the capture would switch the
    // button back to its mouse-on look right after a click.
    if (EchoesLastRelease(screen))
        return 0;
    lastRelease_.reset();

    short button = MouseButtons(keys);
    short shift = ShiftState(keys);
    float x = TwipsX(position);
    float y = TwipsY(position);
    host_.ButtonMouseMove(*this, button, shift, x, y);
    if (!pollTimerOn_)
        StartTimer(kPollTimerId, pollTimerOn_);
    if (button != kRightButton && mouseState_ == ButtonState::Normal) {
        mouseState_ = ButtonState::MouseOn;
        Redraw();
    }
    return 0;
}

LRESULT Button::onButtonDown(short button, WPARAM keys, LPARAM position) {
    // The release must come back here even off the button, or the button would stay down.
    SetCapture(window_);
    short shift = ShiftState(keys);
    float x = TwipsX(position);
    float y = TwipsY(position);
    host_.ButtonMouseDown(*this, button, shift, x, y);
    if (button == kLeftButton && mouseState_ != ButtonState::Down) {
        mouseState_ = ButtonState::Down;
        Redraw();
    }
    return 0;
}

LRESULT Button::onButtonUp(short button, WPARAM keys, LPARAM position) {
    if (!(keys & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) && GetCapture() == window_) {
        ReleaseCapture();
    }
    // Taken after releasing the capture: the system may count the move it repeats then as input.
    if (button == kLeftButton) {
        POINT screen{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
        ClientToScreen(window_, &screen);
        lastRelease_ = Release{screen, LastInputTime()};
    }
    if (mouseState_ == ButtonState::Down) {
        mouseState_ = ButtonState::Normal;
        Redraw();
    }
    if (downTracking_ != DownTracking::Untracked) {
        downTracking_ = DownTracking::Untracked;
        Redraw();
    }
    if (!CursorOverButton())
        return 0;
    short shift = ShiftState(keys);
    float x = TwipsX(position);
    float y = TwipsY(position);
    if (button == kLeftButton)
        host_.ButtonClick(*this);
    host_.ButtonMouseUp(*this, button, shift, x, y);
    return 0;
}

LRESULT Button::onTimer(UINT_PTR timerId) {
    if (timerId == kPollTimerId)
        onPollTick();
    if (timerId == kPushTimerId)
        onPushTick();
    return 0;
}

LRESULT Button::onKeyDown(WPARAM key, LPARAM flags) {
    // Space and Enter press a focused button as a click does; a held key does not repeat it.
    const bool repeated = (flags & (1 << 30)) != 0;
    if ((key == VK_SPACE || key == VK_RETURN) && !repeated)
        host_.ButtonClick(*this);
    return 0;
}

LRESULT Button::onFocusChanged(bool focused) {
    // While the focus is leaving, the system still names this window as the focus.
    focused_ = focused;
    // The focus mark comes and goes with the look of the moment.
    if (std::optional<Look> look = ChosenLook()) {
        Paint(*look);
        Present();
    }
    return 0;
}

LRESULT Button::onGetObject(WPARAM wParam, LPARAM lParam) {
    const std::wstring& name = caption_.empty() ? accessibleName_ : caption_;
    if (LRESULT answer =
            AnswerAccessibleObject(window_, wParam, lParam, ROLE_SYSTEM_PUSHBUTTON, name)) {
        return answer;
    }
    return DefWindowProcW(window_, WM_GETOBJECT, wParam, lParam);
}

void Button::OnNcDestroy() noexcept {
    StopTimer(kPollTimerId, pollTimerOn_);
    StopTimer(kPushTimerId, pushTimerOn_);
}

void Button::onPollTick() {
    const bool over = CursorOverButton();
    switch (mouseState_) {
        case ButtonState::Normal:
            StopTimer(kPollTimerId, pollTimerOn_);
            break;
        case ButtonState::MouseOn:
            if (over)
                break;
            StopTimer(kPollTimerId, pollTimerOn_);
            mouseState_ = ButtonState::Normal;
            Redraw();
            break;
        case ButtonState::Down:
            if (over && downTracking_ != DownTracking::Inside) {
                downTracking_ = DownTracking::Inside;
                Redraw();
            } else if (!over && downTracking_ != DownTracking::Outside) {
                downTracking_ = DownTracking::Outside;
                Redraw();
            }
            break;
    }
}

void Button::onPushTick() {
    if (pushTicks_ != 1) {
        ++pushTicks_;
        return;
    }
    StopTimer(kPushTimerId, pushTimerOn_);
    if (pushDelayClick_ != 0)
        host_.ButtonClick(*this);
    pushTicks_ = 0;
    pushDelayClick_ = 0;
    PaintNormal();
}

void Button::Push(const short& delayClick) {
    pushTicks_ = 0;
    pushDelayClick_ = delayClick;
    PaintDown();
    if (pushDelayClick_ == 0)
        host_.ButtonClick(*this);
    if (!pushTimerOn_)
        StartTimer(kPushTimerId, pushTimerOn_);
}

void Button::InitProperties() {
    mouseOnPicture_.reset();
    downPicture_.reset();
    normalPicture_.reset();
    caption_.clear();
    surface_.font = host_.AmbientFont();
}

void Button::ReadProperties(const PropertyBag& bag) {
    mouseOnPicture_ = bag.ReadPicture(kKeyPictureMouseOn, nullptr);
    downPicture_ = bag.ReadPicture(kKeyPictureDown, nullptr);
    normalPicture_ = bag.ReadPicture(kKeyPicture, nullptr);
    caption_ = bag.ReadText(kKeyCaption, L"");
    surface_.font = bag.ReadFont(kKeyFont, host_.AmbientFont());
    surface_.foreColor =
        static_cast<ColorValue>(bag.ReadLong(kKeyForeColor, static_cast<long>(kButtonTextColor)));
    surface_.backColor =
        static_cast<ColorValue>(bag.ReadLong(kKeyBackColor, static_cast<long>(kButtonFaceColor)));
}

void Button::WriteProperties(PropertyBag& bag) const {
    bag.Write(kKeyPictureMouseOn, mouseOnPicture_, PictureRef{});
    bag.Write(kKeyPictureDown, downPicture_, PictureRef{});
    bag.Write(kKeyPicture, normalPicture_, PictureRef{});
    bag.Write(kKeyCaption, caption_, std::wstring{});
    bag.Write(kKeyFont, surface_.font, host_.AmbientFont());
    bag.Write(kKeyForeColor, static_cast<long>(surface_.foreColor),
              static_cast<long>(kButtonTextColor));
    bag.Write(kKeyBackColor, static_cast<long>(surface_.backColor),
              static_cast<long>(kButtonFaceColor));
}

void Button::SetDpi(int dpi) {
    bool changed = dpi_ != dpi;
    dpi_ = dpi;
    for (PictureRef* picture : {&normalPicture_, &mouseOnPicture_, &downPicture_}) {
        if (!*picture)
            continue;
        PictureRef scaled = (*picture)->AtDpi(dpi);
        changed = changed || scaled != *picture;
        *picture = std::move(scaled);
    }
    if (surface_.font) {
        FontRef scaled = surface_.font->AtDpi(dpi);
        changed = changed || scaled != surface_.font;
        surface_.font = std::move(scaled);
    }
    // Nothing to repaint for a button that already looked right (the usual start at 100 %),
    // nor for one not on the screen yet: its first WM_PAINT paints its look anyway.
    if (changed && IsWindowVisible(window_))
        Redraw();
}

void Button::SetPicture(PictureRef picture) {
    normalPicture_ = std::move(picture);
    PropertyChanged(kKeyPicture);
}
void Button::SetPictureDown(PictureRef picture) {
    downPicture_ = std::move(picture);
    PropertyChanged(kKeyPictureDown);
}
void Button::SetPictureMouseOn(PictureRef picture) {
    mouseOnPicture_ = std::move(picture);
    PropertyChanged(kKeyPictureMouseOn);
}
void Button::SetCaption(const std::wstring& caption) {
    caption_ = caption;
    PropertyChanged(kKeyCaption);
}
void Button::SetFont(FontRef font) {
    surface_.font = std::move(font);
    PropertyChanged(kKeyFont);
}
void Button::SetForeColor(ColorValue color) {
    surface_.foreColor = color;
    PropertyChanged(kKeyForeColor);
}
void Button::SetBackColor(ColorValue color) {
    surface_.backColor = color;
    PropertyChanged(kKeyBackColor);
}

void Button::PropertyChanged(const wchar_t* propertyName) {
    host_.ButtonPropertyChanged(*this, propertyName);
    Redraw();
}

std::optional<Button::Look> Button::ChosenLook() const {
    if (downTracking_ == DownTracking::Outside)
        return Look::MouseOn;
    if (downTracking_ == DownTracking::Inside)
        return Look::Down;
    switch (mouseState_) {
        case ButtonState::Normal:
            return Look::Normal;
        case ButtonState::MouseOn:
            return Look::MouseOn;
        case ButtonState::Down:
            return std::nullopt;  // the first poll brings the down look
    }
    return std::nullopt;
}

void Button::Redraw() {
    std::optional<Look> look = ChosenLook();
    if (!look)
        return;
    Paint(*look);
    Present();
}

void Button::PaintNormal() {
    Paint(Look::Normal);
    Present();
}
void Button::PaintMouseOn() {
    Paint(Look::MouseOn);
    Present();
}
void Button::PaintDown() {
    Paint(Look::Down);
    Present();
}

void Button::Paint(Look look) {
    switch (look) {
        case Look::Normal:
            PaintFace(surface_, normalPicture_, FaceRelief::Raised, caption_);
            break;
        case Look::MouseOn:
            PaintFace(surface_, mouseOnPicture_, FaceRelief::Raised, caption_);
            break;
        case Look::Down:
            PaintFace(surface_, downPicture_, FaceRelief::Sunken, caption_);
            break;
    }
    if (focused_)
        DrawFocusMark();
}

void Button::DrawFocusMark() {
    RECT inside{0, 0, surface_.Width(), surface_.Height()};
    const int inset = ScaleToDpi(kFocusMarkInset, dpi_);
    InflateRect(&inside, -inset, -inset);
    DrawFocusRect(surface_.Dc(), &inside);
}

// Shown at once rather than on the next paint request, so the look is right even while a host's
// handler keeps the thread busy.
void Button::Present() {
    if (!window_)
        return;
    WindowDc dc(window_);
    surface_.CopyTo(dc.get());
}

bool Button::CursorOverButton() {
    // Without a cursor position (another desktop is active) the cursor counts as elsewhere.
    if (!GetCursorPos(&cursorPos_))
        return false;
    return WindowFromPoint(cursorPos_) == window_;
}

bool Button::EchoesLastRelease(POINT screen) const {
    return lastRelease_ && lastRelease_->point.x == screen.x && lastRelease_->point.y == screen.y &&
           lastRelease_->inputTime == LastInputTime();
}

void Button::StartTimer(UINT_PTR timerId, bool& on) {
    if (!window_)
        return;
    // The system lengthens 1 ms to its shortest period.
    if (SetTimer(window_, timerId, 1, nullptr))
        on = true;
}

void Button::StopTimer(UINT_PTR timerId, bool& on) {
    if (window_)
        KillTimer(window_, timerId);
    on = false;
}

}  // namespace kestrave
