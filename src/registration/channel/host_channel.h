// What the program and a registration host say to each other, and the checks every reply must
// pass. A host that ran a server's code may say anything a server wants it to: so a reply tells
// only the outcome of one load and export, as numbers, and only in answer to the request it
// names. Every decision about files is the program's own.
#pragma once

#include <windows.h>

#include <string>

#include "entry_result.h"
#include "host_findings.h"

namespace kestrave {

// The switch that starts a host program, followed by the number of the pipe handle it
// inherited: exactly these two arguments after the program's name.
inline constexpr wchar_t kHostSwitch[] = L"--registration-host";

// The largest request: a verb, a number and a path of any length Windows allows.
inline constexpr DWORD kHostRequestLimit = 64 * 1024 + 64;
// The largest reply: a verb and six numbers. A longer message is not a reply...
inline constexpr DWORD kHostReplyLimit = 128;
// ...except one that names what a host found: a few names, each at most kHostNameLimit
// characters, and nothing else may be that long.
inline constexpr size_t kHostNameLimit = 400;
inline constexpr DWORD kHostNamesReplyLimit = 6 * 1024;
// At most this many classes are named after one registration; a host names no more.
inline constexpr int kHostClassFindingLimit = 32;

// Walk: read the headers of a file whose load failed (never load it) and name what it lacks.
enum class HostVerb { Register, Unregister, Walk, Quit };

struct HostRequest {
    HostVerb verb = HostVerb::Quit;
    unsigned long sequence = 0;
    std::wstring path;     // the system copy to load (or, for Walk, to read)
    bool readBack = true;  // Register: read the classes back after a registration succeeded
};

std::string EncodeHostRequest(const HostRequest& request);
// The host's side; false for anything that is not a request (the host then ends).
bool DecodeHostRequest(const char* bytes, size_t size, HostRequest& request);

// A request is answered by "loading" just before the server's code may first run (so the
// program holds the rest to the server's time limit), then by "done" with the outcome. A file
// that is not there is answered by "done" alone. Before "done" a registration may name what
// it found: the cause of a failed load ("cause"), classes that lead to another file ("class",
// one each). A fault the host catches once the server's code may run is told by "crashed"
// before the host ends. A walk is answered by one "cause" (of kind None when nothing was found).
// Names are only ever worded into a reason: no file step rests on them.
enum class HostReplyKind { Loading, Done, Crashed, Cause, Class };

struct HostReply {
    HostReplyKind kind = HostReplyKind::Done;
    unsigned long sequence = 0;
    EntryResult result;                  // when Done; when Crashed, its code
    bool retiring = false;               // when Done: the host serves no more requests
    DependencyCulprit culprit;           // when Cause
    ClassPointingElsewhere misdirected;  // when Class
};

std::string EncodeHostReply(const HostReply& reply);
// The program's side: true only for a well-formed reply that names `sequence`, of a known kind
// and a known outcome that a host can report (a time-out, crash or exit it cannot).
bool DecodeHostReply(const char* bytes, size_t size, unsigned long sequence, HostReply& reply);

// The host's side: plain blocking calls. False once the program has gone, or when it sent
// something that is not a request.
bool ReadHostRequest(HANDLE pipe, HostRequest& request);
bool WriteHostReply(HANDLE pipe, const HostReply& reply);
// The host's exception filter: "crashed" with `code`, written without taking any memory (the
// fault may have left the heap broken).
bool WriteCrashNotice(HANDLE pipe, unsigned long sequence, DWORD code);

}  // namespace kestrave
