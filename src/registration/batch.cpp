#include "batch.h"

#include <unordered_set>

#include "batch_report.h"
#include "environment.h"
#include "file_lookup.h"
#include "file_steps.h"
#include "pe_image.h"
#include "registration_host.h"
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

// Paths as the file system compares them: letter case ignored. A set, because a batch can hold
// thousands of files and each one is looked up.
class PathSet {
  public:
    // False when the path was in the set already.
    bool Insert(const std::wstring& path) { return paths_.insert(Folded(path)).second; }
    bool Contains(const std::wstring& path) const { return paths_.count(Folded(path)) > 0; }

  private:
    static std::wstring Folded(std::wstring path) {
        if (!path.empty())
            CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
        return path;
    }
    std::unordered_set<std::wstring> paths_;
};

enum class SourceState { Present, Missing, HiddenOrSystem };

// The queued name must be found exactly as queued: a source renamed, even in letter case only,
// is not the file that was queued. A hidden or system file is there, though, and says so.
SourceState LookUpSource(const std::wstring& source, const std::wstring& fileName) {
    const std::wstring found = FindFileName(source);
    if (!found.empty())
        return found == fileName ? SourceState::Present : SourceState::Missing;
    const DWORD attributes = GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return SourceState::Missing;
    if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        return SourceState::HiddenOrSystem;
    return SourceState::Missing;
}

HostWait WaitThrough(BatchHost& host) {
    return [&host](DWORD count, const HANDLE* handles, DWORD timeoutMs) {
        return host.WaitForHost(count, handles, timeoutMs);
    };
}

// Which host an unregistration goes to: the bitness of the queued file when it is there, else
// of the system copy, looked for first where this program sees it and then where a 64-bit
// program would.
ImageInfo UnregisterImage(const std::wstring& source, const std::wstring& systemCopy) {
    ImageInfo image = ReadImageInfo(source);
    if (image.kind == ImageKind::X86 || image.kind == ImageKind::X64)
        return image;
    image = ReadImageInfo(systemCopy);
    if (image.kind == ImageKind::Unreadable && WindowsRuns64BitPrograms())
        image = ReadImageInfo(systemCopy, true);
    return image;
}

bool IsGoneError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

RegisterSummary RegisterEach(const ServerList& list, OptionsSource& options,
                             const std::wstring& targetFolder, HostSession& hosts,
                             DWORD waitLimitMs) {
    RegisterSummary summary;
    // Sources this run registered and then deleted: a second entry of the same file finds it
    // gone because of the run itself, not because it went missing.
    PathSet registeredAndDeleted;
    for (int i = 0; i < list.Count(); ++i) {
        const std::wstring& fileName = list.FileNames()[i];
        const std::wstring& source = list.FullPaths()[i];
        switch (LookUpSource(source, fileName)) {
            case SourceState::Present:
                break;
            case SourceState::HiddenOrSystem:
                summary.failures.push_back({source, kHiddenSourceReason});
                continue;
            case SourceState::Missing:
                if (registeredAndDeleted.Contains(source))
                    ++summary.registeredCount;
                else
                    summary.missingSources.push_back(source);
                continue;
        }

        // A file no host can load is never copied.
        const ImageInfo image = ReadImageInfo(source);
        const std::wstring unfit = ImageFailureReason(image);
        if (!unfit.empty()) {
            summary.failures.push_back({source, unfit});
            continue;
        }
        const std::wstring systemCopy = targetFolder + fileName;
        const RegisterStepResult registered =
            hosts.Register(image.kind, source, systemCopy, waitLimitMs);
        if (!registered.copied && registered.existing == FileKinship::DifferentBytes)
            summary.otherVersionsUsed.push_back(systemCopy);
        if (registered.failure.empty()) {
            ++summary.registeredCount;
        } else {
            summary.failures.push_back({source, registered.failure});
        }

        if (!options.IsOn(OptionFlag::DeleteAfterRegister))
            continue;
        const DeletionResult deletion = DeleteSourceStep(source, registered);
        if (deletion.deleted)
            registeredAndDeleted.Insert(source);
        else
            summary.keptSources.push_back({source, deletion.reason});
    }
    return summary;
}

UnregisterSummary UnregisterEach(const ServerList& list, OptionsSource& options,
                                 const std::wstring& targetFolder, HostSession& hosts,
                                 DWORD waitLimitMs) {
    UnregisterSummary summary;
    // A name queued twice is one system copy: the second entry has nothing left to do.
    PathSet handled;
    for (int i = 0; i < list.Count(); ++i) {
        const std::wstring systemCopy = targetFolder + list.FileNames()[i];
        if (!handled.Insert(systemCopy))
            continue;

        const ImageInfo image = UnregisterImage(list.FullPaths()[i], systemCopy);
        if (image.kind == ImageKind::Unreadable && IsGoneError(image.error)) {
            summary.absentCopies.push_back(systemCopy);
            continue;
        }
        std::wstring failure = ImageFailureReason(image);
        if (failure.empty()) {
            const HostSession::Unregistered step =
                hosts.Unregister(image.kind, systemCopy, waitLimitMs);
            if (step.absent) {
                summary.absentCopies.push_back(systemCopy);
                continue;
            }
            failure = step.failure;
        }
        const bool deleteWanted = options.IsOn(OptionFlag::DeleteAfterUnregister);
        // Deleting a server that is still registered would leave entries nobody can remove.
        if (failure.empty() && deleteWanted) {
            const HostSession::CopyDeletion deletion =
                hosts.DeleteSystemCopy(image.kind, list.FullPaths()[i], systemCopy);
            if (deletion.keptAsOnlyCopy)
                summary.onlyCopiesKept.push_back(systemCopy);
            failure = deletion.failure;
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

void RegisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                 HostImages& images, DWORD waitLimitMs) {
    if (list.Count() < 1)
        return;
    host.SetMousePointer(kPointerHourglass);
    const std::wstring targetFolder = TargetFolder(options);
    RegisterSummary summary;
    {
        HostSession hosts(images, WaitThrough(host));
        summary = RegisterEach(list, options, targetFolder, hosts, waitLimitMs);
    }
    summary.warnMissingSource = options.IsOn(OptionFlag::WarnMissingSource);
    CloseRun(host, RegisterClosingMessage(summary));
}

void UnregisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                   HostImages& images, DWORD waitLimitMs) {
    if (list.Count() < 1)
        return;
    host.SetMousePointer(kPointerHourglass);
    const std::wstring targetFolder = TargetFolder(options);
    UnregisterSummary summary;
    {
        HostSession hosts(images, WaitThrough(host));
        summary = UnregisterEach(list, options, targetFolder, hosts, waitLimitMs);
    }
    CloseRun(host, UnregisterClosingMessage(summary));
}

}  // namespace kestrave
