#include "dropped_files.h"

#include <cstring>

#include "handles.h"

namespace kestrave {
namespace {

// A path longer than the longest the file system takes is no path.
constexpr std::size_t kLongestPath = 32767;

// Reads units of type Unit from `from` on, one path after another, up to the empty one that
// ends the list; nothing when the block ends first.
template <typename Unit>
std::optional<std::vector<std::basic_string<Unit>>> ListIn(const BYTE* block, std::size_t size,
                                                           std::size_t from) {
    std::vector<std::basic_string<Unit>> list;
    std::basic_string<Unit> current;
    for (std::size_t at = from; at + sizeof(Unit) <= size; at += sizeof(Unit)) {
        Unit unit;
        std::memcpy(&unit, block + at, sizeof unit);  // the offset need not be aligned
        if (unit != 0) {
            if (current.size() == kLongestPath)
                return std::nullopt;
            current.push_back(unit);
            continue;
        }
        if (current.empty())
            return list;
        list.push_back(std::move(current));
        current.clear();
    }
    return std::nullopt;
}

std::wstring Widened(const std::string& narrow) {
    const int length =
        MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), wide.data(),
                            length);
    return wide;
}

// How many bytes from `start` on can be read: the rest of the readable pages it lies in.
std::size_t ReadableFrom(const void* start) {
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(start, &region, sizeof region) != sizeof region)
        return 0;
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE;
    if (region.State != MEM_COMMIT || !(region.Protect & kReadable) ||
        (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)))
        return 0;
    const auto* base = static_cast<const BYTE*>(region.BaseAddress);
    return region.RegionSize - static_cast<std::size_t>(static_cast<const BYTE*>(start) - base);
}

}  // namespace

std::optional<std::vector<std::wstring>> PathsInDropBlock(const BYTE* block, std::size_t size) {
    if (!block || size < sizeof(DROPFILES))
        return std::nullopt;
    DROPFILES header;
    std::memcpy(&header, block, sizeof header);
    if (header.pFiles < sizeof(DROPFILES) || header.pFiles >= size)
        return std::nullopt;
    if (header.fWide)
        return ListIn<wchar_t>(block, size, header.pFiles);
    const auto narrow = ListIn<char>(block, size, header.pFiles);
    if (!narrow)
        return std::nullopt;
    std::vector<std::wstring> paths;
    for (const std::string& path : *narrow)
        paths.push_back(Widened(path));
    return paths;
}

std::vector<std::wstring> TakeDroppedPaths(HDROP drop) {
    if (!drop)
        return {};
    const std::size_t globalSize = GlobalSize(drop);
    if (globalSize == 0) {
        // No block of ours: a number posted to the window, or pages put into this process.
        const auto* pages = reinterpret_cast<const BYTE*>(drop);
        return PathsInDropBlock(pages, ReadableFrom(pages)).value_or(std::vector<std::wstring>{});
    }
    const DropHandle owned(drop);
    const auto* block = static_cast<const BYTE*>(GlobalLock(drop));
    if (!block)
        return {};
    auto paths = PathsInDropBlock(block, globalSize);
    GlobalUnlock(drop);
    return paths.value_or(std::vector<std::wstring>{});
}

}  // namespace kestrave
