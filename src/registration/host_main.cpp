#include "host_main.h"

#include <objbase.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "file_lookup.h"
#include "host_channel.h"
#include "server_entry.h"

namespace kestrave {
namespace {

// A server that faults must end this process at once with the fault's code, which the program
// reports: no crash dialog, no debugger, nothing left waiting for a user.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS* fault) {
    TerminateProcess(GetCurrentProcess(), fault->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

class Host {
  public:
    explicit Host(HANDLE pipe) : pipe_(pipe) {}

    void Serve() {
        HostRequest request;
        while (!retiring_ && ReadHostRequest(pipe_, request) && request.verb != HostVerb::Quit) {
            Answer(request);
            PrepareServerThread();
        }
    }

  private:
    void Answer(const HostRequest& request) {
        const bool unregister = request.verb == HostVerb::Unregister;
        HostReply done;
        done.sequence = request.sequence;
        HMODULE loadedAt = nullptr;
        const std::vector<HMODULE> modulesBefore = LoadedModules();
        done.result = CallServerEntry(
            request.path, unregister,
            [&] {
                HostReply loading;
                loading.kind = HostReplyKind::Loading;
                loading.sequence = request.sequence;
                if (!WriteHostReply(pipe_, loading))
                    retiring_ = true;
            },
            &loadedAt);
        // Nothing one server leaves behind may reach the next file: a host that holds any of
        // it serves no more.
        if (done.result.outcome != EntryOutcome::NotFound &&
            ServerLeftSomethingBehind(loadedAt, modulesBefore))
            retiring_ = true;
        done.retiring = retiring_;
        if (!WriteHostReply(pipe_, done))
            retiring_ = true;
    }

    HANDLE pipe_;
    bool retiring_ = false;
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
    Host(pipe).Serve();
    // Whatever a server left running must not hold the end up.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

}  // namespace kestrave
