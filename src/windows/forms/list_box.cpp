#include "list_box.h"

#include <stdexcept>
#include <utility>

#include "system_error.h"
#include "text.h"

namespace kestrave {

ListBox::ListBox(HWND parent, int id, RECT bounds, const FontRef& font)
    : font_(font), backBrush_(CreateSolidBrush(backColor_)) {
    window_ = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"LISTBOX", L"",
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
        bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
    if (!window_) {
        const DWORD error = GetLastError();
        throw std::runtime_error("cannot create a list box: " +
                                 Utf8FromWide(SystemErrorText(error)));
    }
    if (font_)
        SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_->Handle()), FALSE);
}

void ListBox::AddItem(const std::wstring& text) {
    SendMessageW(window_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ListBox::SetRedraw(bool redraw) {
    SendMessageW(window_, WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
    if (redraw)
        InvalidateRect(window_, nullptr, TRUE);
}

void ListBox::RemoveItem(int index) {
    SendMessageW(window_, LB_DELETESTRING, index, 0);
}

void ListBox::Clear() {
    SendMessageW(window_, LB_RESETCONTENT, 0, 0);
}

std::wstring ListBox::Item(int index) const {
    const LRESULT length = SendMessageW(window_, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR)
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        SendMessageW(window_, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == LB_ERR ? 0 : static_cast<size_t>(copied));
    return text;
}

int ListBox::ListCount() const {
    return static_cast<int>(SendMessageW(window_, LB_GETCOUNT, 0, 0));
}

int ListBox::ListIndex() const {
    const LRESULT selected = SendMessageW(window_, LB_GETCURSEL, 0, 0);
    return selected == LB_ERR ? -1 : static_cast<int>(selected);
}

void ListBox::SetListIndex(int index) {
    SendMessageW(window_, LB_SETCURSEL, index, 0);
}

void ListBox::SetForeColor(COLORREF color) {
    foreColor_ = color;
    InvalidateRect(window_, nullptr, TRUE);
}

void ListBox::SetBackColor(COLORREF color) {
    backColor_ = color;
    backBrush_.reset(CreateSolidBrush(color));
    InvalidateRect(window_, nullptr, TRUE);
}

void ListBox::SetBounds(const RECT& bounds) {
    SetWindowPos(window_, nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
                 bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ListBox::SetFont(FontRef font) {
    // The list measures its rows by the font it is given, so the old one must stay alive until
    // the new one is in place.
    FontRef old = std::exchange(font_, std::move(font));
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_ ? font_->Handle() : nullptr),
                 TRUE);
}

bool ListBox::Visible() const {
    return (GetWindowLongW(window_, GWL_STYLE) & WS_VISIBLE) != 0;
}

void ListBox::SetVisible(bool visible) {
    ShowWindow(window_, visible ? SW_SHOWNA : SW_HIDE);
}

HBRUSH ListBox::PrepareColors(HDC dc) const {
    SetTextColor(dc, foreColor_);
    SetBkColor(dc, backColor_);
    return backBrush_.get();
}

}  // namespace kestrave
