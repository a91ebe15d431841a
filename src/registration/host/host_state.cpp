#include "host_state.h"

#include <winternl.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace kestrave {
namespace {

using GetDllPath = NTSTATUS(NTAPI*)(PCWSTR module, ULONG flags, PWSTR* path, PWSTR* unknown);
using ReleasePath = void(NTAPI*)(PWSTR path);

std::wstring CurrentFolder() {
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
        if (length == 0)
            return {};
        if (length < folder.size()) {
            folder.resize(length);
            return folder;
        }
        folder.resize(length);
    }
}

// The folders the loader searches for a library this host loads (with the altered search
// path, as servers are loaded): it reflects the default directories and added folders, which
// nothing public reads back. False when this system's loader cannot say.
bool LoaderSearchPath(std::wstring& path) {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    static const auto get = reinterpret_cast<GetDllPath>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrGetDllPath")));
    static const auto release = reinterpret_cast<ReleasePath>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlReleasePath")));
    if (!get || !release)
        return false;
    wchar_t own[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        return false;
    PWSTR found = nullptr;
    PWSTR unknown = nullptr;
    if (get(own, LOAD_WITH_ALTERED_SEARCH_PATH, &found, &unknown) < 0 || !found)
        return false;
    path = found;
    release(found);
    return true;
}

// Each variable of a block as name and value, in the block's order. A name may begin with '='
// (the per-drive current folders are kept that way).
std::vector<std::pair<std::wstring, std::wstring>> Variables(const std::wstring& block) {
    std::vector<std::pair<std::wstring, std::wstring>> variables;
    for (size_t start = 0; start < block.size() && block[start] != L'\0';) {
        const size_t end = block.find(L'\0', start);
        const std::wstring entry = block.substr(start, end - start);
        const size_t equals = entry.find(L'=', 1);
        if (equals != std::wstring::npos)
            variables.emplace_back(entry.substr(0, equals), entry.substr(equals + 1));
        start = end + 1;
    }
    return variables;
}

std::vector<std::pair<std::wstring, std::wstring>> SortedVariables(const std::wstring& block) {
    auto variables = Variables(block);
    std::sort(variables.begin(), variables.end());
    return variables;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Sets the environment back to `wanted` one variable at a time: what a server added goes, what
// it changed or removed comes back.
void SetVariablesBack(const std::wstring& wanted) {
    const auto before = Variables(wanted);
    for (const auto& now : Variables(EnvironmentBlock())) {
        const bool kept = std::any_of(before.begin(), before.end(), [&](const auto& old) {
            return SameName(old.first, now.first);
        });
        if (!kept)
            SetEnvironmentVariableW(now.first.c_str(), nullptr);
    }
    for (const auto& [name, value] : before)
        SetEnvironmentVariableW(name.c_str(), value.c_str());
}

}  // namespace

std::wstring EnvironmentBlock() {
    wchar_t* strings = GetEnvironmentStringsW();
    if (!strings)
        return {};
    const wchar_t* end = strings;
    while (*end || end[1])
        ++end;
    std::wstring block(strings, static_cast<size_t>(end + 2 - strings));
    FreeEnvironmentStringsW(strings);
    return block;
}

HostState HostState::Take() {
    HostState state;
    state.currentFolder_ = CurrentFolder();
    state.environment_ = EnvironmentBlock();
    state.errorMode_ = GetErrorMode();
    state.loaderPathKnown_ = LoaderSearchPath(state.loaderPath_);
    return state;
}

bool HostState::SetBack() const {
    bool clean = true;
    // None, unconditionally: an empty directory and a cleared one read back alike, and only the
    // first keeps the current folder out of the search.
    if (!SetDllDirectoryW(L""))
        clean = false;
    if (CurrentFolder() != currentFolder_ && !SetCurrentDirectoryW(currentFolder_.c_str()))
        clean = false;
    if (GetErrorMode() != errorMode_) {
        SetErrorMode(errorMode_);
        clean = clean && GetErrorMode() == errorMode_;
    }
    // Compared whole first: a server that left the environment alone costs one copy of it.
    if (EnvironmentBlock() != environment_) {
        SetVariablesBack(environment_);
        clean = clean && SortedVariables(EnvironmentBlock()) == SortedVariables(environment_);
    }
    std::wstring loaderPath;
    if (loaderPathKnown_ && (!LoaderSearchPath(loaderPath) || loaderPath != loaderPath_))
        clean = false;
    return clean;
}

}  // namespace kestrave
