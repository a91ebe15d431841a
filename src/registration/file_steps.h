// What registering or unregistering does with one queued file in the system folder. Each step
// sees the file system as the process that runs it does, so a server's steps must run in a
// process of the server's own bitness: that is where the system redirects its system folder.
#pragma once

#include <windows.h>

#include <string>

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
    bool copied = false;   // this run put the system copy there, and it is still there
    FileKinship existing = FileKinship::SameBytes;  // when not copied: the system copy against
                                                    // the source
};

// Copies `source` to `systemCopy` unless a file of that name is there. Never replaces a file: a
// hidden or system file of that name, which the lookup does not see, belongs to somebody else.
RegisterStepResult PrepareSystemCopy(const std::wstring& source, const std::wstring& systemCopy);

// Takes away the copy that this run put into the system folder when its registration failed,
// so that a broken file does not stay there and stand in for a mended source next time.
// ERROR_SUCCESS when it is gone (or was never ours).
DWORD TakeBackFailedCopy(RegisterStepResult& step, const std::wstring& systemCopy);

struct DeletionResult {
    bool deleted = false;
    std::wstring reason;  // when not deleted and there is more to say than the path
};

// Deletes the source after its registration, but only when the system folder holds the same
// bytes in a file of its own: the source may be the only copy there is.
DeletionResult DeleteSourceStep(const std::wstring& source, const RegisterStepResult& registered);

struct CopyDeletionResult {
    bool deleted = false;
    bool keptAsOnlyCopy = false;  // no other file holds its bytes, so it stays
    DWORD error = ERROR_SUCCESS;  // why the delete was refused
};

// Deletes an unregistered system copy, but only when `source` is another file with the same
// bytes: a copy with no twin elsewhere is the only one there is.
CopyDeletionResult DeleteSystemCopyStep(const std::wstring& source, const std::wstring& systemCopy);

// The last component of a path.
std::wstring NameOf(const std::wstring& path);

// Deletes one file outright through the shell, without asking. Gives ERROR_SUCCESS once the
// file is really gone, otherwise the system's reason why it is still there.
DWORD DeleteServerFile(const std::wstring& path);

}  // namespace kestrave
