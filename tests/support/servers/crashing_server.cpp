// A server whose exports dereference a null pointer.
#include <windows.h>

namespace {
int* volatile g_nowhere = nullptr;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    *g_nowhere = 1;
    return S_OK;
}
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    *g_nowhere = 1;
    return S_OK;
}
