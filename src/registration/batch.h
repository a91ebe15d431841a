// The two batch commands: register every queued server, or unregister them all, each run
// ending with one closing message.
#pragma once

#include <windows.h>

#include <string>

#include "options_record.h"
#include "server_entry.h"
#include "server_list.h"

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
};

// Copies each queued file into the system folder (unless a file of that name is there), runs
// the copy's DllRegisterServer and reports every file that was not registered. The queue is
// left as it is, even when sources are deleted.
void RegisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                 DWORD waitLimitMs = kServerEntryWaitLimitMs);

// Runs DllUnregisterServer of each queued name's copy in the system folder; names without a
// copy there are passed over. Source files are never touched.
void UnregisterAll(const ServerList& list, OptionsSource& options, BatchHost& host,
                   DWORD waitLimitMs = kServerEntryWaitLimitMs);

// Deletes one file outright through the shell, without asking. Gives ERROR_SUCCESS once the
// file is really gone, otherwise the system's reason why it is still there.
DWORD DeleteServerFile(const std::wstring& path);

}  // namespace kestrave
