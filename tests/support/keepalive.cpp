// A hidden window that lives until it is killed: it keeps Wine's desktop process alive
// between test programs (see scripts/wine-env.sh).
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"KestraveKeepAlive";
    RegisterClassW(&windowClass);
    CreateWindowW(L"KestraveKeepAlive", L"", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr,
                  instance, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}
