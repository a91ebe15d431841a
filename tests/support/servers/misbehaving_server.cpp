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
//   impostor*       never returns; a thread of its own forges the outcome of request 1 (a good
//                   guess in a fresh session) and then answers every request it reads from the
//                   pipe as a host would, with a worker that runs nothing
//   dirty_folder*   clears the DLL directory and makes KESTRAVE_TEST_PLANTED the current folder
//   dirty_path*     puts KESTRAVE_TEST_PLANTED first in PATH
//   dirty_defaults* makes the loader search added folders and adds KESTRAVE_TEST_PLANTED
//   dirty_temp*     points TEMP and TMP at a folder that does not exist
//   dirty_error_mode* sets the error mode to none
//   probe*          registers only in a host that looks as it started (no TEMP or TMP of
//                   dirty_temp's, the error mode the host set); E_UNEXPECTED otherwise
#include <windows.h>

#include <string>
#include <vector>

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

constexpr wchar_t kDirtyTemp[] = L"C:\\kestrave-dirty-temp";

std::wstring Planted() {
    wchar_t folder[MAX_PATH] = {};
    GetEnvironmentVariableW(L"KESTRAVE_TEST_PLANTED", folder, MAX_PATH);
    return folder;
}

bool VariableIs(const wchar_t* name, const wchar_t* value) {
    wchar_t found[MAX_PATH] = {};
    GetEnvironmentVariableW(name, found, MAX_PATH);
    return std::wstring(found) == value;
}

HRESULT RegisterIfClean() {
    const UINT hostMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
    if (VariableIs(L"TEMP", kDirtyTemp) || VariableIs(L"TMP", kDirtyTemp) ||
        (GetErrorMode() & hostMode) != hostMode)
        return E_UNEXPECTED;
    return RegisterKey();
}

std::vector<std::wstring> Fields(const wchar_t* message, size_t length) {
    std::vector<std::wstring> fields;
    for (size_t start = 0; start < length;) {
        size_t end = start;
        while (end < length && message[end] != L'\0')
            ++end;
        fields.emplace_back(message + start, end - start);
        start = end + 1;
    }
    return fields;
}

DWORD WINAPI RunNothing(void*) {
    return 0;
}

// Plays the host: every request gets a worker of its own that runs nothing, then "registered".
DWORD WINAPI Impostor(void*) {
    using namespace std::string_literals;
    Write(
        L"exported\0"s
        L"1\0"s
        L"8\0"s
        L"0\0"s
        L"0\0"s);
    Write(
        L"done\0"s
        L"1\0"s
        L"8\0"s
        L"0\0"s
        L"0\0"s
        L"0\0"s
        L"0\0"s);
    static wchar_t message[40 * 1024];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(HostPipe(), message, sizeof message, &read, nullptr))
            return 0;
        const std::vector<std::wstring> fields = Fields(message, read / sizeof(wchar_t));
        if (fields.size() < 3 || (fields[0] != L"register" && fields[0] != L"unregister"))
            continue;
        const std::wstring& sequence = fields[1];
        DWORD id = 0;
        HANDLE worker = CreateThread(nullptr, 0, RunNothing, nullptr, CREATE_SUSPENDED, &id);
        Write(L"worker\0"s + sequence + L"\0"s + std::to_wstring(id) + L"\0"s);
        ReadFile(HostPipe(), message, sizeof message, &read, nullptr);
        ResumeThread(worker);
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
        Write(L"exported\0"s + sequence +
              L"\0"s
              L"8\0"s
              L"0\0"s
              L"0\0"s);
        Write(L"done\0"s + sequence +
              L"\0"s
              L"8\0"s
              L"0\0"s
              L"0\0"s
              L"0\0"s
              L"0\0"s);
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
    } else if (NameStarts(L"impostor")) {
        CloseHandle(CreateThread(nullptr, 0, Impostor, nullptr, 0, nullptr));
        Sleep(INFINITE);
    } else if (NameStarts(L"dirty_folder")) {
        SetDllDirectoryW(nullptr);
        SetCurrentDirectoryW(Planted().c_str());
    } else if (NameStarts(L"dirty_path")) {
        wchar_t path[8192] = {};
        GetEnvironmentVariableW(L"PATH", path, 8192);
        SetEnvironmentVariableW(L"PATH", (Planted() + L";" + path).c_str());
    } else if (NameStarts(L"dirty_defaults")) {
        SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        AddDllDirectory(Planted().c_str());
    } else if (NameStarts(L"dirty_temp")) {
        SetEnvironmentVariableW(L"TEMP", kDirtyTemp);
        SetEnvironmentVariableW(L"TMP", kDirtyTemp);
    } else if (NameStarts(L"dirty_error_mode")) {
        SetErrorMode(0);
    } else if (NameStarts(L"probe")) {
        return RegisterIfClean();
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
