#include "test_folder.h"

#include <gtest/gtest.h>

#include <atomic>

namespace kestrave::testing {

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"kestrave-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(counter++);
    MakeFolder(path_);
}

TempFolder::~TempFolder() {
    RemoveTree(path_);
}

std::wstring TestBinFolder() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, n);
    return full.substr(0, full.find_last_of(L'\\'));
}

std::wstring TestServerPath(const std::wstring& dllName) {
    return TestBinFolder() + L"\\" + dllName;
}

void WriteTextFile(const std::wstring& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadWholeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string content;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    CloseHandle(file);
    return content;
}

void CopyOrFail(const std::wstring& from, const std::wstring& to) {
    ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << "copy failed: " << GetLastError();
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolder(const std::wstring& path) {
    CreateDirectoryW(path.c_str(), nullptr);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // A link goes, never what it leads to.
                RemoveUnixLink(child);
            } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

namespace {

// The Unix name of a Wine path, quoted for a command line; empty outside Wine.
std::wstring QuotedUnixName(const std::wstring& path) {
    using UnixName = char* (*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    if (!name)
        return {};
    std::wstring quoted = L"\"";
    for (const char* c = name; *c; ++c)
        quoted += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    HeapFree(GetProcessHeap(), 0, name);
    return quoted + L"\"";
}

// Runs a Unix program, as Wine can, and waits for it.
bool RunUnixProgram(std::wstring command) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return false;
    WaitForSingleObject(info.hProcess, 10000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

template <typename Condition>
bool Eventually(Condition condition) {
    for (int tries = 0; tries < 100 && !condition(); ++tries)
        Sleep(50);
    return condition();
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool MakeUnixLink(const std::wstring& link, const std::wstring& target) {
    const std::wstring linkName = QuotedUnixName(link);
    const std::wstring targetName = QuotedUnixName(target);
    if (linkName.empty() || targetName.empty() ||
        !RunUnixProgram(L"/bin/ln -s " + targetName + L" " + linkName))
        return false;
    return Eventually([&] { return Exists(link); });
}

void RemoveUnixLink(const std::wstring& link) {
    if (RunUnixProgram(L"/bin/rm -f " + QuotedUnixName(link)))
        Eventually([&] { return !Exists(link); });
}

bool RegistryKeyExists(HKEY root, const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

std::wstring RegistryDefaultValue(HKEY root, const std::wstring& key) {
    wchar_t value[1024];
    DWORD size = sizeof value;
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    return value;
}

}  // namespace kestrave::testing
