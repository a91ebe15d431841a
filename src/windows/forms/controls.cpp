#include "controls.h"

#include <commctrl.h>
#include <oleacc.h>

#include <vector>

#include "accessible.h"
#include "fatal_error.h"
#include "form.h"

namespace kestrave {
namespace {

// The description window answers screen readers with the control's role and the text it holds.
LRESULT CALLBACK DescriptionProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR id, DWORD_PTR control) {
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(window, DescriptionProc, id);
    if (message != WM_GETOBJECT)
        return DefSubclassProc(window, message, wParam, lParam);
    return RunGuarded([&]() -> LRESULT {
        const int length = GetWindowTextLengthW(window);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
        const long role = reinterpret_cast<const WindowlessControl*>(control)->AccessibleRole();
        if (LRESULT answer = AnswerAccessibleObject(window, wParam, lParam, role, text))
            return answer;
        return DefSubclassProc(window, message, wParam, lParam);
    });
}

}  // namespace

WindowlessControl::WindowlessControl(Form& owner, std::wstring name, int index, RECT bounds)
    : owner_(owner), name_(std::move(name)), index_(index), bounds_(bounds) {
    description_ =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_NOPREFIX, bounds.left, bounds.top,
                        bounds.right - bounds.left, bounds.bottom - bounds.top, owner.hWnd(),
                        nullptr, GetModuleHandleW(nullptr), nullptr);
    // Without it the control still works; only tools cannot read it.
    if (description_)
        SetWindowSubclass(description_, DescriptionProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

void WindowlessControl::Describe(const std::wstring& text) {
    if (description_)
        SetWindowTextW(description_, text.c_str());
}

void WindowlessControl::SetBounds(const RECT& bounds) {
    Invalidate();
    bounds_ = bounds;
    if (description_) {
        SetWindowPos(description_, nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
                     bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Invalidate();
    owner_.UpdateToolTip(*this);
}

void WindowlessControl::SetVisible(bool visible) {
    if (visible_ == visible)
        return;
    visible_ = visible;
    Invalidate();
    owner_.UpdateToolTip(*this);
}

void WindowlessControl::SetToolTipText(std::wstring text) {
    toolTipText_ = std::move(text);
    owner_.UpdateToolTip(*this);
}

void WindowlessControl::Invalidate() const {
    owner_.InvalidateArea(bounds_);
}

void Label::SetCaption(std::wstring caption) {
    if (caption_ == caption)
        return;
    caption_ = std::move(caption);
    Describe(caption_);
    Invalidate();
}

void Label::SetForeColor(COLORREF color) {
    foreColor_ = color;
    Invalidate();
}

void Label::SetFont(FontRef font) {
    font_ = std::move(font);
    Invalidate();
}

void Label::ApplyDpi(int dpi) {
    if (font_)
        SetFont(font_->AtDpi(dpi));
}

void Label::SetAlignment(Alignment alignment) {
    alignment_ = alignment;
    Invalidate();
}

std::vector<std::wstring> WrapText(HDC dc, const std::wstring& text, int width) {
    std::vector<std::wstring> lines;
    auto fits = [&](const std::wstring& candidate) {
        SIZE size{};
        GetTextExtentPoint32W(dc, candidate.c_str(), static_cast<int>(candidate.size()), &size);
        return size.cx <= width;
    };
    std::wstring line;
    for (wchar_t ch : text) {
        if (ch == L'\n') {
            lines.push_back(std::move(line));
            line.clear();
            continue;
        }
        if (ch == L'\r')
            continue;
        if (line.empty() || fits(line + ch)) {
            line += ch;
            continue;
        }
        const auto space = line.rfind(L' ');
        if (space != std::wstring::npos && space > 0 && ch != L' ') {
            lines.push_back(line.substr(0, space));
            line = line.substr(space + 1) + ch;
        } else {
            lines.push_back(std::move(line));
            line.assign(1, ch);
        }
    }
    if (!line.empty() || lines.empty())
        lines.push_back(std::move(line));
    return lines;
}

void Label::Paint(HDC dc) const {
    if (caption_.empty())
        return;
    const SelectedObject font(dc, font_ ? font_->Handle() : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, foreColor_);
    const RECT& bounds = Bounds();
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const int lineHeight = metrics.tmHeight;
    const UINT align = alignment_ == Alignment::Center ? DT_CENTER : DT_LEFT;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    int top = bounds.top;
    for (const std::wstring& line : WrapText(dc, caption_, bounds.right - bounds.left)) {
        if (top >= bounds.bottom)
            break;
        RECT lineRect{bounds.left, top, bounds.right, top + lineHeight};
        DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &lineRect,
                  align | DT_SINGLELINE | DT_NOPREFIX | DT_TOP);
        top += lineHeight;
    }
    RestoreDC(dc, saved);
}

long Label::AccessibleRole() const {
    return ROLE_SYSTEM_STATICTEXT;
}

long Image::AccessibleRole() const {
    return ROLE_SYSTEM_GRAPHIC;
}

void Image::SetPicture(PictureRef picture) {
    picture_ = std::move(picture);
    Describe(picture_ ? picture_->Name() : std::wstring());
    Invalidate();
}

void Image::ApplyDpi(int dpi) {
    if (picture_)
        SetPicture(picture_->AtDpi(dpi));
}

void Image::Paint(HDC dc) const {
    if (!picture_)
        return;
    const RECT& bounds = Bounds();
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    picture_->Draw(dc, bounds.left, bounds.top);
    RestoreDC(dc, saved);
}

}  // namespace kestrave
