// Controls that have no window of their own: the form draws them on its surface in
// back-to-front order and finds them, front first, for the mouse.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "font.h"
#include "picture.h"

namespace kestrave {

class Form;

// Mouse arguments as the windows receive them: button 1 left, 2 right, 4 middle (summed while
// moving), shift the Shift/Ctrl/Alt state (1, 2, 4), and the position in twips from the
// control's top-left corner.
struct MouseArgs {
    short button = 0;
    short shift = 0;
    float x = 0;
    float y = 0;
};

class WindowlessControl {
  public:
    WindowlessControl(Form& owner, std::wstring name, int index, RECT bounds);
    virtual ~WindowlessControl() = default;
    WindowlessControl(const WindowlessControl&) = delete;
    WindowlessControl& operator=(const WindowlessControl&) = delete;

    const std::wstring& Name() const { return name_; }
    // Place in its control array, or -1 for a control that is not in one.
    int Index() const { return index_; }
    // Pixels in the form's client area.
    const RECT& Bounds() const { return bounds_; }

    // Moves the control (and the window tools read it through); the form repaints.
    void SetBounds(const RECT& bounds);
    // The window's DPI changed: fonts and pictures are taken again for it.
    virtual void ApplyDpi(int /*dpi*/) {}

    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    const std::wstring& ToolTipText() const { return toolTipText_; }
    void SetToolTipText(std::wstring text);

    virtual void Paint(HDC dc) const = 0;
    // What a screen reader calls the control (ROLE_SYSTEM_*).
    virtual long AccessibleRole() const = 0;
    // The hidden window through which tools read what the control shows.
    HWND DescriptionWindow() const { return description_; }

  protected:
    void Invalidate() const;
    // What the control shows, for tools that read windows (screen readers, our end-to-end
    // tests): kept as the text of a hidden child window at the control's place.
    void Describe(const std::wstring& text);

  private:
    Form& owner_;
    std::wstring name_;
    int index_;
    RECT bounds_;
    bool visible_ = true;
    std::wstring toolTipText_;
    HWND description_ = nullptr;  // destroyed with the form
};

enum class Alignment { Left, Center };

// Text on a transparent background, wrapped onto as many lines as the label holds.
class Label : public WindowlessControl {
  public:
    using WindowlessControl::WindowlessControl;

    const std::wstring& Caption() const { return caption_; }
    void SetCaption(std::wstring caption);
    COLORREF ForeColor() const { return foreColor_; }
    void SetForeColor(COLORREF color);
    void SetFont(FontRef font);
    void SetAlignment(Alignment alignment);
    const FontRef& Font() const { return font_; }
    void ApplyDpi(int dpi) override;

    void Paint(HDC dc) const override;
    long AccessibleRole() const override;

  private:
    std::wstring caption_;
    COLORREF foreColor_ = RGB(0, 0, 0);
    FontRef font_;
    Alignment alignment_ = Alignment::Left;
};

// A picture drawn unscaled at the control's top-left corner; without a picture the control is
// an invisible area that still takes the mouse.
class Image : public WindowlessControl {
  public:
    using WindowlessControl::WindowlessControl;

    const PictureRef& Picture() const { return picture_; }
    void SetPicture(PictureRef picture);
    void ApplyDpi(int dpi) override;

    void Paint(HDC dc) const override;
    long AccessibleRole() const override;

  private:
    PictureRef picture_;
};

// Splits `text` into lines no wider than `width` pixels in the font selected into `dc`: at
// spaces where the line has one, else between any two characters (Chinese text has no spaces).
std::vector<std::wstring> WrapText(HDC dc, const std::wstring& text, int width);

}  // namespace kestrave
