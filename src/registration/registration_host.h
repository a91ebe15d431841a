// The program's side of the registration hosts: starting them, handing each file's steps to a
// host of the file's bitness, holding every step to its time limit, and telling what happened
// when a server brought its host down.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "file_steps.h"
#include "handles.h"
#include "host_channel.h"
#include "pe_image.h"
#include "server_entry.h"

namespace kestrave {

// How long a host may take over the file work before a load (copying, comparing, deleting).
inline constexpr DWORD kFileStepLimitMs = 60000;

// How many servers one host loads before a fresh one takes over. Some servers take a little
// of the process with them every time (thread-local slots, memory), and a process has only so
// much; a fresh host every few hundred files costs well under a millisecond a file.
inline constexpr int kServersPerHost = 500;

// The bitness of this program, whose own image serves as the host for servers of that bitness.
#if defined(_WIN64)
inline constexpr ImageKind kProgramImageKind = ImageKind::X64;
#else
inline constexpr ImageKind kProgramImageKind = ImageKind::X86;
#endif

// Where the host programs are.
class HostImages {
  public:
    virtual ~HostImages() = default;
    // The path of a host program for servers of `kind` (X86 or X64), or empty with `whyNot`.
    virtual std::wstring ImageFor(ImageKind kind, std::wstring& whyNot) = 0;
};

// The hosts of the shipped program, in a folder of their own that only administrators can
// change (so that a server's loads by name never reach the program's folder, and nobody swaps
// a host under an elevated program): the program itself for servers of its own bitness, and,
// in the 32-bit program on 64-bit Windows, the 64-bit host it carries. Each is written out when
// first needed, held open against replacement, and removed with this object.
class ProgramHostImages : public HostImages {
  public:
    ProgramHostImages() = default;
    ~ProgramHostImages() override;
    ProgramHostImages(const ProgramHostImages&) = delete;
    ProgramHostImages& operator=(const ProgramHostImages&) = delete;

    std::wstring ImageFor(ImageKind kind, std::wstring& whyNot) override;

    // The folder the hosts are written to; empty before the first host was needed.
    const std::wstring& Folder() const { return folder_; }

  private:
    DWORD MakeFolder();
    std::wstring Place(const wchar_t* name, const std::function<DWORD(const std::wstring&)>& write,
                       std::wstring& whyNot);

    std::wstring folder_;
    std::wstring x86_, x64_;
    std::vector<std::wstring> written_;
    std::vector<FileHandle> held_;
};

// Waits for any of `handles` for at most `timeoutMs`, as WaitForMultipleObjects answers. The
// window side waits while it keeps painting.
using HostWait = std::function<DWORD(DWORD count, const HANDLE* handles, DWORD timeoutMs)>;

// Registration hosts, at most one of each bitness, ended with this object: one batch's, or the
// program's for its whole run. A host that a server brought down, or that holds something a
// server left behind, is replaced by a fresh one for the next file.
class HostSession {
  public:
    explicit HostSession(HostImages& images, HostWait wait = {});
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // How the steps that follow wait for a host (empty: a plain wait).
    void WaitWith(HostWait wait);

    // Starts a host of `kind` now, without waiting for it, so that the first file of a batch
    // does not wait for a process to start. False when none can be started; a step asks again.
    bool StartAhead(ImageKind kind);

    RegisterStepResult Register(ImageKind kind, const std::wstring& source,
                                const std::wstring& systemCopy, DWORD waitLimitMs);

    struct Unregistered {
        bool absent = false;
        std::wstring failure;
    };
    Unregistered Unregister(ImageKind kind, const std::wstring& systemCopy, DWORD waitLimitMs);

    struct CopyDeletion {
        bool deleted = false;
        bool keptAsOnlyCopy = false;  // no other file holds its bytes, so it stays
        std::wstring failure;         // why the delete was refused
    };
    CopyDeletion DeleteSystemCopy(ImageKind kind, const std::wstring& source,
                                  const std::wstring& systemCopy);

    // How many hosts this session started (for the benchmark's figures).
    int HostsStarted() const { return hostsStarted_; }

  private:
    class Process;
    struct Exchange;

    Process* HostFor(ImageKind kind, std::wstring& whyNot);
    void Drop(ImageKind kind, bool retire);
    Exchange Ask(ImageKind kind, const HostMessage& request, DWORD waitLimitMs);
    std::wstring DeleteOnFreshHost(ImageKind kind, const std::wstring& path);

    HostImages& images_;
    HostWait wait_;
    std::unique_ptr<Process> hosts_[2];
    int serversLoaded_[2] = {0, 0};
    int hostsStarted_ = 0;
};

// Why a file cannot go to any host, from its header; empty when a host of `kind` may take it.
std::wstring ImageFailureReason(const ImageInfo& image);

}  // namespace kestrave
