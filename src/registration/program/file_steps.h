// What registering or unregistering does with one queued file in the system folder: every copy,
// comparison and delete, decided and done by the program from what it sees itself. None rests
// on anything a registration host says: a host that ran a server's code may say anything.
// A 32-bit program sees SysWOW64 where System32 is named; for a 64-bit server every step looks
// at the path through SystemCopyView, where the 64-bit host will load it from.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "handles.h"
#include "host_findings.h"
#include "pe_image.h"

namespace kestrave {

// `path` as this program must name it to reach the file a host of `kind` sees at `path`: in
// the 32-bit program on 64-bit Windows, the real System32 of a 64-bit server goes through the
// Sysnative alias (which, unlike switching the thread's redirection off, leaves the libraries
// the shell loads for a delete where they belong).
std::wstring SystemCopyView(const std::wstring& path, ImageKind kind);

// Which file a handle names, so that the program can tell whether a file it opens again is
// still the one it saw.
struct FileIdentity {
    bool known = false;
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Why a file was not taken into the program's hands.
enum class HoldRefusal {
    None,        // held
    OpenFailed,  // the system refused the open; `error` says why
    Link,        // a reparse point: a link, a junction or a mount point
    Folder,      // a folder
    Elsewhere,   // the path leads to a file by another path (through a link on the way)
    ShortName,   // the name is another file's short (8.3) name
    HiddenOrSystem,
};

// A file the program holds open from its first look at it to its last act on it, with read
// access and read sharing only: while it is held nobody can write, rename or delete it, and a
// library loader (which asks for read sharing) can still load it.
struct HeldFile {
    // Which file the handle names. Read from the handle when first asked for: under Wine the
    // volume's serial number costs as much as the rest of a hold together, and many steps never
    // compare identities. The handle names the same file however late it is asked.
    const FileIdentity& Identity() const;

    FileHandle handle;
    HoldRefusal refusal = HoldRefusal::OpenFailed;
    DWORD error = ERROR_SUCCESS;  // when the open failed
    DWORD attributes = 0;
    LARGE_INTEGER size{};
    FILETIME lastWrite{};
    std::wstring finalPath;  // where the handle's file is, as the handle gives it
    std::wstring longName;   // the file's own name, from the final path
    explicit operator bool() const { return refusal == HoldRefusal::None; }

  private:
    mutable FileIdentity identity_;
    mutable bool identityRead_ = false;
};

// Holds a queued file: refused when it is a link or a folder, or when the file the handle
// reached is not at the queued path itself (its final path differs).
HeldFile HoldSource(const std::wstring& path);

// Holds the file of a system folder that a step uses: refused when it is a link or a folder,
// when the file the handle reached lies in another folder (a link followed), or when its own
// name is not the one asked for (a short-name alias of another file). A hidden or system file is
// refused as well (HiddenOrSystem): it belongs to somebody else.
HeldFile HoldSystemCopy(const std::wstring& viewedPath);

// Why a source could not be held, for the report.
std::wstring SourceHoldFailureReason(const HeldFile& source);

// True while the held file still has the size and write time noted when it was opened. Writes
// through a handle are barred while it is held, but not every file system bars them.
bool Unchanged(const HeldFile& file);

// How two files relate, as far as deleting one of them may lose a file.
enum class FileKinship {
    SameFile,        // both name one file
    SameBytes,       // two files holding the same bytes
    DifferentBytes,  // two files that differ
    Unreadable,      // at least one could not be opened or read
};
FileKinship CompareFiles(const std::wstring& a, const std::wstring& b);
// The same through handles with read access (their file pointers move).
FileKinship CompareHeld(HANDLE a, HANDLE b);

// What the program found of one registration, all of it seen by the program itself.
struct RegisterStepResult {
    std::wstring failure;  // empty when the server registered
    bool copied = false;   // this run put the system copy there, and it is still that file
    FileKinship existing = FileKinship::SameBytes;  // when not copied: the system copy against
                                                    // the source
    std::wstring viewedCopy;  // the system copy as the program reaches it (SystemCopyView)
    FileIdentity identity;    // the file found or made there before the server ran
    // The system copy, held from when it was made or found until the step is over, so that
    // nobody can swap it while the server runs or before its source is deleted.
    HeldFile heldCopy;
    // Classes that lead to another file after the registration, as the host named them: only
    // ever worded into the report, never the ground for a file step.
    std::vector<ClassPointingElsewhere> classesElsewhere;
};

// Writes a new file at `viewedCopy` from the held source's bytes unless something of that name
// is there, and holds what is there now. Never replaces a file: a hidden or system file of that
// name belongs to somebody else, and a link, a folder or another file's short name is refused.
RegisterStepResult PrepareSystemCopy(const HeldFile& source, const std::wstring& viewedCopy);

// Looks again once a server has run: a copy this run made counts as its own only while the
// held file is still as it was written.
void CheckSystemCopyAfterServer(RegisterStepResult& step, const HeldFile& source);

// Takes away the copy that this run put into the system folder when its registration failed,
// so that a broken file does not stay there and stand in for a mended source next time: only
// while it still holds the source's bytes, so that another copy of it is left. Empty when it is
// gone (or was never ours), otherwise why it stays. Lets go of the held copy.
std::wstring TakeBackFailedCopy(RegisterStepResult& step, const HeldFile& source);

inline constexpr wchar_t kChangedCopyKeptReason[] =
    L"复制到系统文件夹的文件已被改动,与原文件不同,没有删除";
inline constexpr wchar_t kChangedSourceReason[] = L"控件原文件在处理时被改动, 没有使用";
inline constexpr wchar_t kChangedSourceKeptReason[] = L"控件原文件在处理时被改动, 没有删除";
inline constexpr wchar_t kSourceIsLinkReason[] = L"控件原文件是链接, 没有使用";
inline constexpr wchar_t kSourceIsFolderReason[] = L"控件原文件是文件夹, 没有使用";
inline constexpr wchar_t kSourceElsewhereReason[] = L"控件原文件的路径经过链接指向别处, 没有使用";
inline constexpr wchar_t kCopyIsLinkReason[] = L"系统文件夹中的同名文件是链接, 没有使用";
inline constexpr wchar_t kCopyIsFolderReason[] = L"系统文件夹中的同名项目是文件夹, 没有使用";

// Why a system copy that was found there is not used: `copyName` is another file's short name.
std::wstring ShortNameReason(const std::wstring& copyName, const std::wstring& longName);

struct DeletionResult {
    bool deleted = false;
    std::wstring reason;  // when not deleted and there is more to say than the path
};

// Deletes the source after its registration, but only when the system folder holds the same
// bytes in a file of its own, as the held files show now: the source may be the only copy.
// Lets go of the held source.
DeletionResult DeleteSourceStep(HeldFile& source, const std::wstring& sourcePath,
                                const RegisterStepResult& registered);

struct CopyDeletionResult {
    bool deleted = false;
    bool keptAsOnlyCopy = false;  // no other file holds its bytes, so it stays
    DWORD error = ERROR_SUCCESS;  // why the delete was refused
    bool changed = false;         // not the file the step noted any more
};

// Deletes an unregistered system copy (named as SystemCopyView gives it), but only when it is
// still the file `noted` when the step held it and the held queued file `twin` is another file
// with the same bytes: a copy with no twin elsewhere is the only one there is.
CopyDeletionResult DeleteSystemCopyStep(const HeldFile& twin, const std::wstring& viewedCopy,
                                        const FileIdentity& noted);

// The last component of a path.
std::wstring NameOf(const std::wstring& path);

// Deletes one plain file (never a folder or what a link leads to) through a handle to the file
// itself, hidden, system or read-only as it may be. Gives ERROR_SUCCESS once it is deleted,
// otherwise the system's reason why it is still there (and the file keeps the attributes it
// had).
DWORD DeleteServerFile(const std::wstring& path);

}  // namespace kestrave
