// A good server that imports a library nobody ships next to it: loading it must fail unless
// that library is found where the loader looks. Tests plant it in the program's current folder.
#include <windows.h>

#include "test_server_keys.h"

extern "C" __declspec(dllimport) int PlantedDependencyValue();

namespace {
HMODULE g_self = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        g_self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(g_self, path, MAX_PATH);
    std::wstring own(path, n);
    std::wstring key =
        kestrave::testing::TestServerClsidKey(own.substr(own.find_last_of(L'\\') + 1));
    HKEY handle = nullptr;
    if (PlantedDependencyValue() != 42 ||
        RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    RegCloseKey(handle);
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return S_OK;
}
