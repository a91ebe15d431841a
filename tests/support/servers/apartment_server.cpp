// A server that, like many real controls, fails unless its thread is already in a
// single-threaded COM apartment.
#include <objbase.h>
#include <windows.h>

namespace {
HRESULT RequireApartment() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (hr == S_FALSE) {  // already initialised as an apartment: what we need
        CoUninitialize();
        return S_OK;
    }
    if (SUCCEEDED(hr))
        CoUninitialize();
    return CO_E_NOTINITIALIZED;
}
}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    return RequireApartment();
}
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return RequireApartment();
}
