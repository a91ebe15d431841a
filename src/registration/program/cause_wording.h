// The program's own words for why a library could not be loaded, made from the names a
// dependency walk found. The names may come from a host that ran server code, so they are made
// harmless before they are put into a sentence.
#pragma once

#include <string>
#include <string_view>

#include "host_findings.h"

namespace kestrave {

constexpr std::size_t kMaxShownNameLength = 260;

// `name` as ShownText shows it, cut on a whole character to at most kMaxShownNameLength
// characters (an ellipsis marks the cut).
std::wstring ShownName(std::wstring_view name);

// What a reason says of a walk that spent its budget before it was done.
inline constexpr wchar_t kWalkUnfinishedText[] = L"依赖关系太多, 没有查完";

// The reason for the report, e.g. "缺少 a_mid.dll 需要的文件 nosuchdep2.dll", followed by
// kWalkUnfinishedText when the walk did not finish; empty when the walk found nothing, so
// that the load's own error text stays (the caller adds kWalkUnfinishedText to it then).
// `inSourceFolder` says that the missing file sits in the queued file's source folder (see
// MissingFileIsInFolder).
std::wstring DependencyCauseText(const DependencyCulprit& culprit, bool inSourceFolder);

// True when the file the culprit names as missing is a plain file in `folder`: it was left
// behind when the queued file was copied into the system folder.
bool MissingFileIsInFolder(const DependencyCulprit& culprit, const std::wstring& folder);

}  // namespace kestrave
