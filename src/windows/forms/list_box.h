// A standard list box child of a form, with the text and back colours the windows set.
#pragma once

#include <windows.h>

#include <string>

#include "font.h"
#include "handles.h"

namespace kestrave {

class ListBox {
  public:
    // `bounds` in pixels of the parent's client area.
    ListBox(HWND parent, int id, RECT bounds, const FontRef& font);
    ListBox(const ListBox&) = delete;
    ListBox& operator=(const ListBox&) = delete;

    HWND Handle() const { return window_; }

    void AddItem(const std::wstring& text);
    void RemoveItem(int index);
    void Clear();
    std::wstring Item(int index) const;
    int ListCount() const;
    int ListIndex() const;  // -1 when nothing is selected
    void SetListIndex(int index);
    // Off while many rows go in at once: each row would repaint the whole list otherwise.
    void SetRedraw(bool redraw);

    COLORREF ForeColor() const { return foreColor_; }
    void SetForeColor(COLORREF color);
    COLORREF BackColor() const { return backColor_; }
    void SetBackColor(COLORREF color);
    // Moves the list to `bounds` (pixels of the parent's client area).
    void SetBounds(const RECT& bounds);
    const FontRef& Font() const { return font_; }
    void SetFont(FontRef font);
    bool Visible() const;
    void SetVisible(bool visible);

    // The parent's answer to WM_CTLCOLORLISTBOX for this list.
    HBRUSH PrepareColors(HDC dc) const;

  private:
    HWND window_ = nullptr;  // destroyed with its parent
    FontRef font_;
    COLORREF foreColor_ = GetSysColor(COLOR_WINDOWTEXT);
    COLORREF backColor_ = GetSysColor(COLOR_WINDOW);
    BrushHandle backBrush_;
};

}  // namespace kestrave
