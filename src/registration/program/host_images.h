// Where the registration host programs come from: the program carries both inside itself and
// writes them into a folder that only administrators can change. No host is ever read back from
// a path somebody else could write, the program's own included: a running exe can be renamed
// and another put at its path.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "handles.h"
#include "pe_image.h"

namespace kestrave {

// The bitness of this program.
#if defined(_WIN64)
inline constexpr ImageKind kProgramImageKind = ImageKind::X64;
#else
inline constexpr ImageKind kProgramImageKind = ImageKind::X86;
#endif

// The resources the hosts are carried in, deflated (see inflate.h).
inline constexpr wchar_t kHost32Resource[] = L"REGISTRATION_HOST_X86";
inline constexpr wchar_t kHost64Resource[] = L"REGISTRATION_HOST_X64";
inline constexpr wchar_t kPackedProgramType[] = L"PACKED_EXE";

// Where the host programs are.
class HostImages {
  public:
    virtual ~HostImages() = default;
    // The path of a host program for servers of `kind` (X86 or X64), or empty with `whyNot`.
    virtual std::wstring ImageFor(ImageKind kind, std::wstring& whyNot) = 0;
};

// The hosts the program carries, each written when first needed into a folder of its own under
// the system's ProgramData (see host_folder_names.h): a random name, administrators and the
// system alone may change it, so that a server's loads by name never reach the program's folder
// and nobody swaps a host under an elevated program. The folder and each host are held open,
// without delete (or write) sharing, until this object removes them.
class ProgramHostImages : public HostImages {
  public:
    // `module` holds the resources: the program itself unless a test says otherwise.
    explicit ProgramHostImages(HMODULE module = nullptr) : module_(module) {}
    ~ProgramHostImages() override;
    ProgramHostImages(const ProgramHostImages&) = delete;
    ProgramHostImages& operator=(const ProgramHostImages&) = delete;

    std::wstring ImageFor(ImageKind kind, std::wstring& whyNot) override;

    // The folder the hosts are written to; empty before the first host was needed.
    const std::wstring& Folder() const { return folder_; }

  private:
    DWORD MakeFolder();
    DWORD Write(const std::wstring& path, const std::vector<UCHAR>& bytes);

    HMODULE module_;
    std::wstring folder_;
    FileHandle folderHold_;
    std::wstring x86_, x64_;
    std::vector<std::wstring> written_;
    std::vector<FileHandle> held_;
};

}  // namespace kestrave
