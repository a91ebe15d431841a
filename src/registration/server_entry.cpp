#include "server_entry.h"

#include <ole2.h>

#include "file_lookup.h"
#include "handles.h"

namespace kestrave {
namespace {

using ServerExport = HRESULT(STDAPICALLTYPE*)();

// How long to wait for an ended or idle worker to be gone. Should it still not stop, it is left
// behind with its library loaded: unmapping code a thread may still run would crash the whole
// program.
constexpr DWORD kTerminationWaitMs = 5000;

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

bool WaitUntilEnded(HANDLE thread) {
    return WaitForSingleObject(thread, kTerminationWaitMs) == WAIT_OBJECT_0;
}

}  // namespace

// The thread that runs the exports. It outlives its library when it cannot be stopped, so it
// owns everything the thread touches and is then left behind as a whole.
class ServerEntryRunner::Worker {
  public:
    enum class Ending { Returned, ThreadEnded, Overran };

    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Empty, with the system's error code, when the thread or its signals cannot be made.
    static std::unique_ptr<Worker> Start(DWORD& error) {
        std::unique_ptr<Worker> worker(new Worker);
        worker->jobReady_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!worker->jobReady_) {
            error = GetLastError();
            return nullptr;
        }
        worker->jobDone_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!worker->jobDone_) {
            error = GetLastError();
            return nullptr;
        }
        worker->thread_.reset(CreateThread(nullptr, 0, Loop, worker.get(), 0, nullptr));
        if (!worker->thread_) {
            error = GetLastError();
            return nullptr;
        }
        return worker;
    }

    // Runs `job` on the worker and waits at most `waitLimitMs` for it. `result` is the export's
    // HRESULT when it returned, the thread's exit code when the export ended the thread.
    Ending Run(ServerExport job, DWORD waitLimitMs, HRESULT& result) {
        job_ = job;
        SetEvent(jobReady_.get());
        const HANDLE signals[] = {jobDone_.get(), thread_.get()};
        const DWORD woken = WaitForMultipleObjects(2, signals, FALSE, waitLimitMs);
        if (woken == WAIT_OBJECT_0) {
            result = result_;
            return Ending::Returned;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
            DWORD exitCode = 0;
            GetExitCodeThread(thread_.get(), &exitCode);
            result = static_cast<HRESULT>(exitCode);
            return Ending::ThreadEnded;
        }
        return Ending::Overran;
    }

    // Ends a worker that is busy beyond its limit. False when the thread would not stop: it and
    // whatever it runs are then left behind.
    static bool Terminate(std::unique_ptr<Worker> worker) {
        TerminateThread(worker->thread_.get(), static_cast<DWORD>(E_ABORT));
        if (WaitUntilEnded(worker->thread_.get()))
            return true;
        worker.release();
        return false;
    }

    // Lets an idle worker leave its apartment and end.
    static void Retire(std::unique_ptr<Worker> worker) {
        worker->job_ = nullptr;
        SetEvent(worker->jobReady_.get());
        if (WaitUntilEnded(worker->thread_.get()))
            return;
        Terminate(std::move(worker));
    }

  private:
    Worker() = default;

    // Servers expect an initialised single-threaded apartment, as the system's own registration
    // tool gives them, and one that was there before they were loaded, as on its main thread.
    // The apartment is held for the worker's life; each job enters it once more, so that a
    // server that left it one time too many does not leave the next one without.
    static DWORD WINAPI Loop(void* self) {
        Worker& worker = *static_cast<Worker*>(self);
        const HRESULT held = OleInitialize(nullptr);
        while (WaitForSingleObject(worker.jobReady_.get(), INFINITE) == WAIT_OBJECT_0 &&
               worker.job_) {
            const HRESULT entered = OleInitialize(nullptr);
            worker.result_ = worker.job_();
            if (SUCCEEDED(entered))
                OleUninitialize();
            SetEvent(worker.jobDone_.get());
        }
        if (SUCCEEDED(held))
            OleUninitialize();
        return 0;
    }

    KernelHandle jobReady_;
    KernelHandle jobDone_;
    KernelHandle thread_;
    // Handed over through the two events, which order the accesses of both threads.
    ServerExport job_ = nullptr;  // null tells the worker to end
    HRESULT result_ = S_OK;
};

const wchar_t* EntryExportName(bool unregister) {
    return unregister ? L"DllUnregisterServer" : L"DllRegisterServer";
}

ServerEntryRunner::ServerEntryRunner() = default;

ServerEntryRunner::~ServerEntryRunner() {
    if (worker_)
        Worker::Retire(std::move(worker_));
}

EntryResult ServerEntryRunner::Call(const std::wstring& path, bool unregister, DWORD waitLimitMs) {
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

    auto serverExport = reinterpret_cast<ServerExport>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), exportName)));
    if (!serverExport)
        return {EntryOutcome::ExportMissing};

    if (!worker_) {
        DWORD error = ERROR_SUCCESS;
        worker_ = Worker::Start(error);
        if (!worker_)
            return {EntryOutcome::WorkerNotStarted, error};
    }

    HRESULT result = S_OK;
    switch (worker_->Run(serverExport, waitLimitMs, result)) {
        case Worker::Ending::Returned:
            return {EntryOutcome::Finished, ERROR_SUCCESS, result};
        case Worker::Ending::ThreadEnded:
            // The export ended the thread instead of returning: it did not finish its work,
            // whatever the exit code says.
            worker_.reset();
            return {EntryOutcome::Finished, ERROR_SUCCESS, FAILED(result) ? result : E_ABORT};
        case Worker::Ending::Overran:
            break;
    }
    if (!Worker::Terminate(std::move(worker_)))
        library.release();
    return {EntryOutcome::TimedOut};
}

EntryResult CallServerEntry(const std::wstring& path, bool unregister, DWORD waitLimitMs) {
    ServerEntryRunner runner;
    return runner.Call(path, unregister, waitLimitMs);
}

}  // namespace kestrave
