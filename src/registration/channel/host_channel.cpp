#include "host_channel.h"

#include <cstring>
#include <vector>

namespace kestrave {
namespace {

// A message is a few UTF-16 fields, each ended by a NUL; the pipe keeps message boundaries.
using Fields = std::vector<std::wstring>;

std::string Encode(const Fields& fields) {
    std::wstring joined;
    for (const std::wstring& field : fields) {
        joined += field;
        joined.push_back(L'\0');
    }
    return std::string(reinterpret_cast<const char*>(joined.data()),
                       joined.size() * sizeof(wchar_t));
}

// False unless the bytes are whole fields, each ended by its NUL.
bool Decode(const char* bytes, size_t size, Fields& fields) {
    if (size == 0 || size % sizeof(wchar_t) != 0)
        return false;
    std::wstring text(size / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes, size);
    if (text.back() != L'\0')
        return false;
    fields.clear();
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find(L'\0', start);
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

// Written out by hand: the host then carries no formatter for it.
std::wstring Number(unsigned long value) {
    wchar_t digits[16];
    wchar_t* first = digits + 16;
    do {
        *--first = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::wstring(first, digits + 16);
}

// Plain decimal digits only, no sign, no spaces, within 32 bits.
bool ParseNumber(const std::wstring& field, unsigned long& value) {
    if (field.empty() || field.size() > 10)
        return false;
    unsigned long long parsed = 0;
    for (wchar_t digit : field) {
        if (digit < L'0' || digit > L'9')
            return false;
        parsed = parsed * 10 + static_cast<unsigned>(digit - L'0');
    }
    if (parsed > 0xFFFFFFFFull)
        return false;
    value = static_cast<unsigned long>(parsed);
    return true;
}

// The outcomes a host can know of; the others the program finds itself.
bool IsHostOutcome(unsigned long outcome) {
    switch (static_cast<EntryOutcome>(outcome)) {
        case EntryOutcome::NotFound:
        case EntryOutcome::NotLoadable:
        case EntryOutcome::ExportMissing:
        case EntryOutcome::WorkerNotStarted:
        case EntryOutcome::Finished:
            return true;
        default:
            return false;
    }
}

const wchar_t* VerbName(HostVerb verb) {
    switch (verb) {
        case HostVerb::Register:
            return L"register";
        case HostVerb::Unregister:
            return L"unregister";
        case HostVerb::Walk:
            return L"walk";
        case HostVerb::Resume:
            return L"resume";
        case HostVerb::Quit:
            break;
    }
    return L"quit";
}

// The outcomes of a request whose worker was made: the load, the export's lookup or the export.
bool IsExportOutcome(unsigned long outcome) {
    switch (static_cast<EntryOutcome>(outcome)) {
        case EntryOutcome::NotLoadable:
        case EntryOutcome::ExportMissing:
        case EntryOutcome::Finished:
            return true;
        default:
            return false;
    }
}

// A name as a host sends it: never longer than the program takes.
std::wstring NameField(const std::wstring& name) {
    return name.substr(0, kHostNameLimit);
}

bool IsNameField(const std::wstring& field) {
    return field.size() <= kHostNameLimit;
}

// The fields of a "cause" reply after its verb and sequence.
constexpr size_t kCauseFields = 12;
constexpr size_t kClassFields = 5;

}  // namespace

std::string EncodeHostRequest(const HostRequest& request) {
    if (request.verb == HostVerb::Quit)
        return Encode({VerbName(request.verb)});
    if (request.verb == HostVerb::Resume)
        return Encode({VerbName(request.verb), Number(request.sequence)});
    if (request.verb == HostVerb::Register) {
        return Encode({VerbName(request.verb), Number(request.sequence),
                       Number(request.readBack ? 1 : 0), Number(request.worker), request.path});
    }
    if (request.verb == HostVerb::Unregister) {
        return Encode({VerbName(request.verb), Number(request.sequence), Number(request.worker),
                       request.path});
    }
    return Encode({VerbName(request.verb), Number(request.sequence), request.path});
}

bool DecodeHostRequest(const char* bytes, size_t size, HostRequest& request) {
    Fields fields;
    if (!Decode(bytes, size, fields))
        return false;
    if (fields.size() == 1 && fields[0] == VerbName(HostVerb::Quit)) {
        request = {HostVerb::Quit, 0, {}};
        return true;
    }
    request.readBack = false;
    request.worker = 0;
    if (fields.size() == 2 && fields[0] == VerbName(HostVerb::Resume)) {
        request.verb = HostVerb::Resume;
        request.path.clear();
        return ParseNumber(fields[1], request.sequence);
    }
    if (fields[0] == VerbName(HostVerb::Register)) {
        unsigned long readBack = 0;
        if (fields.size() != 5 || !ParseNumber(fields[2], readBack) || readBack > 1 ||
            !ParseNumber(fields[3], request.worker))
            return false;
        request.readBack = readBack != 0;
        fields.erase(fields.begin() + 2, fields.begin() + 4);
        request.verb = HostVerb::Register;
    } else if (fields[0] == VerbName(HostVerb::Unregister)) {
        if (fields.size() != 4 || !ParseNumber(fields[2], request.worker))
            return false;
        fields.erase(fields.begin() + 2);
        request.verb = HostVerb::Unregister;
    } else if (fields[0] == VerbName(HostVerb::Walk)) {
        request.verb = HostVerb::Walk;
    } else {
        return false;
    }
    if (fields.size() != 3 || !ParseNumber(fields[1], request.sequence) || fields[2].empty())
        return false;
    request.path = fields[2];
    return true;
}

std::string EncodeHostReply(const HostReply& reply) {
    const std::wstring sequence = Number(reply.sequence);
    switch (reply.kind) {
        case HostReplyKind::Worker:
            return Encode({L"worker", sequence, Number(reply.workerThread)});
        case HostReplyKind::Exported:
            return Encode({L"exported", sequence,
                           Number(static_cast<unsigned long>(reply.result.outcome)),
                           Number(reply.result.error),
                           Number(static_cast<unsigned long>(reply.result.result))});
        case HostReplyKind::Crashed:
            return Encode({L"crashed", sequence, Number(reply.result.error)});
        case HostReplyKind::Cause: {
            const DependencyCulprit& c = reply.culprit;
            return Encode({L"cause", sequence, Number(static_cast<unsigned long>(c.kind)),
                           Number(c.ordinal), Number(c.foundIs64 ? 1 : 0), NameField(c.file),
                           NameField(c.function), NameField(c.assembly),
                           NameField(c.assemblyVersion), NameField(c.assemblyArchitecture),
                           NameField(c.neededBy), Number(c.incomplete ? 1 : 0)});
        }
        case HostReplyKind::Class:
            return Encode({L"class", sequence, Number(reply.misdirected.perUser ? 1 : 0),
                           NameField(reply.misdirected.clsid),
                           NameField(reply.misdirected.otherFile)});
        case HostReplyKind::Done:
            break;
    }
    return Encode(
        {L"done", Number(reply.sequence), Number(static_cast<unsigned long>(reply.result.outcome)),
         Number(reply.result.error), Number(static_cast<unsigned long>(reply.result.result)),
         Number(static_cast<unsigned long>(reply.retirement)), Number(reply.nextWorker)});
}

bool DecodeHostReply(const char* bytes, size_t size, unsigned long sequence, HostReply& reply) {
    Fields fields;
    if (size > kHostNamesReplyLimit || !Decode(bytes, size, fields) || fields.size() < 2)
        return false;
    unsigned long named = 0;
    if (!ParseNumber(fields[1], named) || named != sequence)
        return false;
    reply = HostReply{};
    reply.sequence = sequence;
    if (fields[0] == L"cause" && fields.size() == kCauseFields) {
        unsigned long kind = 0, ordinal = 0, foundIs64 = 0, incomplete = 0;
        if (!ParseNumber(fields[11], incomplete) || incomplete > 1 ||
            !ParseNumber(fields[2], kind) ||
            kind > static_cast<unsigned long>(CulpritKind::MissingAssembly) ||
            !ParseNumber(fields[3], ordinal) || ordinal > 0xFFFF ||
            !ParseNumber(fields[4], foundIs64) || foundIs64 > 1)
            return false;
        for (size_t i = 5; i < kCauseFields - 1; ++i) {
            if (!IsNameField(fields[i]))
                return false;
        }
        reply.kind = HostReplyKind::Cause;
        reply.culprit = {static_cast<CulpritKind>(kind),
                         fields[5],
                         fields[6],
                         static_cast<WORD>(ordinal),
                         fields[7],
                         fields[8],
                         fields[9],
                         fields[10],
                         foundIs64 != 0,
                         incomplete != 0};
        return true;
    }
    if (fields[0] == L"class" && fields.size() == kClassFields) {
        unsigned long perUser = 0;
        if (!ParseNumber(fields[2], perUser) || perUser > 1 || fields[3].empty() ||
            fields[4].empty() || !IsNameField(fields[3]) || !IsNameField(fields[4]))
            return false;
        reply.kind = HostReplyKind::Class;
        reply.misdirected = {fields[3], fields[4], perUser != 0};
        return true;
    }
    // Every other reply is a verb and numbers.
    if (size > kHostReplyLimit)
        return false;
    if (fields[0] == L"worker" && fields.size() == 3) {
        // Thread ids are never zero.
        if (!ParseNumber(fields[2], reply.workerThread) || reply.workerThread == 0)
            return false;
        reply.kind = HostReplyKind::Worker;
        return true;
    }
    if (fields[0] == L"exported" && fields.size() == 5) {
        unsigned long outcome = 0, error = 0, result = 0;
        if (!ParseNumber(fields[2], outcome) || !ParseNumber(fields[3], error) ||
            !ParseNumber(fields[4], result) || !IsExportOutcome(outcome))
            return false;
        reply.kind = HostReplyKind::Exported;
        reply.result = {static_cast<EntryOutcome>(outcome), error, static_cast<HRESULT>(result)};
        return true;
    }
    if (fields[0] == L"crashed" && fields.size() == 3) {
        unsigned long code = 0;
        if (!ParseNumber(fields[2], code))
            return false;
        reply.kind = HostReplyKind::Crashed;
        reply.result = {EntryOutcome::Crashed, code};
        return true;
    }
    unsigned long outcome = 0, error = 0, result = 0, retiring = 0;
    if (fields[0] != L"done" || fields.size() != 7 || !ParseNumber(fields[2], outcome) ||
        !ParseNumber(fields[3], error) || !ParseNumber(fields[4], result) ||
        !ParseNumber(fields[5], retiring) || !IsHostOutcome(outcome) ||
        retiring > kLastHostRetirement || !ParseNumber(fields[6], reply.nextWorker))
        return false;
    reply.kind = HostReplyKind::Done;
    reply.result = {static_cast<EntryOutcome>(outcome), error, static_cast<HRESULT>(result)};
    reply.retirement = static_cast<HostRetirement>(retiring);
    return true;
}

bool ReadHostRequest(HANDLE pipe, HostRequest& request) {
    std::string buffer(kHostRequestLimit, '\0');
    DWORD read = 0;
    if (!ReadFile(pipe, buffer.data(), kHostRequestLimit, &read, nullptr))
        return false;
    return DecodeHostRequest(buffer.data(), read, request);
}

bool WriteHostReply(HANDLE pipe, const HostReply& reply) {
    const std::string bytes = EncodeHostReply(reply);
    DWORD written = 0;
    return WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool WriteCrashNotice(HANDLE pipe, unsigned long sequence, DWORD code) {
    wchar_t message[40];
    size_t length = 0;
    auto put = [&](const wchar_t* text) {
        while (*text)
            message[length++] = *text++;
        message[length++] = L'\0';
    };
    auto putNumber = [&](unsigned long value) {
        wchar_t digits[12];
        int count = 0;
        do {
            digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0)
            message[length++] = digits[--count];
        message[length++] = L'\0';
    };
    put(L"crashed");
    putNumber(sequence);
    putNumber(code);
    const DWORD bytes = static_cast<DWORD>(length * sizeof(wchar_t));
    DWORD written = 0;
    return WriteFile(pipe, message, bytes, &written, nullptr) && written == bytes;
}

}  // namespace kestrave
