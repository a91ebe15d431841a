#include "server_entry.h"

#include <gtest/gtest.h>

#include "handles.h"
#include "test_folder.h"
#include "text.h"
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

// The thread named before the load is the one the export runs on: whoever opened it sees it end
// with the export's result as its exit code. An export that ends its thread instead of returning
// leaves an exit code of its own choosing; the outcome then says it did not finish.
TEST(CallServerEntry, NamesTheWorkerBeforeTheLoadAndEndsItWithTheExportsResult) {
    TempFolder folder;
    struct Case {
        const wchar_t* dll;
        HRESULT result;
        DWORD exitCode;
    } cases[] = {
        {L"good_server.dll", S_OK, 0},
        {L"failing_server.dll", E_ACCESSDENIED, static_cast<DWORD>(E_ACCESSDENIED)},
        {L"exiting_server.dll", E_ABORT, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8FromWide(c.dll));
        const std::wstring path = PlaceServer(folder, c.dll, c.dll);
        KernelHandle worker;
        bool loadedBefore = true;
        const EntryResult result = CallServerEntry(path, false, [&](DWORD id) {
            worker.reset(OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, id));
            loadedBefore = IsLoaded(path);
            return true;
        });
        ASSERT_TRUE(worker);
        EXPECT_FALSE(loadedBefore);
        EXPECT_EQ(result.outcome, EntryOutcome::Finished);
        EXPECT_EQ(result.result, c.result);
        ASSERT_EQ(WaitForSingleObject(worker.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
        DWORD exitCode = STILL_ACTIVE;
        GetExitCodeThread(worker.get(), &exitCode);
        EXPECT_EQ(exitCode, c.exitCode);
        CallServerEntry(path, true);
    }

    // Not let go: nothing is loaded, and the worker ends all the same.
    const std::wstring path = PlaceServer(folder, L"good_server.dll", L"held.ocx");
    KernelHandle worker;
    const EntryResult held = CallServerEntry(path, false, [&](DWORD id) {
        worker.reset(OpenThread(SYNCHRONIZE, FALSE, id));
        return false;
    });
    EXPECT_EQ(held.outcome, EntryOutcome::WorkerNotStarted);
    EXPECT_EQ(held.error, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_FALSE(
        testing::RegistryKeyExists(HKEY_CLASSES_ROOT, testing::TestServerClsidKey(L"held.ocx")));
    ASSERT_TRUE(worker);
    EXPECT_EQ(WaitForSingleObject(worker.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
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
