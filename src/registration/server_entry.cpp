#include "server_entry.h"

#include <ole2.h>
#include <tlhelp32.h>

#include "file_lookup.h"
#include "handles.h"

namespace kestrave {
namespace {

using ServerExport = HRESULT(STDAPICALLTYPE*)();

// Keeps the loader's "cannot load" dialogs away: a bad file must only give an error code.
class QuietErrorMode {
  public:
    QuietErrorMode() { SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_); }
    ~QuietErrorMode() { SetThreadErrorMode(old_, nullptr); }
    QuietErrorMode(const QuietErrorMode&) = delete;
    QuietErrorMode& operator=(const QuietErrorMode&) = delete;

  private:
    DWORD old_ = 0;
};

struct ExportJob {
    ServerExport entry = nullptr;
    HRESULT result = S_OK;
    bool returned = false;
};

// Servers expect an initialised single-threaded apartment, as the system's own registration
// tool gives them. Nothing else in the host enters one, so this is the process's main
// apartment, where objects of classes without a threading model are made.
DWORD WINAPI RunExport(void* parameter) {
    ExportJob& job = *static_cast<ExportJob*>(parameter);
    const HRESULT entered = OleInitialize(nullptr);
    job.result = job.entry();
    job.returned = true;
    if (SUCCEEDED(entered))
        OleUninitialize();
    return 0;
}

int CountOwnThreads() {
    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE)
        return -1;
    const DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == self)
            ++count;
    }
    return count;
}

int g_ownThreads = -1;

DWORD WINAPI EnterApartmentOnce(void*) {
    if (SUCCEEDED(OleInitialize(nullptr)))
        OleUninitialize();
    return 0;
}

}  // namespace

const wchar_t* EntryExportName(bool unregister) {
    return unregister ? L"DllUnregisterServer" : L"DllRegisterServer";
}

EntryResult CallServerEntry(const std::wstring& path, bool unregister,
                            const std::function<void()>& beforeLoading) {
    const char* exportName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    if (FindFileName(path).empty())
        return {EntryOutcome::NotFound};

    if (beforeLoading)
        beforeLoading();
    ModuleHandle library;
    {
        QuietErrorMode quiet;
        library.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    }
    if (!library) {
        DWORD error = GetLastError();
        return {EntryOutcome::NotLoadable, error};
    }
    ExportJob job;
    job.entry = reinterpret_cast<ServerExport>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), exportName)));
    if (!job.entry)
        return {EntryOutcome::ExportMissing};

    KernelHandle thread(CreateThread(nullptr, 0, RunExport, &job, 0, nullptr));
    if (!thread) {
        DWORD error = GetLastError();
        return {EntryOutcome::WorkerNotStarted, error};
    }
    WaitForSingleObject(thread.get(), INFINITE);
    if (job.returned)
        return {EntryOutcome::Finished, ERROR_SUCCESS, job.result};
    // The export ended its thread instead of returning: it did not finish its work, whatever
    // the exit code says.
    DWORD exitCode = 0;
    GetExitCodeThread(thread.get(), &exitCode);
    const HRESULT code = static_cast<HRESULT>(exitCode);
    return {EntryOutcome::Finished, ERROR_SUCCESS, FAILED(code) ? code : E_ABORT};
}

void NoteOwnThreads() {
    // The runtime may start threads of its own the first time an apartment is made; those
    // belong to the host, not to any server.
    KernelHandle warmUp(CreateThread(nullptr, 0, EnterApartmentOnce, nullptr, 0, nullptr));
    if (warmUp)
        WaitForSingleObject(warmUp.get(), INFINITE);
    g_ownThreads = CountOwnThreads();
}

bool ServerLeftSomethingBehind(const std::wstring& path) {
    HMODULE stillMapped = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path.c_str(),
                           &stillMapped))
        return true;
    const int threads = CountOwnThreads();
    return g_ownThreads < 0 || threads < 0 || threads > g_ownThreads;
}

}  // namespace kestrave
