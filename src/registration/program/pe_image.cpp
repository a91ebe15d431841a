#include "pe_image.h"

#include <cstddef>
#include <cstring>

#include "handles.h"

namespace kestrave {
namespace {

// A 32-bit program on 64-bit Windows sees SysWOW64 where System32 is named; a header read may
// look past that, on this thread and for as long as this object lives.
class NativeFileSystemView {
  public:
    explicit NativeFileSystemView(bool wanted) {
#if !defined(_WIN64)
        BOOL wow64 = FALSE;
        if (wanted && IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
            active_ = Wow64DisableWow64FsRedirection(&old_) != FALSE;
#else
        (void)wanted;
#endif
    }
    ~NativeFileSystemView() {
#if !defined(_WIN64)
        if (active_)
            Wow64RevertWow64FsRedirection(old_);
#endif
    }
    NativeFileSystemView(const NativeFileSystemView&) = delete;
    NativeFileSystemView& operator=(const NativeFileSystemView&) = delete;

  private:
    void* old_ = nullptr;
    bool active_ = false;
};

bool ReadAt(HANDLE file, LONGLONG offset, void* buffer, DWORD size) {
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN))
        return false;
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

bool IsPowerOfTwo(DWORD value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// The fields of both optional header layouts that the checks below read.
struct LayoutFields {
    DWORD sectionAlignment;
    DWORD fileAlignment;
    DWORD sizeOfImage;
    DWORD sizeOfHeaders;
    DWORD directoryCount;
};

// Whether the optional header holds every field it claims, and the sections lie where the file
// and the image have room for them. The loader refuses a file that fails any of this, so such a
// file is no server: copying it would only put a file into the system folder that cannot load.
template <typename OptionalHeader>
bool HeadersHoldTogether(HANDLE file, LONGLONG optionalAt, const IMAGE_FILE_HEADER& header,
                         LONGLONG fileSize) {
    constexpr DWORD kFixedSize = offsetof(OptionalHeader, DataDirectory);
    if (header.SizeOfOptionalHeader < kFixedSize)
        return false;
    OptionalHeader optional{};
    const DWORD readSize = header.SizeOfOptionalHeader < sizeof optional
                               ? header.SizeOfOptionalHeader
                               : sizeof optional;
    if (!ReadAt(file, optionalAt, &optional, readSize))
        return false;
    const LayoutFields layout{optional.SectionAlignment, optional.FileAlignment,
                              optional.SizeOfImage, optional.SizeOfHeaders,
                              optional.NumberOfRvaAndSizes};
    // Entries past the sixteenth are not read by anybody, but those claimed must be there.
    const ULONGLONG directories = layout.directoryCount < IMAGE_NUMBEROF_DIRECTORY_ENTRIES
                                      ? layout.directoryCount
                                      : IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    if (kFixedSize + directories * sizeof(IMAGE_DATA_DIRECTORY) > header.SizeOfOptionalHeader)
        return false;
    if (!IsPowerOfTwo(layout.fileAlignment) || !IsPowerOfTwo(layout.sectionAlignment) ||
        layout.sectionAlignment < layout.fileAlignment)
        return false;
    if (layout.sizeOfImage == 0 || layout.sizeOfHeaders > layout.sizeOfImage)
        return false;

    const LONGLONG sectionsAt = optionalAt + header.SizeOfOptionalHeader;
    const LONGLONG sectionsEnd =
        sectionsAt + static_cast<LONGLONG>(header.NumberOfSections) * sizeof(IMAGE_SECTION_HEADER);
    if (sectionsEnd > fileSize)
        return false;
    for (WORD i = 0; i < header.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section{};
        if (!ReadAt(file, sectionsAt + static_cast<LONGLONG>(i) * sizeof section, &section,
                    sizeof section))
            return false;
        const ULONGLONG rawEnd =
            static_cast<ULONGLONG>(section.PointerToRawData) + section.SizeOfRawData;
        if (section.SizeOfRawData != 0 && rawEnd > static_cast<ULONGLONG>(fileSize))
            return false;
        const DWORD virtualSize =
            section.Misc.VirtualSize != 0 ? section.Misc.VirtualSize : section.SizeOfRawData;
        if (static_cast<ULONGLONG>(section.VirtualAddress) + virtualSize > layout.sizeOfImage)
            return false;
    }
    return true;
}

}  // namespace

ImageInfo ReadImageInfo(const std::wstring& path, bool nativeView) {
    FileHandle file;
    {
        NativeFileSystemView view(nativeView);
        file.reset(CreateFileW(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!file) {
        DWORD error = GetLastError();
        return {ImageKind::Unreadable, error};
    }
    return ReadImageInfo(file.get());
}

ImageInfo ReadImageInfo(HANDLE file) {
    LARGE_INTEGER fileSize{};
    if (!GetFileSizeEx(file, &fileSize)) {
        DWORD error = GetLastError();
        return {ImageKind::Unreadable, error};
    }

    IMAGE_DOS_HEADER dos{};
    if (!ReadAt(file, 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        dos.e_lfanew <= 0)
        return {ImageKind::NotALibrary};
    struct {
        DWORD signature;
        IMAGE_FILE_HEADER file;
        WORD optionalMagic;
    } nt{};
    if (!ReadAt(file, dos.e_lfanew, &nt, sizeof nt) || nt.signature != IMAGE_NT_SIGNATURE)
        return {ImageKind::NotALibrary};
    if (!(nt.file.Characteristics & IMAGE_FILE_DLL) ||
        !(nt.file.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE))
        return {ImageKind::NotALibrary, ERROR_SUCCESS, nt.file.Machine};

    const WORD machine = nt.file.Machine;
    const LONGLONG optionalAt = dos.e_lfanew + sizeof nt.signature + sizeof nt.file;
    ImageKind kind = ImageKind::NotALibrary;  // header and machine disagree
    if (machine == IMAGE_FILE_MACHINE_I386 && nt.optionalMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        if (HeadersHoldTogether<IMAGE_OPTIONAL_HEADER32>(file, optionalAt, nt.file,
                                                         fileSize.QuadPart))
            kind = ImageKind::X86;
    } else if (machine == IMAGE_FILE_MACHINE_AMD64 &&
               nt.optionalMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        if (HeadersHoldTogether<IMAGE_OPTIONAL_HEADER64>(file, optionalAt, nt.file,
                                                         fileSize.QuadPart))
            kind = ImageKind::X64;
    } else if (machine != IMAGE_FILE_MACHINE_I386 && machine != IMAGE_FILE_MACHINE_AMD64) {
        kind = ImageKind::OtherMachine;
    }
    return {kind, ERROR_SUCCESS, machine};
}

bool WindowsRuns64BitPrograms() {
#if defined(_WIN64)
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

}  // namespace kestrave
