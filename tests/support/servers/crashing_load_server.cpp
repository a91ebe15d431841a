// A server whose DllMain faults while it is being loaded.
#include <windows.h>

namespace {
int* volatile g_nowhere = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        *g_nowhere = 1;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    return S_OK;
}
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return S_OK;
}
