#include "server_entry.h"

#include <ole2.h>

#include "file_lookup.h"
#include "handles.h"

namespace kestrave {
namespace {

using ServerExport = HRESULT(STDAPICALLTYPE*)();

// How long to wait for an ended worker to be gone. Should it still not stop, its library is
// left loaded: unmapping code a thread may still run would crash the whole program.
constexpr DWORD kTerminationWaitMs = 5000;

// The worker's entry point. Servers expect an initialised single-threaded apartment, as the
// system's own registration tool gives them. The export's HRESULT becomes the exit code.
DWORD WINAPI RunServerExport(void* exportAddress) {
    auto serverExport = reinterpret_cast<ServerExport>(exportAddress);
    HRESULT init = OleInitialize(nullptr);
    HRESULT result = serverExport();
    if (SUCCEEDED(init))
        OleUninitialize();
    return static_cast<DWORD>(result);
}

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

}  // namespace

const wchar_t* EntryExportName(bool unregister) {
    return unregister ? L"DllUnregisterServer" : L"DllRegisterServer";
}

EntryResult CallServerEntry(const std::wstring& path, bool unregister, DWORD waitLimitMs) {
    const char* exportName = unregister ? "DllUnregisterServer" : "DllRegisterServer";

    if (FindFileName(path).empty())
        return {EntryOutcome::NotFound};

    ModuleHandle library;
    {
        QuietErrorMode quiet;
        library.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    }
    if (!library) {
        DWORD error = GetLastError();
        return {EntryOutcome::NotLoadable, error};
    }

    auto exportAddress = reinterpret_cast<void*>(GetProcAddress(library.get(), exportName));
    if (!exportAddress)
        return {EntryOutcome::ExportMissing};

    DWORD threadId = 0;
    KernelHandle worker(CreateThread(nullptr, 0, RunServerExport, exportAddress, 0, &threadId));
    if (!worker) {
        DWORD error = GetLastError();
        return {EntryOutcome::WorkerNotStarted, error};
    }

    if (WaitForSingleObject(worker.get(), waitLimitMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeThread(worker.get(), &exitCode);
        return {EntryOutcome::Finished, ERROR_SUCCESS, static_cast<HRESULT>(exitCode)};
    }

    DWORD exitCode = 0;
    GetExitCodeThread(worker.get(), &exitCode);
    TerminateThread(worker.get(), exitCode);
    if (WaitForSingleObject(worker.get(), kTerminationWaitMs) != WAIT_OBJECT_0) {
        library.release();
    }
    return {EntryOutcome::TimedOut};
}

}  // namespace kestrave
