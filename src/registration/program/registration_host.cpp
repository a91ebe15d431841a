#include "registration_host.h"

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

}  // namespace

HostSession::HostSession(HostImages& images, HostWait wait)
    : images_(images),
      idleWait_(wait ? std::move(wait) : HostWait(PlainHostWait)),
      wait_(idleWait_) {}

// Each host's job is ended with it; nothing needs to be waited for.
HostSession::~HostSession() = default;

void HostSession::WaitWith(HostWait wait) {
    wait_ = wait ? std::move(wait) : idleWait_;
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
        End(kind);
    if (host)
        return host.get();
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

void HostSession::End(ImageKind kind) {
    std::unique_ptr<HostProcess>& host = hosts_[Slot(kind)];
    serversLoaded_[Slot(kind)] = 0;
    served_[Slot(kind)] = false;
    if (host)
        host->End(wait_);
    host.reset();
}

// One request and its answer. Whatever else comes back ends the host at once; a host that may
// carry anything of a server's is ended before the next file.
HostSession::Exchange HostSession::Ask(ImageKind kind, HostVerb verb, const std::wstring& path,
                                       DWORD waitLimitMs) {
    Exchange exchange;
    const unsigned long sequence = ++lastSequence_;
    const std::string request =
        EncodeHostRequest({verb, sequence, path, verb == HostVerb::Register && readClassesBack_});
    // A host that served before takes a request up at once. One that cannot be written to, or
    // does not take it up in time (a server may hold it up past a forged answer), is ended and
    // the request goes to a fresh host: the file is not to blame.
    for (int attempt = 0;; ++attempt) {
        const bool mayRetry = attempt == 0 && served_[Slot(kind)];
        HostProcess* host = HostFor(kind, exchange.failure);
        if (!host)
            return exchange;
        if (!host->Send(request, wait_, kFileStepLimitMs)) {
            exchange.failure = EntryFailureReason(host->Ending(wait_), false, {});
            End(kind);
            if (attempt == 0)
                continue;
            return exchange;
        }
        bool loading = false;
        bool causeNamed = false;
        for (;;) {
            std::string bytes;
            const DWORD limitMs = loading    ? waitLimitMs
                                  : mayRetry ? kServedHostPickupMs
                                             : kFileStepLimitMs;
            const HostProcess::Got got = host->Receive(bytes, kHostNamesReplyLimit, limitMs, wait_);
            HostReply reply;
            if (got == HostProcess::Got::TimedOut && !loading && mayRetry)
                break;
            // What each reply may follow: names come only where the request can have them,
            // once the file was loaded (a walk's one answer is its cause), and never too many.
            const bool walk = verb == HostVerb::Walk;
            const bool decoded = got == HostProcess::Got::Message &&
                                 DecodeHostReply(bytes.data(), bytes.size(), sequence, reply);
            const bool inTurn =
                decoded && (walk ? reply.kind == HostReplyKind::Cause
                            : reply.kind == HostReplyKind::Loading
                                ? !loading
                                : reply.kind == HostReplyKind::Done ||
                                      (loading && reply.kind == HostReplyKind::Crashed) ||
                                      (loading && verb == HostVerb::Register &&
                                       ((reply.kind == HostReplyKind::Cause && !causeNamed) ||
                                        (reply.kind == HostReplyKind::Class &&
                                         exchange.classesElsewhere.size() <
                                             static_cast<size_t>(kHostClassFindingLimit)))));
            if (got == HostProcess::Got::TimedOut) {
                exchange.failure = loading ? EntryFailureReason({EntryOutcome::TimedOut}, false, {})
                                           : kFileStepOverranReason;
            } else if (got == HostProcess::Got::Ended) {
                exchange.failure = EntryFailureReason(host->Ending(wait_), false, {});
            } else if (!inTurn) {
                exchange.failure = kHostMisbehavedReason;
            } else if (reply.kind == HostReplyKind::Loading) {
                loading = true;
                continue;
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
            } else if (reply.kind == HostReplyKind::Crashed) {
                // The host told of the fault it caught and is ending itself.
                exchange.answered = true;
                exchange.result = reply.result;
                End(kind);
                return exchange;
            } else {
                exchange.answered = true;
                exchange.result = reply.result;
                served_[Slot(kind)] = true;
                const bool worn = loading && ++serversLoaded_[Slot(kind)] >= kServersPerHost;
                // The host's own word can only retire it sooner: the program looks at what runs
                // in its job itself.
                if (reply.retiring || worn || !host->RunsAlone())
                    End(kind);
                return exchange;
            }
            End(kind);
            return exchange;
        }
        End(kind);
    }
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
    End(kind);
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
    End(kind);
    const std::wstring kept = TakeBackFailedCopy(step, source);
    if (!kept.empty())
        step.failure += L"; " + kept;
    return step;
}

HostSession::Unregistered HostSession::Unregister(ImageKind kind, const std::wstring& systemCopy,
                                                  DWORD waitLimitMs) {
    // Held while the server runs, so that the file the host unregisters is the one the program
    // looked at, and the one a delete afterwards must find.
    const HeldFile held = HoldSystemCopy(SystemCopyView(systemCopy, kind));
    switch (held.refusal) {
        case HoldRefusal::None:
            break;
        case HoldRefusal::Link:
        case HoldRefusal::Elsewhere:
            return {false, kCopyIsLinkReason, {}};
        case HoldRefusal::OpenFailed:
            if (held.error != ERROR_FILE_NOT_FOUND && held.error != ERROR_PATH_NOT_FOUND)
                return {false, L"无法读取: " + SystemErrorText(held.error), {}};
            return {true, {}, {}};
        default:
            // No plain file of that very name is there: another file's short name, a hidden
            // or system file, a folder.
            return {true, {}, {}};
    }
    const Exchange exchange = Ask(kind, HostVerb::Unregister, systemCopy, waitLimitMs);
    if (!exchange.answered)
        return {false, exchange.failure, held.identity};
    return {false, EntryFailureReason(exchange.result, true, NameOf(systemCopy)), held.identity};
}

HostSession::CopyDeletion HostSession::DeleteSystemCopy(ImageKind kind, const std::wstring& source,
                                                        const std::wstring& systemCopy,
                                                        const FileIdentity& noted) {
    const std::wstring viewed = SystemCopyView(systemCopy, kind);
    CopyDeletionResult deletion = DeleteSystemCopyStep(source, viewed, noted);
    // A server may keep its own file mapped after it was released; only the end of the host
    // that loaded it lets go of it.
    if (deletion.error != ERROR_SUCCESS && hosts_[Slot(kind)]) {
        End(kind);
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
            return L"无法读取: " + SystemErrorText(image.error);
        case ImageKind::NotALibrary:
        case ImageKind::OtherMachine:
            return kNotAServerReason;
    }
    return kNotAServerReason;
}

}  // namespace kestrave
