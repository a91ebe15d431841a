// A window with a few picture buttons, to see (and screenshot) how they hover, press and click.
// The pictures are made in code; the buttons of the picture-less row show the flat face.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "button.h"
#include "property_bag.h"
#include "test_pictures.h"

namespace kestrave {
namespace {

// A rounded-looking face: a dark 6-pixel frame that must stay crisp, and a vertical gradient
// inside that stretches with the button.
PictureRef FacePicture(COLORREF top, COLORREF bottom, COLORREF frame, const std::wstring& name) {
    const int width = 40;
    const int height = 20;
    return testing::PaintedPicture(
        width, height,
        [=](int x, int y) {
            const bool corner = (x < 2 || x >= width - 2) && (y < 2 || y >= height - 2);
            if (corner)
                return RGB(240, 240, 240);
            if (x == 0 || y == 0 || x == width - 1 || y == height - 1)
                return frame;
            const double t = static_cast<double>(y) / (height - 1);
            return RGB(GetRValue(top) + (GetRValue(bottom) - GetRValue(top)) * t,
                       GetGValue(top) + (GetGValue(bottom) - GetGValue(top)) * t,
                       GetBValue(top) + (GetBValue(bottom) - GetBValue(top)) * t);
        },
        name);
}

PictureRef DemoPicture(const std::wstring& name) {
    if (name == L"BUTTON_NORMAL") {
        return FacePicture(RGB(120, 170, 230), RGB(40, 90, 170), RGB(20, 50, 110), name);
    }
    if (name == L"BUTTON_HOVER") {
        return FacePicture(RGB(170, 210, 250), RGB(80, 140, 220), RGB(20, 50, 110), name);
    }
    if (name == L"BUTTON_DOWN") {
        return FacePicture(RGB(30, 70, 140), RGB(90, 140, 210), RGB(10, 30, 80), name);
    }
    return nullptr;
}

// Saved properties, as the windows keep theirs.
PropertyBag PictureButton(const wchar_t* caption, ColorValue foreColor) {
    PropertyBag bag;
    bag.Store(kKeyPictureMouseOn, DemoPicture(L"BUTTON_HOVER"));
    bag.Store(kKeyPictureDown, DemoPicture(L"BUTTON_DOWN"));
    bag.Store(kKeyPicture, DemoPicture(L"BUTTON_NORMAL"));
    bag.Store(kKeyCaption, std::wstring(caption));
    bag.Store(kKeyForeColor, static_cast<long>(foreColor));
    return bag;
}

PropertyBag SavedProperties(const std::wstring& name) {
    if (name == L"注册")
        return PictureButton(L"注 册", 0x00FFFFFF);
    PropertyBag bag;
    if (name == L"卸载") {
        bag = PictureButton(L"卸 载", 0x0000FFFF);
        bag.Store(kKeyFont, MakeFont(FontDescription{.points = 12, .weight = FW_BOLD}));
    }
    if (name == L"设置")
        bag.Store(kKeyCaption, std::wstring(L"设置"));
    if (name == L"帮助") {
        bag.Store(kKeyCaption, std::wstring(L"帮助 — a caption far too long for its button"));
        bag.Store(kKeyForeColor, 0x000000C0L);
        bag.Store(kKeyBackColor, 0x00E0F0FFL);
    }
    return bag;
}

class DemoWindow : public ButtonHost {
  public:
    static constexpr wchar_t kClassName[] = L"KestraveButtonDemo";

    bool Create(HINSTANCE instance) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &DemoWindow::WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = GetSysColorBrush(COLOR_3DFACE);
        windowClass.lpszClassName = kClassName;
        if (!RegisterClassExW(&windowClass))
            return false;
        window_ = CreateWindowExW(0, kClassName, L"Kestrave button demo",
                                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 40, 40, 420, 200, nullptr,
                                  nullptr, instance, this);
        return window_ != nullptr;
    }
    HWND Handle() const { return window_; }

    void ButtonClick(Button& button) override {
        ++clicks_;
        status_ = button.Name() + L" clicked (" + std::to_wstring(clicks_) + L")";
        SetWindowTextW(window_, status_.c_str());
        if (button.Name() == L"设置") {
            const short delayClick = -1;
            if (pushTarget_)
                pushTarget_->Push(delayClick);  // a press by program
        }
    }
    FontRef AmbientFont() override { return ambientFont_; }

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* self =
                static_cast<DemoWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            self->window_ = window;
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        auto* self = reinterpret_cast<DemoWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!self)
            return DefWindowProcW(window, message, wParam, lParam);
        try {
            switch (message) {
                case WM_CREATE:
                    return self->onCreate();
                case WM_DESTROY:
                    return self->onDestroy();
                case WM_NCDESTROY:
                    return self->onNcDestroy(message, wParam, lParam);
                default:
                    return DefWindowProcW(window, message, wParam, lParam);
            }
        } catch (...) {
            return -1;
        }
    }

    LRESULT onCreate() {
        struct Place {
            const wchar_t* name;
            int x, y, width, height;
        } places[] = {
            {L"注册", 20, 20, 110, 34},
            {L"卸载", 150, 20, 110, 44},
            {L"设置", 280, 20, 100, 30},
            {L"帮助", 20, 90, 120, 26},
        };
        for (const Place& place : places) {
            auto button = Button::Create(window_, place.name, place.x, place.y, place.width,
                                         place.height, *this);
            button->InitProperties();
            button->ReadProperties(SavedProperties(place.name));
            buttons_.push_back(std::move(button));
        }
        pushTarget_ = buttons_[0].get();
        return 0;
    }
    LRESULT onDestroy() {
        PostQuitMessage(0);
        return 0;
    }
    LRESULT onNcDestroy(UINT message, WPARAM wParam, LPARAM lParam) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        HWND window = window_;
        window_ = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    FontRef ambientFont_ = MakeFont({});
    std::vector<std::unique_ptr<Button>> buttons_;
    Button* pushTarget_ = nullptr;
    int clicks_ = 0;
    std::wstring status_;
};

}  // namespace
}  // namespace kestrave

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    kestrave::DemoWindow demo;
    if (!demo.Create(instance))
        return 1;
    ShowWindow(demo.Handle(), show);
    UpdateWindow(demo.Handle());
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
