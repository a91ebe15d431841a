#include "batch.h"

#include <shellapi.h>

#include <cstring>
#include <vector>

#include "batch_report.h"
#include "environment.h"
#include "file_lookup.h"
#include "handles.h"
#include "messages.h"

namespace kestrave {
namespace {

// A missing or empty windir leaves the subfolder alone, rooted at the current drive.
std::wstring TargetFolder(OptionsSource& options) {
    return EnvironmentValue(L"windir") + options.TargetSubfolder();
}

void CloseRun(BatchHost& host, const ClosingMessage& message) {
    host.HideMainWindow();
    host.ShowMessage(message.text, message.style, kMessageTitle);
    host.ShowMainWindow();
    host.SetMousePointer(kPointerArrow);
}

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

// True when the system copy is another file holding the source's exact bytes, so that deleting
// the source loses nothing. A source that is itself the system copy, or that cannot be read for
// comparison, is never taken for one.
bool IsSeparateIdenticalCopy(const std::wstring& source, const std::wstring& systemCopy) {
    FileHandle a = OpenForReading(source);
    FileHandle b = OpenForReading(systemCopy);
    if (!a || !b)
        return false;
    BY_HANDLE_FILE_INFORMATION infoA{}, infoB{};
    if (!GetFileInformationByHandle(a.get(), &infoA))
        return false;
    if (!GetFileInformationByHandle(b.get(), &infoB))
        return false;
    const bool sameFile = infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
                          infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
                          infoA.nFileIndexLow == infoB.nFileIndexLow;
    if (sameFile)
        return false;
    if (infoA.nFileSizeHigh != infoB.nFileSizeHigh || infoA.nFileSizeLow != infoB.nFileSizeLow) {
        return false;
    }

    std::vector<char> bufferA(64 * 1024), bufferB(64 * 1024);
    for (;;) {
        DWORD readA = 0, readB = 0;
        if (!ReadChunk(a.get(), bufferA, readA) || !ReadChunk(b.get(), bufferB, readB))
            return false;
        if (readA != readB)
            return false;
        if (readA == 0)
            return true;
        if (std::memcmp(bufferA.data(), bufferB.data(), readA) != 0)
            return false;
    }
}

// Puts the source into the system folder and registers it there; empty when registered,
// otherwise why not. Never replaces a file: a hidden or system file of that name, which the
// lookup does not see, belongs to somebody else.
std::wstring RegisterSystemCopy(ServerEntryRunner& runner, const std::wstring& source,
                                const std::wstring& systemCopy, DWORD waitLimitMs,
                                bool& justCopied) {
    justCopied = false;
    if (FindFileName(systemCopy).empty()) {
        if (!CopyFileW(source.c_str(), systemCopy.c_str(), TRUE)) {
            DWORD error = GetLastError();
            return CopyFailureReason(error);
        }
        justCopied = true;
    }
    return EntryFailureReason(runner.Call(systemCopy, false, waitLimitMs), false);
}

RegisterSummary RegisterEach(const ServerList& list, OptionsSource& options,
                             const std::wstring& targetFolder, DWORD waitLimitMs) {
    RegisterSummary summary;
    ServerEntryRunner runner;
    for (int i = 0; i < list.Count(); ++i) {
        const std::wstring& fileName = list.FileNames()[i];
        const std::wstring& source = list.FullPaths()[i];
        // A renamed source, even in letter case only, is not the file that was queued.
        if (FindFileName(source) != fileName) {
            summary.missingSources.push_back(source);
            continue;
        }

        const std::wstring systemCopy = targetFolder + fileName;
        bool justCopied = false;
        const std::wstring failure =
            RegisterSystemCopy(runner, source, systemCopy, waitLimitMs, justCopied);
        if (failure.empty()) {
            ++summary.registeredCount;
        } else {
            summary.failures.push_back({source, failure});
        }

        if (!options.IsOn(OptionFlag::DeleteAfterRegister))
            continue;
        // The source may be the only copy there is: it goes only when the system folder holds
        // the same bytes, registered.
        if (!failure.empty() || (!justCopied && !IsSeparateIdenticalCopy(source, systemCopy))) {
            summary.keptSources.push_back({source, {}});
            continue;
        }
        DWORD deleteError = DeleteServerFile(source);
        if (deleteError != ERROR_SUCCESS) {
            summary.keptSources.push_back({source, DeleteFailureReason(deleteError)});
        }
    }
    return summary;
}

UnregisterSummary UnregisterEach(const ServerList& list, OptionsSource& options,
                                 const std::wstring& targetFolder, DWORD waitLimitMs) {
    UnregisterSummary summary;
    ServerEntryRunner runner;
    for (int i = 0; i < list.Count(); ++i) {
        const std::wstring systemCopy = targetFolder + list.FileNames()[i];
        if (FindFileName(systemCopy).empty())
            continue;

        std::wstring failure = EntryFailureReason(runner.Call(systemCopy, true, waitLimitMs), true);
        const bool deleteWanted = options.IsOn(OptionFlag::DeleteAfterUnregister);
        // Deleting a server that is still registered would leave entries nobody can remove.
        if (failure.empty() && deleteWanted) {
            DWORD deleteError = DeleteServerFile(systemCopy);
            if (deleteError != ERROR_SUCCESS)
                failure = DeleteFailureReason(deleteError);
        }
        if (failure.empty())
            continue;
        summary.failures.push_back({systemCopy, failure});
        if (deleteWanted)
            summary.failedFilesWereToBeDeleted = true;
    }
    return summary;
}

}  // namespace

DWORD DeleteServerFile(const std::wstring& path) {
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
    operation.fFlags = FOF_NOCONFIRMATION;
    const int shellResult = SHFileOperationW(&operation);

    if (IsGone(path))
        return ERROR_SUCCESS;
    if (operation.fAnyOperationsAborted)
        return ERROR_CANCELLED;
    return WhyNotDeleted(path, shellResult);
}

void RegisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                 DWORD waitLimitMs) {
    if (list.Count() < 1)
        return;
    host.SetMousePointer(kPointerHourglass);
    const std::wstring targetFolder = TargetFolder(options);
    RegisterSummary summary = RegisterEach(list, options, targetFolder, waitLimitMs);
    summary.warnMissingSource = options.IsOn(OptionFlag::WarnMissingSource);
    CloseRun(host, RegisterClosingMessage(summary));
}

void UnregisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                   DWORD waitLimitMs) {
    if (list.Count() < 1)
        return;
    host.SetMousePointer(kPointerHourglass);
    const std::wstring targetFolder = TargetFolder(options);
    CloseRun(host,
             UnregisterClosingMessage(UnregisterEach(list, options, targetFolder, waitLimitMs)));
}

}  // namespace kestrave
