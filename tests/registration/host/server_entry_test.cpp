#include "server_entry.h"

#include <gtest/gtest.h>

#include "test_folder.h"
#include "test_server_keys.h"

namespace kestrave {
namespace {

using testing::TempFolder;
using testing::TestServerPath;

// These run servers in the test's own process, as a registration host does.

// A server copied under its own name into a scratch folder, as the batch does.
std::wstring PlaceServer(const TempFolder& folder, const std::wstring& dll,
                         const std::wstring& asName) {
    std::wstring path = folder / asName;
    testing::CopyOrFail(TestServerPath(dll), path);
    return path;
}

bool IsLoaded(const std::wstring& path) {
    return GetModuleHandleW(path.c_str()) != nullptr;
}

TEST(CallServerEntry, RegistersAndUnregistersAWellBehavedServer) {
    TempFolder folder;
    std::wstring path = PlaceServer(folder, L"good_server.dll", L"entry_good.ocx");
    std::wstring key = testing::TestServerClsidKey(L"entry_good.ocx");

    EntryResult registered = CallServerEntry(path, false);
    EXPECT_EQ(registered.outcome, EntryOutcome::Finished);
    EXPECT_TRUE(registered.Succeeded());
    EXPECT_EQ(testing::RegistryDefaultValue(HKEY_CLASSES_ROOT, key + L"\\InprocServer32"), path);
    EXPECT_FALSE(IsLoaded(path)) << "the library is released after the call";

    EntryResult unregistered = CallServerEntry(path, true);
    EXPECT_TRUE(unregistered.Succeeded());
    EXPECT_FALSE(testing::RegistryKeyExists(HKEY_CLASSES_ROOT, key));
    EXPECT_FALSE(IsLoaded(path));
}

TEST(CallServerEntry, ReportsEachWayOfFailingBeforeTheExportRuns) {
    TempFolder folder;
    std::wstring textFile = folder / L"not_a_library.ocx";
    testing::WriteTextFile(textFile, "this is not a library");
    std::wstring registerOnly = PlaceServer(folder, L"register_only_server.dll", L"ro.ocx");
    std::wstring hidden = PlaceServer(folder, L"good_server.dll", L"hidden.ocx");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);

    struct Case {
        const char* what;
        std::wstring path;
        bool unregister;
        EntryOutcome outcome;
    } cases[] = {
        {"no file", folder / L"absent.ocx", false, EntryOutcome::NotFound},
        {"hidden file", hidden, false, EntryOutcome::NotFound},
        {"not a library", textFile, false, EntryOutcome::NotLoadable},
        {"export missing", registerOnly, true, EntryOutcome::ExportMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EntryResult result = CallServerEntry(c.path, c.unregister);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_FALSE(result.Succeeded());
        EXPECT_FALSE(IsLoaded(c.path));
    }
    EXPECT_NE(CallServerEntry(textFile, false).error, static_cast<DWORD>(ERROR_SUCCESS))
        << "a refused load carries the system's reason";
}

TEST(CallServerEntry, GivesTheExportsOwnResult) {
    TempFolder folder;
    struct Case {
        const wchar_t* dll;
        bool unregister;
        HRESULT result;
    } cases[] = {
        {L"failing_server.dll", false, E_ACCESSDENIED},
        {L"failing_server.dll", true, E_ACCESSDENIED},
        // Fails unless the worker sits in a single-threaded apartment.
        {L"apartment_server.dll", false, S_OK},
        {L"register_only_server.dll", false, S_OK},
    };
    for (const Case& c : cases) {
        std::wstring path = PlaceServer(folder, c.dll, c.dll);
        EntryResult result = CallServerEntry(path, c.unregister);
        EXPECT_EQ(result.outcome, EntryOutcome::Finished);
        EXPECT_EQ(result.result, c.result) << std::hex << result.result;
        EXPECT_EQ(result.Succeeded(), SUCCEEDED(c.result));
    }
}

TEST(CallServerEntry, LoadsAServerWhosePathIsOutsideTheAnsiCodePage) {
    TempFolder folder;
    std::wstring subfolder = folder / L"控件-한글";
    testing::MakeFolder(subfolder);
    std::wstring path = subfolder + L"\\서버.ocx";
    testing::CopyOrFail(TestServerPath(L"good_server.dll"), path);

    EXPECT_TRUE(CallServerEntry(path, false).Succeeded());
    EXPECT_TRUE(CallServerEntry(path, true).Succeeded());
}

}  // namespace
}  // namespace kestrave
