// The two batch commands: register every queued server, or unregister them all, each run
// ending with one closing message.
#pragma once

#include <windows.h>

#include <string>

#include "file_steps.h"
#include "options_record.h"
#include "registration_host.h"
#include "entry_result.h"
#include "server_list.h"
#include "system_folders.h"

namespace kestrave {

// The window side of a batch: the main window implements it.
class BatchHost {
  public:
    virtual ~BatchHost() = default;
    virtual void SetMousePointer(
        int pointer) = 0;  // kPointerHourglass during a run, kPointerArrow after
    virtual void HideMainWindow() = 0;
    virtual void ShowMainWindow() = 0;
    virtual int ShowMessage(const std::wstring& text, int style, const std::wstring& title) = 0;
    // Waits for a registration host, as WaitForMultipleObjects does; a window may go on
    // painting meanwhile.
    virtual DWORD WaitForHost(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
        return WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    }
    // The batch is at file `number` (from 1) of `total`; ended once with `number` 0.
    virtual void ShowProgress(int /*number*/, int /*total*/, bool /*unregister*/) {}
    // Asked between two files: true stops the batch there.
    virtual bool StopWanted() { return false; }
    // Shortens a listed path so that its line fits into the message box without being wrapped.
    virtual std::wstring FitPath(const std::wstring& path, const std::wstring& /*rest*/) {
        return path;
    }
    // Whether the message box showing `text` fits the screen, top to bottom; a message that
    // does not is made again with fewer paths listed.
    virtual bool MessageFits(const std::wstring& /*text*/) { return true; }
    // Puts the complete report of a batch where the user can paste it from.
    virtual bool PutOnClipboard(const std::wstring& /*text*/) { return false; }
    // The Windows folder the target subfolder is in: the system's own, whatever the
    // environment says. Tests that must not write into it give a folder of their own.
    virtual std::wstring WindowsFolder() { return SystemWindowsFolder(); }
};

// Each command works on the files queued when it began: the queue may be changed meanwhile
// without reaching the batch.

// Copies each queued file into the system folder (unless a file of that name is there), runs
// the copy's DllRegisterServer and reports every file that was not registered. The queue is
// left as it is, even when sources are deleted.
// Each file's work is done by a registration host of its bitness, from `images`.
void RegisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                 HostImages& images, DWORD waitLimitMs = kServerEntryWaitLimitMs);

// Runs DllUnregisterServer of each queued name's copy in the system folder; names without a
// copy there are passed over and reported. A copy is deleted, when asked, only if its queued
// source is another file with the same bytes. Source files are never touched.
void UnregisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                   HostImages& images, DWORD waitLimitMs = kServerEntryWaitLimitMs);

// The same two commands through hosts that outlive the batch, so that they may have been
// started before it (the program starts one as soon as something is queued).
void RegisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                 HostSession& hosts, DWORD waitLimitMs = kServerEntryWaitLimitMs);
void UnregisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                   HostSession& hosts, DWORD waitLimitMs = kServerEntryWaitLimitMs);

}  // namespace kestrave
