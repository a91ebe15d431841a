#include "path.h"

namespace kestrave {

PathParts SplitPath(std::wstring_view path) {
    const size_t separator = path.find_last_of(L"\\/:");
    if (separator == std::wstring_view::npos)
        return {std::wstring(), std::wstring(path)};
    return {std::wstring(path.substr(0, separator + 1)), std::wstring(path.substr(separator + 1))};
}

std::wstring ParentFolder(std::wstring_view path) {
    std::wstring folder = SplitPath(path).folder;
    const bool root = folder.size() == 3 && folder[1] == L':';
    if (!folder.empty() && !root)
        folder.pop_back();
    return folder;
}

}  // namespace kestrave
