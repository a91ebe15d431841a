// One registration host process as the program holds it: the job it runs in, the pipe to it,
// and its end. What the messages mean is host_channel's business; what a host may decide,
// nothing (see registration_host.h).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "handles.h"
#include "entry_result.h"

namespace kestrave {

// Waits for any of `handles` for at most `timeoutMs`, as WaitForMultipleObjects answers. The
// window side waits while it keeps painting.
using HostWait = std::function<DWORD(DWORD count, const HANDLE* handles, DWORD timeoutMs)>;

DWORD PlainHostWait(DWORD count, const HANDLE* handles, DWORD timeoutMs);

// What a host's job may take in memory, all its processes together.
inline constexpr SIZE_T kHostJobMemoryLimit = SIZE_T{1} << 30;

// How long an ended host's job may take to go away before the program gives up waiting.
inline constexpr DWORD kHostEndWaitMs = 3000;

class HostProcess {
  public:
    enum class Got { Message, Oversized, Ended, TimedOut };

    // Starts `image` in a job of its own that dies with the program, with the system folder as
    // its current folder and no handle of the program but its end of a fresh pipe. Null, with
    // `error`, when any of that failed: a host that is not in its job is never used.
    static std::unique_ptr<HostProcess> Start(const std::wstring& image, DWORD& error);

    // Ends the whole job, whatever runs in it, without waiting.
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    bool Send(const std::string& bytes, const HostWait& wait, DWORD limitMs);
    // One whole message of at most `limit` bytes.
    Got Receive(std::string& bytes, DWORD limit, DWORD limitMs, const HostWait& wait);

    // The host's thread `threadId`, opened by the program to see it end. Null unless it is a
    // thread of this host that has not ended; `error` then says why the system refused it, or
    // is ERROR_SUCCESS when the id named no such thread.
    KernelHandle OpenWorker(DWORD threadId, DWORD& error) const;

    bool HasEnded() const;
    // A message the host wrote that nobody asked for is waiting in the pipe.
    bool HasUnaskedMessage() const;
    // Nothing but the host runs in its job: no process a server started.
    bool RunsAlone() const;

    // The most memory the host has held so far (bytes committed), for figures; 0 when the
    // system cannot say.
    SIZE_T PeakMemory() const;

    // Ends the job and waits, within kHostEndWaitMs, until the host has let go of everything.
    void End(const HostWait& wait);
    // How the host ended by itself: the fault that brought it down or the exit code a server
    // gave (waiting within kHostEndWaitMs for it to be over).
    EntryResult Ending(const HostWait& wait);

  private:
    HostProcess() = default;

    KernelHandle job_;
    KernelHandle process_;
    DWORD processId_ = 0;
    FileHandle pipe_;
    KernelHandle event_;
};

}  // namespace kestrave
