// Running one COM server's self-registration export with a bounded wait.
#pragma once

#include <windows.h>

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

// Loads the server at `path`, runs its DllRegisterServer (or DllUnregisterServer) on a worker
// thread with COM initialised, and waits at most `waitLimitMs`. A worker that overruns is ended
// and stopped before its library is released.
EntryResult CallServerEntry(const std::wstring& path, bool unregister,
                            DWORD waitLimitMs = kServerEntryWaitLimitMs);

}  // namespace kestrave
