#include "program_folder.h"

#include <windows.h>

#include <vector>

namespace kestrave {

std::wstring ProgramFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) break;
        buffer.resize(buffer.size() * 2);
    }
    std::wstring path(buffer.data());
    const auto slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return path;
    // "C:\" keeps its backslash, as a root folder must.
    return path.substr(0, slash == 2 && path[1] == L':' ? slash + 1 : slash);
}

}  // namespace kestrave
