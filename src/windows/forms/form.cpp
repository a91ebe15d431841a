#include "form.h"

#include "dropped_files.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "fatal_error.h"
#include "messages.h"
#include "program.h"
#include "screen.h"
#include "system_error.h"
#include "text.h"

namespace kestrave {
namespace {

constexpr wchar_t kFormClass[] = L"Kestrave.Form";
constexpr UINT kTopmostFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW;  // 0x0B
// WM_COPYGLOBALDATA, which carries a drop's data between processes; no header names it.
constexpr UINT kCopyGlobalDataMessage = 0x0049;
// The form's only timer of its own: the one that starts its tooltips once it is shown.
constexpr UINT_PTR kStartToolTipsTimer = 1;

bool Contains(const RECT& rect, POINT point) {
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top &&
           point.y < rect.bottom;
}

TTTOOLINFOW ToolInfo(HWND window, UINT_PTR id) {
    TTTOOLINFOW info{};
    // The older record size works with every version of the common controls.
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = window;
    info.uId = id;
    return info;
}

// A design place scaled for a larger screen scale may reach past the screen's edge: the window
// is moved onto its monitor's work area so that it starts whole. Places that fit stay.
RECT KeptOnScreen(RECT place) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromRect(&place, MONITOR_DEFAULTTONEAREST), &monitor))
        return place;
    const RECT& work = monitor.rcWork;
    const int dx = std::max(work.left - place.left, std::min(0L, work.right - place.right));
    const int dy = std::max(work.top - place.top, std::min(0L, work.bottom - place.bottom));
    OffsetRect(&place, dx, dy);
    return place;
}

// A system metric for `dpi`: the system's answer for that DPI where it has one (Windows 10
// 1607 and later; looked up at run time, as the program also runs on Windows 7), else the
// answer for the system's DPI, scaled.
int MetricForDpi(int metric, int dpi) {
    using MetricsForDpi = int(WINAPI*)(int, UINT);
    static const auto metricsForDpi = [] {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        return user32 ? reinterpret_cast<MetricsForDpi>(reinterpret_cast<void*>(
                            GetProcAddress(user32, "GetSystemMetricsForDpi")))
                      : nullptr;
    }();
    if (metricsForDpi)
        return metricsForDpi(metric, static_cast<UINT>(dpi));
    return MulDiv(GetSystemMetrics(metric), dpi, ScreenDpiY());
}

// The program's icon `size` pixels square. The icon carries an image drawn for each size the
// usual scales ask for, which is taken as it is; only an unusual size is stretched from the
// nearest.
IconHandle ProgramIcon(int size) {
    return IconHandle(static_cast<HICON>(LoadImageW(ProgramInstance(), MAKEINTRESOURCEW(1),
                                                    IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

}  // namespace

RECT DesignPixels(const TwipsRect& rect) {
    constexpr double kTwipsPerDesignPixel = 1440.0 / kDesignDpi;
    auto pixels = [](double twips) {
        return static_cast<int>(std::lround(twips / kTwipsPerDesignPixel));
    };
    const int left = pixels(rect.left);
    const int top = pixels(rect.top);
    return RECT{left, top, left + pixels(rect.width), top + pixels(rect.height)};
}

Form::Form(std::wstring title, TwipsRect designPlace)
    : title_(std::move(title)), designPlace_(designPlace), font_(MakeFont(FontDescription{})) {}

Form::~Form() {
    if (window_)
        DestroyWindow(window_);
}

void Form::Load() {
    if (window_ || creating_)
        return;
    creating_ = true;
    RegisterWindowClass(kFormClass, &Form::WindowProc, 0,
                        LoadIconW(ProgramInstance(), MAKEINTRESOURCEW(1)));
    // The screen's DPI until the window can be asked for its own.
    dpi_ = ScreenDpiY();
    const RECT place = KeptOnScreen(ScaleToDpi(DesignPixels(designPlace_), dpi_));
    HWND created =
        CreateWindowExW(ExtendedStyle(), kFormClass, title_.c_str(), WS_POPUP | WS_CLIPCHILDREN,
                        place.left, place.top, place.right - place.left, place.bottom - place.top,
                        nullptr, nullptr, ProgramInstance(), this);
    if (!created) {
        const DWORD error = GetLastError();
        creating_ = false;
        throw std::runtime_error("cannot create a window: " + Utf8FromWide(SystemErrorText(error)));
    }
    if (const int own = WindowDpi(created); own != dpi_) {
        dpi_ = own;
        const RECT scaled = KeptOnScreen(ScaleToDpi(DesignPixels(designPlace_), dpi_));
        SetWindowPos(created, nullptr, scaled.left, scaled.top, scaled.right - scaled.left,
                     scaled.bottom - scaled.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The class's icon is the one for the system's DPI, which a window shown at it keeps.
    if (dpi_ != ScreenDpiY())
        ApplyIcons();
    font_ = font_->AtDpi(dpi_);
    CreateControls();
    // Fonts the window made for itself are made for the screen; the controls take theirs again
    // for the window's DPI where that differs.
    for (const auto& control : controls_)
        control->ApplyDpi(dpi_);
    creating_ = false;
    OnLoad();
}

HWND Form::hWnd() {
    Load();
    return window_;
}

void Form::Show() {
    Load();
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    // Nobody sees a tooltip before the mouse has rested on something for a while: the tooltip
    // control and its tools are set up once the window is on the screen, not before.
    if (!toolTip_)
        ::SetTimer(window_, kStartToolTipsTimer, 0, nullptr);
}

void Form::Hide() {
    Load();
    ShowWindow(window_, SW_HIDE);
}

bool Form::IsVisible() const {
    return window_ && IsWindowVisible(window_);
}

int Form::TwipsToPixels(double twips) const {
    return static_cast<int>(std::lround(twips * dpi_ / 1440.0));
}

double Form::PixelsToTwips(int pixels) const {
    return pixels * 1440.0 / dpi_;
}

double Form::Left() {
    RECT rect{};
    GetWindowRect(hWnd(), &rect);
    return PixelsToTwips(rect.left);
}

double Form::Top() {
    RECT rect{};
    GetWindowRect(hWnd(), &rect);
    return PixelsToTwips(rect.top);
}

double Form::Width() {
    RECT rect{};
    GetWindowRect(hWnd(), &rect);
    return PixelsToTwips(rect.right - rect.left);
}

double Form::Height() {
    RECT rect{};
    GetWindowRect(hWnd(), &rect);
    return PixelsToTwips(rect.bottom - rect.top);
}

void Form::Move(double left, double top) {
    SetWindowPos(hWnd(), nullptr, TwipsToPixels(left), TwipsToPixels(top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::Resize(double width, double height) {
    // A size is a design size, scaled by the same rule as every control.
    const RECT design = DesignPixels(TwipsRect{0, 0, width, height});
    SetWindowPos(hWnd(), nullptr, 0, 0, ScaleToDpi(design.right, Dpi()),
                 ScaleToDpi(design.bottom, Dpi()), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::SetMousePointer(int pointer) {
    mousePointer_ = pointer;
    // The change must show at once: a batch keeps the message loop busy, so no WM_SETCURSOR
    // would come to show the hourglass.
    POINT cursor{};
    if (!window_ || !GetCursorPos(&cursor))
        return;
    HWND under = WindowFromPoint(cursor);
    if (under && GetAncestor(under, GA_ROOT) == window_) {
        SetCursor(LoadCursorW(nullptr, pointer == kPointerHourglass ? IDC_WAIT : IDC_ARROW));
    }
}

void Form::SetTopmost(bool topmost) {
    // A hidden window already in that band has nowhere to move: under Wine the call still
    // costs a round of the display server, about a tenth of the program's start.
    const bool isTopmost = (GetWindowLongPtrW(hWnd(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    if (isTopmost == topmost && !IsWindowVisible(window_))
        return;
    SetWindowPos(window_, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, kTopmostFlags);
}

void Form::StartDrag() {
    ReleaseCapture();
    SendMessageW(hWnd(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void Form::InvalidateArea(const RECT& area) {
    if (window_)
        InvalidateRect(window_, &area, FALSE);
}

void Form::UpdateToolTip(const WindowlessControl& control) {
    if (!toolTip_)
        return;  // StartToolTips adds every control's
    UINT_PTR id = 0;
    for (size_t i = 0; i < controls_.size(); ++i) {
        if (controls_[i].get() == &control)
            id = i + 1;
    }
    if (id == 0)
        return;
    TTTOOLINFOW info = ToolInfo(window_, id);
    SendMessageW(toolTip_, TTM_DELTOOL, 0, reinterpret_cast<LPARAM>(&info));
    if (!control.Visible() || control.ToolTipText().empty())
        return;
    std::wstring text = control.ToolTipText();
    info.uFlags = TTF_SUBCLASS;
    info.rect = control.Bounds();
    info.lpszText = text.data();
    SendMessageW(toolTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void Form::SetWindowToolTip(HWND child, const std::wstring& text) {
    windowToolTips_[child] = text;
    if (!toolTip_)
        return;
    TTTOOLINFOW info = ToolInfo(window_, reinterpret_cast<UINT_PTR>(child));
    info.uFlags = TTF_IDISHWND;
    SendMessageW(toolTip_, TTM_DELTOOL, 0, reinterpret_cast<LPARAM>(&info));
    if (text.empty())
        return;
    std::wstring copy = text;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.lpszText = copy.data();
    SendMessageW(toolTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

Label& Form::AddLabel(const std::wstring& name, int index, const TwipsRect& place) {
    const RECT design = DesignPixels(place);
    auto label = std::make_unique<Label>(*this, name, index, ScaleToDpi(design, dpi_));
    label->SetFont(font_);
    Label& added = *label;
    controls_.push_back(std::move(label));
    controlDesigns_.push_back(design);
    return added;
}

Image& Form::AddImage(const std::wstring& name, int index, const TwipsRect& place) {
    const RECT design = DesignPixels(place);
    auto image = std::make_unique<Image>(*this, name, index, ScaleToDpi(design, dpi_));
    Image& added = *image;
    controls_.push_back(std::move(image));
    controlDesigns_.push_back(design);
    return added;
}

ListBox& Form::AddListBox(const TwipsRect& place) {
    const int id = 100 + static_cast<int>(lists_.size());
    const RECT design = DesignPixels(place);
    lists_.push_back(std::make_unique<ListBox>(window_, id, ScaleToDpi(design, dpi_), font_));
    listDesigns_.push_back(design);
    return *lists_.back();
}

Button& Form::AddButton(const std::wstring& name, const TwipsRect& place, const PropertyBag& saved,
                        std::function<void()> onClick) {
    const RECT design = DesignPixels(place);
    const RECT pixels = ScaleToDpi(design, dpi_);
    auto button = Button::Create(window_, name, pixels.left, pixels.top, pixels.right - pixels.left,
                                 pixels.bottom - pixels.top, *this);
    button->InitProperties();
    button->ReadProperties(saved);
    button->SetDpi(dpi_);
    // Buttons lie above the list boxes and other children created after them.
    buttons_.push_back({std::move(button), std::move(onClick), design});
    return *buttons_.back().button;
}

PictureRef Form::LoadPicture(const std::wstring& name) const {
    return Picture::FromResource(ProgramInstance(), name, dpi_);
}

void Form::ApplyIcons() {
    IconHandle bigIcon = ProgramIcon(MetricForDpi(SM_CXICON, dpi_));
    IconHandle smallIcon = ProgramIcon(MetricForDpi(SM_CXSMICON, dpi_));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.get()));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
    // The icons they replace are freed only now that the window no longer shows them.
    bigIcon_ = std::move(bigIcon);
    smallIcon_ = std::move(smallIcon);
}

void Form::ApplyDpi(int dpi) {
    dpi_ = dpi;
    ApplyIcons();
    font_ = font_->AtDpi(dpi);
    if (background_) {
        background_ = background_->AtDpi(dpi);
        background_->Prepare();
    }
    for (size_t i = 0; i < controls_.size(); ++i) {
        controls_[i]->SetBounds(ScaleToDpi(controlDesigns_[i], dpi));
        controls_[i]->ApplyDpi(dpi);
    }
    for (size_t i = 0; i < lists_.size(); ++i) {
        lists_[i]->SetFont(lists_[i]->Font() ? lists_[i]->Font()->AtDpi(dpi) : font_);
        lists_[i]->SetBounds(ScaleToDpi(listDesigns_[i], dpi));
    }
    for (const HostedButton& hosted : buttons_) {
        // The button's window is its hit area: moved and sized with its look.
        hosted.button->SetDpi(dpi);
        const RECT place = ScaleToDpi(hosted.design, dpi);
        SetWindowPos(hosted.button->Handle(), nullptr, place.left, place.top,
                     place.right - place.left, place.bottom - place.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(window_, nullptr, FALSE);
}

LRESULT Form::onDpiChanged(WPARAM dpis, LPARAM suggested) {
    // The system suggests the place that keeps the window where it was on the new screen, at
    // the new scale.
    const RECT place = *reinterpret_cast<const RECT*>(suggested);
    ApplyDpi(LOWORD(dpis));
    SetWindowPos(window_, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

void Form::ButtonClick(Button& button) {
    for (const HostedButton& hosted : buttons_) {
        if (hosted.button.get() == &button && hosted.onClick)
            hosted.onClick();
    }
}

void Form::SetBackground(PictureRef picture) {
    background_ = std::move(picture);
    // The largest picture of a window, drawn first once the window shows: unpacked meanwhile.
    if (background_)
        background_->Prepare();
    if (window_)
        InvalidateRect(window_, nullptr, FALSE);
}

void Form::SetBackColor(COLORREF color) {
    backColor_ = color;
    if (window_)
        InvalidateRect(window_, nullptr, FALSE);
}

void Form::StartToolTips() {
    if (toolTip_ || !window_)
        return;
    KillTimer(window_, kStartToolTipsTimer);
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    toolTip_ =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, ProgramInstance(), nullptr);
    // Not owned by the form: under Wine a topmost owned popup keeps its owner from being made
    // topmost. Without tooltips the window still works, so a failure is not reported.
    if (!toolTip_)
        return;
    for (const auto& control : controls_)
        UpdateToolTip(*control);
    for (const auto& [child, text] : windowToolTips_)
        SetWindowToolTip(child, text);
}

LRESULT Form::MessageFailed(std::exception_ptr error) noexcept {
    ReportFatalError(DescribeException(error));
}

LRESULT Form::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            return onPaint();
        case WM_ERASEBKGND:
            return 1;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            return onMouseDown(wParam, lParam);
        case WM_MOUSEMOVE:
            StartToolTips();
            return onMouseMove(wParam, lParam);
        case WM_TIMER:
            if (wParam != kStartToolTipsTimer)
                return DefWindowProcW(window_, message, wParam, lParam);
            StartToolTips();
            return 0;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            return onMouseUp(message, wParam, lParam);
        case WM_CAPTURECHANGED:
            return onCaptureChanged();
        case WM_SETCURSOR:
            return onSetCursor(wParam, lParam);
        case WM_CTLCOLORLISTBOX:
            return onCtlColorListBox(wParam, lParam);
        case WM_SETFOCUS:
            return onFocusChanged(true);
        case WM_KILLFOCUS:
            return onFocusChanged(false);
        case WM_DROPFILES:
            return onDropFiles(wParam);
        case WM_DPICHANGED:
            return onDpiChanged(wParam, lParam);
        case WM_CLOSE:
            return onClose();
        case WM_DESTROY:
            return onDestroy();
        default:
            return DefWindowProcW(window_, message, wParam, lParam);
    }
}

void Form::PaintSurface(HDC dc, const RECT& area) const {
    BrushHandle back(CreateSolidBrush(backColor_));
    FillRect(dc, &area, back.get());
    if (background_)
        background_->Draw(dc, 0, 0);
    for (auto control = controls_.rbegin(); control != controls_.rend(); ++control) {
        if ((*control)->Visible())
            (*control)->Paint(dc);
    }
    if (focusedControl_ && focusedControl_->Visible() && focused_) {
        RECT mark = focusedControl_->Bounds();
        DrawFocusRect(dc, &mark);
    }
}

LRESULT Form::onPaint() {
    PAINTSTRUCT paint{};
    HDC screen = BeginPaint(window_, &paint);
    RECT client{};
    GetClientRect(window_, &client);
    // Drawn off screen first, so labels never flicker over the background.
    MemoryDc memory(CreateCompatibleDC(screen));
    BitmapHandle surface(CreateCompatibleBitmap(screen, client.right, client.bottom));
    if (memory && surface) {
        SelectedObject selected(memory.get(), surface.get());
        PaintSurface(memory.get(), client);
        BitBlt(screen, paint.rcPaint.left, paint.rcPaint.top,
               paint.rcPaint.right - paint.rcPaint.left, paint.rcPaint.bottom - paint.rcPaint.top,
               memory.get(), paint.rcPaint.left, paint.rcPaint.top, SRCCOPY);
    } else {
        PaintSurface(screen, client);
    }
    EndPaint(window_, &paint);
    return 0;
}

WindowlessControl* Form::HitTest(POINT point) const {
    for (const auto& control : controls_) {
        if (control->Visible() && Contains(control->Bounds(), point))
            return control.get();
    }
    return nullptr;
}

MouseArgs Form::MakeMouseArgs(const WindowlessControl& control, WPARAM keys, POINT point) const {
    MouseArgs args;
    args.button = MouseButtons(keys);
    args.shift = ShiftState(keys);
    args.x = static_cast<float>(PixelsToTwipsX(point.x - control.Bounds().left));
    args.y = static_cast<float>(PixelsToTwipsY(point.y - control.Bounds().top));
    return args;
}

LRESULT Form::onMouseDown(WPARAM, LPARAM position) {
    const POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    SetCapture(window_);
    if (!pressed_)
        pressed_ = HitTest(point);
    return 0;
}

LRESULT Form::onMouseMove(WPARAM keys, LPARAM position) {
    const POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    // While a button is held the pressed control keeps the mouse, as a captured control does.
    WindowlessControl* target = pressed_ && MouseButtons(keys) != 0 ? pressed_ : HitTest(point);
    if (!target)
        return 0;
    MouseArgs args = MakeMouseArgs(*target, keys, point);
    OnControlMouseMove(*target, args);
    return 0;
}

LRESULT Form::onMouseUp(UINT message, WPARAM keys, LPARAM position) {
    const POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    WindowlessControl* pressed = pressed_;
    if (MouseButtons(keys) == 0) {
        pressed_ = nullptr;
        if (GetCapture() == window_)
            ReleaseCapture();
    }
    // A click is a left press and release on the same control.
    if (message == WM_LBUTTONUP && pressed && HitTest(point) == pressed)
        OnControlClick(*pressed);
    return 0;
}

LRESULT Form::onCaptureChanged() {
    pressed_ = nullptr;
    return 0;
}

LRESULT Form::onSetCursor(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(lParam) != HTCLIENT || mousePointer_ == kPointerDefault) {
        return DefWindowProcW(window_, WM_SETCURSOR, wParam, lParam);
    }
    SetCursor(LoadCursorW(nullptr, mousePointer_ == kPointerHourglass ? IDC_WAIT : IDC_ARROW));
    return TRUE;
}

LRESULT Form::onCtlColorListBox(WPARAM dc, LPARAM list) {
    for (const auto& listBox : lists_) {
        if (listBox->Handle() == reinterpret_cast<HWND>(list)) {
            return reinterpret_cast<LRESULT>(listBox->PrepareColors(reinterpret_cast<HDC>(dc)));
        }
    }
    return DefWindowProcW(window_, WM_CTLCOLORLISTBOX, dc, list);
}

LRESULT Form::onDestroy() {
    if (toolTip_)
        DestroyWindow(std::exchange(toolTip_, nullptr));
    return 0;
}

bool Form::TranslateKeyboard(const MSG& message) {
    if (message.message != WM_KEYDOWN || !message.hwnd)
        return false;
    HWND root = GetAncestor(message.hwnd, GA_ROOT);
    wchar_t className[32]{};
    GetClassNameW(root, className, 32);
    if (std::wstring_view(className) != kFormClass)
        return false;
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(root, GWLP_USERDATA));
    return form && form->HandleKey(static_cast<UINT>(message.wParam), message.hwnd);
}

bool Form::HandleKey(UINT key, HWND target) {
    if (key == VK_TAB) {
        if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0)
            return false;
        MoveFocus(GetKeyState(VK_SHIFT) < 0);
        return true;
    }
    for (const HostedButton& hosted : buttons_) {
        if (hosted.button->Handle() == target && (key == VK_SPACE || key == VK_RETURN))
            return false;
    }
    WindowlessControl* focused = target == window_ ? focusedControl_ : nullptr;
    if (focused && !focused->Visible())
        focused = nullptr;
    return OnKeyDown(key, target, focused);
}

std::vector<Form::FocusStop> Form::VisibleFocusStops() const {
    std::vector<FocusStop> stops;
    auto addWindow = [&](HWND child) {
        if (!IsWindowVisible(child))
            return;
        RECT place{};
        GetWindowRect(child, &place);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&place), 2);
        stops.push_back({place, child, nullptr});
    };
    for (const HostedButton& hosted : buttons_)
        addWindow(hosted.button->Handle());
    for (const auto& list : lists_)
        addWindow(list->Handle());
    for (WindowlessControl* control : focusStops_) {
        if (control->Visible())
            stops.push_back({control->Bounds(), nullptr, control});
    }
    std::stable_sort(stops.begin(), stops.end(), [](const FocusStop& a, const FocusStop& b) {
        return a.place.top != b.place.top ? a.place.top < b.place.top : a.place.left < b.place.left;
    });
    return stops;
}

void Form::MoveFocus(bool backwards) {
    const std::vector<FocusStop> stops = VisibleFocusStops();
    if (stops.empty())
        return;
    const HWND focus = GetFocus();
    const int count = static_cast<int>(stops.size());
    int current = -1;
    for (int i = 0; i < count; ++i) {
        const bool windowHasIt = stops[i].window && stops[i].window == focus;
        const bool controlHasIt =
            stops[i].control && stops[i].control == focusedControl_ && focus == window_;
        if (windowHasIt || controlHasIt)
            current = i;
    }
    const int next =
        current < 0 ? (backwards ? count - 1 : 0) : (current + (backwards ? count - 1 : 1)) % count;
    const FocusStop& stop = stops[next];
    if (stop.window) {
        SetFocusedControl(nullptr);
        SetFocus(stop.window);
        return;
    }
    SetFocusedControl(stop.control);
    if (focus != window_)
        SetFocus(window_);
}

void Form::SetFocusedControl(WindowlessControl* control) {
    if (focusedControl_)
        InvalidateArea(focusedControl_->Bounds());
    focusedControl_ = control;
    if (focusedControl_)
        InvalidateArea(focusedControl_->Bounds());
}

LRESULT Form::onFocusChanged(bool focused) {
    // The focus mark of a windowless control shows only while the window itself has the focus;
    // while the focus is leaving, the system still names this window as the focus.
    focused_ = focused;
    if (focusedControl_)
        InvalidateArea(focusedControl_->Bounds());
    return 0;
}

void Form::AcceptDroppedFiles() {
    // The style is all that DragAcceptFiles sets; setting it here keeps the shell library, and
    // the libraries it pulls in, from loading at start for the sake of one flag.
    SetWindowLongPtrW(hWnd(), GWL_EXSTYLE,
                      GetWindowLongPtrW(hWnd(), GWL_EXSTYLE) | WS_EX_ACCEPTFILES);
    // The program runs elevated; without these an ordinary Explorer's drop never arrives.
    for (UINT message : {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA),
                         kCopyGlobalDataMessage}) {
        ChangeWindowMessageFilterEx(window_, message, MSGFLT_ALLOW, nullptr);
    }
}

void Form::RefuseDroppedFiles(bool refused) {
    const LONG_PTR style = GetWindowLongPtrW(hWnd(), GWL_EXSTYLE);
    SetWindowLongPtrW(hWnd(), GWL_EXSTYLE,
                      refused ? style & ~WS_EX_ACCEPTFILES : style | WS_EX_ACCEPTFILES);
}

LRESULT Form::onDropFiles(WPARAM drop) {
    const std::vector<std::wstring> paths = TakeDroppedPaths(reinterpret_cast<HDROP>(drop));
    if (!paths.empty())
        OnDropFiles(paths);
    return 0;
}

LRESULT Form::onClose() {
    OnCloseRequest();
    return 0;
}

}  // namespace kestrave
