#include "import_reader.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "handles.h"

namespace kestrave {
namespace {

// Bounds that no real library comes near; a table beyond them is taken as malformed rather
// than followed for minutes.
constexpr std::size_t kMaxImportedLibraries = 4096;
constexpr std::size_t kMaxFunctionsPerLibrary = 65536;
constexpr std::size_t kMaxNameLength = 1024;
constexpr std::size_t kMaxSections = 96;  // the loader's own limit
constexpr DWORD kMaxManifestSize = 256 * 1024;
constexpr ULONGLONG kMaxMappedSize = 1ull << 30;
constexpr WORD kManifestResourceType = 24;  // RT_MANIFEST
constexpr WORD kLibraryManifestId = 2;      // ISOLATIONAWARE_MANIFEST_RESOURCE_ID

class MappedView {
  public:
    explicit MappedView(const void* at) : at_(at) {}
    ~MappedView() {
        if (at_)
            UnmapViewOfFile(at_);
    }
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    const std::uint8_t* get() const { return static_cast<const std::uint8_t*>(at_); }

  private:
    const void* at_;
};

struct Section {
    DWORD virtualAddress;
    DWORD virtualSize;
    DWORD rawOffset;
    DWORD rawSize;
};

// The image as a file: addresses relative to the image (RVAs) are turned into file offsets
// through the section table, and nothing is read that the file does not hold.
class ImageFile {
  public:
    ImageFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <typename T>
    bool ReadAtOffset(std::size_t offset, T& out) const {
        if (offset > size_ || size_ - offset < sizeof(T))
            return false;
        std::memcpy(&out, data_ + offset, sizeof(T));
        return true;
    }

    // Where `rva` lies in the file, and how many bytes of the same section's data (or of the
    // headers) follow it there.
    struct Span {
        std::size_t offset;
        std::size_t room;
    };
    std::optional<Span> Locate(DWORD rva) const {
        if (rva < headersSize_)
            return Span{rva, headersSize_ - rva};
        for (const Section& s : sections_) {
            const DWORD span = std::max(s.virtualSize, s.rawSize);
            if (rva < s.virtualAddress || rva - s.virtualAddress >= span)
                continue;
            const std::size_t into = rva - s.virtualAddress;
            const std::size_t offset = std::size_t{s.rawOffset} + into;
            if (into >= s.rawSize || offset >= size_)
                return std::nullopt;
            return Span{offset, std::min<std::size_t>(s.rawSize - into, size_ - offset)};
        }
        return std::nullopt;
    }

    // The file offset of `length` bytes at `rva`, all inside one section's data (or the
    // headers).
    std::optional<std::size_t> Offset(DWORD rva, std::size_t length) const {
        const auto span = Locate(rva);
        if (!span || span->room < length)
            return std::nullopt;
        return span->offset;
    }

    template <typename T>
    bool Read(DWORD rva, T& out) const {
        const auto offset = Offset(rva, sizeof(T));
        return offset && ReadAtOffset(*offset, out);
    }

    // A NUL-terminated name without control characters. Library names may hold spaces and,
    // in the system's ANSI code page, letters beyond ASCII (a vendor's own helper library may
    // be named in Chinese). It may run on only as far as its section's data goes.
    bool ReadName(DWORD rva, std::string& out) const {
        const auto span = Locate(rva);
        if (!span)
            return false;
        const char* text = reinterpret_cast<const char*>(data_ + span->offset);
        const void* end = std::memchr(text, 0, std::min(span->room, kMaxNameLength + 1));
        if (!end)
            return false;
        out.assign(text, static_cast<const char*>(end));
        return !out.empty() && std::all_of(out.begin(), out.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return byte >= 0x20 && byte != 0x7F;
        });
    }

    bool ReadBytesAtOffset(std::size_t offset, void* out, std::size_t length) const {
        if (offset > size_ || size_ - offset < length)
            return false;
        std::memcpy(out, data_ + offset, length);
        return true;
    }

    bool LoadHeaders(ImportReading& reading);
    bool ReadImportTable(ImportReading& reading) const;
    bool ReadDelayImportTable(ImportReading& reading) const;
    bool ReadExportTable(ImportReading& reading) const;
    bool ReadManifest(ImportReading& reading) const;

  private:
    bool ReadThunks(DWORD rva, ImportedLibrary& library) const;

    const std::uint8_t* data_;
    std::size_t size_;
    DWORD headersSize_ = 0;
    ULONGLONG imageBase_ = 0;
    bool is64_ = false;
    std::vector<Section> sections_;
    IMAGE_DATA_DIRECTORY directories_[IMAGE_NUMBEROF_DIRECTORY_ENTRIES] = {};
};

bool ImageFile::LoadHeaders(ImportReading& reading) {
    IMAGE_DOS_HEADER dos{};
    if (!ReadAtOffset(0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0) {
        reading.status = ImportReadStatus::NotAnImage;
        return false;
    }
    const std::size_t ntAt = static_cast<std::size_t>(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    WORD magic = 0;
    if (!ReadAtOffset(ntAt, signature) || signature != IMAGE_NT_SIGNATURE ||
        !ReadAtOffset(ntAt + 4, header) || !ReadAtOffset(ntAt + 4 + sizeof header, magic)) {
        reading.status = ImportReadStatus::NotAnImage;
        return false;
    }
    reading.machine = header.Machine;
    reading.status = ImportReadStatus::Malformed;  // until everything below is read
    const std::size_t optionalAt = ntAt + 4 + sizeof header;
    DWORD directoryCount = 0;
    std::size_t directoriesAt = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        IMAGE_OPTIONAL_HEADER64 optional{};
        const std::size_t fixed = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
        if (header.SizeOfOptionalHeader < fixed || !ReadBytesAtOffset(optionalAt, &optional, fixed))
            return false;
        is64_ = true;
        imageBase_ = optional.ImageBase;
        headersSize_ = optional.SizeOfHeaders;
        directoryCount = optional.NumberOfRvaAndSizes;
        directoriesAt = optionalAt + fixed;
    } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        IMAGE_OPTIONAL_HEADER32 optional{};
        const std::size_t fixed = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
        if (header.SizeOfOptionalHeader < fixed || !ReadBytesAtOffset(optionalAt, &optional, fixed))
            return false;
        imageBase_ = optional.ImageBase;
        headersSize_ = optional.SizeOfHeaders;
        directoryCount = optional.NumberOfRvaAndSizes;
        directoriesAt = optionalAt + fixed;
    } else {
        reading.status = ImportReadStatus::NotAnImage;
        return false;
    }
    reading.is64 = is64_;

    // Only the directories that the optional header has room for count.
    const std::size_t roomForDirectories =
        (header.SizeOfOptionalHeader - (directoriesAt - optionalAt)) / sizeof(IMAGE_DATA_DIRECTORY);
    directoryCount = static_cast<DWORD>(std::min<std::size_t>(
        {directoryCount, roomForDirectories, IMAGE_NUMBEROF_DIRECTORY_ENTRIES}));
    for (DWORD i = 0; i < directoryCount; ++i) {
        if (!ReadAtOffset(directoriesAt + i * sizeof(IMAGE_DATA_DIRECTORY), directories_[i]))
            return false;
    }

    if (header.NumberOfSections > kMaxSections)
        return false;
    const std::size_t sectionsAt = optionalAt + header.SizeOfOptionalHeader;
    for (WORD i = 0; i < header.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER raw{};
        if (!ReadAtOffset(sectionsAt + i * sizeof raw, raw))
            return false;
        sections_.push_back(
            {raw.VirtualAddress, raw.Misc.VirtualSize, raw.PointerToRawData, raw.SizeOfRawData});
    }
    // Headers that claim more than the file holds, or reach into the first section, are cut
    // to what is really there.
    headersSize_ = static_cast<DWORD>(std::min<std::size_t>(headersSize_, size_));
    for (const Section& s : sections_)
        headersSize_ = std::min(headersSize_, s.virtualAddress);
    return true;
}

bool ImageFile::ReadThunks(DWORD rva, ImportedLibrary& library) const {
    const std::size_t thunkSize = is64_ ? 8 : 4;
    for (std::size_t i = 0;; ++i) {
        if (i >= kMaxFunctionsPerLibrary)
            return false;
        const DWORD at = rva + static_cast<DWORD>(i * thunkSize);
        if (at < rva)
            return false;  // wrapped round
        ULONGLONG thunk = 0;
        if (is64_) {
            if (!Read(at, thunk))
                return false;
        } else {
            DWORD thunk32 = 0;
            if (!Read(at, thunk32))
                return false;
            thunk = thunk32;
            if (thunk & IMAGE_ORDINAL_FLAG32)
                thunk = (thunk & 0xFFFF) | IMAGE_ORDINAL_FLAG64;
        }
        if (thunk == 0)
            return true;
        ImportedFunction function;
        if (thunk & IMAGE_ORDINAL_FLAG64) {
            function.ordinal = static_cast<WORD>(thunk & 0xFFFF);
        } else {
            if (thunk > 0xFFFFFFFFull)
                return false;
            // IMAGE_IMPORT_BY_NAME: a two-byte hint, then the name.
            if (!ReadName(static_cast<DWORD>(thunk) + 2, function.name))
                return false;
        }
        library.functions.push_back(std::move(function));
    }
}

bool ImageFile::ReadImportTable(ImportReading& reading) const {
    const IMAGE_DATA_DIRECTORY& directory = directories_[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return true;
    for (std::size_t i = 0;; ++i) {
        if (i >= kMaxImportedLibraries)
            return false;
        IMAGE_IMPORT_DESCRIPTOR descriptor{};
        if (!Read(directory.VirtualAddress + static_cast<DWORD>(i * sizeof descriptor), descriptor))
            return false;
        if (descriptor.Name == 0 && descriptor.FirstThunk == 0)
            return true;
        ImportedLibrary library;
        if (!ReadName(descriptor.Name, library.name))
            return false;
        const DWORD thunks =
            descriptor.OriginalFirstThunk ? descriptor.OriginalFirstThunk : descriptor.FirstThunk;
        if (!ReadThunks(thunks, library))
            return false;
        reading.imports.push_back(std::move(library));
    }
}

bool ImageFile::ReadDelayImportTable(ImportReading& reading) const {
    const IMAGE_DATA_DIRECTORY& directory = directories_[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    if (directory.VirtualAddress == 0)
        return true;
    // The table ends with an empty descriptor, or where the directory says it ends.
    const std::size_t listed = directory.Size / sizeof(IMAGE_DELAYLOAD_DESCRIPTOR);
    for (std::size_t i = 0;; ++i) {
        if (listed > 0 && i == listed)
            return true;
        if (i >= kMaxImportedLibraries)
            return false;
        IMAGE_DELAYLOAD_DESCRIPTOR descriptor{};
        if (!Read(directory.VirtualAddress + static_cast<DWORD>(i * sizeof descriptor), descriptor))
            return false;
        if (descriptor.DllNameRVA == 0)
            return true;
        // Old 32-bit linkers wrote addresses, not RVAs; the attribute tells which.
        auto toRva = [&](DWORD value) -> std::optional<DWORD> {
            if (descriptor.Attributes.RvaBased || value == 0)
                return value;
            if (is64_ || value < imageBase_ || value - imageBase_ > 0xFFFFFFFFull)
                return std::nullopt;
            return static_cast<DWORD>(value - imageBase_);
        };
        const auto name = toRva(descriptor.DllNameRVA);
        const auto names = toRva(descriptor.ImportNameTableRVA);
        ImportedLibrary library;
        library.delayed = true;
        if (!name || !names || !ReadName(*name, library.name))
            return false;
        if (*names != 0 && !ReadThunks(*names, library))
            return false;
        reading.imports.push_back(std::move(library));
    }
}

bool ImageFile::ReadExportTable(ImportReading& reading) const {
    const IMAGE_DATA_DIRECTORY& directory = directories_[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0)
        return true;
    IMAGE_EXPORT_DIRECTORY table{};
    if (!Read(directory.VirtualAddress, table))
        return false;
    // Ordinals are 16 bits wide: no export table holds more.
    if (table.NumberOfFunctions > 0x10000 || table.NumberOfNames > 0x10000)
        return false;
    ExportTable& exports = reading.exports;
    exports.ordinalBase = table.Base;
    exports.addresses.resize(table.NumberOfFunctions);
    exports.forwarders.resize(table.NumberOfFunctions);
    const ULONGLONG forwardersFrom = directory.VirtualAddress;
    const ULONGLONG forwardersTo = forwardersFrom + directory.Size;
    for (DWORD i = 0; i < table.NumberOfFunctions; ++i) {
        DWORD address = 0;
        if (!Read(table.AddressOfFunctions + i * 4, address))
            return false;
        exports.addresses[i] = address;
        // An address inside the export directory is the text of a forwarder.
        if (address >= forwardersFrom && address < forwardersTo &&
            !ReadName(address, exports.forwarders[i]))
            return false;
    }
    exports.names.reserve(table.NumberOfNames);
    for (DWORD i = 0; i < table.NumberOfNames; ++i) {
        DWORD nameRva = 0;
        WORD index = 0;
        std::string name;
        if (!Read(table.AddressOfNames + i * 4, nameRva) ||
            !Read(table.AddressOfNameOrdinals + i * 2, index) || !ReadName(nameRva, name))
            return false;
        if (index >= table.NumberOfFunctions)
            return false;
        exports.names.emplace_back(std::move(name), index);
    }
    std::sort(exports.names.begin(), exports.names.end());
    return true;
}

bool ImageFile::ReadManifest(ImportReading& reading) const {
    const IMAGE_DATA_DIRECTORY& directory = directories_[IMAGE_DIRECTORY_ENTRY_RESOURCE];
    if (directory.VirtualAddress == 0)
        return true;
    const DWORD root = directory.VirtualAddress;
    // One level of the resource tree: the entry with `id`, or the first one when `id` is 0.
    // Gives the entry's offset from the root, or nothing when there is no such entry.
    auto find = [&](DWORD directoryOffset, WORD id, bool wantDirectory,
                    bool& bad) -> std::optional<DWORD> {
        IMAGE_RESOURCE_DIRECTORY level{};
        if (!Read(root + directoryOffset, level)) {
            bad = true;
            return std::nullopt;
        }
        const DWORD count = DWORD{level.NumberOfNamedEntries} + level.NumberOfIdEntries;
        for (DWORD i = 0; i < count; ++i) {
            IMAGE_RESOURCE_DIRECTORY_ENTRY entry{};
            if (!Read(root + directoryOffset + sizeof level + i * sizeof entry, entry)) {
                bad = true;
                return std::nullopt;
            }
            if (id != 0 && (entry.NameIsString || entry.Id != id))
                continue;
            if (entry.DataIsDirectory != wantDirectory) {
                bad = true;
                return std::nullopt;
            }
            const DWORD offset =
                wantDirectory ? DWORD{entry.OffsetToDirectory} : entry.OffsetToData;
            return offset;
        }
        return std::nullopt;
    };
    bool bad = false;
    const auto types = find(0, kManifestResourceType, true, bad);
    if (!types)
        return !bad;
    const auto names = find(*types, kLibraryManifestId, true, bad);
    if (!names)
        return !bad;
    const auto data = find(*names, 0, false, bad);
    if (!data)
        return !bad;
    IMAGE_RESOURCE_DATA_ENTRY entry{};
    if (!Read(root + *data, entry) || entry.Size > kMaxManifestSize)
        return false;
    const auto offset = Offset(entry.OffsetToData, entry.Size);
    if (!offset)
        return false;
    reading.manifest.assign(reinterpret_cast<const char*>(data_ + *offset), entry.Size);
    return true;
}

}  // namespace

ImportReading ReadImportsFromBytes(const std::uint8_t* data, std::size_t size) {
    ImportReading reading;
    ImageFile image(data, size);
    if (!image.LoadHeaders(reading))
        return reading;
    if (!image.ReadImportTable(reading) || !image.ReadDelayImportTable(reading) ||
        !image.ReadExportTable(reading) || !image.ReadManifest(reading)) {
        // Half a table would name libraries and functions that are not really there.
        ImportReading malformed;
        malformed.status = ImportReadStatus::Malformed;
        malformed.machine = reading.machine;
        malformed.is64 = reading.is64;
        return malformed;
    }
    reading.status = ImportReadStatus::Read;
    return reading;
}

ImportReading ReadImports(const std::wstring& path) {
    ImportReading failed;
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        failed.error = GetLastError();
        return failed;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        failed.error = GetLastError();
        return failed;
    }
    if (size.QuadPart < static_cast<LONGLONG>(sizeof(IMAGE_DOS_HEADER)) ||
        static_cast<ULONGLONG>(size.QuadPart) > kMaxMappedSize) {
        failed.status = ImportReadStatus::NotAnImage;
        return failed;
    }
    KernelHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) {
        failed.error = GetLastError();
        return failed;
    }
    MappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view.get()) {
        failed.error = GetLastError();
        return failed;
    }
    return ReadImportsFromBytes(view.get(), static_cast<std::size_t>(size.QuadPart));
}

ExportLookup FindExport(const ExportTable& exports, const ImportedFunction& function) {
    std::size_t index = 0;
    if (function.name.empty()) {
        if (function.ordinal < exports.ordinalBase)
            return {};
        index = function.ordinal - exports.ordinalBase;
    } else {
        auto at = std::lower_bound(exports.names.begin(), exports.names.end(), function.name,
                                   [](const std::pair<std::string, WORD>& entry,
                                      const std::string& name) { return entry.first < name; });
        if (at == exports.names.end() || at->first != function.name)
            return {};
        index = at->second;
    }
    if (index >= exports.addresses.size() || exports.addresses[index] == 0)
        return {};
    return {true, exports.forwarders[index]};
}

}  // namespace kestrave
