#include "system_libraries.h"

#include <windows.h>

namespace kestrave {

bool LoadLibrariesOnlyFromSystemFolder() {
    // Looked up rather than imported, so that a Windows 7 without the update still starts.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDirectories = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDirectories && setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return true;
    SetDllDirectoryW(L"");
    return false;
}

}  // namespace kestrave
