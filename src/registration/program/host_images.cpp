#include "host_images.h"

#include <sddl.h>

#include "batch_report.h"
#include "host_folder_names.h"
#include "host_folder_sweep.h"
#include "inflate.h"
#include "system_random.h"

namespace kestrave {
namespace {

// Administrators and the system alone; nothing is inherited from above.

std::vector<UCHAR> CarriedHost(HMODULE module, const wchar_t* name) {
    HRSRC found = FindResourceW(module, name, kPackedProgramType);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* packed = loaded ? LockResource(loaded) : nullptr;
    return packed ? InflateChecked(packed, SizeofResource(module, found)) : std::vector<UCHAR>();
}

}  // namespace

ProgramHostImages::~ProgramHostImages() {
    held_.clear();
    for (const std::wstring& path : written_)
        DeleteFileW(path.c_str());
    folderHold_.reset();
    if (!folder_.empty())
        RemoveDirectoryW(folder_.c_str());
}

DWORD ProgramHostImages::MakeFolder() {
    if (!folder_.empty())
        return ERROR_SUCCESS;
    // The same folder the start-up sweep looks in, found the same way.
    const std::wstring base = SystemProgramDataFolder();
    if (base.empty())
        return ERROR_PATH_NOT_FOUND;
    DWORD error = ERROR_SUCCESS;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kHostFolderAccess, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        error = GetLastError();
        return error;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    error = ERROR_ALREADY_EXISTS;
    // A folder of that name that is already there may be anybody's: never use one.
    for (int attempt = 0; attempt < 8 && error == ERROR_ALREADY_EXISTS; ++attempt) {
        const std::wstring digits = RandomHexDigits(kHostFolderRandomDigits, error);
        if (digits.empty())
            break;
        const std::wstring candidate = base + L"\\" + kHostFolderPrefix + digits;
        if (!CreateDirectoryW(candidate.c_str(), &security)) {
            error = GetLastError();
            continue;
        }
        // Held open from now on: a folder that cannot be opened for deletion belongs to a run
        // that is not over, which the start-up sweep leaves alone.
        folderHold_.reset(CreateFileW(
            candidate.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!folderHold_) {
            // Another run's start-up sweep may have taken the new, empty folder for a stale one
            // in the moment before it was held: a fresh name is made instead.
            RemoveDirectoryW(candidate.c_str());
            error = ERROR_ALREADY_EXISTS;
            continue;
        }
        folder_ = candidate;
        error = ERROR_SUCCESS;
    }
    LocalFree(descriptor);
    return error;
}

DWORD ProgramHostImages::Write(const std::wstring& path, const std::vector<UCHAR>& bytes) {
    {
        FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            DWORD error = GetLastError();
            return error;
        }
        written_.push_back(path);
        DWORD done = 0;
        if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done,
                       nullptr)) {
            DWORD error = GetLastError();
            return error;
        }
        if (done != bytes.size())
            return ERROR_WRITE_FAULT;
    }
    // The system cannot start a program from a file somebody holds open for writing, so the
    // hold that stays only reads; nobody may write or delete the file while it is held. What it
    // holds is read back whole: the host that runs is the one carried, whatever happened
    // between the write and the hold.
    FileHandle hold(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hold) {
        DWORD error = GetLastError();
        return error;
    }
    std::vector<UCHAR> held(bytes.size() + 1);
    DWORD read = 0;
    if (!ReadFile(hold.get(), held.data(), static_cast<DWORD>(held.size()), &read, nullptr)) {
        DWORD error = GetLastError();
        return error;
    }
    held.resize(read);
    if (held != bytes)
        return ERROR_FILE_INVALID;
    held_.push_back(std::move(hold));
    return ERROR_SUCCESS;
}

std::wstring ProgramHostImages::ImageFor(ImageKind kind, std::wstring& whyNot) {
    std::wstring& image = kind == ImageKind::X64 ? x64_ : x86_;
    if (!image.empty())
        return image;
#if defined(_WIN64)
    if (kind != ImageKind::X64) {
        whyNot = kNeeds32BitProgramReason;
        return {};
    }
#else
    if (kind == ImageKind::X64 && !WindowsRuns64BitPrograms()) {
        whyNot = k64BitOn32BitWindowsReason;
        return {};
    }
#endif
    // Carried packed, like the pictures: unpacked, each is a large part of the program's size.
    const bool x64 = kind == ImageKind::X64;
    const std::vector<UCHAR> bytes = CarriedHost(module_, x64 ? kHost64Resource : kHost32Resource);
    DWORD error = bytes.empty() ? ERROR_RESOURCE_NAME_NOT_FOUND : MakeFolder();
    const std::wstring path = folder_ + L"\\" + (x64 ? kHost64FileName : kHost32FileName);
    if (error == ERROR_SUCCESS)
        error = Write(path, bytes);
    if (error != ERROR_SUCCESS) {
        whyNot = HostNotStartedReason(error);
        return {};
    }
    image = path;
    return image;
}

}  // namespace kestrave
