#include "pe_image.h"

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

bool ReadAt(HANDLE file, LONG offset, void* buffer, DWORD size) {
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN))
        return false;
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
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

    IMAGE_DOS_HEADER dos{};
    if (!ReadAt(file.get(), 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        dos.e_lfanew <= 0)
        return {ImageKind::NotALibrary};
    struct {
        DWORD signature;
        IMAGE_FILE_HEADER file;
        WORD optionalMagic;
    } nt{};
    if (!ReadAt(file.get(), dos.e_lfanew, &nt, sizeof nt) || nt.signature != IMAGE_NT_SIGNATURE)
        return {ImageKind::NotALibrary};
    if (!(nt.file.Characteristics & IMAGE_FILE_DLL) ||
        !(nt.file.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE))
        return {ImageKind::NotALibrary, ERROR_SUCCESS, nt.file.Machine};

    const WORD machine = nt.file.Machine;
    if (machine == IMAGE_FILE_MACHINE_I386 && nt.optionalMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return {ImageKind::X86, ERROR_SUCCESS, machine};
    if (machine == IMAGE_FILE_MACHINE_AMD64 && nt.optionalMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return {ImageKind::X64, ERROR_SUCCESS, machine};
    if (machine == IMAGE_FILE_MACHINE_I386 || machine == IMAGE_FILE_MACHINE_AMD64)
        return {ImageKind::NotALibrary, ERROR_SUCCESS, machine};  // header and machine disagree
    return {ImageKind::OtherMachine, ERROR_SUCCESS, machine};
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
