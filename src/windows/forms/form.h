// A borderless top-level window dressed in a background picture, holding windowless labels and
// images, list boxes and picture buttons. It is created, and its load event run, on first touch;
// afterwards it is only shown and hidden, so its contents last until the program ends.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "button.h"
#include "command.h"
#include "controls.h"
#include "font.h"
#include "handles.h"
#include "list_box.h"
#include "messages.h"
#include "picture.h"
#include "window_base.h"

namespace kestrave {

// A place in twips as pixels of the 96-DPI design; ScaleToDpi takes it to a window's DPI.
RECT DesignPixels(const TwipsRect& rect);

class Form : public ButtonHost, private BoundWindow<Form> {
  public:
    virtual ~Form();

    // Creates the window and its controls and runs the load event; later calls do nothing.
    void Load();
    bool IsLoaded() const { return window_ != nullptr; }
    HWND hWnd();

    void Show();
    void Hide();
    bool IsVisible() const;

    // The DPI the window is laid out for: its own, as the system last told it.
    int Dpi() const { return dpi_; }

    // Outer geometry in twips (of the window's DPI).
    double Left();
    double Top();
    double Width();
    double Height();
    void Move(double left, double top);
    void Resize(double width, double height);

    // kPointerDefault, kPointerArrow or kPointerHourglass.
    void SetMousePointer(int pointer);

    // Topmost or not, without moving, sizing or redrawing.
    void SetTopmost(bool topmost);
    // Lets the user move the window as if its title bar had been pressed.
    void StartDrag();

    // The keyboard: Tab and Shift+Tab move the focus over the window's buttons, lists and
    // focus stops in screen order (top to bottom, left to right), and other keys go to
    // OnKeyDown. The program's message loop offers every message before translating it; true
    // when the message was used.
    static bool TranslateKeyboard(const MSG& message);

    // For the controls: repaint part of the surface, keep a control's tooltip in step.
    void InvalidateArea(const RECT& area);
    void UpdateToolTip(const WindowlessControl& control);

  protected:
    Form(std::wstring title, TwipsRect designPlace);

    // Builds the controls in front-to-back order; runs before the load event.
    virtual void CreateControls() = 0;
    // The window's load event.
    virtual void OnLoad() = 0;
    virtual void OnControlClick(WindowlessControl&) {}
    virtual void OnControlMouseMove(WindowlessControl&, MouseArgs&) {}
    // The system asked the window to close (Alt+F4).
    virtual void OnCloseRequest() { Hide(); }
    virtual DWORD ExtendedStyle() const { return 0; }
    // A key pressed while the window or one of its children has the focus, except Tab and the
    // Space and Enter a focused button takes; `focusedControl` is the focus stop with the
    // focus, if any. True when the key was used.
    virtual bool OnKeyDown(UINT /*key*/, HWND /*focus*/, WindowlessControl* /*focusedControl*/) {
        return false;
    }
    // Files or folders dropped on the window, once AcceptDroppedFiles was called.
    virtual void OnDropFiles(const std::vector<std::wstring>& /*paths*/) {}

    Label& AddLabel(const std::wstring& name, int index, const TwipsRect& place);
    Image& AddImage(const std::wstring& name, int index, const TwipsRect& place);
    ListBox& AddListBox(const TwipsRect& place);
    // The window's command buttons, in the order of `commands`.
    template <typename Window>
    void AddCommands(Window& window, std::span<const Command<Window>> commands) {
        for (const Command<Window>& command : commands) {
            Button& button = AddButton(command.name, command.place, SavedProperties(command.saved),
                                       [&window, run = command.run] { (window.*run)(); });
            SetWindowToolTip(button.Handle(), command.toolTip);
            const wchar_t* accessibleName =
                command.accessibleName ? command.accessibleName : command.toolTip;
            button.SetAccessibleName(accessibleName ? accessibleName : L"");
            if (command.button)
                window.*command.button = &button;
        }
    }
    // A picture button with the properties `saved` for it, running `onClick` when clicked.
    Button& AddButton(const std::wstring& name, const TwipsRect& place, const PropertyBag& saved,
                      std::function<void()> onClick);
    // A windowless control that takes the focus in turn, shown with a dotted focus mark.
    void AddFocusStop(WindowlessControl& control) { focusStops_.push_back(&control); }
    // Lets files be dropped on the window, from an ordinary Explorer too although the program
    // runs elevated.
    void AcceptDroppedFiles();
    // While refused, the window takes no drop and the cursor over it says so; accepting again
    // restores AcceptDroppedFiles.
    void RefuseDroppedFiles(bool refused);
    // Tooltip for a child window (buttons, lists).
    void SetWindowToolTip(HWND child, const std::wstring& text);

    // One of the program's pictures as drawn for the window's DPI.
    PictureRef LoadPicture(const std::wstring& name) const;
    void SetBackground(PictureRef picture);
    void SetBackColor(COLORREF color);
    const FontRef& Font() const { return font_; }
    void SetFont(FontRef font) { font_ = std::move(font); }
    const std::wstring& Title() const { return title_; }

    // Children created by the derived window keep their own objects; this one is the window.
    HWND Window() const { return window_; }

  private:
    friend class BoundWindow<Form>;

    void ButtonClick(Button& button) override;
    FontRef AmbientFont() override { return font_; }

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT MessageFailed(std::exception_ptr error) noexcept;

    LRESULT onPaint();
    LRESULT onMouseDown(WPARAM keys, LPARAM position);
    LRESULT onMouseMove(WPARAM keys, LPARAM position);
    LRESULT onMouseUp(UINT message, WPARAM keys, LPARAM position);
    LRESULT onCaptureChanged();
    LRESULT onSetCursor(WPARAM wParam, LPARAM lParam);
    LRESULT onCtlColorListBox(WPARAM dc, LPARAM list);
    LRESULT onClose();
    LRESULT onFocusChanged(bool focused);
    LRESULT onDropFiles(WPARAM drop);
    LRESULT onDpiChanged(WPARAM dpis, LPARAM suggested);
    LRESULT onDestroy();

    WindowlessControl* HitTest(POINT point) const;
    MouseArgs MakeMouseArgs(const WindowlessControl& control, WPARAM keys, POINT point) const;
    // Makes the tooltip window and gives it every tooltip set so far.
    void StartToolTips();
    void PaintSurface(HDC dc, const RECT& area) const;
    // Lays the window's contents out for `dpi`: every control's place from its design place,
    // fonts and pictures taken again for it. The window's own size is the caller's.
    void ApplyDpi(int dpi);
    // Gives the window the program's icon at the sizes its DPI asks for.
    void ApplyIcons();
    int TwipsToPixels(double twips) const;
    double PixelsToTwips(int pixels) const;

    struct FocusStop {
        RECT place;  // client pixels
        HWND window;
        WindowlessControl* control;
    };
    std::vector<FocusStop> VisibleFocusStops() const;
    bool HandleKey(UINT key, HWND target);
    void MoveFocus(bool backwards);
    void SetFocusedControl(WindowlessControl* control);

    std::wstring title_;
    TwipsRect designPlace_;
    bool creating_ = false;
    int dpi_ = 96;
    PictureRef background_;
    // The window's own icons at another DPI than the system's; freed after the window.
    IconHandle bigIcon_;
    IconHandle smallIcon_;
    COLORREF backColor_ = GetSysColor(COLOR_BTNFACE);
    FontRef font_;
    int mousePointer_ = kPointerDefault;
    std::vector<std::unique_ptr<WindowlessControl>> controls_;  // front first
    std::vector<RECT> controlDesigns_;  // each control's design place, in the same order
    std::vector<std::unique_ptr<ListBox>> lists_;
    std::vector<RECT> listDesigns_;
    struct HostedButton {
        std::unique_ptr<Button> button;
        std::function<void()> onClick;
        RECT design;
    };
    std::vector<HostedButton> buttons_;
    WindowlessControl* pressed_ = nullptr;
    std::vector<WindowlessControl*> focusStops_;
    WindowlessControl* focusedControl_ = nullptr;
    bool focused_ = false;    // the window itself has the keyboard focus
    HWND toolTip_ = nullptr;  // destroyed with the form
    std::map<HWND, std::wstring> windowToolTips_;
};

}  // namespace kestrave
