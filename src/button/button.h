// The picture button: a child window showing one of three pictures (normal, mouse on, pressed)
// with a caption. It finds the cursor's leaving by polling the window under the cursor rather
// than by any mouse-leave notification, and raises its events to the window that hosts it.
#pragma once

#include <windows.h>

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "button_painting.h"
#include "font.h"
#include "picture.h"
#include "property_bag.h"
#include "window_base.h"

namespace kestrave {

// The class name hosts' saved form data gives the button.
inline constexpr wchar_t kButtonClassName[] = L"Kestrave.Button";

// Keys of the saved properties, in the order the button reads and writes them.
inline constexpr wchar_t kKeyPictureMouseOn[] = L"PictureMouseOn";
inline constexpr wchar_t kKeyPictureDown[] = L"PictureDown";
inline constexpr wchar_t kKeyPicture[] = L"Picture";
inline constexpr wchar_t kKeyCaption[] = L"Caption";
inline constexpr wchar_t kKeyFont[] = L"Font";
inline constexpr wchar_t kKeyForeColor[] = L"ForeColor";
inline constexpr wchar_t kKeyBackColor[] = L"BackColor";

enum class ButtonState : long { Normal = 0, MouseOn = 1, Down = 2 };
// What the last poll while Down found: no poll since the press yet, cursor off, cursor on.
enum class DownTracking : long { Untracked = 0, Outside = 1, Inside = 2 };

class Button;

// The window that hosts a button: receives its events synchronously, arguments by reference.
// `button` is 1 left, 2 right, 4 middle (for moves the sum of the buttons held); `shift` is
// 1 Shift + 2 Ctrl + 4 Alt; `x` and `y` are twips from the button's top-left corner.
class ButtonHost {
  public:
    virtual ~ButtonHost() = default;
    virtual void ButtonClick(Button& button) = 0;
    virtual void ButtonMouseDown(Button&, short& /*button*/, short& /*shift*/, float& /*x*/,
                                 float& /*y*/) {}
    virtual void ButtonMouseUp(Button&, short& /*button*/, short& /*shift*/, float& /*x*/,
                               float& /*y*/) {}
    virtual void ButtonMouseMove(Button&, short& /*button*/, short& /*shift*/, float& /*x*/,
                                 float& /*y*/) {}
    virtual void ButtonPropertyChanged(Button&, const std::wstring& /*propertyName*/) {}
    virtual FontRef AmbientFont() = 0;  // the container's font
    // An exception thrown by one of the handlers above while the button handled a window
    // message: it cannot travel through the system's dispatching, so it lands here. By default
    // it is treated as an unhandled error: its description in a message box, then the process
    // ends. Hosts with their own top-level error handling override this.
    virtual void ButtonEventFailed(Button& button, std::exception_ptr error);
};

class Button : private BoundWindow<Button> {
  public:
    // Timer ids on the button's window: the polling timer and the push timer.
    static constexpr UINT_PTR kPollTimerId = 1;
    static constexpr UINT_PTR kPushTimerId = 2;
    // Pixels between the border and the dotted focus mark of a button that has the focus.
    static constexpr int kFocusMarkInset = 3;

    // A child window of `parent` at the given pixel rectangle; `name` is the control's name
    // (e.g. L"注册"). Throws std::system_error when the window cannot be made.
    static std::unique_ptr<Button> Create(HWND parent, const std::wstring& name, int x, int y,
                                          int width, int height, ButtonHost& host);
    ~Button();
    Button(const Button&) = delete;
    Button& operator=(const Button&) = delete;

    HWND Handle() const { return window_; }
    const std::wstring& Name() const { return name_; }

    // A newly placed button: no pictures, no caption, the host's ambient font.
    void InitProperties();
    // Saved form data; neither repaints nor notifies: the first painting comes with the first
    // paint request.
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

    // Each write stores the value, tells the host the property's name, and repaints.
    PictureRef Picture() const { return normalPicture_; }
    void SetPicture(PictureRef picture);
    PictureRef PictureDown() const { return downPicture_; }
    void SetPictureDown(PictureRef picture);
    PictureRef PictureMouseOn() const { return mouseOnPicture_; }
    void SetPictureMouseOn(PictureRef picture);
    std::wstring Caption() const { return caption_; }
    void SetCaption(const std::wstring& caption);
    FontRef Font() const { return surface_.font; }
    void SetFont(FontRef font);
    ColorValue ForeColor() const { return surface_.foreColor; }
    void SetForeColor(ColorValue color);
    ColorValue BackColor() const { return surface_.backColor; }
    void SetBackColor(ColorValue color);

    // What a screen reader calls the button while its caption is empty, as a button that shows
    // only a picture has nothing else to be known by. Not a saved property; no repaint.
    void SetAccessibleName(std::wstring name) { accessibleName_ = std::move(name); }

    // The DPI the button is shown at, which its host follows: the pictures are taken as drawn
    // for it, the caption's font at its size for it, and the button repaints. Neither a saved
    // property nor a change the host is told of.
    void SetDpi(int dpi);
    int Dpi() const { return dpi_; }

    // Presses the button by program: the down look for two ticks of the push timer, and Click
    // at once (delayClick false, 0) or when the press ends (true, any other value).
    void Push(const short& delayClick);

    // Paints the look of the current state; while Down and not yet polled it leaves the
    // surface as it is.
    void Redraw();
    void PaintNormal();
    void PaintMouseOn();
    void PaintDown();

    ButtonState MouseState() const { return mouseState_; }
    DownTracking Tracking() const { return downTracking_; }
    bool IsPolling() const { return pollTimerOn_; }
    bool IsPushing() const { return pushTimerOn_; }
    // What the button shows, kept between paintings.
    const ButtonSurface& Surface() const { return surface_; }

  private:
    friend class BoundWindow<Button>;
    Button(std::wstring name, ButtonHost& host);

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT MessageFailed(std::exception_ptr error) noexcept;
    void OnNcDestroy() noexcept;
    LRESULT onCreate(const CREATESTRUCTW& creation);
    LRESULT onSize(LPARAM size);
    LRESULT onPaint();
    LRESULT onMouseMove(WPARAM keys, LPARAM position);
    LRESULT onButtonDown(short button, WPARAM keys, LPARAM position);
    LRESULT onButtonUp(short button, WPARAM keys, LPARAM position);
    LRESULT onTimer(UINT_PTR timerId);
    LRESULT onKeyDown(WPARAM key, LPARAM flags);
    LRESULT onFocusChanged(bool focused);
    LRESULT onGetObject(WPARAM wParam, LPARAM lParam);
    void onPollTick();
    void onPushTick();

    enum class Look { Normal, MouseOn, Down };
    std::optional<Look> ChosenLook() const;
    void Paint(Look look);
    void Present();
    void DrawFocusMark();
    void PropertyChanged(const wchar_t* propertyName);
    bool CursorOverButton();
    bool EchoesLastRelease(POINT screen) const;
    void StartTimer(UINT_PTR timerId, bool& on);
    void StopTimer(UINT_PTR timerId, bool& on);

    std::wstring name_;
    ButtonHost& host_;
    ButtonSurface surface_;

    POINT cursorPos_{0, 0};
    ButtonState mouseState_ = ButtonState::Normal;
    DownTracking downTracking_ = DownTracking::Untracked;
    long pushTicks_ = 0;
    std::wstring caption_;
    std::wstring accessibleName_;
    PictureRef mouseOnPicture_;
    PictureRef downPicture_;
    PictureRef normalPicture_;
    short pushDelayClick_ = 0;

    int dpi_ = 96;
    bool pollTimerOn_ = false;
    bool pushTimerOn_ = false;
    bool focused_ = false;
    // Where and when (the time of the user's last input) the left button was last released: the
    // system repeats that position as a move when the button releases the capture, and
    // such an echo must not bring the mouse-on look back. Any move made by the user comes with
    // newer input, even one back to the same pixel.
    struct Release {
        POINT point;
        DWORD inputTime;
    };
    std::optional<Release> lastRelease_;
};

}  // namespace kestrave
