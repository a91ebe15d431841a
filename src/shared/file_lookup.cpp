#include "file_lookup.h"

#include "path.h"

namespace kestrave {
namespace {

constexpr DWORD kNotAPlainFile =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool HasWildcard(std::wstring_view text) {
    return text.find_first_of(L"*?") != std::wstring_view::npos;
}

std::wstring FoldCase(std::wstring_view text) {
    std::wstring folded(text);
    if (!folded.empty())
        CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    return folded;
}

// The name of the file at `path` unless it has one of the `refused` attributes.
std::wstring FindNameWithout(const std::wstring& path, DWORD refused) {
    // A name can hold no wildcard, so a pattern never names a plain file.
    if (path.empty() || HasWildcard(path))
        return {};
    WIN32_FIND_DATAW entry{};
    FindHandle find(
        FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (!find)
        return {};
    if (entry.dwFileAttributes & refused)
        return {};
    return entry.cFileName;
}

}  // namespace

std::wstring FindFileName(const std::wstring& path) {
    return FindNameWithout(path, kNotAPlainFile);
}

std::wstring FindAnyFileName(const std::wstring& path) {
    return FindNameWithout(path, FILE_ATTRIBUTE_DIRECTORY);
}

bool IsPlainFile(const std::wstring& path) {
    if (path.empty() || HasWildcard(path))
        return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & kNotAPlainFile);
}

bool MatchesWildcard(std::wstring_view name, std::wstring_view pattern) {
    const std::wstring n = FoldCase(name);
    const std::wstring p = FoldCase(pattern);
    size_t ni = 0, pi = 0;
    size_t starPi = std::wstring::npos, starNi = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == L'?' || p[pi] == n[ni])) {
            ++ni;
            ++pi;
        } else if (pi < p.size() && p[pi] == L'*') {
            starPi = pi++;
            starNi = ni;
        } else if (starPi != std::wstring::npos) {
            pi = starPi + 1;
            ni = ++starNi;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == L'*')
        ++pi;
    return pi == p.size();
}

FileListing::FileListing(const std::wstring& pattern, bool hiddenToo)
    : pattern_(pattern),
      namePattern_(SplitPath(pattern).name),
      refused_(hiddenToo ? FILE_ATTRIBUTE_DIRECTORY : kNotAPlainFile) {}

std::wstring FileListing::Next() {
    WIN32_FIND_DATAW entry{};
    if (!started_) {
        started_ = true;
        find_.reset(FindFirstFileExW(pattern_.c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0));
        if (!find_)
            return {};
        if (Accepts(entry))
            return entry.cFileName;
    }
    if (!find_)
        return {};
    while (FindNextFileW(find_.get(), &entry)) {
        if (Accepts(entry))
            return entry.cFileName;
    }
    find_.reset();
    return {};
}

bool FileListing::Accepts(const WIN32_FIND_DATAW& entry) const {
    if (entry.dwFileAttributes & refused_)
        return false;
    return MatchesWildcard(entry.cFileName, namePattern_);
}

}  // namespace kestrave
