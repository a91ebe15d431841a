// A server that leaves its thread's COM apartment more often than it entered it.
#include <objbase.h>
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    for (int i = 0; i < 3; ++i)
        CoUninitialize();
    return S_OK;
}
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return DllRegisterServer();
}
