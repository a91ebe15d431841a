// A server that pumps its thread's messages for a while during registration, as servers that
// show or create windows do.
#include <windows.h>

namespace {
HRESULT Pump() {
    const ULONGLONG until = GetTickCount64() + 100;
    MSG message;
    while (GetTickCount64() < until) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
    return S_OK;
}
}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    return Pump();
}
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return Pump();
}
