// The program's own words for why a library could not be loaded, made from the names a
// dependency walk found. The names may come from a host that ran server code, so they are made
// harmless before they are put into a sentence.
#pragma once

#include <string>
#include <string_view>

#include "host_findings.h"

namespace kestrave {

constexpr std::size_t kMaxShownNameLength = 260;

// `name` without control or text-direction characters, cut to kMaxShownNameLength characters
// (an ellipsis marks the cut).
std::wstring ShownName(std::wstring_view name);

// The reason for the report, e.g. "缺少 a_mid.dll 需要的文件 nosuchdep2.dll"; empty when the
// walk found nothing, so that the load's own error text stays. `inSourceFolder` says that the
// missing file sits in the queued file's source folder (see MissingFileIsInFolder).
std::wstring DependencyCauseText(const DependencyCulprit& culprit, bool inSourceFolder);

// True when the file the culprit names as missing is a plain file in `folder`: it was left
// behind when the queued file was copied into the system folder.
bool MissingFileIsInFolder(const DependencyCulprit& culprit, const std::wstring& folder);

}  // namespace kestrave
