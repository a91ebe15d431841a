// What registering or unregistering does with one queued file in the system folder. Each step
// sees the file system as the process that runs it does, so a server's steps must run in a
// process of the server's own bitness: that is where the system redirects its system folder.
#pragma once

#include <windows.h>

#include <string>

#include "server_entry.h"

namespace kestrave {

// How two paths relate, as far as deleting one of them may lose a file.
enum class FileKinship {
    SameFile,        // both paths name one file
    SameBytes,       // two files holding the same bytes
    DifferentBytes,  // two files that differ
    Unreadable,      // at least one could not be opened or read
};
FileKinship CompareFiles(const std::wstring& a, const std::wstring& b);

struct RegisterStepResult {
    std::wstring failure;  // empty when the server registered
    bool copied = false;   // this step put the system copy there, and it is still there
    FileKinship existing =
        FileKinship::SameBytes;  // when not copied: the system copy against the source
};

// Copies `source` to `systemCopy` unless a file of that name is there, and registers the system
// copy. A copy this step made is taken away again when its registration fails, so that a broken
// file does not stay in the system folder and stand in for a mended source next time.
RegisterStepResult RegisterStep(ServerEntryRunner& runner, const std::wstring& source,
                                const std::wstring& systemCopy, DWORD waitLimitMs);

struct DeletionResult {
    bool deleted = false;
    std::wstring reason;  // when not deleted and there is more to say than the path
};

// Deletes the source after its registration, but only when the system folder holds the same
// bytes in a file of its own: the source may be the only copy there is.
DeletionResult DeleteSourceStep(const std::wstring& source, const RegisterStepResult& registered);

struct UnregisterStepResult {
    bool absent = false;   // no copy of that name in the system folder: nothing was done
    std::wstring failure;  // why it was not unregistered
};

// Runs DllUnregisterServer of the file of that name in the system folder, if there is one.
UnregisterStepResult UnregisterStep(ServerEntryRunner& runner, const std::wstring& systemCopy,
                                    DWORD waitLimitMs);

struct CopyDeletionResult {
    bool deleted = false;
    bool keptAsOnlyCopy = false;  // no other file holds its bytes, so it stays
    std::wstring failure;         // why the delete was refused
};

// Deletes an unregistered system copy, but only when `source` is another file with the same
// bytes: a copy with no twin elsewhere is the only one there is.
CopyDeletionResult DeleteSystemCopyStep(const std::wstring& source, const std::wstring& systemCopy);

// Deletes one file outright through the shell, without asking. Gives ERROR_SUCCESS once the
// file is really gone, otherwise the system's reason why it is still there.
DWORD DeleteServerFile(const std::wstring& path);

}  // namespace kestrave
