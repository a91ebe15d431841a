// The program's side of the registration hosts: handing each file's load and export to a host of
// the file's bitness, holding it to its time limit, and retiring a host that may carry anything
// of a server's. The trust line runs here: a host only loads and runs exports, and says how that
// went in numbers; the program copies, compares and deletes every file itself (file_steps.h)
// and words every reason.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "file_steps.h"
#include "host_channel.h"
#include "host_images.h"
#include "host_process.h"
#include "pe_image.h"
#include "entry_result.h"

namespace kestrave {

// How long a host may take to start and reach a server's load.
inline constexpr DWORD kFileStepLimitMs = 60000;

// How many servers one host loads before a fresh one takes over. Some servers take a little
// of the process with them every time (thread-local slots, memory), and a process has only so
// much; a fresh host every few hundred files costs well under a millisecond a file.
inline constexpr int kServersPerHost = 500;

// How long a host that has served before may take to take up the next request.
inline constexpr DWORD kServedHostPickupMs = 2000;

// A host sent what was not the answer to the program's request: it is ended at once.
inline constexpr wchar_t kHostMisbehavedReason[] = L"注册进程的回答不合规定,已终止";

// Registration hosts, at most one of each bitness, ended with this object: one batch's, or the
// program's for its whole run. A host that a server brought down, or that may hold something a
// server left behind, is replaced by a fresh one for the next file.
class HostSession {
  public:
    // `wait` is how the session waits for a host between batches (empty: a plain wait).
    explicit HostSession(HostImages& images, HostWait wait = {});
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // How the steps that follow wait for a host (empty: as between batches again).
    void WaitWith(HostWait wait);

    // Starts a host of `kind` now, without waiting for it, so that the first file of a batch
    // does not wait for a process to start. False when none can be started; a step asks again.
    bool StartAhead(ImageKind kind);

    // Copies the held source (at `sourcePath`) to `systemCopy` (unless a file of that name is
    // there) and has a host of `kind` register the copy; a copy this run made is taken away
    // again if that failed. The copy stays held in the result until the caller lets it go.
    RegisterStepResult Register(ImageKind kind, const HeldFile& source,
                                const std::wstring& sourcePath, const std::wstring& systemCopy,
                                DWORD waitLimitMs);
    // The same for a source not held yet: it is held for the step.
    RegisterStepResult Register(ImageKind kind, const std::wstring& source,
                                const std::wstring& systemCopy, DWORD waitLimitMs);

    struct Unregistered {
        bool absent = false;
        std::wstring failure;
        // The system copy the host unregistered, still held: a delete notes which file it is
        // and lets it go first.
        HeldFile copy;
        ImageKind kind = ImageKind::Unreadable;  // the host it went to
    };
    // Has a host of `kind` unregister the system copy of that name, held while the host works.
    Unregistered Unregister(ImageKind kind, const std::wstring& systemCopy, DWORD waitLimitMs);
    // The same for a queued file: the held source's header says which host (and so which view of
    // the system folder) takes it; without a source, the system copy's own header, read through
    // the handle the step goes on with.
    Unregistered Unregister(const HeldFile& source, const std::wstring& systemCopy,
                            DWORD waitLimitMs);

    struct CopyDeletion {
        bool deleted = false;
        bool keptAsOnlyCopy = false;  // no other file holds its bytes, so it stays
        std::wstring failure;         // why the delete was refused
    };
    // Deletes an unregistered copy when it is still the file `noted` and `source` is its twin;
    // a host that still maps it is ended first.
    CopyDeletion DeleteSystemCopy(ImageKind kind, const HeldFile& source,
                                  const std::wstring& systemCopy, const FileIdentity& noted);

    // How many hosts took requests in this session, and why each one it ended was ended, by the
    // host's word or the program's own (for the benchmark's figures; nothing is decided from them).
    int HostsStarted() const { return hostsStarted_; }
    // Host processes started, those in reserve included whether or not one took a request.
    int HostProcessesStarted() const { return hostsStarted_ - reserveTaken_ + reserveStarts_; }
    int HostsStartedInReserve() const { return reserveStarts_; }
    const std::map<std::string, int>& Retirements() const { return retirements_; }
    // The most memory any host of this session held, as far as the ended ones and those still
    // running show (for the benchmark's figures).
    SIZE_T PeakHostMemory() const;

    // Whether hosts read a registration's classes back (on unless a benchmark weighs them).
    void ReadClassesBack(bool on) { readClassesBack_ = on; }

  private:
    struct Exchange {
        bool answered = false;
        EntryResult result;    // when answered
        std::wstring failure;  // why there is no answer
        // Names a host gave, for the wording only.
        DependencyCulprit culprit;
        std::vector<ClassPointingElsewhere> classesElsewhere;
    };

    HostProcess* HostFor(ImageKind kind, std::wstring& whyNot);
    // Ends the host of `kind` and its whole job, and waits (within a limit) until it has let go
    // of every file it had open.
    void End(ImageKind kind, const char* why);
    Unregistered UnregisterHeld(ImageKind kind, HeldFile held, const std::wstring& systemCopy,
                                DWORD waitLimitMs);
    Exchange Ask(ImageKind kind, HostVerb verb, const std::wstring& path, DWORD waitLimitMs);
    // The cause of a failed load or a crash at binding an import, as a host names it; None when
    // none is found.
    DependencyCulprit CauseOf(ImageKind kind, const Exchange& exchange,
                              const std::wstring& systemCopy);

    // A worker a host named in its last answer, which the program holds for its next request.
    struct AheadWorker {
        KernelHandle handle;
        unsigned long id = 0;
    };
    void StartSpare(ImageKind kind);
    void HoldNextWorker(ImageKind kind, const HostProcess& host, unsigned long id);

    HostImages& images_;
    HostWait idleWait_;
    HostWait wait_;
    std::unique_ptr<HostProcess> hosts_[2];
    AheadWorker aheadWorkers_[2];
    int serversLoaded_[2] = {0, 0};
    bool served_[2] = {false, false};
    // While a batch runs, a host that is ended has a successor started at once, and the batch
    // keeps one in reserve from then on: starting a process costs far more than a file.
    std::unique_ptr<HostProcess> spares_[2];
    bool inBatch_ = false;
    int hostsStarted_ = 0;  // hosts that took requests, a reserve one once it did
    int reserveStarts_ = 0;
    int reserveTaken_ = 0;
    std::map<std::string, int> retirements_;
    SIZE_T peakHostMemory_ = 0;
    unsigned long lastSequence_ = 0;
    bool readClassesBack_ = true;
};

// Why a file cannot go to any host, from its header; empty when a host of `kind` may take it.
std::wstring ImageFailureReason(const ImageInfo& image);

}  // namespace kestrave
