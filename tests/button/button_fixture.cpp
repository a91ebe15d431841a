#include "button_fixture.h"

#include <algorithm>

namespace kestrave::testing {
namespace {

constexpr wchar_t kTestWindowClass[] = L"KestraveButtonTestWindow";

void RegisterTestWindowClass() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        windowClass.lpszClassName = kTestWindowClass;
        return RegisterClassExW(&windowClass) != 0;
    }();
    (void)registered;
}

void SendMouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof input);
}

}  // namespace

TestWindow::TestWindow(int x, int y, int width, int height, bool topmost) {
    RegisterTestWindowClass();
    window_ = CreateWindowExW(topmost ? WS_EX_TOPMOST : 0, kTestWindowClass, L"button test",
                              WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, x, y, width, height, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    UpdateWindow(window_);
}

TestWindow::~TestWindow() {
    if (window_)
        DestroyWindow(window_);
}

void RecordingHost::Record(const wchar_t* what, Button& button, short which, short shift, float x,
                           float y) {
    events.push_back({what, which, shift, x, y, button.MouseState(), button.Surface().Pixel(2, 2)});
}

void RecordingHost::ButtonClick(Button& button) {
    Record(L"Click", button, 0, 0, 0, 0);
}

void RecordingHost::ButtonMouseDown(Button& button, short& which, short& shift, float& x,
                                    float& y) {
    Record(L"MouseDown", button, which, shift, x, y);
    if (rewriteDownButton)
        rewriteDownButton(which);
}

void RecordingHost::ButtonMouseUp(Button& button, short& which, short& shift, float& x, float& y) {
    Record(L"MouseUp", button, which, shift, x, y);
}

void RecordingHost::ButtonMouseMove(Button&, short& which, short&, float&, float&) {
    ++moves;
    if (rewriteMoveButton)
        rewriteMoveButton(which);
}

void RecordingHost::ButtonPropertyChanged(Button&, const std::wstring& propertyName) {
    changedProperties.push_back(propertyName);
}

std::vector<std::wstring> RecordingHost::Names() const {
    std::vector<std::wstring> names;
    for (const Event& event : events) {
        names.push_back(event.what == L"Click" ? event.what
                                               : event.what + L" " + std::to_wstring(event.button));
    }
    return names;
}

int RecordingHost::Count(const std::wstring& name) const {
    auto names = Names();
    return static_cast<int>(std::count(names.begin(), names.end(), name));
}

bool PumpUntil(const std::function<bool()>& done, DWORD limitMs) {
    const DWORD start = GetTickCount();
    while (true) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (done())
                return true;
        }
        if (done())
            return true;
        if (GetTickCount() - start > limitMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

bool PumpTimerTicks(HWND window, UINT_PTR timerId, int ticks, DWORD limitMs) {
    const DWORD start = GetTickCount();
    int seen = 0;
    while (true) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (message.message == WM_TIMER && message.hwnd == window &&
                message.wParam == timerId && ++seen == ticks) {
                return true;
            }
        }
        if (GetTickCount() - start > limitMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 100);
}

void MoveCursorTo(POINT screen) {
    SetCursorPos(screen.x, screen.y);
    // A move without movement makes the system report the new position to the window there.
    SendMouse(MOUSEEVENTF_MOVE);
}

void PressLeft() {
    SendMouse(MOUSEEVENTF_LEFTDOWN);
}
void ReleaseLeft() {
    SendMouse(MOUSEEVENTF_LEFTUP);
}
void PressRight() {
    SendMouse(MOUSEEVENTF_RIGHTDOWN);
}
void ReleaseRight() {
    SendMouse(MOUSEEVENTF_RIGHTUP);
}

POINT ScreenPoint(HWND window, int x, int y) {
    POINT point{x, y};
    ClientToScreen(window, &point);
    return point;
}

}  // namespace kestrave::testing
