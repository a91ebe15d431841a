// Paths as the program takes them apart: the one place that knows where a folder ends.
#pragma once

#include <string>
#include <string_view>

namespace kestrave {

// `folder` is everything up to and including the last separator (a backslash, a slash, or the
// colon of a drive-relative path), so C:\Controls\a.ocx gives C:\Controls\ and a.ocx, and
// C:\a.ocx gives C:\ and a.ocx. Without a separator the folder is empty and the whole text is
// the name.
struct PathParts {
    std::wstring folder;
    std::wstring name;
};

PathParts SplitPath(std::wstring_view path);

// The folder that holds `path`, as folders are shown: without the last separator, except that a
// drive's root keeps its backslash (C:\Controls\a.ocx gives C:\Controls, C:\a.ocx gives C:\).
std::wstring ParentFolder(std::wstring_view path);

}  // namespace kestrave
