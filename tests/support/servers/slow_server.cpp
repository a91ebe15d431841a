// A server whose exports never come back in time.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    Sleep(600000);
    return S_OK;
}
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    Sleep(600000);
    return S_OK;
}
