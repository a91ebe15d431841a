// A well-behaved server that keeps itself loaded for good once it has run, as some system
// libraries do: its file stays mapped in whatever process loaded it.
#include <windows.h>

#include "test_server_keys.h"

namespace {
HMODULE g_self = nullptr;

std::wstring OwnPath() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(g_self, path, MAX_PATH);
    return std::wstring(path, n);
}

void PinSelf() {
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&PinSelf), &pinned);
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        g_self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    PinSelf();
    std::wstring path = OwnPath();
    std::wstring key =
        kestrave::testing::TestServerClsidKey(path.substr(path.find_last_of(L'\\') + 1));
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) == ERROR_SUCCESS)
        RegCloseKey(handle);
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    PinSelf();
    std::wstring path = OwnPath();
    RegDeleteTreeW(
        HKEY_CLASSES_ROOT,
        kestrave::testing::TestServerClsidKey(path.substr(path.find_last_of(L'\\') + 1)).c_str());
    return S_OK;
}
