// The start-up sweep runs elevated over a folder every administrator's program shares: it must
// take what our own dead runs left, and nothing else.
#include "host_folder_sweep.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "handles.h"
#include "host_folder_names.h"
#include "test_folder.h"

namespace kestrave {
namespace {

using testing::FileExists;
using testing::MakeFolder;
using testing::TempFolder;
using testing::WriteTextFile;

const std::wstring kDigits = L"0123456789abcdef0123456789abcdef";

std::wstring OurName(wchar_t last) {
    return kHostFolderPrefix + kDigits.substr(0, kDigits.size() - 1) + last;
}

// Wine keeps no owners (every folder reads back as the Wine user's), so the sweep's own tests
// leave the owner to this rule, and the owner rule has its own table below.
bool AnyOwner(PSECURITY_DESCRIPTOR) {
    return true;
}
bool NoOwner(PSECURITY_DESCRIPTOR) {
    return false;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(HostFolderSweep, KnowsTheNamesOfItsOwnFoldersOnly) {
    struct Case {
        std::wstring name;
        bool ours;
    } cases[] = {
        {std::wstring(L"Kestrave-") + kDigits, true},
        {L"Kestrave-0123456789ABCDEF0123456789abcdef", false},  // a run writes lowercase
        {L"kestrave-" + kDigits, false},
        {L"Kestrave-" + kDigits.substr(1), false},
        {L"Kestrave-" + kDigits + L"0", false},
        {L"Kestrave-" + kDigits.substr(1) + L"g", false},
        {L"Kestrave-" + kDigits.substr(1) + L" ", false},
        {L"Kestrave-1234-1a2b-0", false},  // the names of older versions
        {L"Kestrave-", false},
        {L"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
        EXPECT_EQ(IsHostFolderName(c.name), c.ours);
    }
}

TEST(HostFolderSweep, TrustsOnlyFoldersOwnedByAdministratorsOrTheSystem) {
    struct Case {
        const wchar_t* sddl;
        bool trusted;
    } cases[] = {
        {L"O:BAG:SYD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", true},
        {L"O:SYG:SY", true},
        {L"O:S-1-5-32-544", true},                                    // Administrators by number
        {L"O:S-1-5-21-1004336348-1177238915-682003330-1000", false},  // a user
        {L"O:S-1-5-21-1004336348-1177238915-682003330-500", false},   // the administrator account
        {L"O:BU", false},                                             // Users
        {L"O:AU", false},                                             // Authenticated Users
        {L"O:WD", false},                                             // Everyone
        {L"O:LS", false},                                             // Local Service
        {L"O:NS", false},                                             // Network Service
        {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", false},  // a service
        {L"G:BAD:(A;;FA;;;BA)", false},  // no owner at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sddl, c.sddl + wcslen(c.sddl)));
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1,
                                                                         &descriptor, nullptr))
            << GetLastError();
        const LocalMemory owned(descriptor);
        EXPECT_EQ(IsOwnedByAdministratorsOrSystem(descriptor), c.trusted);
    }
    EXPECT_FALSE(IsOwnedByAdministratorsOrSystem(nullptr));
}

// The owner this process's token gives what it makes, as SDDL text.
std::wstring OurDefaultOwner() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    const KernelHandle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenOwner, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    wchar_t* text = nullptr;
    if (size == 0 || !GetTokenInformation(token, TokenOwner, buffer.data(), size, &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner, &text))
        return {};
    const LocalMemory textMemory(text);
    return text;
}

// The sweep's own rule also trusts the owner a run of this program gives its folder: under Wine
// (and on Windows unless a policy says otherwise) that is the token's default owner, not
// Administrators.
TEST(HostFolderSweep, TrustsTheOwnerThisProgramGivesItsFoldersAsWell) {
    const std::wstring ours = OurDefaultOwner();
    ASSERT_FALSE(ours.empty());
    struct Case {
        std::wstring sddl;
        bool trusted;
    } cases[] = {
        {L"O:" + ours, true}, {L"O:BA", true},
        {L"O:SY", true},      {L"O:S-1-5-21-1-2-3-1000", false},  // another account
        {L"O:WD", false},     {L"G:BA", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sddl.begin(), c.sddl.end()));
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            c.sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            << GetLastError();
        const LocalMemory owned(descriptor);
        EXPECT_EQ(IsOwnedAsOurRunsOwnTheirFolders(descriptor), c.trusted);
    }
    EXPECT_FALSE(IsOwnedAsOurRunsOwnTheirFolders(nullptr));
}

class SweepTest : public ::testing::Test {
  protected:
    // A folder under the swept base with the given files in it.
    std::wstring Folder(const std::wstring& name, std::initializer_list<const wchar_t*> files) {
        const std::wstring folder = base_ / name;
        MakeFolder(folder);
        for (const wchar_t* file : files)
            WriteTextFile(folder + L"\\" + file, "host");
        return folder;
    }

    TempFolder base_;
};

TEST_F(SweepTest, RemovesOnlyTheHostFilesOfRunsThatAreOver) {
    const std::wstring stale = Folder(OurName(L'0'), {kHost32FileName, kHost64FileName});
    const std::wstring half = Folder(OurName(L'1'), {kHost64FileName});
    const std::wstring empty = Folder(OurName(L'2'), {});
    const std::wstring withOther = Folder(OurName(L'3'), {kHost32FileName, L"notes.txt"});
    const std::wstring notOurs = Folder(L"Kestrave-1234-1a2b-0", {kHost32FileName});
    const std::wstring liveFolder = Folder(OurName(L'4'), {kHost32FileName});
    const std::wstring liveHost = Folder(OurName(L'5'), {kHost32FileName, kHost64FileName});
    WriteTextFile(base_ / OurName(L'6'), "a file by our name");

    // A run that is not over holds its folder, and its host files, without delete sharing.
    const FileHandle heldFolder(CreateFileW(liveFolder.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(heldFolder) << GetLastError();
    const std::wstring heldHostPath = liveHost + L"\\" + kHost64FileName;
    const FileHandle heldHost(CreateFileW(heldHostPath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(heldHost) << GetLastError();

    EXPECT_EQ(SweepHostFolders(base_.Path(), AnyOwner), 3);

    EXPECT_FALSE(Exists(stale));
    EXPECT_FALSE(Exists(half));
    EXPECT_FALSE(Exists(empty));
    EXPECT_FALSE(Exists(withOther + L"\\" + kHost32FileName));
    EXPECT_TRUE(FileExists(withOther + L"\\notes.txt")) << "a file we did not write stays";
    EXPECT_TRUE(FileExists(notOurs + L"\\" + kHost32FileName));
    EXPECT_TRUE(FileExists(liveFolder + L"\\" + kHost32FileName));
    EXPECT_TRUE(FileExists(heldHostPath));
    EXPECT_TRUE(FileExists(base_ / OurName(L'6')));
}

// Without a rule given, the sweep trusts the owner the system gives a folder this process makes
// (found from one made and taken away again), whatever the policy or Wine make of it.
TEST_F(SweepTest, TakesAFolderOwnedAsItsOwnRunsAreAndLeavesNothingOfItsOwnBehind) {
    const std::wstring stale = Folder(OurName(L'0'), {kHost32FileName, kHost64FileName});

    EXPECT_EQ(SweepHostFolders(base_.Path()), 1);

    EXPECT_FALSE(Exists(stale));
    WIN32_FIND_DATAW found{};
    const FindHandle left(FindFirstFileW((base_ / L"Kestrave-*").c_str(), &found));
    EXPECT_FALSE(left) << "the folder made to learn the owner is gone too";
}

TEST_F(SweepTest, LeavesAFolderWhoseOwnerItDoesNotTrust) {
    const std::wstring stale = Folder(OurName(L'0'), {kHost32FileName});
    EXPECT_EQ(SweepHostFolders(base_.Path(), NoOwner), 0);
    EXPECT_TRUE(FileExists(stale + L"\\" + kHost32FileName));
}

// Wine cannot make a junction; a symbolic link on the Unix side shows as a reparse point, as a
// junction does on Windows.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
    return testing::MakeUnixLink(link, target) &&
           (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST_F(SweepTest, LeavesALinkByOurNameAndWhatIsBehindItAlone) {
    TempFolder elsewhere;
    const std::wstring behind = elsewhere / kHost32FileName;
    WriteTextFile(behind, "somebody's file");
    const std::wstring link = base_ / OurName(L'0');
    ASSERT_TRUE(MakeFolderLink(link, elsewhere.Path())) << "no link could be made here";

    EXPECT_EQ(SweepHostFolders(base_.Path(), AnyOwner), 0);

    EXPECT_TRUE(FileExists(behind));
    EXPECT_TRUE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    testing::RemoveUnixLink(link);
}

}  // namespace
}  // namespace kestrave
