#include "batch.h"

#include <unordered_set>

#include "batch_report.h"
#include "file_lookup.h"
#include "file_steps.h"
#include "pe_image.h"
#include "registration_host.h"
#include "messages.h"

namespace kestrave {
namespace {

std::wstring TargetFolder(OptionsSource& options, BatchHost& host) {
    return host.WindowsFolder() + options.TargetSubfolder();
}

// What was queued when the command began. The batch walks this copy, never the queue itself:
// the window pumps messages while it waits for a host, and nothing that arrives then may
// change what the batch works on, or free the storage it reads.
struct QueuedFiles {
    explicit QueuedFiles(const ServerList& list)
        : fileNames(list.FileNames()), fullPaths(list.FullPaths()) {}
    int Count() const { return static_cast<int>(fullPaths.size()); }

    const std::vector<std::wstring> fileNames;
    const std::vector<std::wstring> fullPaths;
};

// Shows the closing message, with as many files listed as the screen has room for: `compose`
// makes it with a given number of files per list, and says whether the complete report is on
// the clipboard. The report goes there whenever the message shortened or left out anything.
template <typename Compose>
void CloseRun(BatchHost& host, Compose compose) {
    host.ShowProgress(0, 0, false);
    int limit = kListedPathLimit;
    ClosingMessage message = compose(limit, true);
    for (; limit > 1 && !host.MessageFits(message.text); --limit)
        message = compose(limit - 1, true);
    // The message says the report is on the clipboard only when it is.
    if (!message.completeReport.empty() && !host.PutOnClipboard(message.completeReport))
        message = compose(limit, false);
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

LineFitter FitThrough(BatchHost& host) {
    return [&host](const std::wstring& path, const std::wstring& reason) {
        return host.FitLine(path, reason);
    };
}

HostWait WaitThrough(BatchHost& host) {
    return [&host](DWORD count, const HANDLE* handles, DWORD timeoutMs) {
        return host.WaitForHost(count, handles, timeoutMs);
    };
}

// Between two files: tells the window where the batch is, and whether the user stopped it.
bool GoOn(BatchHost& host, StoppedRun& stop, int i, int total, bool unregister) {
    if (i > 0 && host.StopWanted()) {
        stop = {true, i, total};
        return false;
    }
    host.ShowProgress(i + 1, total, unregister);
    return true;
}

// Every class of a registered file that leads to another file, in full for the report.
std::wstring ClassesElsewhereText(const RegisterStepResult& registered) {
    std::wstring text;
    for (const ClassPointingElsewhere& finding : registered.classesElsewhere) {
        if (!text.empty())
            text += L"; ";
        text += L"类 " + finding.clsid + L" 指向 " + finding.otherFile;
        if (finding.perUser)
            text += L" (当前用户的注册项)";
    }
    return text;
}

RegisterSummary RegisterEach(const QueuedFiles& queued, OptionsSource& options, BatchHost& host,
                             const std::wstring& targetFolder, HostSession& hosts,
                             DWORD waitLimitMs) {
    RegisterSummary summary;
    auto report = [&summary](const std::wstring& path, const wchar_t* outcome,
                             const std::wstring& reason = {}) {
        summary.reportLines.push_back(ReportLine(path, outcome, reason));
    };
    // Sources this run registered and then deleted: a second entry of the same file finds it
    // gone because of the run itself, not because it went missing.
    PathSet registeredAndDeleted;
    const int total = queued.Count();
    for (int i = 0; i < total && GoOn(host, summary.stop, i, total, false); ++i) {
        const std::wstring& fileName = queued.fileNames[i];
        const std::wstring& source = queued.fullPaths[i];
        switch (LookUpSource(source, fileName)) {
            case SourceState::Present:
                break;
            case SourceState::HiddenOrSystem:
                summary.failures.push_back({source, kHiddenSourceReason});
                report(source, L"注册失败", kHiddenSourceReason);
                continue;
            case SourceState::Missing:
                if (registeredAndDeleted.Contains(source)) {
                    ++summary.registeredCount;
                    report(source, L"已注册");
                } else {
                    summary.missingSources.push_back(source);
                    report(source, L"注册失败", L"控件原文件丢失");
                }
                continue;
        }

        // The source is held from here to its last step: what is checked, copied, compared and
        // deleted is one file, whatever its path names meanwhile.
        HeldFile held = HoldSource(source);
        // A file no host can load is never copied.
        const ImageInfo image = held ? ReadImageInfo(held.handle.get()) : ImageInfo{};
        const std::wstring unfit = held ? ImageFailureReason(image) : SourceHoldFailureReason(held);
        if (!unfit.empty()) {
            summary.failures.push_back({source, unfit});
            report(source, L"注册失败", unfit);
            continue;
        }
        const std::wstring systemCopy = targetFolder + fileName;
        const RegisterStepResult registered =
            hosts.Register(image.kind, held, source, systemCopy, waitLimitMs);
        if (!registered.copied && registered.existing == FileKinship::DifferentBytes)
            summary.otherVersionsUsed.push_back(systemCopy);
        if (registered.failure.empty()) {
            ++summary.registeredCount;
            const bool other =
                !registered.copied && registered.existing == FileKinship::DifferentBytes;
            std::wstring notes = other ? L"使用了系统文件夹中已有的不同版本 " + systemCopy : L"";
            if (!registered.classesElsewhere.empty()) {
                summary.classesElsewhere.push_back(
                    {source, registered.classesElsewhere.front().otherFile});
                notes += (notes.empty() ? L"" : L"; ") + ClassesElsewhereText(registered);
            }
            report(source, L"已注册", notes);
        } else {
            summary.failures.push_back({source, registered.failure});
            report(source, L"注册失败", registered.failure);
        }

        if (!options.IsOn(OptionFlag::DeleteAfterRegister))
            continue;
        const DeletionResult deletion = DeleteSourceStep(held, source, registered);
        if (deletion.deleted) {
            registeredAndDeleted.Insert(source);
        } else {
            summary.keptSources.push_back({source, deletion.reason});
            report(source, L"原文件没有删除", deletion.reason);
        }
    }
    if (summary.stop.stopped) {
        for (int i = summary.stop.processed; i < total; ++i)
            report(queued.fullPaths[i], L"未处理 (已停止)");
    }
    return summary;
}

UnregisterSummary UnregisterEach(const QueuedFiles& queued, OptionsSource& options, BatchHost& host,
                                 const std::wstring& targetFolder, HostSession& hosts,
                                 DWORD waitLimitMs) {
    UnregisterSummary summary;
    auto report = [&summary](const std::wstring& path, const wchar_t* outcome,
                             const std::wstring& reason = {}) {
        summary.reportLines.push_back(ReportLine(path, outcome, reason));
    };
    // A name queued twice is one system copy: the second entry has nothing left to do.
    PathSet handled;
    const int total = queued.Count();
    for (int i = 0; i < total && GoOn(host, summary.stop, i, total, true); ++i) {
        const std::wstring systemCopy = targetFolder + queued.fileNames[i];
        if (!handled.Insert(systemCopy)) {
            report(systemCopy, L"已处理 (同名控件只卸载一次)");
            continue;
        }

        // The queued file is held from here to the delete: its header says which host takes
        // the name, and it is the other copy a delete compares the system copy with.
        const HeldFile source = HoldSource(queued.fullPaths[i]);
        HostSession::Unregistered step = hosts.Unregister(source, systemCopy, waitLimitMs);
        if (step.absent) {
            summary.absentCopies.push_back(systemCopy);
            report(systemCopy, L"不在系统文件夹中,没有卸载");
            continue;
        }
        const std::wstring failure = step.failure;
        const bool deleteWanted = options.IsOn(OptionFlag::DeleteAfterUnregister);
        bool deleted = false;
        // Deleting a server that is still registered would leave entries nobody can remove.
        if (failure.empty() && deleteWanted) {
            // The delete opens the copy again, with delete access, and must find this file.
            const FileIdentity noted = step.copy.Identity();
            step.copy = {};
            const HostSession::CopyDeletion deletion =
                hosts.DeleteSystemCopy(step.kind, source, systemCopy, noted);
            if (deletion.keptAsOnlyCopy) {
                summary.onlyCopiesKept.push_back(systemCopy);
                report(systemCopy, L"已卸载", L"在别处没有相同的副本,没有删除");
                continue;
            }
            // The unregistration ran: a copy that could not be deleted is no failed one.
            if (!deletion.deleted && !deletion.failure.empty()) {
                summary.unregisteredNotDeleted.push_back({systemCopy, deletion.failure});
                report(systemCopy, L"已卸载, 文件没有删除", deletion.failure);
                continue;
            }
            deleted = deletion.deleted;
        }
        if (failure.empty()) {
            report(systemCopy, deleted ? L"已卸载并删除" : L"已卸载");
            continue;
        }
        report(systemCopy, L"卸载失败", failure);
        summary.failures.push_back({systemCopy, failure});
        if (deleteWanted)
            summary.failedFilesWereToBeDeleted = true;
    }
    if (summary.stop.stopped) {
        for (int i = summary.stop.processed; i < total; ++i)
            report(targetFolder + queued.fileNames[i], L"未处理 (已停止)");
    }
    return summary;
}

// The batch's window waits for the hosts while the batch runs, and only then.
class BatchWait {
  public:
    BatchWait(HostSession& hosts, BatchHost& host) : hosts_(hosts) {
        hosts_.WaitWith(WaitThrough(host));
    }
    ~BatchWait() { hosts_.WaitWith({}); }
    BatchWait(const BatchWait&) = delete;
    BatchWait& operator=(const BatchWait&) = delete;

  private:
    HostSession& hosts_;
};

}  // namespace

void RegisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                 HostSession& hosts, DWORD waitLimitMs) {
    if (list.Count() < 1)
        return;
    host.SetMousePointer(kPointerHourglass);
    const QueuedFiles queued(list);
    const std::wstring targetFolder = TargetFolder(options, host);
    RegisterSummary summary;
    {
        BatchWait wait(hosts, host);
        summary = RegisterEach(queued, options, host, targetFolder, hosts, waitLimitMs);
    }
    summary.warnMissingSource = options.IsOn(OptionFlag::WarnMissingSource);
    CloseRun(host, [&summary, fit = FitThrough(host)](int limit, bool onClipboard) {
        return RegisterClosingMessage(summary, fit, limit, onClipboard);
    });
}

void UnregisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                   HostSession& hosts, DWORD waitLimitMs) {
    if (list.Count() < 1)
        return;
    host.SetMousePointer(kPointerHourglass);
    const QueuedFiles queued(list);
    const std::wstring targetFolder = TargetFolder(options, host);
    UnregisterSummary summary;
    {
        BatchWait wait(hosts, host);
        summary = UnregisterEach(queued, options, host, targetFolder, hosts, waitLimitMs);
    }
    CloseRun(host, [&summary, fit = FitThrough(host)](int limit, bool onClipboard) {
        return UnregisterClosingMessage(summary, fit, limit, onClipboard);
    });
}

// A batch with hosts of its own, ended with it; a session starts no host before a file needs one.
void RegisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                 HostImages& images, DWORD waitLimitMs) {
    HostSession hosts(images);
    RegisterAll(list, options, host, hosts, waitLimitMs);
}

void UnregisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                   HostImages& images, DWORD waitLimitMs) {
    HostSession hosts(images);
    UnregisterAll(list, options, host, hosts, waitLimitMs);
}

}  // namespace kestrave
