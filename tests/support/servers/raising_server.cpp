// A server whose export raises an exception of a code outside the ranges of system faults, as
// Wine's stub for an unbound import (0x80000100) is: a crash all the same.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    RaiseException(0x20000001, 0, 0, nullptr);
    return S_OK;
}
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return S_OK;
}
