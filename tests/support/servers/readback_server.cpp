// A server whose type library (added by the test, see CopyWithTypeLibrary) lists the class
// {4B657374-5262-4B31-8000-000000000001}. Registering points that class at this file, or, when
// this file's name begins with "fixed_", at a fixed path of the vendor's: the class then leads
// to another file although registering succeeded.
#include <windows.h>

#include <string>

namespace {
HMODULE g_self = nullptr;
constexpr wchar_t kClassKey[] = L"CLSID\\{4B657374-5262-4B31-8000-000000000001}\\InprocServer32";
constexpr wchar_t kFixedPath[] = L"C:\\Program Files\\Vendor\\fixed.ocx";

std::wstring OwnPath() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(g_self, path, MAX_PATH);
    return std::wstring(path, n);
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        g_self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    const std::wstring own = OwnPath();
    const bool fixed = own.compare(own.find_last_of(L'\\') + 1, 6, L"fixed_") == 0;
    const std::wstring target = fixed ? kFixedPath : own;
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, kClassKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &key, nullptr);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(target.c_str()),
                            static_cast<DWORD>((target.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return S_OK;
}
