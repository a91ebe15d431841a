#include "registration_host.h"

#include <sddl.h>

#include <cwchar>

#include "batch_report.h"
#include "environment.h"
#include "host_channel.h"
#include "host_main.h"
#include "packed_bitmap.h"
#include "system_error.h"

namespace kestrave {
namespace {

// How long a host that was told to stop may take before it is ended.
constexpr DWORD kHostStopWaitMs = 3000;

constexpr wchar_t kHost64Resource[] = L"REGISTRATION_HOST_X64";
constexpr wchar_t kPackedProgramType[] = L"PACKED_EXE";

int Slot(ImageKind kind) {
    return kind == ImageKind::X64 ? 1 : 0;
}

// An exit code in the range of exception codes means the host died of a fault.
bool IsFaultCode(DWORD code) {
    return (code & 0xC0000000) == 0xC0000000 || code == 0x80000003;
}

// An entry's outcome as a host sends it: three numbers from `first` on.
EntryResult OutcomeAt(const HostMessage& message, size_t first) {
    return {static_cast<EntryOutcome>(FieldNumber(message, first)), FieldNumber(message, first + 1),
            static_cast<HRESULT>(FieldNumber(message, first + 2))};
}

DWORD DefaultWait(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    return WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
}

std::wstring OwnImagePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

DWORD WriteWholeFile(const std::wstring& path, const void* bytes, DWORD size) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        return error;
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes, size, &written, nullptr)) {
        DWORD error = GetLastError();
        return error;
    }
    return written == size ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

}  // namespace

// ---- Where the hosts are ----

ProgramHostImages::~ProgramHostImages() {
    held_.clear();
    for (const std::wstring& path : written_)
        DeleteFileW(path.c_str());
    if (!folder_.empty())
        RemoveDirectoryW(folder_.c_str());
}

DWORD ProgramHostImages::MakeFolder() {
    if (!folder_.empty())
        return ERROR_SUCCESS;
    // Administrators and the system alone may change it; nothing is inherited from above.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr)) {
        DWORD error = GetLastError();
        return error;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    std::wstring base = EnvironmentValue(L"ProgramData");
    if (base.empty())
        base = EnvironmentValue(L"windir") + L"\\Temp";
    DWORD error = ERROR_ALREADY_EXISTS;
    // A folder of that name that is already there may be anybody's: never use one.
    for (int attempt = 0; attempt < 16 && error == ERROR_ALREADY_EXISTS; ++attempt) {
        wchar_t name[64];
        swprintf(name, 64, L"\\Kestrave-%lu-%lx-%d", GetCurrentProcessId(), GetTickCount(),
                 attempt);
        const std::wstring candidate = base + name;
        if (CreateDirectoryW(candidate.c_str(), &security)) {
            folder_ = candidate;
            error = ERROR_SUCCESS;
        } else {
            error = GetLastError();
        }
    }
    LocalFree(descriptor);
    return error;
}

std::wstring ProgramHostImages::Place(const wchar_t* name,
                                      const std::function<DWORD(const std::wstring&)>& write,
                                      std::wstring& whyNot) {
    DWORD error = MakeFolder();
    const std::wstring path = folder_ + L"\\" + name;
    if (error == ERROR_SUCCESS)
        error = write(path);
    if (error == ERROR_SUCCESS) {
        written_.push_back(path);
        // Held open without write or delete sharing for as long as it may run.
        FileHandle hold(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hold)
            error = GetLastError();
        else
            held_.push_back(std::move(hold));
    }
    if (error != ERROR_SUCCESS) {
        whyNot = HostNotStartedReason(error);
        return {};
    }
    return path;
}

std::wstring ProgramHostImages::ImageFor(ImageKind kind, std::wstring& whyNot) {
    std::wstring& image = kind == ImageKind::X64 ? x64_ : x86_;
    if (!image.empty())
        return image;
    if (kind == kProgramImageKind) {
        image = Place(
            L"kestrave-host.exe",
            [](const std::wstring& path) -> DWORD {
                if (CopyFileW(OwnImagePath().c_str(), path.c_str(), TRUE))
                    return ERROR_SUCCESS;
                DWORD error = GetLastError();
                return error;
            },
            whyNot);
        return image;
    }
    if (kind == ImageKind::X86) {
        whyNot = kNeeds32BitProgramReason;
        return {};
    }
    if (!WindowsRuns64BitPrograms()) {
        whyNot = k64BitOn32BitWindowsReason;
        return {};
    }
    // Carried packed, like the pictures: it is a third of the program's size unpacked.
    HRSRC found = FindResourceW(nullptr, kHost64Resource, kPackedProgramType);
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* packed = loaded ? LockResource(loaded) : nullptr;
    const std::vector<UCHAR> bytes =
        packed ? UnpackBytes(packed, SizeofResource(nullptr, found)) : std::vector<UCHAR>();
    if (bytes.empty()) {
        whyNot = HostNotStartedReason(ERROR_RESOURCE_NAME_NOT_FOUND);
        return {};
    }
    image = Place(
        L"kestrave-host64.exe",
        [&](const std::wstring& path) {
            return WriteWholeFile(path, bytes.data(), static_cast<DWORD>(bytes.size()));
        },
        whyNot);
    return image;
}

// ---- One host process ----

class HostSession::Process {
  public:
    enum class Got { Message, Ended, TimedOut };

    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    ~Process() {
        if (!process_)
            return;
        Kill();
    }

    static std::unique_ptr<Process> Start(const std::wstring& image, DWORD& error) {
        std::unique_ptr<Process> host(new Process);
        static LONG counter = 0;
        wchar_t name[96];
        swprintf(name, 96, L"\\\\.\\pipe\\kestrave-host-%lu-%ld", GetCurrentProcessId(),
                 InterlockedIncrement(&counter));
        host->pipe_.reset(CreateNamedPipeW(
            name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
            kHostMessageLimit, kHostMessageLimit, 0, nullptr));
        if (!host->pipe_) {
            error = GetLastError();
            return nullptr;
        }
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        FileHandle client(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, &inheritable,
                                      OPEN_EXISTING, 0, nullptr));
        if (!client) {
            error = GetLastError();
            return nullptr;
        }
        DWORD mode = PIPE_READMODE_MESSAGE;
        SetNamedPipeHandleState(client.get(), &mode, nullptr, nullptr);
        host->event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!host->event_) {
            error = GetLastError();
            return nullptr;
        }

        std::wstring commandLine = L"\"" + image + L"\" " + kHostSwitch + L" " +
                                   std::to_wstring(reinterpret_cast<ULONG_PTR>(client.get()));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(image.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                            CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_DEFAULT_ERROR_MODE,
                            nullptr, nullptr, &startup, &started)) {
            error = GetLastError();
            return nullptr;
        }
        host->process_.reset(started.hProcess);
        KernelHandle thread(started.hThread);
        // Should the program itself go down, its hosts go with it.
        host->job_.reset(CreateJobObjectW(nullptr, nullptr));
        if (host->job_) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(host->job_.get(), JobObjectExtendedLimitInformation, &limits,
                                    sizeof limits);
            AssignProcessToJobObject(host->job_.get(), host->process_.get());
        }
        ResumeThread(thread.get());
        return host;
    }

    HANDLE ProcessHandle() const { return process_.get(); }

    bool HasEnded() const { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }

    bool Send(const HostMessage& message, const HostWait& wait, DWORD limitMs = kFileStepLimitMs) {
        const std::string bytes = EncodeHostMessage(message);
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.get();
        ResetEvent(event_.get());
        DWORD done = 0;
        if (WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done,
                      &overlapped))
            return true;
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        const HANDLE signals[] = {event_.get(), process_.get()};
        if (wait(2, signals, limitMs) != WAIT_OBJECT_0) {
            CancelIo(pipe_.get());
            GetOverlappedResult(pipe_.get(), &overlapped, &done, TRUE);
            return false;
        }
        return GetOverlappedResult(pipe_.get(), &overlapped, &done, FALSE) != FALSE;
    }

    Got Receive(HostMessage& message, DWORD limitMs, const HostWait& wait) {
        std::string buffer(kHostMessageLimit, '\0');
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.get();
        ResetEvent(event_.get());
        DWORD read = 0;
        if (ReadFile(pipe_.get(), buffer.data(), kHostMessageLimit, &read, &overlapped)) {
            message = DecodeHostMessage(buffer.data(), read);
            return Got::Message;
        }
        if (GetLastError() != ERROR_IO_PENDING)
            return Ended();
        const HANDLE signals[] = {event_.get(), process_.get()};
        DWORD woken = wait(2, signals, limitMs);
        // A host may answer and end at once: its answer counts.
        if (woken == WAIT_OBJECT_0 + 1)
            woken = WaitForSingleObject(event_.get(), 100) == WAIT_OBJECT_0 ? WAIT_OBJECT_0 : woken;
        if (woken == WAIT_OBJECT_0 && GetOverlappedResult(pipe_.get(), &overlapped, &read, FALSE)) {
            message = DecodeHostMessage(buffer.data(), read);
            return Got::Message;
        }
        CancelIo(pipe_.get());
        GetOverlappedResult(pipe_.get(), &overlapped, &read, TRUE);
        if (woken == WAIT_TIMEOUT)
            return Got::TimedOut;
        return Ended();
    }

    // How the host ended: the fault that brought it down, or the exit code a server gave.
    EntryResult Ending() const {
        WaitForSingleObject(process_.get(), kHostStopWaitMs);
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        if (code == STILL_ACTIVE)
            return {EntryOutcome::HostNotStarted, ERROR_BROKEN_PIPE};
        return {IsFaultCode(code) ? EntryOutcome::Crashed : EntryOutcome::EndedProcess, code};
    }

    void Stop() {
        Send({L"quit"}, DefaultWait, kHostStopWaitMs);
        if (WaitForSingleObject(process_.get(), kHostStopWaitMs) != WAIT_OBJECT_0)
            Kill();
    }

    void Kill() {
        TerminateProcess(process_.get(), static_cast<UINT>(E_ABORT));
        WaitForSingleObject(process_.get(), kHostStopWaitMs);
    }

  private:
    Process() = default;

    Got Ended() {
        WaitForSingleObject(process_.get(), kHostStopWaitMs);
        return Got::Ended;
    }

    KernelHandle process_;
    KernelHandle job_;
    FileHandle pipe_;
    KernelHandle event_;
};

// ---- A batch's hosts ----

struct HostSession::Exchange {
    bool replied = false;
    bool loadingSeen = false;
    HostMessage loading;
    HostMessage reply;
    std::wstring failure;  // why there is no reply
};

HostSession::HostSession(HostImages& images, HostWait wait)
    : images_(images), wait_(wait ? std::move(wait) : HostWait(DefaultWait)) {}

void HostSession::WaitWith(HostWait wait) {
    wait_ = wait ? std::move(wait) : HostWait(DefaultWait);
}

bool HostSession::StartAhead(ImageKind kind) {
    std::wstring ignored;
    return HostFor(kind, ignored) != nullptr;
}

HostSession::~HostSession() {
    for (auto& host : hosts_) {
        if (host)
            host->Stop();
    }
}

HostSession::Process* HostSession::HostFor(ImageKind kind, std::wstring& whyNot) {
    std::unique_ptr<Process>& host = hosts_[Slot(kind)];
    // A host that went away while it had nothing to do (between two batches, say) owes no file
    // an explanation: a fresh one takes over.
    if (host && host->HasEnded())
        Drop(kind, false);
    if (host)
        return host.get();
    const std::wstring image = images_.ImageFor(kind, whyNot);
    if (image.empty())
        return nullptr;
    DWORD error = ERROR_SUCCESS;
    host = Process::Start(image, error);
    if (!host) {
        whyNot = HostNotStartedReason(error);
        return nullptr;
    }
    ++hostsStarted_;
    return host.get();
}

void HostSession::Drop(ImageKind kind, bool retire) {
    std::unique_ptr<Process>& host = hosts_[Slot(kind)];
    serversLoaded_[Slot(kind)] = 0;
    if (!host)
        return;
    if (retire)
        host->Stop();
    else
        host->Kill();
    host.reset();
}

HostSession::Exchange HostSession::Ask(ImageKind kind, const HostMessage& request,
                                       DWORD waitLimitMs) {
    Exchange exchange;
    Process* host = HostFor(kind, exchange.failure);
    if (!host)
        return exchange;
    // A request that could not be written never reached the host: it ended before, and a
    // fresh one is asked instead.
    if (!host->Send(request, wait_)) {
        Drop(kind, false);
        host = HostFor(kind, exchange.failure);
        if (!host)
            return exchange;
        if (!host->Send(request, wait_)) {
            exchange.failure = EntryFailureReason(host->Ending(), false, {});
            Drop(kind, false);
            return exchange;
        }
    }
    for (;;) {
        HostMessage message;
        const DWORD limit = exchange.loadingSeen ? waitLimitMs : kFileStepLimitMs;
        const Process::Got got = host->Receive(message, limit, wait_);
        if (got == Process::Got::TimedOut) {
            exchange.failure = exchange.loadingSeen
                                   ? EntryFailureReason({EntryOutcome::TimedOut}, false, {})
                                   : kFileStepOverranReason;
            Drop(kind, false);
            return exchange;
        }
        if (got == Process::Got::Ended) {
            exchange.failure = EntryFailureReason(host->Ending(), false, {});
            Drop(kind, false);
            return exchange;
        }
        if (Field(message, 0) == L"loading" && !exchange.loadingSeen) {
            exchange.loadingSeen = true;
            exchange.loading = message;
            continue;
        }
        exchange.replied = true;
        exchange.reply = message;
        const bool loaded = exchange.loadingSeen && ++serversLoaded_[Slot(kind)] >= kServersPerHost;
        if (FieldNumber(message, message.size() - 1) != 0 || loaded)
            Drop(kind, true);
        return exchange;
    }
}

std::wstring HostSession::DeleteOnFreshHost(ImageKind kind, const std::wstring& path) {
    Drop(kind, true);
    const Exchange exchange = Ask(kind, {L"delete", path}, kFileStepLimitMs);
    if (!exchange.replied)
        return exchange.failure;
    const DWORD error = FieldNumber(exchange.reply, 1);
    return error == ERROR_SUCCESS ? std::wstring() : CopyRemovalFailureReason(error, NameOf(path));
}

RegisterStepResult HostSession::Register(ImageKind kind, const std::wstring& source,
                                         const std::wstring& systemCopy, DWORD waitLimitMs) {
    const Exchange exchange = Ask(kind, {L"register", source, systemCopy}, waitLimitMs);
    RegisterStepResult step;
    const HostMessage& facts = exchange.replied ? exchange.reply : exchange.loading;
    const size_t copiedField = exchange.replied ? 2 : 1;
    step.copied = FieldNumber(facts, copiedField) != 0;
    step.existing = static_cast<FileKinship>(FieldNumber(facts, copiedField + 1));
    if (!exchange.replied && !exchange.loadingSeen)
        step.existing = FileKinship::SameBytes;
    step.failure = exchange.replied ? Field(exchange.reply, 1) : exchange.failure;
    if (exchange.replied && step.failure.empty())
        step.failure = EntryFailureReason(OutcomeAt(exchange.reply, 5), false, NameOf(systemCopy));
    if (step.failure.empty())
        return step;

    // The copy this run made goes again. The host that loaded it may still map it, or may be
    // gone with it, so the one that takes it away is a fresh one.
    if (!step.copied)
        return step;
    const std::wstring removalFailure = DeleteOnFreshHost(kind, systemCopy);
    if (removalFailure.empty()) {
        step.copied = false;
        return step;
    }
    step.failure += L"; " + removalFailure;
    return step;
}

HostSession::Unregistered HostSession::Unregister(ImageKind kind, const std::wstring& systemCopy,
                                                  DWORD waitLimitMs) {
    const Exchange exchange = Ask(kind, {L"unregister", systemCopy}, waitLimitMs);
    if (!exchange.replied)
        return {false, exchange.failure};
    if (FieldNumber(exchange.reply, 1) != 0)
        return {true, {}};
    return {false, EntryFailureReason(OutcomeAt(exchange.reply, 2), true, NameOf(systemCopy))};
}

HostSession::CopyDeletion HostSession::DeleteSystemCopy(ImageKind kind, const std::wstring& source,
                                                        const std::wstring& systemCopy) {
    Exchange exchange = Ask(kind, {L"delete-copy", source, systemCopy}, kFileStepLimitMs);
    // Refused while the host that had loaded it still lived: ask again once it has ended.
    if (exchange.replied && FieldNumber(exchange.reply, 3) != ERROR_SUCCESS &&
        FieldNumber(exchange.reply, 4) != 0)
        exchange = Ask(kind, {L"delete-copy", source, systemCopy}, kFileStepLimitMs);
    if (!exchange.replied)
        return {false, false, exchange.failure};
    const DWORD error = FieldNumber(exchange.reply, 3);
    return {
        FieldNumber(exchange.reply, 1) != 0, FieldNumber(exchange.reply, 2) != 0,
        error == ERROR_SUCCESS ? std::wstring() : DeleteFailureReason(error, NameOf(systemCopy))};
}

std::wstring ImageFailureReason(const ImageInfo& image) {
    switch (image.kind) {
        case ImageKind::X86:
        case ImageKind::X64:
            return {};
        case ImageKind::Unreadable:
            return L"无法读取: " + SystemErrorText(image.error);
        case ImageKind::NotALibrary:
        case ImageKind::OtherMachine:
            return kNotAServerReason;
    }
    return kNotAServerReason;
}

}  // namespace kestrave
