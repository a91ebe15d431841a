#include "host_channel.h"

#include <gtest/gtest.h>

#include <functional>

namespace kestrave {
namespace {

std::string Raw(std::initializer_list<std::wstring> fields) {
    std::wstring joined;
    for (const std::wstring& field : fields) {
        joined += field;
        joined.push_back(L'\0');
    }
    return std::string(reinterpret_cast<const char*>(joined.data()),
                       joined.size() * sizeof(wchar_t));
}

bool Decodes(const std::string& bytes, HostReply& reply) {
    return DecodeHostReply(bytes.data(), bytes.size(), 7, reply);
}

HostReply CauseReply(const std::wstring& name) {
    HostReply reply;
    reply.kind = HostReplyKind::Cause;
    reply.sequence = 7;
    reply.culprit = {CulpritKind::MissingAssembly, name, name, 42, name, name, name, name, true};
    return reply;
}

// Names travel only in their own replies, with a fixed number of fields of bounded length;
// everything else a host says stays numbers within the short limit.
TEST(HostReplies, TakeNamesOnlyInTheirOwnBoundedReplies) {
    const std::wstring longest(kHostNameLimit, L'名');
    const std::wstring tooLong(kHostNameLimit + 1, L'a');
    struct Case {
        const char* what;
        std::string bytes;
        bool taken;
    } cases[] = {
        {"a cause with every name at the longest", EncodeHostReply(CauseReply(longest)), true},
        {"a cause with a name one character too long",
         Raw({L"cause", L"7", L"1", L"0", L"0", tooLong, L"", L"", L"", L"", L"", L"0"}), false},
        {"a cause with a field too few",
         Raw({L"cause", L"7", L"1", L"0", L"0", L"a.dll", L"", L"", L"", L"", L""}), false},
        {"a cause with a field too many",
         Raw({L"cause", L"7", L"1", L"0", L"0", L"a.dll", L"", L"", L"", L"", L"", L"0", L""}),
         false},
        {"a cause of an unknown kind",
         Raw({L"cause", L"7", L"5", L"0", L"0", L"a.dll", L"", L"", L"", L"", L"", L"0"}), false},
        {"a cause with an ordinal beyond 16 bits",
         Raw({L"cause", L"7", L"2", L"65536", L"0", L"a.dll", L"", L"", L"", L"", L"", L"0"}),
         false},
        {"a cause for another request",
         Raw({L"cause", L"8", L"1", L"0", L"0", L"a.dll", L"", L"", L"", L"", L"", L"0"}), false},
        {"a cause of a walk that did not finish",
         Raw({L"cause", L"7", L"1", L"0", L"0", L"a.dll", L"", L"", L"", L"", L"", L"1"}), true},
        {"a cause whose finish is neither yes nor no",
         Raw({L"cause", L"7", L"1", L"0", L"0", L"a.dll", L"", L"", L"", L"", L"", L"2"}), false},
        {"a done that retires for the last known reason",
         Raw({L"done", L"7", L"8", L"0", L"0", L"7", L"0"}), true},
        {"a done that retires for an unknown reason",
         Raw({L"done", L"7", L"8", L"0", L"0", L"8", L"0"}), false},
        {"a done that names the next worker", Raw({L"done", L"7", L"8", L"0", L"0", L"0", L"42"}),
         true},
        {"a done without its next worker", Raw({L"done", L"7", L"8", L"0", L"0", L"0"}), false},
        {"a class", Raw({L"class", L"7", L"1", L"{x}", L"C:\\a.ocx"}), true},
        {"a class without its file", Raw({L"class", L"7", L"0", L"{x}", L""}), false},
        {"a class with a path too long", Raw({L"class", L"7", L"0", L"{x}", tooLong}), false},
        {"a crash of any code", Raw({L"crashed", L"7", L"2147483904"}), true},
        {"a crash whose code is no number", Raw({L"crashed", L"7", L"-1"}), false},
        {"a worker", Raw({L"worker", L"7", L"4242"}), true},
        {"a worker of no thread", Raw({L"worker", L"7", L"0"}), false},
        {"a worker without its thread", Raw({L"worker", L"7"}), false},
        {"an export that returned", Raw({L"exported", L"7", L"8", L"0", L"2147942405"}), true},
        {"a load that failed", Raw({L"exported", L"7", L"1", L"126", L"0"}), true},
        // Only the program knows of these, and a file that is not there has no worker.
        {"an export that timed out", Raw({L"exported", L"7", L"4", L"0", L"0"}), false},
        {"an export of a file not there", Raw({L"exported", L"7", L"0", L"0", L"0"}), false},
        {"an export without its result", Raw({L"exported", L"7", L"8", L"0"}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostReply reply;
        EXPECT_EQ(Decodes(c.bytes, reply), c.taken);
    }
    EXPECT_LE(EncodeHostReply(CauseReply(longest)).size(), kHostNamesReplyLimit);
}

TEST(HostReplies, AHostCutsNamesToWhatTheProgramTakes) {
    const HostReply sent = CauseReply(std::wstring(kHostNameLimit * 3, L'x'));
    HostReply got;
    ASSERT_TRUE(Decodes(EncodeHostReply(sent), got));
    EXPECT_EQ(got.kind, HostReplyKind::Cause);
    EXPECT_EQ(got.culprit.kind, CulpritKind::MissingAssembly);
    EXPECT_EQ(got.culprit.file, std::wstring(kHostNameLimit, L'x'));
    EXPECT_EQ(got.culprit.ordinal, 42);
    EXPECT_TRUE(got.culprit.foundIs64);
    EXPECT_FALSE(got.culprit.incomplete);
}

TEST(HostRequests, CarryTheReadbackSwitchForARegistrationAloneAndAHeldWorkerForAServer) {
    for (const HostRequest& sent : {HostRequest{HostVerb::Register, 3, L"C:\\s.ocx", false},
                                    HostRequest{HostVerb::Register, 3, L"C:\\s.ocx", true, 4242},
                                    HostRequest{HostVerb::Unregister, 3, L"C:\\s.ocx", false},
                                    HostRequest{HostVerb::Unregister, 3, L"C:\\s.ocx", false, 42},
                                    HostRequest{HostVerb::Walk, 4, L"C:\\s.ocx", false},
                                    HostRequest{HostVerb::Resume, 5, L"", false}}) {
        const std::string bytes = EncodeHostRequest(sent);
        HostRequest got;
        ASSERT_TRUE(DecodeHostRequest(bytes.data(), bytes.size(), got));
        EXPECT_EQ(got.verb, sent.verb);
        EXPECT_EQ(got.sequence, sent.sequence);
        EXPECT_EQ(got.path, sent.path);
        EXPECT_EQ(got.readBack, sent.readBack);
        EXPECT_EQ(got.worker, sent.worker);
    }
    HostRequest got;
    const std::string twoForReadback = Raw({L"register", L"3", L"2", L"0", L"C:\\s.ocx"});
    EXPECT_FALSE(DecodeHostRequest(twoForReadback.data(), twoForReadback.size(), got));
    const std::string walkWithSwitch = Raw({L"walk", L"3", L"1", L"C:\\s.ocx"});
    EXPECT_FALSE(DecodeHostRequest(walkWithSwitch.data(), walkWithSwitch.size(), got));
    const std::string workerNoNumber = Raw({L"unregister", L"3", L"x", L"C:\\s.ocx"});
    EXPECT_FALSE(DecodeHostRequest(workerNoNumber.data(), workerNoNumber.size(), got));
    const std::string resumeWithPath = Raw({L"resume", L"3", L"C:\\s.ocx"});
    EXPECT_FALSE(DecodeHostRequest(resumeWithPath.data(), resumeWithPath.size(), got));
}

}  // namespace
}  // namespace kestrave
