// The child a misbehaving server starts: holds the named mutex "KestraveTestPipeWriter" while it
// lives, and for ten seconds keeps writing forged answers into the handle number it was given,
// should it have inherited anything there.
#include <windows.h>

#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    HANDLE alive = CreateMutexW(nullptr, TRUE, L"KestraveTestPipeWriter");
    const HANDLE pipe =
        reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::wcstoull(arguments, nullptr, 10)));
    using namespace std::string_literals;
    const std::wstring forged =
        L"done\0"s
        L"2\0"s
        L"8\0"s
        L"0\0"s
        L"0\0"s
        L"0\0"s;
    for (int i = 0; i < 100; ++i) {
        DWORD written = 0;
        WriteFile(pipe, forged.data(), static_cast<DWORD>(forged.size() * sizeof(wchar_t)),
                  &written, nullptr);
        Sleep(100);
    }
    CloseHandle(alive);
    return 0;
}
