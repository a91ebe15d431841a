#include "batch.h"

#include <unordered_set>

#include "batch_report.h"
#include "environment.h"
#include "file_lookup.h"
#include "file_steps.h"
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

RegisterSummary RegisterEach(const ServerList& list, OptionsSource& options,
                             const std::wstring& targetFolder, DWORD waitLimitMs) {
    RegisterSummary summary;
    ServerEntryRunner runner;
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

        const std::wstring systemCopy = targetFolder + fileName;
        const RegisterStepResult registered = RegisterStep(runner, source, systemCopy, waitLimitMs);
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
                                 const std::wstring& targetFolder, DWORD waitLimitMs) {
    UnregisterSummary summary;
    ServerEntryRunner runner;
    // A name queued twice is one system copy: the second entry has nothing left to do.
    PathSet handled;
    for (int i = 0; i < list.Count(); ++i) {
        const std::wstring systemCopy = targetFolder + list.FileNames()[i];
        if (!handled.Insert(systemCopy))
            continue;

        const UnregisterStepResult step = UnregisterStep(runner, systemCopy, waitLimitMs);
        if (step.absent) {
            summary.absentCopies.push_back(systemCopy);
            continue;
        }
        const bool deleteWanted = options.IsOn(OptionFlag::DeleteAfterUnregister);
        std::wstring failure = step.failure;
        // Deleting a server that is still registered would leave entries nobody can remove.
        if (failure.empty() && deleteWanted) {
            const CopyDeletionResult deletion =
                DeleteSystemCopyStep(list.FullPaths()[i], systemCopy);
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
