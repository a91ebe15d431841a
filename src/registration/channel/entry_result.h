// How one server's load and export went, in the terms both the program and a registration host
// use: a host reports it in numbers, and the program words every reason from it.
#pragma once

#include <windows.h>

namespace kestrave {

constexpr DWORD kServerEntryWaitLimitMs = 10000;

enum class EntryOutcome {
    NotFound,          // no plain file at the path
    NotLoadable,       // the system refused to load it; `error` says why
    ExportMissing,     // no DllRegisterServer / DllUnregisterServer
    WorkerNotStarted,  // the thread could not be created; `error` says why
    TimedOut,          // the host did not finish within the limit and was ended
    Crashed,           // the host died of an exception; `error` is its code
    EndedProcess,      // the server ended the host; `error` is the exit code it gave
    HostNotStarted,    // no host could be started for it; `error` says why
    Finished,          // the export returned `result`
};

struct EntryResult {
    EntryOutcome outcome = EntryOutcome::NotFound;
    DWORD error = ERROR_SUCCESS;  // system error, exception code or exit code, as above
    HRESULT result = S_OK;        // the export's own result when Finished

    // The export ran to its end and reported success.
    bool Succeeded() const { return outcome == EntryOutcome::Finished && SUCCEEDED(result); }
};

const wchar_t* EntryExportName(bool unregister);

}  // namespace kestrave
