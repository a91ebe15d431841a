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
        if (length == 0)
            return {};
        if (length < buffer.size())
            break;
        buffer.resize(buffer.size() * 2);
    }
    return ParentFolder(buffer.data());
}

}  // namespace kestrave
