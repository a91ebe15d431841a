#include "file_steps.h"

#include <cstring>
#include <vector>

#include "batch_report.h"
#include "path.h"
#include "system_error.h"
#include "system_folders.h"

namespace kestrave {
namespace {

// Flags of every open of a server file: a link is opened as itself, never followed.
constexpr DWORD kOpenAsItself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The path the handle's file has on its volume, in the form a user types (no "\\?\" in front, a
// share as "\\server\share"). Empty when the system cannot say.
std::wstring FinalPathOf(HANDLE file) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(length);
    }
    if (path.rfind(LR"(\\?\UNC\)", 0) == 0)
        return LR"(\\)" + path.substr(8);
    if (path.rfind(LR"(\\?\)", 0) == 0)
        return path.substr(4);
    return path;
}

// `path` with every component in its long form, as a final path gives it; the path itself when
// the system cannot say.
std::wstring LongPathOf(const std::wstring& path) {
    const DWORD length = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (length == 0)
        return path;
    std::wstring longPath(length, L'\0');
    const DWORD written = GetLongPathNameW(path.c_str(), longPath.data(), length);
    if (written == 0 || written >= length)
        return path;
    longPath.resize(written);
    return longPath;
}

// The final path of a folder, asked of the folder itself: a 32-bit program's view of System32
// is another folder by its final path. The folder itself when the system cannot say.
std::wstring FinalFolderOf(const std::wstring& folder) {
    const FileHandle handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
    const std::wstring finalPath = handle ? FinalPathOf(handle.get()) : std::wstring();
    return finalPath.empty() ? folder : finalPath;
}

// A file's kind, size and last write, from its handle alone: the volume is not asked.
bool ReadState(HANDLE file, DWORD& attributes, LARGE_INTEGER& size, FILETIME& lastWrite) {
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileSizeEx(file, &size))
        return false;
    attributes = basic.FileAttributes;
    lastWrite.dwLowDateTime = basic.LastWriteTime.LowPart;
    lastWrite.dwHighDateTime = static_cast<DWORD>(basic.LastWriteTime.HighPart);
    return true;
}

// Opens `path` as itself with `access` and read sharing, and notes what the handle shows. A
// link or a folder is refused; what else is asked of the file is the caller's.
HeldFile OpenAsItself(const std::wstring& path, DWORD access) {
    HeldFile held;
    held.handle.reset(CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  kOpenAsItself | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!held.handle) {
        held.error = GetLastError();
        return held;
    }
    if (!ReadState(held.handle.get(), held.attributes, held.size, held.lastWrite)) {
        held.error = GetLastError();
        held.handle.reset();
        return held;
    }
    held.finalPath = FinalPathOf(held.handle.get());
    held.longName = SplitPath(held.finalPath).name;
    if (held.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        held.refusal = HoldRefusal::Link;
    else if (held.attributes & FILE_ATTRIBUTE_DIRECTORY)
        held.refusal = HoldRefusal::Folder;
    else if (held.finalPath.empty())
        held.refusal = HoldRefusal::Elsewhere;
    else
        held.refusal = HoldRefusal::None;
    return held;
}

// What the handle shows now, to be set against what was noted.
bool StillAsNoted(HANDLE file, const HeldFile& noted) {
    DWORD attributes = 0;
    LARGE_INTEGER size{};
    FILETIME lastWrite{};
    if (!ReadState(file, attributes, size, lastWrite))
        return false;
    return size.QuadPart == noted.size.QuadPart &&
           CompareFileTime(&lastWrite, &noted.lastWrite) == 0;
}

bool Rewind(HANDLE file) {
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

bool ReadChunk(HANDLE file, std::vector<char>& buffer, DWORD& read) {
    return ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) != 0;
}

// Writes everything `source` reads into `target`.
bool CopyBytes(HANDLE source, HANDLE target, DWORD& error) {
    if (!Rewind(source)) {
        error = GetLastError();
        return false;
    }
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!ReadChunk(source, buffer, read)) {
            error = GetLastError();
            return false;
        }
        if (read == 0)
            return true;
        DWORD written = 0;
        if (!WriteFile(target, buffer.data(), read, &written, nullptr) || written != read) {
            error = GetLastError();
            if (error == ERROR_SUCCESS)
                error = ERROR_WRITE_FAULT;
            return false;
        }
    }
}

bool MarkForDeletion(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

// Deletes the file open in `file` with DELETE and attribute access. Read-only, hidden and system
// marks are taken off for the delete; a refused delete puts them back.
DWORD DeleteThroughHandle(HANDLE file, DWORD attributes) {
    constexpr DWORD kGuardMarks =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    FILE_BASIC_INFO basic{};
    const bool unmark = (attributes & kGuardMarks) != 0;
    if (unmark) {
        if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
            DWORD error = GetLastError();
            return error;
        }
        FILE_BASIC_INFO plain = basic;
        plain.FileAttributes =
            (attributes & ~kGuardMarks) ? (attributes & ~kGuardMarks) : FILE_ATTRIBUTE_NORMAL;
        // Times left at zero stay as they are.
        plain.CreationTime.QuadPart = plain.LastAccessTime.QuadPart = 0;
        plain.LastWriteTime.QuadPart = plain.ChangeTime.QuadPart = 0;
        if (!SetFileInformationByHandle(file, FileBasicInfo, &plain, sizeof plain)) {
            DWORD error = GetLastError();
            return error;
        }
    }
    if (MarkForDeletion(file))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (unmark) {
        basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
        basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
        SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    }
    return error;
}

constexpr DWORD kDeleteAccess =
    DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

enum class CheckedDelete { Deleted, NotTheNotedFile, NoTwin, Refused };

// The one way a server file is deleted: opened as itself for deletion, still the file `noted`
// (by identity, kind and name), holding the same bytes as `twin` (another file), and deleted
// through that handle. `error` says why a delete was refused.
CheckedDelete DeleteChecked(const std::wstring& path, const FileIdentity& noted, HANDLE twin,
                            DWORD& error) {
    HeldFile file = OpenAsItself(path, kDeleteAccess);
    if (!file.handle) {
        error = file.error;
        return CheckedDelete::Refused;
    }
    if (file.refusal != HoldRefusal::None || !SameText(file.longName, SplitPath(path).name) ||
        !noted.known || file.Identity() != noted)
        return CheckedDelete::NotTheNotedFile;
    if (CompareHeld(file.handle.get(), twin) != FileKinship::SameBytes)
        return CheckedDelete::NoTwin;
    error = DeleteThroughHandle(file.handle.get(), file.attributes);
    return error == ERROR_SUCCESS ? CheckedDelete::Deleted : CheckedDelete::Refused;
}

}  // namespace

const FileIdentity& HeldFile::Identity() const {
    if (identityRead_)
        return identity_;
    identityRead_ = true;
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle && GetFileInformationByHandle(handle.get(), &info))
        identity_ = {true, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return identity_;
}

std::wstring NameOf(const std::wstring& path) {
    return SplitPath(path).name;
}

HeldFile HoldSource(const std::wstring& path) {
    HeldFile held = OpenAsItself(path, GENERIC_READ);
    // The long form is asked for only when needed: the system finds it component by component.
    if (held.refusal == HoldRefusal::None && !SameText(held.finalPath, path) &&
        !SameText(held.finalPath, LongPathOf(path)))
        held.refusal = HoldRefusal::Elsewhere;
    if (held.refusal != HoldRefusal::None)
        held.handle.reset();
    return held;
}

HeldFile HoldSystemCopy(const std::wstring& viewedPath) {
    HeldFile held = OpenAsItself(viewedPath, GENERIC_READ);
    if (held.refusal == HoldRefusal::None) {
        const std::wstring folder = ParentFolder(viewedPath);
        const std::wstring reached = ParentFolder(held.finalPath);
        if (!SameText(reached, folder) && !SameText(reached, FinalFolderOf(folder)))
            held.refusal = HoldRefusal::Elsewhere;
        else if (!SameText(held.longName, NameOf(viewedPath)))
            held.refusal = HoldRefusal::ShortName;
        else if (held.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
            held.refusal = HoldRefusal::HiddenOrSystem;
    }
    if (held.refusal != HoldRefusal::None)
        held.handle.reset();
    return held;
}

std::wstring SourceHoldFailureReason(const HeldFile& source) {
    switch (source.refusal) {
        case HoldRefusal::None:
            return {};
        case HoldRefusal::Link:
            return kSourceIsLinkReason;
        case HoldRefusal::Folder:
            return kSourceIsFolderReason;
        case HoldRefusal::Elsewhere:
        case HoldRefusal::ShortName:
            return kSourceElsewhereReason;
        case HoldRefusal::HiddenOrSystem:
            return kHiddenSourceReason;
        case HoldRefusal::OpenFailed:
            break;
    }
    return L"无法读取: " + SystemErrorText(source.error);
}

bool Unchanged(const HeldFile& file) {
    return file.handle && StillAsNoted(file.handle.get(), file);
}

std::wstring ShortNameReason(const std::wstring& copyName, const std::wstring& longName) {
    return L"系统文件夹中的 " + copyName + L" 是另一个文件 " + longName + L" 的短名称, 没有使用";
}

FileKinship CompareHeld(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION infoA{}, infoB{};
    if (!GetFileInformationByHandle(a, &infoA) || !GetFileInformationByHandle(b, &infoB))
        return FileKinship::Unreadable;
    if (infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
        infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow)
        return FileKinship::SameFile;
    if (infoA.nFileSizeHigh != infoB.nFileSizeHigh || infoA.nFileSizeLow != infoB.nFileSizeLow)
        return FileKinship::DifferentBytes;
    if (!Rewind(a) || !Rewind(b))
        return FileKinship::Unreadable;

    std::vector<char> bufferA(64 * 1024), bufferB(64 * 1024);
    for (;;) {
        DWORD readA = 0, readB = 0;
        if (!ReadChunk(a, bufferA, readA) || !ReadChunk(b, bufferB, readB))
            return FileKinship::Unreadable;
        if (readA != readB)
            return FileKinship::DifferentBytes;
        if (readA == 0)
            return FileKinship::SameBytes;
        if (std::memcmp(bufferA.data(), bufferB.data(), readA) != 0)
            return FileKinship::DifferentBytes;
    }
}

FileKinship CompareFiles(const std::wstring& a, const std::wstring& b) {
    const HeldFile fileA = OpenAsItself(a, GENERIC_READ);
    const HeldFile fileB = OpenAsItself(b, GENERIC_READ);
    if (!fileA || !fileB)
        return FileKinship::Unreadable;
    return CompareHeld(fileA.handle.get(), fileB.handle.get());
}

std::wstring SystemCopyView(const std::wstring& path, ImageKind kind) {
#if defined(_WIN64)
    (void)kind;
    return path;
#else
    if (kind != ImageKind::X64 || !WindowsRuns64BitPrograms())
        return path;
    std::wstring folder = SystemWindowsFolder();
    if (folder.empty())
        return path;
    folder.push_back(L'\\');
    const std::wstring redirected = folder + L"System32\\";
    if (path.size() <= redirected.size() ||
        CompareStringOrdinal(path.c_str(), static_cast<int>(redirected.size()), redirected.c_str(),
                             static_cast<int>(redirected.size()), TRUE) != CSTR_EQUAL)
        return path;
    return folder + L"Sysnative\\" + path.substr(redirected.size());
#endif
}

RegisterStepResult PrepareSystemCopy(const HeldFile& source, const std::wstring& viewedCopy) {
    RegisterStepResult step;
    step.viewedCopy = viewedCopy;
    // Creating only a new file doubles as the lookup: Wine scans the whole folder for every
    // name it cannot find at once, and a system folder holds thousands.
    FileHandle made(CreateFileW(viewedCopy.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (made) {
        DWORD error = ERROR_SUCCESS;
        BY_HANDLE_FILE_INFORMATION info{};
        if (!CopyBytes(source.handle.get(), made.get(), error) ||
            !GetFileInformationByHandle(made.get(), &info)) {
            if (error == ERROR_SUCCESS)
                error = GetLastError();
            // Half a file is nobody's: it goes through the handle it was written with.
            MarkForDeletion(made.get());
            step.failure = CopyFailureReason(error, NameOf(viewedCopy));
            return step;
        }
        const FileIdentity written{true, info.dwVolumeSerialNumber, info.nFileIndexHigh,
                                   info.nFileIndexLow};
        // A loader cannot open a file somebody holds with write access: the written copy is
        // held again with read access only, and must be the very file just written.
        made.reset();
        step.heldCopy = HoldSystemCopy(viewedCopy);
        if (!step.heldCopy || step.heldCopy.Identity() != written) {
            step.heldCopy = {};
            step.failure = kChangedCopyKeptReason;
            return step;
        }
        step.copied = true;
        step.identity = written;
        return step;
    }
    const DWORD error = GetLastError();
    step.heldCopy = HoldSystemCopy(viewedCopy);
    switch (step.heldCopy.refusal) {
        case HoldRefusal::None:
            break;
        case HoldRefusal::Link:
        case HoldRefusal::Elsewhere:
            step.failure = kCopyIsLinkReason;
            return step;
        case HoldRefusal::Folder:
            step.failure = kCopyIsFolderReason;
            return step;
        case HoldRefusal::ShortName:
            step.failure = ShortNameReason(NameOf(viewedCopy), step.heldCopy.longName);
            return step;
        case HoldRefusal::OpenFailed:
            // A file the program cannot open for reading is one no loader can open either.
            if (step.heldCopy.error != ERROR_FILE_NOT_FOUND &&
                step.heldCopy.error != ERROR_PATH_NOT_FOUND) {
                step.failure =
                    L"无法加载: " + SystemErrorText(step.heldCopy.error, NameOf(viewedCopy));
                return step;
            }
            step.failure = CopyFailureReason(error, NameOf(viewedCopy));
            return step;
        default:
            // A hidden or system file of that name belongs to somebody else.
            step.failure = CopyFailureReason(error, NameOf(viewedCopy));
            return step;
    }
    step.existing = CompareHeld(source.handle.get(), step.heldCopy.handle.get());
    step.identity = step.heldCopy.Identity();
    return step;
}

void CheckSystemCopyAfterServer(RegisterStepResult& step, const HeldFile& source) {
    if (!step.copied || Unchanged(step.heldCopy))
        return;
    // Written to behind the program's back: not this run's copy any more.
    step.copied = false;
    step.existing = CompareHeld(source.handle.get(), step.heldCopy.handle.get());
}

std::wstring TakeBackFailedCopy(RegisterStepResult& step, const HeldFile& source) {
    step.heldCopy = {};
    if (step.failure.empty() || !step.copied)
        return {};
    DWORD error = ERROR_SUCCESS;
    switch (DeleteChecked(step.viewedCopy, step.identity, source.handle.get(), error)) {
        case CheckedDelete::Deleted:
            step.copied = false;
            return {};
        case CheckedDelete::Refused:
            return CopyRemovalFailureReason(error, NameOf(step.viewedCopy));
        case CheckedDelete::NoTwin:
            // The source is held; if it is the one that changed, the copy is as written.
            if (!Unchanged(source))
                return kChangedSourceKeptReason;
            return kChangedCopyKeptReason;
        case CheckedDelete::NotTheNotedFile:
            break;
    }
    return kChangedCopyKeptReason;
}

DeletionResult DeleteSourceStep(HeldFile& source, const std::wstring& sourcePath,
                                const RegisterStepResult& registered) {
    if (!registered.failure.empty() || !registered.heldCopy || !source)
        return {};
    // Looked at now, right before the delete: another file with the source's bytes.
    if (CompareHeld(source.handle.get(), registered.heldCopy.handle.get()) !=
        FileKinship::SameBytes)
        return {};
    const FileIdentity noted = source.Identity();
    const bool unchanged = Unchanged(source);
    // The delete needs a handle of its own, which the held one's sharing would refuse.
    source.handle.reset();
    if (!unchanged)
        return {false, kChangedSourceKeptReason};
    DWORD error = ERROR_SUCCESS;
    switch (DeleteChecked(sourcePath, noted, registered.heldCopy.handle.get(), error)) {
        case CheckedDelete::Deleted:
            return {true, {}};
        case CheckedDelete::Refused:
            return {false, DeleteFailureReason(error, NameOf(sourcePath))};
        case CheckedDelete::NotTheNotedFile:
            return {false, kChangedSourceKeptReason};
        case CheckedDelete::NoTwin:
            break;
    }
    return {};
}

CopyDeletionResult DeleteSystemCopyStep(const HeldFile& twin, const std::wstring& viewedCopy,
                                        const FileIdentity& noted) {
    // The queued file may be the system copy itself: then there is no other copy.
    if (!twin || twin.Identity() == noted)
        return {false, true, ERROR_SUCCESS};
    DWORD error = ERROR_SUCCESS;
    switch (DeleteChecked(viewedCopy, noted, twin.handle.get(), error)) {
        case CheckedDelete::Deleted:
            return {true, false, ERROR_SUCCESS};
        case CheckedDelete::Refused:
            return {false, false, error};
        case CheckedDelete::NotTheNotedFile:
            return {false, false, ERROR_SUCCESS, true};
        case CheckedDelete::NoTwin:
            break;
    }
    return {false, true, ERROR_SUCCESS};
}

DWORD DeleteServerFile(const std::wstring& path) {
    HeldFile file = OpenAsItself(path, kDeleteAccess);
    if (!file.handle)
        return file.error;
    if (file.refusal == HoldRefusal::Link || file.refusal == HoldRefusal::Folder)
        return ERROR_ACCESS_DENIED;
    return DeleteThroughHandle(file.handle.get(), file.attributes);
}

}  // namespace kestrave
