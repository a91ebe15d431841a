#include "host_folder_sweep.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cwchar>
#include <vector>

#include "handles.h"
#include "host_folder_names.h"
#include "system_random.h"

namespace kestrave {
namespace {

bool IsLowercaseHexDigit(wchar_t ch) {
    return (ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f');
}

bool IsLinkOrNotAFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Marks the file or empty folder open in `handle` for deletion when its last handle closes.
// Through the handle, so that what is deleted is what was checked, not what a path names now.
bool DeleteByHandle(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

enum class HostFileStep { Deleted, Absent, Refused };

// Deletes one host file of a held folder: only a plain file (not a link, not a folder), and only
// when no run holds it. A host file that is in use means its run is not over.
HostFileStep DeleteHostFile(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? HostFileStep::Absent : HostFileStep::Refused;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info))
        return HostFileStep::Refused;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return HostFileStep::Refused;
    return DeleteByHandle(file.get()) ? HostFileStep::Deleted : HostFileStep::Refused;
}

// One folder whose name is ours. Held open without delete sharing from the first check to the
// last, so that it cannot be renamed, or swapped for a link, in between.
bool SweepFolder(const std::wstring& folder, const OwnerRule& ownerRule) {
    // A run that is not over holds its folder open without delete sharing: the open fails with
    // a sharing violation, and the folder is passed over like any other that will not open.
    FileHandle held(CreateFileW(folder.c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
    if (!held)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(held.get(), &info) || IsLinkOrNotAFolder(info.dwFileAttributes))
        return false;

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(held.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const LocalMemory descriptorMemory(descriptor);
    if (!ownerRule(descriptor))
        return false;

    for (const wchar_t* name : {kHost32FileName, kHost64FileName}) {
        if (DeleteHostFile(folder + L"\\" + name) == HostFileStep::Refused)
            return false;
    }
    // Fails while anything else is in the folder: what we did not write stays, and so does the
    // folder holding it.
    if (!DeleteByHandle(held.get()))
        return false;
    held.reset();
    return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool IsHostFolderName(const std::wstring& name) {
    const size_t prefixLength = wcslen(kHostFolderPrefix);
    if (name.size() != prefixLength + kHostFolderRandomDigits ||
        name.compare(0, prefixLength, kHostFolderPrefix) != 0)
        return false;
    for (size_t i = prefixLength; i < name.size(); ++i) {
        if (!IsLowercaseHexDigit(name[i]))
            return false;
    }
    return true;
}

bool IsOwnedByAdministratorsOrSystem(PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!descriptor || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner ||
        !IsValidSid(owner))
        return false;
    return IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
           IsWellKnownSid(owner, WinLocalSystemSid);
}

bool IsOwnedAsOurRunsOwnTheirFolders(PSECURITY_DESCRIPTOR descriptor, PSID madeByUs) {
    if (!descriptor)
        return false;
    if (IsOwnedByAdministratorsOrSystem(descriptor))
        return true;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !IsValidSid(owner))
        return false;
    if (madeByUs && IsValidSid(madeByUs) && EqualSid(owner, madeByUs))
        return true;
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken))
        return false;
    const KernelHandle token(rawToken);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenOwner, nullptr, 0, &size);
    if (size < sizeof(TOKEN_OWNER))
        return false;
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), TokenOwner, buffer.data(), size, &size))
        return false;
    const PSID ours = reinterpret_cast<const TOKEN_OWNER*>(buffer.data())->Owner;
    return ours && IsValidSid(ours) && EqualSid(owner, ours);
}

std::vector<BYTE> OwnerOfAFolderMadeIn(const std::wstring& base) {
    DWORD error = ERROR_SUCCESS;
    const std::wstring digits = RandomHexDigits(kHostFolderRandomDigits, error);
    if (base.empty() || digits.empty())
        return {};
    // Not a run's name, so that no sweep takes it for one; made as a run makes its folder.
    const std::wstring probe = base + L"\\" + kHostFolderPrefix + L"owner-" + digits;
    PSECURITY_DESCRIPTOR access = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kHostFolderAccess, SDDL_REVISION_1,
                                                              &access, nullptr))
        return {};
    const LocalMemory accessMemory(access);
    SECURITY_ATTRIBUTES security{sizeof security, access, FALSE};
    if (!CreateDirectoryW(probe.c_str(), &security))
        return {};
    const FileHandle folder(
        CreateFileW(probe.c_str(), DELETE | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder)
        return {};
    std::vector<BYTE> owner;
    PSID found = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &found, nullptr,
                        nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
        const LocalMemory descriptorMemory(descriptor);
        if (found && IsValidSid(found)) {
            const BYTE* bytes = static_cast<const BYTE*>(found);
            owner.assign(bytes, bytes + GetLengthSid(found));
        }
    }
    DeleteByHandle(folder.get());
    return owner;
}

int SweepHostFolders(const std::wstring& base) {
    std::vector<BYTE> madeByUs = OwnerOfAFolderMadeIn(base);
    return SweepHostFolders(base, [&madeByUs](PSECURITY_DESCRIPTOR descriptor) {
        return IsOwnedAsOurRunsOwnTheirFolders(descriptor,
                                               madeByUs.empty() ? nullptr : madeByUs.data());
    });
}

int SweepHostFolders(const std::wstring& base, const OwnerRule& ownerRule) {
    if (base.empty())
        return 0;
    WIN32_FIND_DATAW found{};
    FindHandle find(FindFirstFileExW((base + L"\\" + kHostFolderPrefix + L"*").c_str(),
                                     FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!find)
        return 0;
    int removed = 0;
    do {
        // What the listing says is checked again on the opened folder itself; a link is not even
        // opened.
        if (!IsHostFolderName(found.cFileName) || IsLinkOrNotAFolder(found.dwFileAttributes))
            continue;
        if (SweepFolder(base + L"\\" + found.cFileName, ownerRule))
            ++removed;
    } while (FindNextFileW(find.get(), &found));
    return removed;
}

std::wstring SystemProgramDataFolder() {
    // The folder the known-folder id FOLDERID_ProgramData names, asked for by its older CSIDL:
    // the answer comes in a buffer of ours rather than in the COM allocator's memory.
    wchar_t path[MAX_PATH]{};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_DONT_VERIFY, nullptr,
                                SHGFP_TYPE_CURRENT, path)))
        return {};
    return path;
}

void SweepOldHostFolders() {
    SweepHostFolders(SystemProgramDataFolder());
}

}  // namespace kestrave
