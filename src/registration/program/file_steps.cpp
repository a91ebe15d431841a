#include "file_steps.h"

#include <shellapi.h>

#include <cstring>
#include <vector>

#include "batch_report.h"
#include "file_lookup.h"
#include "handles.h"
#include "path.h"
#include "system_folders.h"

namespace kestrave {
namespace {

bool IsGone(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The shell answers with its own private codes for some failures; those mean nothing to
// FormatMessage.
bool IsShellPrivateCode(int code) {
    return (code >= 0x71 && code <= 0x88) || code == 0xB7 || code == 0x402 || code == 0x10000 ||
           code == 0x10074;
}

// Asks the file system itself why a file cannot be deleted: opening it for deletion meets the
// same refusal (in use, no right) that the delete met.
DWORD WhyNotDeleted(const std::wstring& path, int shellResult) {
    if (shellResult != 0 && !IsShellPrivateCode(shellResult))
        return static_cast<DWORD>(shellResult);
    FileHandle probe(CreateFileW(path.c_str(), DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe) {
        DWORD error = GetLastError();
        return error;
    }
    return ERROR_ACCESS_DENIED;
}

FileHandle OpenForReading(const std::wstring& path) {
    return FileHandle(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool ReadChunk(HANDLE file, std::vector<char>& buffer, DWORD& read) {
    return ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) != 0;
}

}  // namespace

std::wstring NameOf(const std::wstring& path) {
    return SplitPath(path).name;
}

FileKinship CompareFiles(const std::wstring& a, const std::wstring& b) {
    FileHandle fileA = OpenForReading(a);
    FileHandle fileB = OpenForReading(b);
    if (!fileA || !fileB)
        return FileKinship::Unreadable;
    BY_HANDLE_FILE_INFORMATION infoA{}, infoB{};
    if (!GetFileInformationByHandle(fileA.get(), &infoA))
        return FileKinship::Unreadable;
    if (!GetFileInformationByHandle(fileB.get(), &infoB))
        return FileKinship::Unreadable;
    if (infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
        infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow)
        return FileKinship::SameFile;
    if (infoA.nFileSizeHigh != infoB.nFileSizeHigh || infoA.nFileSizeLow != infoB.nFileSizeLow)
        return FileKinship::DifferentBytes;

    std::vector<char> bufferA(64 * 1024), bufferB(64 * 1024);
    for (;;) {
        DWORD readA = 0, readB = 0;
        if (!ReadChunk(fileA.get(), bufferA, readA) || !ReadChunk(fileB.get(), bufferB, readB))
            return FileKinship::Unreadable;
        if (readA != readB)
            return FileKinship::DifferentBytes;
        if (readA == 0)
            return FileKinship::SameBytes;
        if (std::memcmp(bufferA.data(), bufferB.data(), readA) != 0)
            return FileKinship::DifferentBytes;
    }
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

FileIdentity IdentityOf(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info))
        return {};
    return {true, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

RegisterStepResult PrepareSystemCopy(const std::wstring& source, const std::wstring& viewedCopy) {
    RegisterStepResult step;
    step.viewedCopy = viewedCopy;
    // The copy refuses to replace a file, so it doubles as the lookup: Wine scans the whole
    // folder for every name it cannot find at once, and a system folder holds thousands.
    if (CopyFileW(source.c_str(), viewedCopy.c_str(), TRUE)) {
        step.copied = true;
        step.identity = IdentityOf(viewedCopy);
        return step;
    }
    const DWORD error = GetLastError();
    const bool inTheWay = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    // A plain file of that name is registered as it is; a hidden or system one, which the lookup
    // does not see, belongs to somebody else.
    if (inTheWay && IsPlainFile(viewedCopy)) {
        step.existing = CompareFiles(source, viewedCopy);
        step.identity = IdentityOf(viewedCopy);
        return step;
    }
    step.failure = CopyFailureReason(error, NameOf(viewedCopy));
    return step;
}

void CheckSystemCopyAfterServer(RegisterStepResult& step, const std::wstring& source) {
    if (!step.copied)
        return;
    const FileIdentity now = IdentityOf(step.viewedCopy);
    if (step.identity.known && now == step.identity)
        return;
    // Another file took its place (or it is gone): not this run's any more.
    step.copied = false;
    step.existing = now.known ? CompareFiles(source, step.viewedCopy) : FileKinship::Unreadable;
}

std::wstring TakeBackFailedCopy(RegisterStepResult& step, const std::wstring& source) {
    if (step.failure.empty() || !step.copied)
        return {};
    if (CompareFiles(source, step.viewedCopy) != FileKinship::SameBytes)
        return kChangedCopyKeptReason;
    const DWORD error = DeleteServerFile(step.viewedCopy);
    if (error != ERROR_SUCCESS)
        return CopyRemovalFailureReason(error, NameOf(step.viewedCopy));
    step.copied = false;
    return {};
}

DeletionResult DeleteSourceStep(const std::wstring& source, const RegisterStepResult& registered) {
    if (!registered.failure.empty() || registered.viewedCopy.empty())
        return {};
    // Looked at now, right before the delete: another file with the source's bytes.
    if (CompareFiles(source, registered.viewedCopy) != FileKinship::SameBytes)
        return {};
    const DWORD error = DeleteServerFile(source);
    if (error != ERROR_SUCCESS)
        return {false, DeleteFailureReason(error, NameOf(source))};
    return {true, {}};
}

CopyDeletionResult DeleteSystemCopyStep(const std::wstring& source,
                                        const std::wstring& viewedCopy) {
    if (CompareFiles(source, viewedCopy) != FileKinship::SameBytes)
        return {false, true, ERROR_SUCCESS};
    const DWORD error = DeleteServerFile(viewedCopy);
    return {error == ERROR_SUCCESS, false, error};
}

DWORD DeleteServerFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error;
    }
    if (!SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        DWORD error = GetLastError();
        return error;
    }
    // The shell takes a list of paths, each ended by a NUL, the list by one more.
    std::wstring fileList = path;
    fileList.push_back(L'\0');
    SHFILEOPSTRUCTW operation{};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = fileList.c_str();
    // No confirmation, no progress, no error box: nobody would see one, and a box nobody
    // answers holds the batch up for good.
    operation.fFlags = FOF_NO_UI;
    const int shellResult = SHFileOperationW(&operation);

    if (IsGone(path))
        return ERROR_SUCCESS;
    const DWORD error =
        operation.fAnyOperationsAborted ? ERROR_CANCELLED : WhyNotDeleted(path, shellResult);
    // The file stays as it was.
    SetFileAttributesW(path.c_str(), attributes);
    return error;
}

}  // namespace kestrave
