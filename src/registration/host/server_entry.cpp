#include "server_entry.h"

#include <ole2.h>
#include <psapi.h>

#include <algorithm>
#include <iterator>
#include <memory>

#include "file_lookup.h"
#include "handles.h"
#include "path.h"
#include "system_folders.h"

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

// Every thread of this process, counted as it starts and ends: the system calls this for each
// one, whoever made it. A thread ended by force is never counted out, which errs on the safe
// side.
volatile LONG g_liveThreads = 1;

void NTAPI CountThreads(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH)
        InterlockedIncrement(&g_liveThreads);
    else if (reason == DLL_THREAD_DETACH)
        InterlockedDecrement(&g_liveThreads);
}

}  // namespace
}  // namespace kestrave

extern "C" {
// Placed among the image's thread callbacks, which the system calls for every thread.
PIMAGE_TLS_CALLBACK kestrave_count_threads __attribute__((section(".CRT$XLB"), used)) =
    kestrave::CountThreads;
}

namespace kestrave {
namespace {

LONG g_ownThreads = -1;
LONG g_ownThreadsSeenBySystem = -1;

// This process's threads as the system lists them: a thread started without thread
// notifications (or one whose notifications a server switched off) is counted here too. Walked
// one by one, which asks about this process alone (a snapshot of the whole system costs about
// 6 ms under Wine); -1 when the system cannot say. A thread that has ended runs nothing: it is
// listed only while somebody holds it, as the program holds each worker to read its end.
LONG ThreadsSeenBySystem() {
    using NextThread = LONG(NTAPI*)(HANDLE, HANDLE, ACCESS_MASK, ULONG, ULONG, HANDLE*);
    static const auto next = reinterpret_cast<NextThread>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtGetNextThread")));
    if (!next)
        return -1;
    LONG count = 0;
    KernelHandle thread;
    for (;;) {
        HANDLE following = nullptr;
        if (next(GetCurrentProcess(), thread.get(), THREAD_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                 0, 0, &following) < 0)
            return count;
        thread.reset(following);
        if (WaitForSingleObject(thread.get(), 0) != WAIT_OBJECT_0)
            ++count;
    }
}

// The thread a server's export runs on: made for that one server and ended before its library
// is released, so that the windows, timers and hooks it made go with it. It enters its
// single-threaded apartment as soon as it starts, which costs little time then, and waits for
// its export. Servers expect an apartment, as the system's own registration tool gives them.
// Nothing else in the host enters one and the thread before it has ended, so this is the
// process's main apartment, where objects of classes without a threading model are made.
class ServerThread {
  public:
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

    static std::unique_ptr<ServerThread> Start(DWORD& error) {
        std::unique_ptr<ServerThread> worker(new ServerThread);
        worker->go_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!worker->go_) {
            error = GetLastError();
            return nullptr;
        }
        worker->thread_.reset(CreateThread(nullptr, 0, Run, worker.get(), 0, &worker->id_));
        if (!worker->thread_) {
            error = GetLastError();
            return nullptr;
        }
        return worker;
    }

    DWORD Id() const { return id_; }

    // Runs the export and waits for the thread to end: no limit here, the program ends the
    // whole host when it overruns.
    EntryResult RunToEnd(ServerExport entry) {
        entry_ = entry;
        SetEvent(go_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
        if (returned_)
            return {EntryOutcome::Finished, ERROR_SUCCESS, result_};
        // The export ended its thread instead of returning: it did not finish its work,
        // whatever the exit code says.
        DWORD exitCode = 0;
        GetExitCodeThread(thread_.get(), &exitCode);
        const HRESULT code = static_cast<HRESULT>(exitCode);
        return {EntryOutcome::Finished, ERROR_SUCCESS, FAILED(code) ? code : E_ABORT};
    }

    ~ServerThread() {
        if (!thread_)
            return;
        SetEvent(go_.get());  // with no export: it leaves its apartment and ends
        WaitForSingleObject(thread_.get(), INFINITE);
    }

  private:
    ServerThread() = default;

    static DWORD WINAPI Run(void* self) {
        ServerThread& worker = *static_cast<ServerThread*>(self);
        const HRESULT entered = OleInitialize(nullptr);
        WaitForSingleObject(worker.go_.get(), INFINITE);
        if (worker.entry_) {
            worker.result_ = worker.entry_();
            worker.returned_ = true;
        }
        if (SUCCEEDED(entered))
            OleUninitialize();
        // The program reads the export's result from here, not from what the host says.
        return worker.returned_ ? static_cast<DWORD>(worker.result_) : static_cast<DWORD>(E_ABORT);
    }

    KernelHandle go_;
    KernelHandle thread_;
    DWORD id_ = 0;
    // Handed over through the event and the thread's end, which order both threads' accesses.
    ServerExport entry_ = nullptr;
    HRESULT result_ = S_OK;
    bool returned_ = false;
};

std::unique_ptr<ServerThread> g_nextThread;

}  // namespace

EntryResult CallServerEntry(const std::wstring& path, bool unregister,
                            const std::function<bool(DWORD workerThread)>& beforeLoading,
                            HMODULE* loadedAt) {
    const char* exportName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    if (!IsPlainFile(path))
        return {EntryOutcome::NotFound};

    // The worker exists, waiting, before anything of the server's runs: whoever watches it then
    // holds the very thread the export will run on. Declared before the library, it ends after
    // the library is released, whatever the outcome.
    std::unique_ptr<ServerThread> thread = std::move(g_nextThread);
    if (!thread) {
        DWORD error = ERROR_SUCCESS;
        thread = ServerThread::Start(error);
        if (!thread)
            return {EntryOutcome::WorkerNotStarted, error};
    }
    if (beforeLoading && !beforeLoading(thread->Id()))
        return {EntryOutcome::WorkerNotStarted, ERROR_CANCELLED};
    ModuleHandle library;
    {
        QuietErrorMode quiet;
        library.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    }
    if (!library) {
        DWORD error = GetLastError();
        return {EntryOutcome::NotLoadable, error};
    }
    if (loadedAt)
        *loadedAt = library.get();
    auto entry = reinterpret_cast<ServerExport>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), exportName)));
    if (!entry)
        return {EntryOutcome::ExportMissing};
    return thread->RunToEnd(entry);
}

void PrepareServerThread() {
    if (g_nextThread)
        return;
    DWORD ignored = ERROR_SUCCESS;
    g_nextThread = ServerThread::Start(ignored);
}

DWORD PreparedServerThreadId() {
    return g_nextThread ? g_nextThread->Id() : 0;
}

void NoteOwnThreads() {
    // The runtime may start threads of its own the first time an apartment is made; those
    // belong to the host, not to any server.
    DWORD ignored = ERROR_SUCCESS;
    if (std::unique_ptr<ServerThread> warmUp = ServerThread::Start(ignored))
        warmUp.reset();
    g_ownThreads = g_liveThreads;
    g_ownThreadsSeenBySystem = ThreadsSeenBySystem();
}

std::vector<HMODULE> LoadedModules() {
    std::vector<HMODULE> modules(256);
    for (;;) {
        DWORD needed = 0;
        if (!K32EnumProcessModules(GetCurrentProcess(), modules.data(),
                                   static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed))
            return {};
        const size_t count = needed / sizeof(HMODULE);
        if (count <= modules.size()) {
            modules.resize(count);
            std::sort(modules.begin(), modules.end());
            return modules;
        }
        modules.resize(count + 16);
    }
}

std::wstring LowerPath(std::wstring path) {
    if (!path.empty())
        CharLowerBuffW(path.data(), static_cast<DWORD>(path.size()));
    return path;
}

bool IsSystemLibraryPath(const std::wstring& path) {
    const std::wstring lower = LowerPath(path);
    if (lower.find(L"\\..\\") != std::wstring::npos || lower.find(L'/') != std::wstring::npos)
        return false;
    const std::wstring folder = LowerPath(ParentFolder(path));
    const std::wstring system = LowerPath(SystemFolder());
    if (!system.empty() && folder == system)
        return true;
    // A 32-bit host on 64-bit Windows may be told its system libraries' real folder.
    wchar_t wow64[MAX_PATH + 1];
    const UINT wow64Length = GetSystemWow64DirectoryW(wow64, MAX_PATH + 1);
    if (wow64Length > 0 && wow64Length <= MAX_PATH &&
        folder == LowerPath(std::wstring(wow64, wow64Length)))
        return true;
    const std::wstring windows = LowerPath(SystemWindowsFolder());
    if (windows.empty())
        return false;
    const std::wstring sideBySide = windows + L"\\winsxs\\";
    return folder == windows || lower.compare(0, sideBySide.size(), sideBySide) == 0;
}

HostRetirement ServerLeftSomethingBehind(HMODULE loadedAt,
                                         const std::vector<HMODULE>& modulesBefore,
                                         const std::set<std::wstring>& servedFiles) {
    // Asked by address, which the loader answers from its list; asked by path, it would look
    // the file up on disk again. Nothing else is loaded between the release and this question.
    HMODULE stillMapped = nullptr;
    if (loadedAt && GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                       reinterpret_cast<LPCWSTR>(loadedAt), &stillMapped))
        return HostRetirement::ServerStillMapped;
    const std::vector<HMODULE> now = LoadedModules();
    if (now.empty() || modulesBefore.empty())
        return HostRetirement::CannotTell;
    // A library the server kept (or the system loaded for it) may stay only when any next
    // server that needs it would get the very same file anyway: one of the system's own
    // folders that is no file of the batch's. One from elsewhere may stand in for the next
    // server's, and a file of the batch would be found already loaded, its start-up code run
    // for another server.
    std::vector<HMODULE> added;
    std::set_difference(now.begin(), now.end(), modulesBefore.begin(), modulesBefore.end(),
                        std::back_inserter(added));
    for (HMODULE module : added) {
        wchar_t buffer[MAX_PATH + 1];
        const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH + 1);
        if (length == 0 || length > MAX_PATH)
            return HostRetirement::CannotTell;
        const std::wstring path(buffer, length);
        if (servedFiles.count(LowerPath(path)))
            return HostRetirement::LibraryOfTheBatch;
        if (!IsSystemLibraryPath(path))
            return HostRetirement::LibraryOutside;
    }
    // The prepared thread for the next server is the host's own. A thread that a library left
    // mapped has started is counted here too.
    const LONG prepared = g_nextThread ? 1 : 0;
    if (g_liveThreads > g_ownThreads + prepared)
        return HostRetirement::ThreadLeft;
    // When the system cannot list them, the host cannot tell: it retires.
    const LONG seen = ThreadsSeenBySystem();
    if (seen < 0)
        return HostRetirement::CannotTell;
    return seen > g_ownThreadsSeenBySystem + prepared ? HostRetirement::ThreadLeft
                                                      : HostRetirement::None;
}

}  // namespace kestrave
