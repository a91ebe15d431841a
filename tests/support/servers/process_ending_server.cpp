// A server whose exports end the whole process that called them.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    ExitProcess(7);
}
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    ExitProcess(7);
}
