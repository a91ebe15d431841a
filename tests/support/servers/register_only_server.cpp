// A server that can be registered but has no way to unregister.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    return S_OK;
}
