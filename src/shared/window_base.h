// What every window class of the program shares: its registration, the binding of a window to
// the object that handles its messages, and the mouse arguments its handlers pass on.
#pragma once

#include <windows.h>

#include <exception>

namespace kestrave {

// Registers a class of this module once per run, with the arrow cursor; later calls, and a class
// that is already there, change nothing. Throws std::runtime_error with the system's text.
void RegisterWindowClass(const wchar_t* className, WNDPROC procedure, UINT style = 0,
                         HICON icon = nullptr);

// The mouse buttons a message's key state holds: 1 left, 2 right, 4 middle, summed.
short MouseButtons(WPARAM keys);
// The Shift, Ctrl and Alt keys as 1, 2 and 4, summed.
short ShiftState(WPARAM keys);

// One window bound to the object `Derived` that handles its messages. The object passes itself
// as the creation parameter of CreateWindowExW with `WindowProc` as the class's procedure; it is
// bound at WM_NCCREATE and unbound at WM_NCDESTROY, so no message reaches an object whose window
// is gone, and `window_` is null from then on.
//
// Derived provides:
//   LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
//   LRESULT MessageFailed(std::exception_ptr error) noexcept;  // an exception HandleMessage let
//   out
// and may provide `void OnNcDestroy() noexcept`, run while `window_` is still set.
template <typename Derived>
class BoundWindow {
  public:
    BoundWindow() = default;
    BoundWindow(const BoundWindow&) = delete;
    BoundWindow& operator=(const BoundWindow&) = delete;

  protected:
    ~BoundWindow() = default;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* creating =
                static_cast<Derived*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            static_cast<BoundWindow&>(*creating).window_ = window;
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creating));
        }
        auto* self = reinterpret_cast<Derived*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!self)
            return DefWindowProcW(window, message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            self->OnNcDestroy();
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            static_cast<BoundWindow&>(*self).window_ = nullptr;
            return DefWindowProcW(window, message, wParam, lParam);
        }
        // No exception may travel through the system's dispatching.
        try {
            return self->HandleMessage(message, wParam, lParam);
        } catch (...) {
            return self->MessageFailed(std::current_exception());
        }
    }

    void OnNcDestroy() noexcept {}

    HWND window_ = nullptr;
};

}  // namespace kestrave
