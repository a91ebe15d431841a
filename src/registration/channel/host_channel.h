// What the program and a registration host say to each other, and the checks every reply must
// pass. A host that ran a server's code may say anything a server wants it to: so a reply tells
// only the outcome of one load and export, as numbers, and only in answer to the request it
// names. Every decision about files is the program's own.
#pragma once

#include <windows.h>

#include <string>

#include "entry_result.h"
#include "host_findings.h"
#include "host_retirement.h"

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
// Resume: the program holds the worker a host named, which may now load the server and run it.
enum class HostVerb { Register, Unregister, Walk, Resume, Quit };

struct HostRequest {
    HostVerb verb = HostVerb::Quit;
    unsigned long sequence = 0;
    std::wstring path;     // the system copy to load (or, for Walk, to read); none for Resume
    bool readBack = true;  // Register: read the classes back after a registration succeeded
    // Register, Unregister: the worker the last "done" named, which the program holds already
    // (0: none). A host whose waiting worker is that one runs the export without a "resume".
    unsigned long worker = 0;
};

std::string EncodeHostRequest(const HostRequest& request);
// The host's side; false for anything that is not a request (the host then ends).
bool DecodeHostRequest(const char* bytes, size_t size, HostRequest& request);

// Before the server's code may first run, a request is answered by "worker": the id of the
// thread that will run the export, held waiting until then. The program opens that thread itself
// (so that the thread, and its id, stay the ones it saw) and only then sends "resume"; from
// there the rest is held to the server's time limit.
// "done" may name the worker prepared for the next request, so that the program holds it before
// it sends that request; the request then says so, and the host, after naming that same worker,
// goes on without waiting for "resume".
// Once the worker has ended, "exported" gives the outcome, which the program checks against the
// worker's end as it sees it; "done" closes the request, after what the host found: the cause of
// a failed load ("cause"), classes that lead to another file ("class", one each). A file that is
// not there, or a worker that could not be made, is answered by "done" alone. A fault the host
// catches once the server's code may run is told by "crashed" before the host ends. A walk is
// answered by one "cause" (of kind None when nothing was found). Names are only ever worded into
// a reason: no file step rests on them.
enum class HostReplyKind { Worker, Exported, Done, Crashed, Cause, Class };

struct HostReply {
    HostReplyKind kind = HostReplyKind::Done;
    unsigned long sequence = 0;
    unsigned long workerThread = 0;  // when Worker
    EntryResult result;              // when Exported or Done; when Crashed, its code
    // When Done: why the host serves no more requests (None: it serves on). For figures only.
    HostRetirement retirement = HostRetirement::None;
    unsigned long nextWorker = 0;  // when Done: the worker waiting for the next request, or 0
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
