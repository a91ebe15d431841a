// What registering or unregistering does with one queued file in the system folder: every copy,
// comparison and delete, decided and done by the program from what it sees itself. None rests
// on anything a registration host says: a host that ran a server's code may say anything.
// A 32-bit program sees SysWOW64 where System32 is named; for a 64-bit server every step looks
// at the path through SystemCopyView, where the 64-bit host will load it from.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host_findings.h"
#include "pe_image.h"

namespace kestrave {

// `path` as this program must name it to reach the file a host of `kind` sees at `path`: in
// the 32-bit program on 64-bit Windows, the real System32 of a 64-bit server goes through the
// Sysnative alias (which, unlike switching the thread's redirection off, leaves the libraries
// the shell loads for a delete where they belong).
std::wstring SystemCopyView(const std::wstring& path, ImageKind kind);

// Which file a path names, so that the program can tell whether it is still the one it saw.
struct FileIdentity {
    bool known = false;
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOf(const std::wstring& path);

// How two paths relate, as far as deleting one of them may lose a file.
enum class FileKinship {
    SameFile,        // both paths name one file
    SameBytes,       // two files holding the same bytes
    DifferentBytes,  // two files that differ
    Unreadable,      // at least one could not be opened or read
};
FileKinship CompareFiles(const std::wstring& a, const std::wstring& b);

// What the program found of one registration, all of it seen by the program itself.
struct RegisterStepResult {
    std::wstring failure;  // empty when the server registered
    bool copied = false;   // this run put the system copy there, and it is still that file
    FileKinship existing = FileKinship::SameBytes;  // when not copied: the system copy against
                                                    // the source
    std::wstring viewedCopy;  // the system copy as the program reaches it (SystemCopyView)
    FileIdentity identity;    // the file found or made there before the server ran
    // Classes that lead to another file after the registration, as the host named them: only
    // ever worded into the report, never the ground for a file step.
    std::vector<ClassPointingElsewhere> classesElsewhere;
};

// Copies `source` to `viewedCopy` unless a file of that name is there, and notes which file is
// there now. Never replaces a file: a hidden or system file of that name, which the lookup does
// not see, belongs to somebody else.
RegisterStepResult PrepareSystemCopy(const std::wstring& source, const std::wstring& viewedCopy);

// Looks again once a server has run: a copy this run made counts as its own only while the same
// file is still there.
void CheckSystemCopyAfterServer(RegisterStepResult& step, const std::wstring& source);

// Takes away the copy that this run put into the system folder when its registration failed,
// so that a broken file does not stay there and stand in for a mended source next time: only
// while it still holds the source's bytes, so that another copy of it is left. Empty when it is
// gone (or was never ours), otherwise why it stays.
std::wstring TakeBackFailedCopy(RegisterStepResult& step, const std::wstring& source);

inline constexpr wchar_t kChangedCopyKeptReason[] =
    L"复制到系统文件夹的文件已被改动,与原文件不同,没有删除";

struct DeletionResult {
    bool deleted = false;
    std::wstring reason;  // when not deleted and there is more to say than the path
};

// Deletes the source after its registration, but only when the system folder holds the same
// bytes in a file of its own, as the program sees it now: the source may be the only copy.
DeletionResult DeleteSourceStep(const std::wstring& source, const RegisterStepResult& registered);

struct CopyDeletionResult {
    bool deleted = false;
    bool keptAsOnlyCopy = false;  // no other file holds its bytes, so it stays
    DWORD error = ERROR_SUCCESS;  // why the delete was refused
};

// Deletes an unregistered system copy (named as SystemCopyView gives it), but only when
// `source` is another file with the same bytes: a copy with no twin elsewhere is the only one
// there is.
CopyDeletionResult DeleteSystemCopyStep(const std::wstring& source, const std::wstring& viewedCopy);

// The last component of a path.
std::wstring NameOf(const std::wstring& path);

// Deletes one file outright through the shell, without asking and without any box of the
// shell's. Gives ERROR_SUCCESS once the file is really gone, otherwise the system's reason why
// it is still there (and the file keeps the attributes it had).
DWORD DeleteServerFile(const std::wstring& path);

}  // namespace kestrave
