// Finding server files on disk: the one lookup that the queue and the batch commands share.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "handles.h"

namespace kestrave {

// The name of the plain file at `path` exactly as the file system stores it (letter case
// included), or empty when there is none. Folders, hidden and system files are never found.
std::wstring FindFileName(const std::wstring& path);

// The name of the file (not folder) at `path` as the file system stores it, hidden and system
// files included; empty when there is none.
std::wstring FindAnyFileName(const std::wstring& path);

// True when a plain file is at `path`, in whatever letter case. It asks for the file's
// attributes only, which costs far less than a listing of its folder when the file is there.
bool IsPlainFile(const std::wstring& path);

// True when `name` matches `pattern` (`*` and `?`), letter case ignored, the way a user reads
// the pattern: "*.ocx" takes only names that end in ".ocx".
bool MatchesWildcard(std::wstring_view name, std::wstring_view pattern);

// Lists the plain files (not folders, hidden or system files) that match a wildcard pattern
// such as C:\Controls\*.ocx, one name per call, then the empty text. The system also matches
// 8.3 short names ("a.ocxx" has the short name "A~1.OCX"); such names are left out.
// `hiddenToo` lists hidden and system files as well (still no folders).
class FileListing {
  public:
    explicit FileListing(const std::wstring& pattern, bool hiddenToo = false);
    std::wstring Next();

  private:
    bool Accepts(const WIN32_FIND_DATAW& entry) const;

    std::wstring pattern_;
    std::wstring namePattern_;
    DWORD refused_;
    FindHandle find_;
    bool started_ = false;
};

}  // namespace kestrave
