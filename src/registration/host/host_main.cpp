#include "host_main.h"

#include <objbase.h>
#include <shellapi.h>

#include <cwchar>
#include <set>
#include <string>
#include <utility>

#include "class_readback.h"
#include "dependency_walk.h"
#include "file_lookup.h"
#include "host_channel.h"
#include "host_state.h"
#include "server_entry.h"

namespace kestrave {
namespace {

// While a server's code may run: the pipe and the request a fault is told against.
HANDLE g_faultPipe = nullptr;
volatile LONG g_faultSequence = 0;
volatile LONG g_serving = 0;

// A server that faults must end this process at once: no crash dialog, no debugger, nothing
// left waiting for a user. While a request is served the program is told "crashed" with the
// fault's code first, whatever its range, so that it need not guess a crash from an exit code.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS* fault) {
    const DWORD code = fault->ExceptionRecord->ExceptionCode;
    // Only the first fault speaks: another thread may fault meanwhile.
    if (InterlockedExchange(&g_serving, 0) != 0)
        WriteCrashNotice(g_faultPipe, static_cast<unsigned long>(g_faultSequence), code);
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The loader's search for a library this host loads: the copy's folder, the system folder and
// the rest, but never the current folder, which SetDllDirectoryW(L"") took out (it is the system
// folder anyway).
std::vector<std::wstring> HostSearchFolders(const std::wstring& file) {
    return LoaderSearchFolders(file, false);
}

class Host {
  public:
    Host(HANDLE pipe, HostState state) : pipe_(pipe), state_(std::move(state)) {}

    void Serve() {
        HostRequest request;
        while (retirement_ == HostRetirement::None && ReadHostRequest(pipe_, request) &&
               request.verb != HostVerb::Quit) {
            if (request.verb == HostVerb::Resume)
                break;  // only ever the answer to "worker"
            if (request.verb == HostVerb::Walk)
                Walk(request);
            else
                Answer(request);
            PrepareServerThread();
        }
    }

  private:
    void Answer(const HostRequest& request) {
        const bool unregister = request.verb == HostVerb::Unregister;
        HMODULE loadedAt = nullptr;
        FILETIME called{};
        bool asked = false;
        bool resumed = false;
        const std::vector<HMODULE> modulesBefore = LoadedModules();
        servedFiles_.insert(LowerPath(request.path));
        const EntryResult result = CallServerEntry(
            request.path, unregister,
            [&](DWORD workerThread) {
                asked = true;
                HostReply worker;
                worker.kind = HostReplyKind::Worker;
                worker.sequence = request.sequence;
                worker.workerThread = workerThread;
                Reply(worker);
                // Nothing of the server's runs before the program holds the worker: it says it
                // does in the request when the last answer named this worker, and otherwise
                // with "resume".
                if (request.worker != 0 && request.worker == workerThread) {
                    resumed = retirement_ == HostRetirement::None;
                } else {
                    HostRequest go;
                    resumed = retirement_ == HostRetirement::None &&
                              ReadHostRequest(pipe_, go) && go.verb == HostVerb::Resume &&
                              go.sequence == request.sequence;
                }
                if (!resumed)
                    return false;
                g_faultSequence = static_cast<LONG>(request.sequence);
                InterlockedExchange(&g_serving, 1);
                GetSystemTimeAsFileTime(&called);
                return true;
            },
            &loadedAt);
        if (asked && !resumed) {
            // The program did not let the worker go: it has done with this host.
            Retire(HostRetirement::ProgramGone);
            return;
        }
        // Nothing one server leaves behind may reach the next file: a host that holds any of
        // it serves no more. What it changed in the process is set back now, so that the walk
        // and the readback below run as the host started, too.
        if (result.outcome != EntryOutcome::NotFound) {
            Retire(ServerLeftSomethingBehind(loadedAt, modulesBefore, servedFiles_));
            if (!state_.SetBack())
                Retire(HostRetirement::StateNotSetBack);
        }
        // The next server's worker starts entering its apartment now, while this file's walk or
        // readback runs and the program takes its answers.
        if (retirement_ == HostRetirement::None)
            PrepareServerThread();
        // The worker has ended: its outcome goes out before anything else the host does for
        // this file, so that nothing after it can overrun and take a success back. When nothing
        // else is to be done, "done" alone carries it.
        const bool walkAfter = result.outcome == EntryOutcome::NotLoadable;
        const bool readBackAfter = !unregister && request.readBack && result.Succeeded();
        if (resumed && (walkAfter || readBackAfter)) {
            HostReply exported;
            exported.kind = HostReplyKind::Exported;
            exported.sequence = request.sequence;
            exported.result = result;
            Reply(exported);
        }
        if (walkAfter) {
            // The load is over, so the headers can be read in the bitness the file needs.
            SendCause(request,
                      FindMissingDependency({request.path, HostSearchFolders(request.path)}),
                      false);
        } else if (readBackAfter) {
            SendClassesElsewhere(request, called);
        }
        // A fault until here is still this request's: a library the walk or the readback
        // reads may be as broken as the server.
        InterlockedExchange(&g_serving, 0);
        HostReply done;
        done.sequence = request.sequence;
        done.result = result;
        done.retirement = retirement_;
        // The next server's worker is named, so that the program holds it before it sends the
        // next request.
        if (retirement_ == HostRetirement::None) {
            PrepareServerThread();
            done.nextWorker = PreparedServerThreadId();
        }
        Reply(done);
    }

    // A host the program no longer hears serves no more.
    void Reply(const HostReply& reply) {
        if (!WriteHostReply(pipe_, reply))
            Retire(HostRetirement::ProgramGone);
    }

    // The first reason found is the one told.
    void Retire(HostRetirement why) {
        if (retirement_ == HostRetirement::None)
            retirement_ = why;
    }

    // A walk after the host that loaded the file crashed: this one has run no server's code.
    void Walk(const HostRequest& request) {
        SendCause(request, FindMissingDependency({request.path, HostSearchFolders(request.path)}),
                  true);
    }

    void SendCause(const HostRequest& request, const DependencyCulprit& culprit, bool evenNone) {
        if (culprit.kind == CulpritKind::None && !evenNone)
            return;
        HostReply cause;
        cause.kind = HostReplyKind::Cause;
        cause.sequence = request.sequence;
        cause.culprit = culprit;
        Reply(cause);
    }

    // After a registration that succeeded: the classes it leaves leading to another file.
    void SendClassesElsewhere(const HostRequest& request, const FILETIME& called) {
        const std::vector<ClassPointingElsewhere> found =
            ReadBackClasses({request.path, called, sizeof(void*) == 8, {}});
        int sent = 0;
        for (const ClassPointingElsewhere& finding : found) {
            if (sent++ == kHostClassFindingLimit)
                break;
            HostReply named;
            named.kind = HostReplyKind::Class;
            named.sequence = request.sequence;
            named.misdirected = finding;
            Reply(named);
        }
    }

    HANDLE pipe_;
    const HostState state_;
    HostRetirement retirement_ = HostRetirement::None;
    // Every file this host was asked to load: one of them left mapped by another server would
    // be found already loaded when its own turn comes.
    std::set<std::wstring> servedFiles_;
};

}  // namespace

bool IsRegistrationHostCommandLine(const wchar_t* commandLine, HANDLE& pipe) {
    if (!commandLine)
        return false;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
    if (!arguments)
        return false;
    bool host = count == 3 && std::wcscmp(arguments[1], kHostSwitch) == 0;
    unsigned long long value = 0;
    for (const wchar_t* digit = host ? arguments[2] : L""; host && *digit; ++digit) {
        host = *digit >= L'0' && *digit <= L'9' && value < (1ull << 48);
        value = value * 10 + static_cast<unsigned>(*digit - L'0');
    }
    host = host && arguments[2][0] != L'\0' && value != 0;
    LocalFree(arguments);
    if (host)
        pipe = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
    return host;
}

int RunRegistrationHost(HANDLE pipe) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    g_faultPipe = pipe;
    SetUnhandledExceptionFilter(EndOnFault);
    // Nothing a server starts gets the pipe, and the libraries a server names are never looked
    // for in the current folder (the program makes it the system folder, too).
    SetHandleInformation(pipe, HANDLE_FLAG_INHERIT, 0);
    SetDllDirectoryW(L"");
    // Holding the runtime in this thread's multi-threaded apartment keeps it loaded between two
    // servers, so that each server's thread enters its own apartment quickly. The first
    // single-threaded apartment, a server's, is still the process's main one.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    NoteOwnThreads();
    PrepareServerThread();
    Host(pipe, HostState::Take()).Serve();
    // Whatever a server left running must not hold the end up.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

}  // namespace kestrave
