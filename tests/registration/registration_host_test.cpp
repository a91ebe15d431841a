#include "registration_host.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstring>
#include <functional>

#include "batch.h"
#include "batch_report.h"
#include "handles.h"
#include "system_error.h"
#include "options_record.h"
#include "no_queue_display.h"
#include "test_folder.h"
#include "test_hosts.h"
#include "test_server_keys.h"

namespace kestrave {
namespace {

using testing::CopyOrFail;
using testing::FileExists;
using testing::TempFolder;
using testing::TestServerPath;

bool IsLoadedHere(const std::wstring& path) {
    return GetModuleHandleW(path.c_str()) != nullptr;
}

bool KeyInView(const std::wstring& key, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

std::wstring DefaultValueInView(const std::wstring& key, REGSAM view) {
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof value;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS)
        return {};
    RegQueryValueExW(opened, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    return value;
}

TEST(ReadImageInfo, TellsWhichHostCanLoadAFile) {
    TempFolder folder;
    const std::string good = testing::ReadWholeFile(TestServerPath(L"good_server.dll"));
    // The same library, said to be for ARM64.
    std::string arm = good;
    const auto peAt = *reinterpret_cast<const LONG*>(arm.data() + 0x3C);
    const WORD arm64 = 0xAA64;
    std::memcpy(arm.data() + peAt + 4, &arm64, sizeof arm64);
    testing::WriteTextFile(folder / L"arm.ocx", arm);
    testing::WriteTextFile(folder / L"text.ocx", "MZ but nothing more");
    testing::WriteTextFile(folder / L"empty.ocx", "");

#if defined(_WIN64)
    const ImageKind own = ImageKind::X64;
#else
    const ImageKind own = ImageKind::X86;
#endif
    struct Case {
        std::wstring path;
        ImageKind kind;
        std::wstring reason;
    } cases[] = {
        {TestServerPath(L"good_server.dll"), own, L""},
        {folder / L"arm.ocx", ImageKind::OtherMachine, L"不是有效的控件文件"},
        {folder / L"text.ocx", ImageKind::NotALibrary, L"不是有效的控件文件"},
        {folder / L"empty.ocx", ImageKind::NotALibrary, L"不是有效的控件文件"},
        {TestServerPath(L"kestrave_host.exe"), ImageKind::NotALibrary, L"不是有效的控件文件"},
        {folder / L"absent.ocx", ImageKind::Unreadable,
         L"无法读取: " + SystemErrorText(ERROR_FILE_NOT_FOUND)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        const ImageInfo image = ReadImageInfo(c.path);
        EXPECT_EQ(image.kind, c.kind);
        EXPECT_EQ(ImageFailureReason(image), c.reason);
    }
    if (FileExists(TestServerPath(L"good_server64.dll"))) {
        EXPECT_EQ(ReadImageInfo(TestServerPath(L"good_server64.dll")).kind, ImageKind::X64);
    }
}

// Ends the hosts this process started, as somebody with a task manager might.
int EndOwnHosts() {
    int ended = 0;
    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID != GetCurrentProcessId() ||
            _wcsicmp(entry.szExeFile, L"kestrave_host.exe") != 0)
            continue;
        KernelHandle process(
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process && TerminateProcess(process.get(), 1)) {
            WaitForSingleObject(process.get(), 5000);
            ++ended;
        }
    }
    return ended;
}

class RecordingHost : public BatchHost {
  public:
    void SetMousePointer(int) override {}
    void HideMainWindow() override {}
    void ShowMainWindow() override {}
    int ShowMessage(const std::wstring& text, int, const std::wstring&) override {
        messages.push_back(text);
        return IDOK;
    }
    // The batches copy into the test's scratch Windows folder, not the system's.
    std::wstring WindowsFolder() override { return windowsFolder; }
    std::wstring windowsFolder;
    std::vector<std::wstring> messages;
};

class HostBatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::MakeFolder(windows_ / L"System32");
        host_.windowsFolder = windows_.Path();
    }
    void TearDown() override {
        for (const std::wstring& name : names_) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, testing::TestServerClsidKey(name).c_str());
            const std::wstring key = testing::TestServerClsidKey(name);
            HKEY root = nullptr;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                              &root) == ERROR_SUCCESS) {
                RegDeleteTreeW(root, key.c_str());
                RegCloseKey(root);
            }
        }
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"CLSID\\{4B657374-7261-7665-4D41-494E53544100}");
    }

    std::wstring Queue(const std::wstring& dll, const std::wstring& name) {
        const std::wstring path = sources_ / name;
        CopyOrFail(TestServerPath(dll), path);
        list_.Append(name, path, path);
        names_.push_back(name);
        return path;
    }
    std::wstring SystemCopy(const std::wstring& name) const {
        return windows_ / (L"System32\\" + name);
    }

    TempFolder windows_;
    TempFolder sources_;
    testing::NoQueueDisplay display_;
    ServerList list_{display_};
    Options options_;
    RecordingHost host_;
    testing::TestHostImages images_;
    std::vector<std::wstring> names_;
};

// Whatever a server does to the process it runs in, the program lives on, names that file with
// its reason, and registers the good file queued after it.
TEST_F(HostBatchTest, NoServerCanBringTheProgramDown) {
    struct Case {
        const wchar_t* dll;
        std::wstring reason;  // empty: registers
    } cases[] = {
        {L"crashing_server.dll", L"控件崩溃 (异常代码 0xC0000005)"},
        {L"process_ending_server.dll", L"控件结束了进程 (退出码 7)"},
        {L"hanging_load_server.dll", L"超过10秒未完成,已终止"},
        {L"slow_server.dll", L"超过10秒未完成,已终止"},
        {L"crashing_load_server.dll", L"?"},  // the loader's answer, or the fault
        {L"litter_server.dll", L""},
        {L"pumping_server.dll", L""},
        {L"main_apartment_server.dll", L""},
        {L"exiting_server.dll",
         EntryFailureReason({EntryOutcome::Finished, 0, E_ABORT}, false, {})},
        {L"apartment_leaving_server.dll", L""},
        {L"apartment_server.dll", L""},
    };
    std::wstring expected;
    int failures = 0;
    int number = 0;
    for (const Case& c : cases) {
        const std::wstring name = L"host_bad" + std::to_wstring(++number) + L".ocx";
        const std::wstring path = Queue(c.dll, name);
        Queue(L"good_server.dll", L"host_good" + std::to_wstring(number) + L".ocx");
        if (!c.reason.empty()) {
            ++failures;
            expected += path + L" (" + c.reason + L")\r\n";
        }
    }

    RegisterAll(list_, options_, host_, images_, 1500);

    ASSERT_EQ(host_.messages.size(), 1u);
    const std::wstring& message = host_.messages.front();
    SCOPED_TRACE(std::string(message.begin(), message.end()));
    number = 0;
    for (const Case& c : cases) {
        ++number;
        const std::wstring bad = L"host_bad" + std::to_wstring(number) + L".ocx";
        const std::wstring good = L"host_good" + std::to_wstring(number) + L".ocx";
        SCOPED_TRACE(std::wstring(c.dll).size());
        EXPECT_TRUE(KeyInView(testing::TestServerClsidKey(good), 0)) << number;
        EXPECT_FALSE(IsLoadedHere(SystemCopy(bad))) << "no server runs in the program";
        if (c.reason == L"?") {
            EXPECT_NE(message.find(sources_ / bad), std::wstring::npos) << number;
        } else if (!c.reason.empty()) {
            EXPECT_NE(message.find(sources_ / bad + L" (" + c.reason + L")"), std::wstring::npos)
                << number;
            EXPECT_FALSE(FileExists(SystemCopy(bad))) << "a failed copy is taken away";
        } else {
            EXPECT_EQ(message.find(sources_ / bad), std::wstring::npos) << number;
        }
    }
    EXPECT_EQ(message.find(L"注意:有以下" + std::to_wstring(failures) + L"个控件注册失败"), 0u);
}

// A server that keeps its file mapped after it was released: the copy is still deleted, by a
// host that never loaded it.
TEST_F(HostBatchTest, DeletesACopyThatTheHostWhichRanItStillMaps) {
    Queue(L"pinning_server.dll", L"host_pinned.ocx");
    RegisterAll(list_, options_, host_, images_);
    ASSERT_TRUE(FileExists(SystemCopy(L"host_pinned.ocx")));

    UnregisterAll(list_, options_, host_, images_);

    ASSERT_EQ(host_.messages.size(), 2u);
    EXPECT_EQ(host_.messages[1], L"所有控件已经卸载完毕!");
    EXPECT_FALSE(FileExists(SystemCopy(L"host_pinned.ocx")));
}

// The program keeps a host from the moment something is queued: that host serves the batch, and
// one that went away between two batches is replaced without blaming the next file.
TEST_F(HostBatchTest, AHostStartedAheadServesBatchesAndIsReplacedWhenItWentAway) {
    HostSession hosts(images_);
    ASSERT_TRUE(hosts.StartAhead(kProgramImageKind));
    Queue(L"good_server.dll", L"host_ahead.ocx");

    RegisterAll(list_, options_, host_, hosts);
    EXPECT_EQ(host_.messages.at(0), L"所有控件已经注册完毕!");
    EXPECT_EQ(hosts.HostsStarted(), 1);

    ASSERT_EQ(EndOwnHosts(), 1);
    UnregisterAll(list_, options_, host_, hosts);
    EXPECT_EQ(host_.messages.at(1), L"所有控件已经卸载完毕!");
    EXPECT_EQ(hosts.HostsStarted(), 2);
    EXPECT_FALSE(KeyInView(testing::TestServerClsidKey(L"host_ahead.ocx"), 0));
}

// A 64-bit server goes to the 64-bit host, which puts its keys into the 64-bit registry view.
TEST_F(HostBatchTest, Registers64BitServersThroughA64BitHost) {
    if (!FileExists(TestServerPath(L"good_server64.dll")) || !WindowsRuns64BitPrograms())
        GTEST_SKIP() << "no 64-bit server or host in this build";
    const std::wstring name = L"host_x64.ocx";
    Queue(L"good_server64.dll", name);
    Queue(L"good_server.dll", L"host_x86.ocx");
    const std::wstring key = testing::TestServerClsidKey(name);

    RegisterAll(list_, options_, host_, images_);

    EXPECT_EQ(host_.messages.at(0), L"所有控件已经注册完毕!");
    EXPECT_EQ(DefaultValueInView(key + L"\\InprocServer32", KEY_WOW64_64KEY), SystemCopy(name));
    EXPECT_FALSE(KeyInView(key, KEY_WOW64_32KEY)) << "not in the 32-bit view";
    EXPECT_TRUE(KeyInView(testing::TestServerClsidKey(L"host_x86.ocx"), KEY_WOW64_32KEY));

    UnregisterAll(list_, options_, host_, images_);
    EXPECT_EQ(host_.messages.at(1), L"所有控件已经卸载完毕!");
    EXPECT_FALSE(KeyInView(key, KEY_WOW64_64KEY));
    EXPECT_FALSE(FileExists(SystemCopy(name)));
}

}  // namespace
}  // namespace kestrave
