#include "host_process.h"

#include <psapi.h>

#include <sddl.h>

#include <vector>

#include "host_channel.h"
#include "system_folders.h"
#include "system_random.h"

namespace kestrave {
namespace {

// Administrators and the system alone may open the pipe; nothing is inherited from above.
constexpr wchar_t kPipeAccess[] = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";

class SecurityDescriptor {
  public:
    explicit SecurityDescriptor(const wchar_t* sddl) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                  &descriptor_, nullptr))
            error_ = GetLastError();
    }
    ~SecurityDescriptor() { LocalFree(descriptor_); }
    SecurityDescriptor(const SecurityDescriptor&) = delete;
    SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;

    PSECURITY_DESCRIPTOR get() const { return descriptor_; }
    DWORD error() const { return error_; }

  private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    DWORD error_ = ERROR_SUCCESS;
};

// The attribute list that passes exactly one handle to the host.
class InheritedHandleList {
  public:
    explicit InheritedHandleList(HANDLE handle) : handle_(handle) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            error_ = GetLastError();
            return;
        }
        list_ = list;
        if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_,
                                       sizeof handle_, nullptr, nullptr))
            error_ = GetLastError();
    }
    ~InheritedHandleList() {
        if (list_)
            DeleteProcThreadAttributeList(list_);
    }
    InheritedHandleList(const InheritedHandleList&) = delete;
    InheritedHandleList& operator=(const InheritedHandleList&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }
    DWORD error() const { return error_; }

  private:
    HANDLE handle_;
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    DWORD error_ = ERROR_SUCCESS;
};

// A host tells of every fault its filter catches ("crashed"). One that ended without a word
// but with a code in the range of fault codes died of a fault that passed its filter by (a
// fail-fast, say): a crash too.
bool IsFaultCode(DWORD code) {
    return (code & 0xC0000000) == 0xC0000000 || code == 0x80000003;
}

// A pipe of a random name that this program made (no one else's instance of that name).
FileHandle MakePipe(std::wstring& name, DWORD& error) {
    SecurityDescriptor access(kPipeAccess);
    if (access.error() != ERROR_SUCCESS) {
        error = access.error();
        return {};
    }
    SECURITY_ATTRIBUTES security{sizeof security, access.get(), FALSE};
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::wstring digits = RandomHexDigits(32, error);
        if (digits.empty())
            return {};
        name = L"\\\\.\\pipe\\kestrave-host-" + digits;
        FileHandle pipe(CreateNamedPipeW(
            name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
            kHostRequestLimit, kHostRequestLimit, 0, &security));
        if (pipe)
            return pipe;
        error = GetLastError();
        // Somebody holds that name already: another one.
        if (error != ERROR_ACCESS_DENIED && error != ERROR_PIPE_BUSY &&
            error != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}

}  // namespace

DWORD PlainHostWait(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    return WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
}

std::unique_ptr<HostProcess> HostProcess::Start(const std::wstring& image, DWORD& error) {
    std::unique_ptr<HostProcess> host(new HostProcess);
    std::wstring name;
    host->pipe_ = MakePipe(name, error);
    if (!host->pipe_)
        return nullptr;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    FileHandle client(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable,
                                  OPEN_EXISTING, 0, nullptr));
    if (!client) {
        error = GetLastError();
        return nullptr;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(client.get(), &mode, nullptr, nullptr)) {
        error = GetLastError();
        return nullptr;
    }
    host->event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!host->event_) {
        error = GetLastError();
        return nullptr;
    }

    // Should the program itself go down, its hosts and whatever they started go with it.
    host->job_.reset(CreateJobObjectW(nullptr, nullptr));
    if (!host->job_) {
        error = GetLastError();
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    // No real registration comes near the memory limit; a host that a hostile file drives past
    // it fails its allocations instead of taking the machine's memory.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_JOB_MEMORY;
    limits.JobMemoryLimit = kHostJobMemoryLimit;
    if (!SetInformationJobObject(host->job_.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
        error = GetLastError();
        return nullptr;
    }

    InheritedHandleList inherited(client.get());
    if (inherited.error() != ERROR_SUCCESS) {
        error = inherited.error();
        return nullptr;
    }
    // The host's loader looks in its current folder for the libraries a server names: the
    // system folder, where nobody else may write.
    const std::wstring currentFolder = SystemFolder();
    std::wstring commandLine = L"\"" + image + L"\" " + kHostSwitch + L" " +
                               std::to_wstring(reinterpret_cast<ULONG_PTR>(client.get()));
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = inherited.get();
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(image.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_DEFAULT_ERROR_MODE |
                            EXTENDED_STARTUPINFO_PRESENT,
                        nullptr, currentFolder.empty() ? nullptr : currentFolder.c_str(),
                        &startup.StartupInfo, &started)) {
        error = GetLastError();
        return nullptr;
    }
    host->process_.reset(started.hProcess);
    host->processId_ = started.dwProcessId;
    KernelHandle thread(started.hThread);
    if (!AssignProcessToJobObject(host->job_.get(), host->process_.get())) {
        error = GetLastError();
        TerminateProcess(host->process_.get(), static_cast<UINT>(E_ABORT));
        return nullptr;
    }
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        error = GetLastError();
        return nullptr;
    }
    return host;
}

HostProcess::~HostProcess() {
    if (job_)
        TerminateJobObject(job_.get(), static_cast<UINT>(E_ABORT));
}

KernelHandle HostProcess::OpenWorker(DWORD threadId, DWORD& error) const {
    error = ERROR_SUCCESS;
    KernelHandle thread(
        OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId));
    if (!thread) {
        const DWORD refused = GetLastError();
        if (refused != ERROR_INVALID_PARAMETER)  // that is: no thread of that id
            error = refused;
        return {};
    }
    // Another process's thread, or one that is over already, cannot be the worker.
    if (GetProcessIdOfThread(thread.get()) != processId_ ||
        WaitForSingleObject(thread.get(), 0) != WAIT_TIMEOUT)
        return {};
    return thread;
}

bool HostProcess::HasEnded() const {
    return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0;
}

bool HostProcess::HasUnaskedMessage() const {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &available, nullptr))
        return false;  // broken: the next request finds out
    return available > 0;
}

bool HostProcess::RunsAlone() const {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                   sizeof accounting, nullptr))
        return false;
    return accounting.ActiveProcesses <= 1;
}

bool HostProcess::Send(const std::string& bytes, const HostWait& wait, DWORD limitMs) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.get();
    ResetEvent(event_.get());
    DWORD done = 0;
    if (WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, &overlapped))
        return done == bytes.size();
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    const HANDLE signals[] = {event_.get(), process_.get()};
    if (wait(2, signals, limitMs) != WAIT_OBJECT_0) {
        CancelIo(pipe_.get());
        GetOverlappedResult(pipe_.get(), &overlapped, &done, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe_.get(), &overlapped, &done, FALSE) && done == bytes.size();
}

HostProcess::Got HostProcess::Receive(std::string& bytes, DWORD limit, DWORD limitMs,
                                      const HostWait& wait) {
    bytes.assign(limit, '\0');
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.get();
    ResetEvent(event_.get());
    DWORD read = 0;
    if (ReadFile(pipe_.get(), bytes.data(), limit, &read, &overlapped)) {
        bytes.resize(read);
        return Got::Message;
    }
    DWORD error = GetLastError();
    if (error == ERROR_MORE_DATA)
        return Got::Oversized;
    if (error != ERROR_IO_PENDING)
        return Got::Ended;
    const HANDLE signals[] = {event_.get(), process_.get()};
    DWORD woken = wait(2, signals, limitMs);
    // A host may answer and end at once: its answer counts.
    if (woken == WAIT_OBJECT_0 + 1) {
        const HANDLE answered = event_.get();
        if (wait(1, &answered, 100) == WAIT_OBJECT_0)
            woken = WAIT_OBJECT_0;
    }
    if (woken == WAIT_OBJECT_0) {
        if (GetOverlappedResult(pipe_.get(), &overlapped, &read, FALSE)) {
            bytes.resize(read);
            return Got::Message;
        }
        error = GetLastError();
        if (error == ERROR_MORE_DATA)
            return Got::Oversized;
        return Got::Ended;
    }
    CancelIo(pipe_.get());
    GetOverlappedResult(pipe_.get(), &overlapped, &read, TRUE);
    return woken == WAIT_TIMEOUT ? Got::TimedOut : Got::Ended;
}

SIZE_T HostProcess::PeakMemory() const {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(process_.get(), &counters, sizeof counters))
        return 0;
    return counters.PeakPagefileUsage;
}

void HostProcess::End(const HostWait& wait) {
    TerminateJobObject(job_.get(), static_cast<UINT>(E_ABORT));
    const HANDLE process = process_.get();
    wait(1, &process, kHostEndWaitMs);
}

EntryResult HostProcess::Ending(const HostWait& wait) {
    const HANDLE process = process_.get();
    wait(1, &process, kHostEndWaitMs);
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    if (code == STILL_ACTIVE)
        return {EntryOutcome::HostNotStarted, ERROR_BROKEN_PIPE};
    return {IsFaultCode(code) ? EntryOutcome::Crashed : EntryOutcome::EndedProcess, code};
}

}  // namespace kestrave
