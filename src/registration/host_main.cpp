#include "host_main.h"

#include <objbase.h>

#include <cwchar>
#include <set>
#include <string>

#include "batch_report.h"
#include "file_steps.h"
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

void AppendOutcome(HostMessage& message, const EntryResult& result) {
    message.push_back(NumberField(static_cast<unsigned long>(result.outcome)));
    message.push_back(NumberField(result.error));
    message.push_back(NumberField(static_cast<unsigned long>(result.result)));
}

class Host {
  public:
    explicit Host(HANDLE pipe) : pipe_(pipe) {}

    int Serve() {
        HostMessage request;
        while (ReadHostMessage(pipe_, request)) {
            const std::wstring verb = Field(request, 0);
            if (verb == L"register") {
                OnRegister(Field(request, 1), Field(request, 2));
            } else if (verb == L"unregister") {
                OnUnregister(Field(request, 1));
            } else if (verb == L"delete-copy") {
                OnDeleteCopy(Field(request, 1), Field(request, 2));
            } else if (verb == L"delete") {
                Answer({L"deleted", NumberField(DeleteServerFile(Field(request, 1)))});
            } else {
                break;  // "quit", or a request this host does not know
            }
            if (retiring_)
                break;
            PrepareServerThread();
        }
        // Whatever a server left running must not hold the end up.
        TerminateProcess(GetCurrentProcess(), 0);
        return 0;
    }

  private:
    void Reply(const HostMessage& message) {
        if (!WriteHostMessage(pipe_, message))
            retiring_ = true;
    }

    // A step's last message; its last field says whether this host serves no more.
    void Answer(HostMessage message) {
        message.push_back(NumberField(retiring_));
        Reply(message);
    }

    EntryResult Call(const std::wstring& path, bool unregister,
                     const std::function<void()>& beforeLoading) {
        loaded_.insert(path);
        HMODULE loadedAt = nullptr;
        EntryResult result = CallServerEntry(path, unregister, beforeLoading, &loadedAt);
        // Nothing one server leaves behind may reach the next file: a host that holds any of
        // it serves no more.
        if (result.outcome != EntryOutcome::NotFound && ServerLeftSomethingBehind(loadedAt))
            retiring_ = true;
        return result;
    }

    void OnRegister(const std::wstring& source, const std::wstring& systemCopy) {
        RegisterStepResult step = PrepareSystemCopy(source, systemCopy);
        EntryResult result{EntryOutcome::Finished};
        DWORD removalError = ERROR_SUCCESS;
        if (step.failure.empty()) {
            result = Call(systemCopy, false, [&] {
                Reply({L"loading", NumberField(step.copied),
                       NumberField(static_cast<unsigned long>(step.existing))});
            });
            step.failure = EntryFailureReason(result, false, NameOf(systemCopy));
            removalError = TakeBackFailedCopy(step, systemCopy);
        }
        // The program words the entry's outcome itself, from the numbers.
        HostMessage answer{L"registered", step.failure, NumberField(step.copied),
                           NumberField(static_cast<unsigned long>(step.existing)),
                           NumberField(removalError)};
        AppendOutcome(answer, result);
        Answer(answer);
    }

    void OnUnregister(const std::wstring& systemCopy) {
        const EntryResult result = Call(systemCopy, true, [&] { Reply({L"loading"}); });
        HostMessage answer{L"unregistered", NumberField(result.outcome == EntryOutcome::NotFound)};
        AppendOutcome(answer, result);
        Answer(answer);
    }

    void OnDeleteCopy(const std::wstring& source, const std::wstring& systemCopy) {
        const CopyDeletionResult deletion = DeleteSystemCopyStep(source, systemCopy);
        // A server may keep its own file mapped after it was released; only the end of this
        // process lets go of it, so another host must try again.
        if (deletion.error != ERROR_SUCCESS && loaded_.count(systemCopy))
            retiring_ = true;
        Answer({L"copy-deleted", NumberField(deletion.deleted),
                NumberField(deletion.keptAsOnlyCopy), NumberField(deletion.error)});
    }

    HANDLE pipe_;
    std::set<std::wstring> loaded_;
    bool retiring_ = false;
};

}  // namespace

bool IsRegistrationHostCommandLine(const wchar_t* commandLine, HANDLE& pipe) {
    if (!commandLine)
        return false;
    const wchar_t* found = std::wcsstr(commandLine, kHostSwitch);
    if (!found)
        return false;
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(found + std::wcslen(kHostSwitch), &end, 10);
    if (end == found + std::wcslen(kHostSwitch) || value == 0)
        return false;
    pipe = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
    return true;
}

int RunRegistrationHost(HANDLE pipe) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnFault);
    // Holding the runtime in this thread's multi-threaded apartment keeps it loaded between two
    // servers, so that each server's thread enters its own apartment quickly. The first
    // single-threaded apartment, a server's, is still the process's main one.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    NoteOwnThreads();
    PrepareServerThread();
    Host host(pipe);
    // Serve ends the process itself, runtime and all.
    return host.Serve();
}

}  // namespace kestrave
