// What the program and a registration host say to each other, and the checks every reply must
// pass. A host that ran a server's code may say anything a server wants it to: so a reply tells
// only the outcome of one load and export, as numbers, and only in answer to the request it
// names. Every decision about files is the program's own.
#pragma once

#include <windows.h>

#include <string>

#include "server_entry.h"

namespace kestrave {

// The largest request: a verb, a number and a path of any length Windows allows.
inline constexpr DWORD kHostRequestLimit = 64 * 1024 + 64;
// The largest reply: a verb and six numbers. A longer message is not a reply.
inline constexpr DWORD kHostReplyLimit = 128;

enum class HostVerb { Register, Unregister, Quit };

struct HostRequest {
    HostVerb verb = HostVerb::Quit;
    unsigned long sequence = 0;
    std::wstring path;  // the system copy to load
};

std::string EncodeHostRequest(const HostRequest& request);
// The host's side; false for anything that is not a request (the host then ends).
bool DecodeHostRequest(const char* bytes, size_t size, HostRequest& request);

// A request is answered by "loading" just before the server's code may first run (so the
// program holds the rest to the server's time limit), then by "done" with the outcome. A file
// that is not there is answered by "done" alone.
enum class HostReplyKind { Loading, Done };

struct HostReply {
    HostReplyKind kind = HostReplyKind::Done;
    unsigned long sequence = 0;
    EntryResult result;     // when Done
    bool retiring = false;  // when Done: the host serves no more requests
};

std::string EncodeHostReply(const HostReply& reply);
// The program's side: true only for a well-formed reply that names `sequence`, of a known kind
// and a known outcome that a host can report (a time-out, crash or exit it cannot).
bool DecodeHostReply(const char* bytes, size_t size, unsigned long sequence, HostReply& reply);

// The host's side: plain blocking calls. False once the program has gone, or when it sent
// something that is not a request.
bool ReadHostRequest(HANDLE pipe, HostRequest& request);
bool WriteHostReply(HANDLE pipe, const HostReply& reply);

}  // namespace kestrave
