// Running COM servers' self-registration exports with a bounded wait.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace kestrave {

constexpr DWORD kServerEntryWaitLimitMs = 10000;

enum class EntryOutcome {
    NotFound,          // no plain file at the path
    NotLoadable,       // the system refused to load it; `error` says why
    ExportMissing,     // no DllRegisterServer / DllUnregisterServer
    WorkerNotStarted,  // the thread could not be created; `error` says why
    TimedOut,          // the export did not return within the limit and was ended
    Finished,          // the export returned `result`
};

struct EntryResult {
    EntryOutcome outcome = EntryOutcome::NotFound;
    DWORD error = ERROR_SUCCESS;  // system error code for NotLoadable / WorkerNotStarted
    HRESULT result = S_OK;        // the export's own result when Finished

    // The worker ran the export to its end within the limit (whatever it returned).
    bool EndedInTime() const { return outcome == EntryOutcome::Finished; }
    // The export ran to its end and reported success.
    bool Succeeded() const { return EndedInTime() && SUCCEEDED(result); }
};

const wchar_t* EntryExportName(bool unregister);

// Runs servers' exports one after another on a worker thread that sits in a single-threaded
// apartment. Starting a thread and an apartment for every file costs about as much as the
// registration itself, so the worker is kept between calls; one that overruns the limit is ended
// and the next call starts a fresh one.
class ServerEntryRunner {
  public:
    ServerEntryRunner();
    ~ServerEntryRunner();
    ServerEntryRunner(const ServerEntryRunner&) = delete;
    ServerEntryRunner& operator=(const ServerEntryRunner&) = delete;

    // Loads the server at `path`, runs its DllRegisterServer (or DllUnregisterServer) on the
    // worker and waits at most `waitLimitMs`. An ended worker is stopped before the library is
    // released.
    EntryResult Call(const std::wstring& path, bool unregister,
                     DWORD waitLimitMs = kServerEntryWaitLimitMs);

  private:
    class Worker;
    std::unique_ptr<Worker> worker_;
};

// One call on a worker of its own.
EntryResult CallServerEntry(const std::wstring& path, bool unregister,
                            DWORD waitLimitMs = kServerEntryWaitLimitMs);

}  // namespace kestrave
