// A server that turns on the registration host it runs in, in the way its file name says. It
// registers its key like a good server unless the way is to hang. The ways:
//   forge_extra*    writes replies of its own into the host's pipe: an old-style answer that
//                   claims a copy, and a "done" for a request number it guesses
//   forge_empty*    writes an empty message;  forge_short*  three bytes;
//   forge_oversized* a message of 100 KiB
//   early_hang*     answers "done" for request 1 (a good guess in a fresh session) and then
//                   never returns
//   keep_library*   loads the library KESTRAVE_TEST_LIBRARY names (one from outside the
//                   system's folders) and never lets it go
//   keep_system_library*  the same with a library of the system folder
//   quiet_thread*   starts a thread that never ends, made without thread notifications (so no
//                   library, nor the host's own count, hears of it)
//   child*          starts the program KESTRAVE_TEST_CHILD names, which tries to write into the
//                   pipe later (it would inherit any inheritable handle of the host)
#include <windows.h>

#include <string>

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
bool NameStarts(const wchar_t* prefix) {
    return OwnName().rfind(prefix, 0) == 0;
}

// The host's pipe: the number at the end of its command line.
HANDLE HostPipe() {
    const std::wstring line = GetCommandLineW();
    return reinterpret_cast<HANDLE>(
        static_cast<ULONG_PTR>(_wtoi64(line.substr(line.find_last_of(L' ') + 1).c_str())));
}

void Write(const std::wstring& fields) {
    DWORD written = 0;
    WriteFile(HostPipe(), fields.data(), static_cast<DWORD>(fields.size() * sizeof(wchar_t)),
              &written, nullptr);
}

HRESULT RegisterKey() {
    std::wstring key = kestrave::testing::TestServerClsidKey(OwnName());
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &handle, nullptr);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    RegCloseKey(handle);
    return S_OK;
}

// The thread starts in the system's Sleep, never in this library: the host releases the library
// once the export returns, possibly before the thread first runs, and a thread starting in
// released code would bring the host down instead of staying behind in it.
void StartQuietThread() {
    using CreateThreadEx = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, void*, HANDLE, void*, void*, ULONG,
                                        SIZE_T, SIZE_T, SIZE_T, void*);
    constexpr ULONG kSkipThreadAttach = 0x2;
    auto create = reinterpret_cast<CreateThreadEx>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateThreadEx")));
    HANDLE thread = nullptr;
    if (create &&
        create(&thread, THREAD_ALL_ACCESS, nullptr, GetCurrentProcess(),
               reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Sleep")),
               reinterpret_cast<void*>(INFINITE), kSkipThreadAttach, 0, 0, 0, nullptr) >= 0)
        CloseHandle(thread);
}

void StartChild() {
    wchar_t child[MAX_PATH];
    if (!GetEnvironmentVariableW(L"KESTRAVE_TEST_CHILD", child, MAX_PATH))
        return;
    std::wstring line = L"\"" + std::wstring(child) + L"\" " +
                        std::to_wstring(reinterpret_cast<ULONG_PTR>(HostPipe()));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(child, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &started)) {
        // Up and holding its marker before the export returns.
        Sleep(300);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
}

// "Done, registered" for request 1, as a host would say it: a good guess in a fresh session.
std::wstring ForgedDone() {
    using namespace std::string_literals;
    return L"done\0"s
           L"1\0"s
           L"8\0"s
           L"0\0"s
           L"0\0"s
           L"0\0"s;
}

HRESULT Misbehave() {
    using namespace std::string_literals;
    if (NameStarts(L"forge_extra")) {
        Write(
            L"registered\0\0"s
            L"1\0"s
            L"0\0"s
            L"0\0"s
            L"8\0"s
            L"0\0"s
            L"0\0"s
            L"0\0"s);
        Write(ForgedDone());
    } else if (NameStarts(L"forge_empty")) {
        Write(L"");
    } else if (NameStarts(L"forge_short")) {
        DWORD written = 0;
        WriteFile(HostPipe(), "abc", 3, &written, nullptr);
    } else if (NameStarts(L"forge_oversized")) {
        Write(std::wstring(50 * 1024, L'x'));
    } else if (NameStarts(L"early_hang")) {
        Write(ForgedDone());
        Sleep(INFINITE);
    } else if (NameStarts(L"keep_library")) {
        wchar_t library[MAX_PATH] = L"";
        if (GetEnvironmentVariableW(L"KESTRAVE_TEST_LIBRARY", library, MAX_PATH) - 1 < MAX_PATH - 1)
            LoadLibraryW(library);
    } else if (NameStarts(L"keep_system_library")) {
        LoadLibraryW(L"msimg32.dll");
    } else if (NameStarts(L"quiet_thread")) {
        StartQuietThread();
    } else if (NameStarts(L"child")) {
        StartChild();
    }
    return RegisterKey();
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        g_self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    return Misbehave();
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kestrave::testing::TestServerClsidKey(OwnName()).c_str());
    return S_OK;
}
