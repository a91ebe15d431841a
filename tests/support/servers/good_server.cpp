// A well-behaved in-process server: registering writes its CLSID key with InprocServer32
// naming this file; unregistering removes the key.
#include <windows.h>

#include "test_server_keys.h"

namespace {
HMODULE g_self = nullptr;

std::wstring OwnPath() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(g_self, path, MAX_PATH);
    return std::wstring(path, n);
}
std::wstring OwnName() {
    std::wstring path = OwnPath();
    return path.substr(path.find_last_of(L'\\') + 1);
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        g_self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    std::wstring key = kestrave::testing::TestServerClsidKey(OwnName()) + L"\\InprocServer32";
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &handle, nullptr);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    std::wstring path = OwnPath();
    status = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                            static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    std::wstring key = kestrave::testing::TestServerClsidKey(OwnName());
    LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) ? S_OK
                                                                       : HRESULT_FROM_WIN32(status);
}
