#include "system_folders.h"

#include <windows.h>

namespace kestrave {

namespace {

// Asks `query` (GetSystemWindowsDirectoryW or GetSystemDirectoryW) with room enough.
std::wstring AskFolder(UINT(WINAPI* query)(LPWSTR, UINT)) {
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const UINT length = query(folder.data(), static_cast<UINT>(folder.size()));
        if (length == 0)
            return {};
        if (length < folder.size()) {
            folder.resize(length);
            break;
        }
        folder.resize(length);
    }
    // A root folder ("C:\") comes with its backslash; the subfolders bring their own.
    if (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    return folder;
}

}  // namespace

std::wstring SystemWindowsFolder() {
    return AskFolder(GetSystemWindowsDirectoryW);
}

std::wstring SystemFolder() {
    return AskFolder(GetSystemDirectoryW);
}

}  // namespace kestrave
