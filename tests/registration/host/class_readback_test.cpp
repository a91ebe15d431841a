#include "class_readback.h"

#include <gtest/gtest.h>

#include <functional>

#include "crafted_images.h"
#include "system_folders.h"
#include "system_servers.h"
#include "environment.h"
#include "file_lookup.h"
#include "import_reader.h"
#include "test_folder.h"
#include "text.h"

namespace kestrave {
namespace {

using testing::TempFolder;
using testing::TestServerPath;

// The classes the test type library lists: one creatable, one not.
constexpr GUID kCreatable = {0x4b657374, 0x5262, 0x4b31, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
constexpr GUID kNotCreatable = {0x4b657374, 0x5262, 0x4b31, {0x80, 0, 0, 0, 0, 0, 0, 0x02}};

std::wstring Text(const GUID& guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

const REGSAM kView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

std::wstring ClassKey(const GUID& guid) {
    return L"Software\\Classes\\CLSID\\" + Text(guid);
}

void WriteServerEntry(HKEY root, const GUID& guid, const std::wstring& value, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, (ClassKey(guid) + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE | kView, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void RemoveEntries() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const GUID& guid : {kCreatable, kNotCreatable})
            RegDeleteTreeW(root, ClassKey(guid).c_str());
    }
}

std::string Describe(const std::vector<ClassPointingElsewhere>& found) {
    std::string text;
    for (const ClassPointingElsewhere& f : found)
        text += Utf8FromWide(f.clsid) + (f.perUser ? " per-user " : " machine ") +
                Utf8FromWide(f.otherFile) + "\n";
    return text;
}

FILETIME Now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return now;
}

// The registry as a server leaves it: `before` is what was there before the registration
// began, `during` what the server's export wrote.
TEST(ReadBackClasses, NamesOnlyClassesThatLeadToAnotherFile) {
    TempFolder systemFolder;
    const std::wstring copy = systemFolder / L"readback_server.ocx";
    testing::CopyWithTypeLibrary(TestServerPath(L"good_server.dll"), copy,
                                 {{kCreatable, true}, {kNotCreatable, false}});
    wchar_t shortPath[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(copy.c_str(), shortPath, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(shortPath), copy) << "the short name must differ for this test";
    const std::wstring temp = EnvironmentValue(L"TEMP");
    ASSERT_FALSE(temp.empty());
    ASSERT_EQ(CompareStringOrdinal(copy.c_str(), static_cast<int>(temp.size()), temp.c_str(),
                                   static_cast<int>(temp.size()), TRUE),
              CSTR_EQUAL)
        << "the scratch folder is under %TEMP%";
    const std::wstring viaVariable = L"%TEMP%" + copy.substr(temp.size());
    std::wstring upper = copy;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    const std::wstring elsewhere = L"C:\\Program Files\\Vendor\\readback_server.ocx";
    const std::wstring sibling = L"C:\\Program Files\\Vendor\\sibling.dll";
    const std::wstring fixed = L"C:\\Program Files\\Vendor\\fixed.ocx";
    const std::wstring created = Text(kCreatable);

    auto machine = [](const std::wstring& value, DWORD type = REG_SZ) {
        return [=] { WriteServerEntry(HKEY_LOCAL_MACHINE, kCreatable, value, type); };
    };
    struct Case {
        const char* what;
        std::function<void()> before;
        std::function<void()> during;
        std::string expected;
    } cases[] = {
        {"exactly the copy", {}, machine(copy), ""},
        {"by its short name", {}, machine(shortPath), ""},
        {"in upper case", {}, machine(upper), ""},
        {"quoted", {}, machine(L"\"" + copy + L"\""), ""},
        {"through a variable", {}, machine(viaVariable, REG_EXPAND_SZ), ""},
        {"a variable in plain text is not expanded",
         {},
         machine(viaVariable),
         Utf8FromWide(created + L" machine " + viaVariable + L"\n")},
        {"by its bare name, in the system folder", {}, machine(L"readback_server.ocx"), ""},
        {"a fixed other path written now",
         {},
         machine(fixed),
         Utf8FromWide(created + L" machine " + fixed + L"\n")},
        {"an older entry kept, naming a file of the copy's name",
         machine(elsewhere),
         {},
         Utf8FromWide(created + L" machine " + elsewhere + L"\n")},
        {"an older entry of a sibling library kept", machine(sibling), {}, ""},
        {"a per-user entry shadows the machine's",
         [&] { WriteServerEntry(HKEY_CURRENT_USER, kCreatable, elsewhere); }, machine(copy),
         Utf8FromWide(created + L" per-user " + elsewhere + L"\n")},
        {"no entry at all", {}, {}, ""},
        {"a class that cannot be created is not asked",
         {},
         [] { WriteServerEntry(HKEY_LOCAL_MACHINE, kNotCreatable, L"C:\\x\\fixed.ocx"); },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveEntries();
        if (c.before)
            c.before();
        Sleep(20);  // so that an earlier entry is told from one written now
        const FILETIME started = Now();
        if (c.during)
            c.during();
        EXPECT_EQ(
            Describe(ReadBackClasses({copy, started, sizeof(void*) == 8, systemFolder.Path()})),
            c.expected);
    }
    RemoveEntries();
}

// A copy in the real system folder, as the batch puts it, reached by the spellings servers
// use for that folder.
TEST(ReadBackClasses, KnowsTheSystemFolderByItsVariableAndByABareName) {
    const std::wstring system = SystemFolder();
    const std::wstring name = L"kestrave_readback_test.ocx";
    const std::wstring copy = system + L"\\" + name;
    testing::CopyWithTypeLibrary(TestServerPath(L"good_server.dll"), copy, {{kCreatable, true}});
    const std::wstring underRoot = L"%SystemRoot%" + copy.substr(copy.find(L'\\', 3));
    struct Case {
        const char* what;
        std::wstring value;
        DWORD type;
    } cases[] = {
        {"through %SystemRoot%", underRoot, REG_EXPAND_SZ},
        {"by its bare name", name, REG_SZ},
        {"by its bare name, quoted", L"\"" + name + L"\"", REG_SZ},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveEntries();
        const FILETIME started = Now();
        WriteServerEntry(HKEY_LOCAL_MACHINE, kCreatable, c.value, c.type);
        EXPECT_EQ(Describe(ReadBackClasses({copy, started, sizeof(void*) == 8, {}})), "");
    }
    RemoveEntries();
    DeleteFileW(copy.c_str());
}

TEST(ReadBackClasses, NamesNothingForAFileWithoutATypeLibrary) {
    EXPECT_TRUE(ReadBackClasses({TestServerPath(L"good_server.dll"), Now(), sizeof(void*) == 8, {}})
                    .empty());
}

// Wine's (or Windows') own type-library servers, as registered in this system: nothing of
// theirs leads elsewhere in a way the rule would name.
TEST(ReadBackClasses, NamesNothingForTheSystemsOwnServers) {
    const FILETIME started = Now();
    const std::vector<std::wstring> servers = testing::SystemSelfRegisteringServers();
    std::string named;
    for (const std::wstring& path : servers)
        named += Describe(ReadBackClasses({path, started, sizeof(void*) == 8, {}}));
    EXPECT_GT(servers.size(), 20u);
    EXPECT_EQ(named, "");
}

}  // namespace
}  // namespace kestrave
