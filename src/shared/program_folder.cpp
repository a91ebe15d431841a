#include "program_folder.h"

#include <windows.h>

#include <vector>

#include "path.h"

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
    std::wstring folder = SplitPath(buffer.data()).folder;
    // "C:\" keeps its backslash, as a root folder must.
    const bool root = folder.size() == 3 && folder[1] == L':';
    if (!folder.empty() && !root)
        folder.pop_back();
    return folder;
}

}  // namespace kestrave
