// The paths of a WM_DROPFILES message. The window takes drops from other programs, the
// user's own included while the program runs elevated, so the block is read as untrusted
// input: its size is known before anything is read, and every path lies within it.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestrave {

// The paths in a DROPFILES block of `size` bytes: the header, then at its offset the paths
// (wide or not, as the header says), each ended by a NUL, the list by one more. Nothing when
// the header does not fit, the offset leaves the block or falls into the header, or the list
// is not ended within the block.
std::optional<std::vector<std::wstring>> PathsInDropBlock(const BYTE* block, std::size_t size);

// The paths of a dropped HDROP, checked as above, after which the drop is freed. An HDROP that
// is no global block of this process is read only as far as the pages it lies in reach, and is
// left alone: freeing what the heap did not hand out could bring the program down.
std::vector<std::wstring> TakeDroppedPaths(HDROP drop);

}  // namespace kestrave
