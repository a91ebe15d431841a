// A server that leaves a window with a timer, and a thread-message timer, on the thread that
// registered it. Once its code is unloaded, whoever pumps that thread's messages next would
// call into nothing.
#include <windows.h>

namespace {
HINSTANCE g_self = nullptr;

LRESULT CALLBACK LitterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {}

HRESULT Litter() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = LitterProc;
    windowClass.hInstance = g_self;
    windowClass.lpszClassName = L"KestraveLitterWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"KestraveLitterWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, g_self, nullptr);
    SetTimer(window, 1, 1, nullptr);
    SetTimer(nullptr, 0, 1, OnTimer);
    return S_OK;
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        g_self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    return Litter();
}
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return Litter();
}
