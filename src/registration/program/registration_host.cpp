#include "registration_host.h"

#include <algorithm>

#include "batch_report.h"
#include "cause_wording.h"
#include "file_lookup.h"
#include "path.h"
#include "system_error.h"

namespace kestrave {
namespace {

int Slot(ImageKind kind) {
    return kind == ImageKind::X64 ? 1 : 0;
}

const char* HostRetirementLabel(HostRetirement why) {
    switch (why) {
        case HostRetirement::None:
            break;
        case HostRetirement::ServerStillMapped:
            return "host: the server's library stayed mapped";
        case HostRetirement::LibraryOutside:
            return "host: a library from outside the system folders stayed";
        case HostRetirement::LibraryOfTheBatch:
            return "host: a file it served stayed mapped";
        case HostRetirement::ThreadLeft:
            return "host: a thread was left running";
        case HostRetirement::CannotTell:
            return "host: could not list its modules or threads";
        case HostRetirement::ProgramGone:
            return "host: a reply was not taken";
        case HostRetirement::StateNotSetBack:
            return "host: could not set its process state back";
    }
    return "host: serves no more";
}

bool IsHostKind(ImageKind kind) {
    return kind == ImageKind::X86 || kind == ImageKind::X64;
}

bool IsGoneError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool SameEntryResult(const EntryResult& a, const EntryResult& b) {
    return a.outcome == b.outcome && a.error == b.error && a.result == b.result;
}

// Whether a host's reply to a load-and-export request may come now: the worker first, its
// outcome once the program holds the worker, names only after that outcome, and "done" last
// (carrying the outcome itself when nothing came between). Without a worker a host can only say
// the file was not there or no worker could be made.
bool ReplyIsInTurn(const HostReply& reply, HostVerb verb, bool worker, bool exported,
                   bool causeNamed, size_t classesNamed) {
    switch (reply.kind) {
        case HostReplyKind::Worker:
            return !worker;
        case HostReplyKind::Exported:
            return worker && !exported;
        case HostReplyKind::Done:
            return worker || reply.result.outcome == EntryOutcome::NotFound ||
                   reply.result.outcome == EntryOutcome::WorkerNotStarted;
        case HostReplyKind::Crashed:
            return worker;
        case HostReplyKind::Cause:
            return exported && verb == HostVerb::Register && !causeNamed;
        case HostReplyKind::Class:
            return exported && verb == HostVerb::Register &&
                   classesNamed < static_cast<size_t>(kHostClassFindingLimit);
    }
    return false;
}

// The export is over only when the program's own handle on the worker says so. Its result is
// the worker's exit code; a host may say "failed" where the code shows success (an export that
// ended its thread rather than returning never finished), never the reverse or another success.
bool WorkerEndedWith(HANDLE worker, const EntryResult& said) {
    if (WaitForSingleObject(worker, 0) != WAIT_OBJECT_0)
        return false;
    if (said.outcome != EntryOutcome::Finished)
        return true;
    DWORD code = 0;
    if (!GetExitCodeThread(worker, &code))
        return false;
    return code == static_cast<DWORD>(said.result) ||
           (FAILED(said.result) && SUCCEEDED(static_cast<HRESULT>(code)));
}

}  // namespace

HostSession::HostSession(HostImages& images, HostWait wait)
    : images_(images),
      idleWait_(wait ? std::move(wait) : HostWait(PlainHostWait)),
      wait_(idleWait_) {}

// Each host's job is ended with it; nothing needs to be waited for.
HostSession::~HostSession() = default;

SIZE_T HostSession::PeakHostMemory() const {
    SIZE_T peak = peakHostMemory_;
    for (const std::unique_ptr<HostProcess>& host : hosts_) {
        if (host)
            peak = std::max(peak, host->PeakMemory());
    }
    return peak;
}

void HostSession::WaitWith(HostWait wait) {
    inBatch_ = static_cast<bool>(wait);
    wait_ = wait ? std::move(wait) : idleWait_;
    // Between batches no host waits in reserve.
    if (!inBatch_) {
        for (std::unique_ptr<HostProcess>& spare : spares_) {
            if (spare)
                spare->End(wait_);
            spare.reset();
        }
    }
}

void HostSession::StartSpare(ImageKind kind) {
    std::unique_ptr<HostProcess>& spare = spares_[Slot(kind)];
    if (spare || !inBatch_)
        return;
    std::wstring ignored;
    const std::wstring image = images_.ImageFor(kind, ignored);
    if (image.empty())
        return;
    DWORD error = ERROR_SUCCESS;
    spare = HostProcess::Start(image, error);
    if (spare)
        ++reserveStarts_;
}

bool HostSession::StartAhead(ImageKind kind) {
    std::wstring ignored;
    return HostFor(kind, ignored) != nullptr;
}

HostProcess* HostSession::HostFor(ImageKind kind, std::wstring& whyNot) {
    std::unique_ptr<HostProcess>& host = hosts_[Slot(kind)];
    // A host that went away while it had nothing to do (between two batches, say) owes no file
    // an explanation, and one that wrote what nobody asked for is not asked again: a fresh one
    // takes over.
    if (host && (host->HasEnded() || host->HasUnaskedMessage()))
        End(kind, "went away or spoke unasked while idle");
    if (host)
        return host.get();
    // A host started in reserve has run no server's code: it takes over, and another is
    // started in its place, since this batch has servers that end hosts.
    std::unique_ptr<HostProcess>& spare = spares_[Slot(kind)];
    if (spare && !spare->HasEnded() && !spare->HasUnaskedMessage()) {
        host = std::move(spare);
        ++hostsStarted_;
        ++reserveTaken_;
        StartSpare(kind);
        return host.get();
    }
    if (spare)
        spare->End(wait_);
    spare.reset();
    const std::wstring image = images_.ImageFor(kind, whyNot);
    if (image.empty())
        return nullptr;
    DWORD error = ERROR_SUCCESS;
    host = HostProcess::Start(image, error);
    if (!host) {
        whyNot = HostNotStartedReason(error);
        return nullptr;
    }
    ++hostsStarted_;
    return host.get();
}

void HostSession::End(ImageKind kind, const char* why) {
    std::unique_ptr<HostProcess>& host = hosts_[Slot(kind)];
    if (host) {
        ++retirements_[why];
        peakHostMemory_ = std::max(peakHostMemory_, host->PeakMemory());
    }
    aheadWorkers_[Slot(kind)] = {};
    serversLoaded_[Slot(kind)] = 0;
    served_[Slot(kind)] = false;
    if (host)
        host->End(wait_);
    host.reset();
    // The next file of the batch need not wait for a process to start.
    StartSpare(kind);
}

// One request and its answer. Whatever else comes back ends the host at once; a host that may
// carry anything of a server's is ended before the next file.
HostSession::Exchange HostSession::Ask(ImageKind kind, HostVerb verb, const std::wstring& path,
                                       DWORD waitLimitMs) {
    Exchange exchange;
    const unsigned long sequence = ++lastSequence_;
    // A host that served before takes a request up at once. One that cannot be written to, or
    // does not take it up in time (a server may hold it up past a forged answer), is ended and
    // the request goes to a fresh host: the file is not to blame.
    for (int attempt = 0;; ++attempt) {
        const bool mayRetry = attempt == 0 && served_[Slot(kind)];
        HostProcess* host = HostFor(kind, exchange.failure);
        if (!host)
            return exchange;
        // The worker the host's last answer named, which the program holds already: the host
        // may run the export on it without waiting for "resume". A walk runs none.
        AheadWorker ahead;
        if (verb != HostVerb::Walk)
            ahead = std::move(aheadWorkers_[Slot(kind)]);
        aheadWorkers_[Slot(kind)] = {};
        const std::string request = EncodeHostRequest(
            {verb, sequence, path, verb == HostVerb::Register && readClassesBack_, ahead.id});
        if (!host->Send(request, wait_, kFileStepLimitMs)) {
            exchange.failure = EntryFailureReason(host->Ending(wait_), false, {});
            End(kind, "did not take a request");
            if (attempt == 0)
                continue;
            return exchange;
        }
        // The worker the program holds once the host named it; the export's outcome once the
        // program saw that worker end.
        KernelHandle worker;
        bool exported = false;
        bool causeNamed = false;
        for (;;) {
            std::string bytes;
            const DWORD limitMs = worker     ? waitLimitMs
                                  : mayRetry ? kServedHostPickupMs
                                             : kFileStepLimitMs;
            const HostProcess::Got got = host->Receive(bytes, kHostNamesReplyLimit, limitMs, wait_);
            HostReply reply;
            if (got == HostProcess::Got::TimedOut && !worker && mayRetry)
                break;
            // What each reply may follow: the export's outcome only once a worker was named,
            // names only after it (a walk's one answer is its cause), and never too many.
            const bool walk = verb == HostVerb::Walk;
            const bool decoded = got == HostProcess::Got::Message &&
                                 DecodeHostReply(bytes.data(), bytes.size(), sequence, reply);
            const bool inTurn =
                decoded && (walk ? reply.kind == HostReplyKind::Cause
                                 : ReplyIsInTurn(reply, verb, worker.get() != nullptr, exported,
                                                 causeNamed, exchange.classesElsewhere.size()));
            if (exported && (!inTurn || reply.kind == HostReplyKind::Crashed ||
                             (reply.kind == HostReplyKind::Done &&
                              !SameEntryResult(reply.result, exchange.result)))) {
                // The export's outcome is known and was seen through the program's own handle:
                // nothing the host does after it (a readback that overran, a fault or an end)
                // turns it into another. Whatever else it found is not waited for.
                exchange.answered = true;
                End(kind, "went on after the export's outcome");
                return exchange;
            }
            if (got == HostProcess::Got::TimedOut) {
                exchange.failure = worker ? EntryFailureReason({EntryOutcome::TimedOut}, false, {})
                                          : kFileStepOverranReason;
            } else if (got == HostProcess::Got::Ended) {
                exchange.failure = EntryFailureReason(host->Ending(wait_), false, {});
            } else if (!inTurn) {
                exchange.failure = kHostMisbehavedReason;
            } else if (reply.kind == HostReplyKind::Worker && ahead.handle &&
                       reply.workerThread == ahead.id) {
                worker = std::move(ahead.handle);
                continue;
            } else if (reply.kind == HostReplyKind::Worker) {
                DWORD refused = ERROR_SUCCESS;
                worker = host->OpenWorker(reply.workerThread, refused);
                if (worker && host->Send(EncodeHostRequest({HostVerb::Resume, sequence, {}}), wait_,
                                         kFileStepLimitMs))
                    continue;
                exchange.failure =
                    worker ? EntryFailureReason(host->Ending(wait_), false, {})
                    : refused != ERROR_SUCCESS
                        ? EntryFailureReason({EntryOutcome::WorkerNotStarted, refused}, false, {})
                        : kHostMisbehavedReason;
            } else if (reply.kind == HostReplyKind::Exported) {
                if (WorkerEndedWith(worker.get(), reply.result)) {
                    exported = true;
                    exchange.result = reply.result;
                    continue;
                }
                exchange.failure = kHostMisbehavedReason;
            } else if (reply.kind == HostReplyKind::Class) {
                exchange.classesElsewhere.push_back(reply.misdirected);
                continue;
            } else if (reply.kind == HostReplyKind::Cause && !walk) {
                causeNamed = true;
                exchange.culprit = reply.culprit;
                continue;
            } else if (reply.kind == HostReplyKind::Cause) {
                // A walk runs no server's code: the host serves on.
                exchange.answered = true;
                exchange.culprit = reply.culprit;
                served_[Slot(kind)] = true;
                return exchange;
            } else if (reply.kind == HostReplyKind::Done && worker && !exported &&
                       !WorkerEndedWith(worker.get(), reply.result)) {
                // An outcome the program's own handle on the worker does not show.
                exchange.failure = kHostMisbehavedReason;
            } else if (reply.kind == HostReplyKind::Crashed) {
                // The host told of the fault it caught and is ending itself.
                exchange.answered = true;
                exchange.result = reply.result;
                End(kind, "a server crashed");
                return exchange;
            } else {
                exchange.answered = true;
                exchange.result = reply.result;
                served_[Slot(kind)] = true;
                const bool worn = worker && ++serversLoaded_[Slot(kind)] >= kServersPerHost;
                // The host's own word can only retire it sooner: the program looks at what runs
                // in its job itself.
                if (reply.retirement != HostRetirement::None)
                    End(kind, HostRetirementLabel(reply.retirement));
                else if (worn)
                    End(kind, "served its share of servers");
                else if (!host->RunsAlone())
                    End(kind, "a process runs in its job");
                else
                    HoldNextWorker(kind, *host, reply.nextWorker);
                return exchange;
            }
            End(kind, got == HostProcess::Got::TimedOut ? "timed out"
                      : got == HostProcess::Got::Ended  ? "a server ended it"
                                                        : "misbehaved");
            return exchange;
        }
        End(kind, "slow to take up a request");
    }
}

void HostSession::HoldNextWorker(ImageKind kind, const HostProcess& host, unsigned long id) {
    if (id == 0)
        return;
    DWORD ignored = ERROR_SUCCESS;
    KernelHandle worker = host.OpenWorker(id, ignored);
    if (worker)
        aheadWorkers_[Slot(kind)] = {std::move(worker), id};
}

DependencyCulprit HostSession::CauseOf(ImageKind kind, const Exchange& exchange,
                                       const std::wstring& systemCopy) {
    if (!exchange.answered)
        return {};
    if (exchange.result.outcome == EntryOutcome::NotLoadable)
        return exchange.culprit;
    if (exchange.result.outcome != EntryOutcome::Crashed ||
        !IsImportBindingFault(exchange.result.error))
        return {};
    // The host that crashed is gone; the headers are read by a fresh one, in which no server's
    // code has run.
    End(kind, "crashed at binding an import");
    const Exchange walk = Ask(kind, HostVerb::Walk, systemCopy, kFileStepLimitMs);
    return walk.answered ? walk.culprit : DependencyCulprit{};
}

RegisterStepResult HostSession::Register(ImageKind kind, const std::wstring& source,
                                         const std::wstring& systemCopy, DWORD waitLimitMs) {
    const HeldFile held = HoldSource(source);
    if (!held) {
        RegisterStepResult step;
        step.failure = SourceHoldFailureReason(held);
        return step;
    }
    RegisterStepResult step = Register(kind, held, source, systemCopy, waitLimitMs);
    step.heldCopy = {};
    return step;
}

RegisterStepResult HostSession::Register(ImageKind kind, const HeldFile& source,
                                         const std::wstring& sourcePath,
                                         const std::wstring& systemCopy, DWORD waitLimitMs) {
    // Nothing is copied for a server that no host can load.
    std::wstring noHost;
    if (!HostFor(kind, noHost)) {
        RegisterStepResult step;
        step.failure = noHost;
        return step;
    }
    RegisterStepResult step = PrepareSystemCopy(source, SystemCopyView(systemCopy, kind));
    if (!step.failure.empty())
        return step;
    const Exchange exchange = Ask(kind, HostVerb::Register, systemCopy, waitLimitMs);
    step.failure = exchange.answered
                       ? EntryFailureReason(exchange.result, false, NameOf(systemCopy))
                       : exchange.failure;
    if (!step.failure.empty()) {
        // Where a host names what the file lacks, that is the reason; otherwise the load's own.
        const DependencyCulprit culprit = CauseOf(kind, exchange, systemCopy);
        const std::wstring cause =
            DependencyCauseText(culprit, MissingFileIsInFolder(culprit, ParentFolder(sourcePath)));
        if (!cause.empty())
            step.failure = cause;
        else if (culprit.incomplete)
            step.failure += std::wstring(L"; ") + kWalkUnfinishedText;
    } else {
        for (const ClassPointingElsewhere& finding : exchange.classesElsewhere)
            step.classesElsewhere.push_back(
                {ShownName(finding.clsid), ShownName(finding.otherFile), finding.perUser});
    }
    CheckSystemCopyAfterServer(step, source);
    if (step.failure.empty() || !step.copied)
        return step;

    // The copy this run made goes again. The host that loaded it may still map it, so it is
    // ended first (one that failed is over already).
    End(kind, "a failed copy is taken back");
    const std::wstring kept = TakeBackFailedCopy(step, source);
    if (!kept.empty())
        step.failure += L"; " + kept;
    return step;
}

HostSession::Unregistered HostSession::Unregister(ImageKind kind, const std::wstring& systemCopy,
                                                  DWORD waitLimitMs) {
    return UnregisterHeld(kind, HoldSystemCopy(SystemCopyView(systemCopy, kind)), systemCopy,
                          waitLimitMs);
}

HostSession::Unregistered HostSession::Unregister(const HeldFile& source,
                                                  const std::wstring& systemCopy,
                                                  DWORD waitLimitMs) {
    // The queued file's own bitness says where to look, as a program of that bitness would.
    const ImageInfo sourceImage = source ? ReadImageInfo(source.handle.get()) : ImageInfo{};
    if (IsHostKind(sourceImage.kind))
        return UnregisterHeld(sourceImage.kind,
                              HoldSystemCopy(SystemCopyView(systemCopy, sourceImage.kind)),
                              systemCopy, waitLimitMs);
    // Without it, the copy's header says, read through the handle the step goes on with: first
    // where this program sees the name, then where a 64-bit program would.
    std::wstring view = systemCopy;
    HeldFile held = HoldSystemCopy(view);
    const std::wstring nativeView = SystemCopyView(systemCopy, ImageKind::X64);
    if (held.refusal == HoldRefusal::OpenFailed && IsGoneError(held.error) && nativeView != view) {
        view = nativeView;
        held = HoldSystemCopy(view);
    }
    if (!held)
        return UnregisterHeld(ImageKind::Unreadable, std::move(held), systemCopy, waitLimitMs);
    const ImageInfo image = ReadImageInfo(held.handle.get());
    if (!IsHostKind(image.kind))
        return {false, ImageFailureReason(image), {}, image.kind};
    // The host of the copy's bitness may see another file by that name (a 32-bit program on
    // 64-bit Windows): the one it sees is the one held for it.
    if (SystemCopyView(systemCopy, image.kind) != view)
        held = HoldSystemCopy(SystemCopyView(systemCopy, image.kind));
    return UnregisterHeld(image.kind, std::move(held), systemCopy, waitLimitMs);
}

HostSession::Unregistered HostSession::UnregisterHeld(ImageKind kind, HeldFile held,
                                                      const std::wstring& systemCopy,
                                                      DWORD waitLimitMs) {
    // Held while the server runs, so that the file the host unregisters is the one the program
    // looked at, and the one a delete afterwards must find.
    switch (held.refusal) {
        case HoldRefusal::None:
            break;
        case HoldRefusal::Link:
        case HoldRefusal::Elsewhere:
            return {false, kCopyIsLinkReason, {}, kind};
        case HoldRefusal::OpenFailed:
            if (!IsGoneError(held.error))
                return {false, L"无法读取: " + SystemErrorText(held.error), {}, kind};
            return {true, {}, {}, kind};
        default:
            // No plain file of that very name is there: another file's short name, a hidden
            // or system file, a folder.
            return {true, {}, {}, kind};
    }
    const Exchange exchange = Ask(kind, HostVerb::Unregister, systemCopy, waitLimitMs);
    if (!exchange.answered)
        return {false, exchange.failure, std::move(held), kind};
    return {false, EntryFailureReason(exchange.result, true, NameOf(systemCopy)), std::move(held),
            kind};
}

HostSession::CopyDeletion HostSession::DeleteSystemCopy(ImageKind kind, const HeldFile& source,
                                                        const std::wstring& systemCopy,
                                                        const FileIdentity& noted) {
    const std::wstring viewed = SystemCopyView(systemCopy, kind);
    CopyDeletionResult deletion = DeleteSystemCopyStep(source, viewed, noted);
    // A server may keep its own file mapped after it was released; only the end of the host
    // that loaded it lets go of it.
    if (deletion.error != ERROR_SUCCESS && hosts_[Slot(kind)]) {
        End(kind, "still maps a copy to delete");
        deletion = DeleteSystemCopyStep(source, viewed, noted);
    }
    if (deletion.changed)
        return {false, false, kChangedCopyKeptReason};
    return {deletion.deleted, deletion.keptAsOnlyCopy,
            deletion.error == ERROR_SUCCESS
                ? std::wstring()
                : DeleteFailureReason(deletion.error, NameOf(systemCopy))};
}

std::wstring ImageFailureReason(const ImageInfo& image) {
    switch (image.kind) {
        case ImageKind::X86:
        case ImageKind::X64:
            return {};
        case ImageKind::Unreadable:
            return ReadFailureReason(image.error);
        case ImageKind::NotALibrary:
        case ImageKind::OtherMachine:
            return kNotAServerReason;
    }
    return kNotAServerReason;
}

}  // namespace kestrave
