#include "registration_host.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstring>
#include <functional>

#include "batch.h"
#include "batch_report.h"
#include "crafted_images.h"
#include "handles.h"
#include "host_folder_names.h"
#include "system_error.h"
#include "options_record.h"
#include "no_queue_display.h"
#include "test_folder.h"
#include "test_hosts.h"
#include "test_server_keys.h"
#include "text.h"

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

// A delete the system refuses leaves the file as it was, attributes and all.
TEST(DeleteServerFile, AFileThatStaysKeepsItsAttributes) {
    TempFolder folder;
    const std::wstring path = folder / L"kept.ocx";
    testing::WriteTextFile(path, "x");
    const DWORD attributes =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
    {
        FileHandle holder(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(DeleteServerFile(path), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    // Wine marks a file for archiving whenever its attributes are written after they were
    // cleared (seen here with no delete at all), so that one mark is not compared.
    EXPECT_EQ(GetFileAttributesW(path.c_str()) & ~FILE_ATTRIBUTE_ARCHIVE,
              attributes & ~FILE_ATTRIBUTE_ARCHIVE);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
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
        // A code outside the fault ranges is a crash all the same: the host says it caught it.
        {L"raising_server.dll", L"控件崩溃 (异常代码 0x20000001)"},
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

// Deleting after registering is on, so that every delete the rules allow is tried.
class DeletingOptions : public OptionsSource {
  public:
    bool IsOn(OptionFlag flag) override { return flag != OptionFlag::WarnMissingSource; }
    std::wstring TargetSubfolder() override { return kSystem32Subfolder; }
};

bool ChildOfAServerIsAlive() {
    KernelHandle alive(OpenMutexW(SYNCHRONIZE, FALSE, L"KestraveTestPipeWriter"));
    return static_cast<bool>(alive);
}

// A server that turns on its host (forged replies of every shape, a library or a process left
// behind) gets the program's own reason at worst; the file after it is registered as if nothing
// happened, no file the rules keep is deleted, and nothing of the server outlives the batch.
TEST_F(HostBatchTest, NoServerCanSteerTheProgramThroughItsHost) {
    SetEnvironmentVariableW(L"KESTRAVE_TEST_CHILD", TestServerPath(L"pipe_writer.exe").c_str());
    struct Case {
        const wchar_t* name;   // misbehaving_server.dll queued under this name
        bool fails;            // with the program's reason for a host that misbehaved
        bool copyWasThere;     // the system folder held its bytes before the run
        bool nextCopyDiffers;  // the next file's system copy holds other bytes
    } cases[] = {
        {L"forge_extra1.ocx", true, false, false},
        {L"forge_extra2.ocx", true, true, true},
        {L"forge_empty.ocx", true, false, false},
        {L"forge_short.ocx", true, true, false},
        {L"forge_oversized.ocx", true, false, true},
        {L"early_hang.ocx", true, false, false},  // its guess of the request is wrong here
        {L"keep_library.ocx", false, false, false},
        {L"child.ocx", false, false, true},
    };
    int number = 0;
    for (const Case& c : cases) {
        Queue(L"misbehaving_server.dll", c.name);
        if (c.copyWasThere)
            CopyOrFail(TestServerPath(L"misbehaving_server.dll"), SystemCopy(c.name));
        const std::wstring next = L"host_next" + std::to_wstring(++number) + L".ocx";
        Queue(L"good_server.dll", next);
        if (c.nextCopyDiffers)
            CopyOrFail(TestServerPath(L"misbehaving_server.dll"), SystemCopy(next));
    }
    DeletingOptions options;

    RegisterAll(list_, options, host_, images_, 1500);

    ASSERT_EQ(host_.messages.size(), 1u);
    const std::wstring& message = host_.messages.front();
    SCOPED_TRACE(std::string(message.begin(), message.end()));
    number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::wstring(c.name).size());
        const std::wstring source = sources_ / c.name;
        const std::wstring next = L"host_next" + std::to_wstring(++number) + L".ocx";
        if (c.fails) {
            EXPECT_NE(message.find(source + L" (" + kHostMisbehavedReason + L")"),
                      std::wstring::npos)
                << number;
            EXPECT_TRUE(FileExists(source)) << "a source that did not register stays";
            EXPECT_EQ(FileExists(SystemCopy(c.name)), c.copyWasThere)
                << "only the copy this run made is taken back";
        } else {
            EXPECT_EQ(message.find(source), std::wstring::npos) << number;
            EXPECT_TRUE(FileExists(SystemCopy(c.name)));
        }
        EXPECT_TRUE(KeyInView(testing::TestServerClsidKey(next), 0)) << number;
        EXPECT_EQ(message.find(sources_ / next + L" ("), std::wstring::npos) << number;
        EXPECT_EQ(FileExists(sources_ / next), c.nextCopyDiffers)
            << "a source is deleted only when its system copy holds the same bytes";
        EXPECT_TRUE(FileExists(SystemCopy(next)));
    }
    EXPECT_FALSE(ChildOfAServerIsAlive()) << "the host's whole job ends with it";
}

// A host that carries anything of a server's (a library it kept, a thread nobody was told of, a
// process it started) serves
// no further file: the next one gets a fresh host.
TEST_F(HostBatchTest, AHostThatCarriesSomethingOfAServersServesNoFurtherFile) {
    SetEnvironmentVariableW(L"KESTRAVE_TEST_CHILD", TestServerPath(L"pipe_writer.exe").c_str());
    for (const wchar_t* name :
         {L"keep_library.ocx", L"quiet_thread.ocx", L"child.ocx", L"host_plain.ocx"}) {
        SCOPED_TRACE(std::wstring(name).size());
        testing::NoQueueDisplay display;
        ServerList list(display);
        const std::wstring path = sources_ / name;
        CopyOrFail(TestServerPath(L"misbehaving_server.dll"), path);
        list.Append(name, path, path);
        names_.push_back(name);
        const std::wstring next = std::wstring(L"after_") + name;
        CopyOrFail(TestServerPath(L"good_server.dll"), sources_ / next);
        list.Append(next, sources_ / next, sources_ / next);
        names_.push_back(next);
        HostSession hosts(images_);

        RegisterAll(list, options_, host_, hosts);

        EXPECT_EQ(host_.messages.back(), L"所有控件已经注册完毕!");
        EXPECT_EQ(hosts.HostsStarted(), std::wstring(name) == L"host_plain.ocx" ? 1 : 2);
    }
    EXPECT_FALSE(ChildOfAServerIsAlive());
}

// A server that forges its host's answer to the very request it serves (it guessed the number)
// and then never returns may claim its own result; the file after it is served by a fresh host.
TEST_F(HostBatchTest, AServerThatAnswersForItsHostAndHangsDoesNotHoldUpTheNextFile) {
    Queue(L"misbehaving_server.dll", L"early_hang.ocx");
    Queue(L"good_server.dll", L"host_after_hang.ocx");
    HostSession hosts(images_);

    RegisterAll(list_, options_, host_, hosts, 1500);

    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].find(sources_ / L"host_after_hang.ocx"), std::wstring::npos)
        << std::string(host_.messages[0].begin(), host_.messages[0].end());
    EXPECT_TRUE(KeyInView(testing::TestServerClsidKey(L"host_after_hang.ocx"), 0));
    EXPECT_EQ(hosts.HostsStarted(), 2);
}

// A library a server needs is looked for where the system looks, never in the program's current
// folder, which somebody else may have chosen.
TEST_F(HostBatchTest, AHostFindsNoLibraryPlantedInTheProgramsCurrentFolder) {
    const std::wstring dependency = TestServerPath(L"elsewhere\\planted_dependency.dll");
    TempFolder current;
    CopyOrFail(dependency, current / L"planted_dependency.dll");
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));
    const std::wstring source = Queue(L"planted_import_server.dll", L"host_planted.ocx");

    RegisterAll(list_, options_, host_, images_);
    // The same server registers once its library is where the loader looks for it.
    CopyOrFail(dependency, SystemCopy(L"planted_dependency.dll"));
    RegisterAll(list_, options_, host_, images_);
    SetCurrentDirectoryW(saved);

    ASSERT_EQ(host_.messages.size(), 2u);
    // Nor does the search for the reason look there.
    EXPECT_EQ(host_.messages[0],
              L"注意:有以下1个控件注册失败\r\n\r\n" + source +
                  L" (缺少 host_planted.ocx 需要的文件 planted_dependency.dll)\r\n")
        << Utf8FromWide(host_.messages[0]);
    EXPECT_EQ(host_.messages[1], L"所有控件已经注册完毕!");
}

std::wstring SystemProgramData() {
    PWSTR path = nullptr;
    SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path);
    std::wstring folder = path ? path : L"";
    CoTaskMemFree(path);
    return folder;
}

// Another exe put at the program's path (a running exe can be renamed) is never run: the host
// is the one the program carries, written into a folder of its own under the system's
// ProgramData, whatever the environment says, and held there until the program is done.
TEST_F(HostBatchTest, TheHostThatRunsIsTheOneTheProgramCarries) {
    wchar_t own[MAX_PATH];
    const std::wstring program(own, GetModuleFileNameW(nullptr, own, MAX_PATH));
    const std::wstring aside = program + L".aside";
    ASSERT_TRUE(MoveFileW(program.c_str(), aside.c_str()));
    CopyOrFail(TestServerPath(L"pipe_writer.exe"), program);
    TempFolder elsewhere;
    wchar_t saved[MAX_PATH] = {};
    const DWORD savedLength = GetEnvironmentVariableW(L"ProgramData", saved, MAX_PATH);
    SetEnvironmentVariableW(L"ProgramData", elsewhere.Path().c_str());
    Queue(L"good_server.dll", L"host_carried.ocx");
    std::wstring folder;
    {
        ProgramHostImages images;
        RegisterAll(list_, options_, host_, images);
        folder = images.Folder();

        const std::wstring host =
            folder + L"\\" +
            (kProgramImageKind == ImageKind::X64 ? kHost64FileName : kHost32FileName);
        EXPECT_EQ(testing::ReadWholeFile(host),
                  testing::ReadWholeFile(TestServerPath(L"kestrave_host.exe")));
        EXPECT_FALSE(DeleteFileW(host.c_str())) << "held against replacement";
        EXPECT_FALSE(RemoveDirectoryW(folder.c_str()));
    }
    DeleteFileW(program.c_str());
    MoveFileW(aside.c_str(), program.c_str());
    SetEnvironmentVariableW(L"ProgramData", savedLength ? saved : nullptr);

    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0], L"所有控件已经注册完毕!");
    EXPECT_FALSE(ChildOfAServerIsAlive()) << "the exe at the program's path never ran";
    const std::wstring prefix = SystemProgramData() + L"\\" + kHostFolderPrefix;
    ASSERT_EQ(folder.size(), prefix.size() + kHostFolderRandomDigits);
    EXPECT_EQ(folder.compare(0, prefix.size(), prefix), 0);
    EXPECT_EQ(folder.find_first_not_of(L"0123456789abcdef", prefix.size()), std::wstring::npos);
    EXPECT_FALSE(FileExists(folder)) << "removed with the images";
}

}  // namespace
}  // namespace kestrave

namespace kestrave {
namespace {

// Why a server cannot be registered when something it needs is not there: each case's file is
// registered through the real host, alone in a system folder of its own. Under Wine a function
// missing from a present library, and a delay-loaded library, load and then crash when called;
// a fresh host then names the cause.
TEST_F(HostBatchTest, NamesTheCulpritBehindAServerThatCannotBeRegistered) {
    struct Folders {
        TempFolder windows;
        TempFolder sources;
        std::wstring System() const { return windows / L"System32"; }
    };
    struct Case {
        const char* what;
        const wchar_t* server;
        const wchar_t* name;
        std::vector<const wchar_t*> inSystemFolder;  // built libraries put there first
        std::vector<const wchar_t*> inSourceFolder;  // and left behind beside the source
        std::function<void(const Folders&, const std::wstring& source)> prepare;
        std::function<std::wstring(const Folders&)> reason;
    };
    auto says = [](std::wstring reason) { return [=](const Folders&) { return reason; }; };
    const wchar_t* found = sizeof(void*) == 8 ? L"32" : L"64";
    const wchar_t* needed = sizeof(void*) == 8 ? L"64" : L"32";
    const Case cases[] = {
        {"a missing library",
         L"cause_missing_server.dll",
         L"s_missing.ocx",
         {},
         {},
         {},
         says(L"缺少 s_missing.ocx 需要的文件 nosuchdep.dll")},
        {"a library missing two levels deep",
         L"cause_deep_server.dll",
         L"s_deep.ocx",
         {L"a_mid.dll"},
         {},
         {},
         says(L"缺少 a_mid.dll 需要的文件 nosuchdep2.dll")},
        {"a helper left in the source folder",
         L"cause_deep_server.dll",
         L"s_deep.ocx",
         {},
         {L"a_mid.dll"},
         {},
         says(L"缺少 s_deep.ocx 需要的文件 a_mid.dll; 原文件夹中有这个文件, 可以把它也加入列表")},
        {"a library of the other bitness",
         L"cause_needs32_server.dll",
         L"s_needs32.ocx",
         {},
         {},
         [](const Folders& f, const std::wstring&) {
             testing::WriteOtherBitnessLibrary(f.System() + L"\\a_dep32.dll");
         },
         [&](const Folders& f) {
             return f.System() + L"\\a_dep32.dll 是" + found + L"位文件, s_needs32.ocx 需要" +
                    needed + L"位的 a_dep32.dll";
         }},
        {"a function missing by name",
         L"cause_oldfunc_server.dll",
         L"s_oldfunc.ocx",
         {L"a_old.dll"},
         {},
         {},
         says(L"a_old.dll 中没有 s_oldfunc.ocx 需要的函数 F2")},
        {"a function missing by ordinal",
         L"cause_oldord_server.dll",
         L"s_oldord.ocx",
         {L"a_old.dll"},
         {},
         {},
         says(L"a_old.dll 中没有 s_oldord.ocx 需要的函数 序号 42")},
        {"a delay-loaded missing library",
         L"cause_delay_server.dll",
         L"s_delay.ocx",
         {},
         {},
         [](const Folders&, const std::wstring& source) {
             testing::CopyWithDelayImportDirectory(TestServerPath(L"cause_delay_server.dll"),
                                                   source, "nosuchdelay.dll");
         },
         says(L"缺少 s_delay.ocx 需要的文件 nosuchdelay.dll")},
        {"an assembly that is not installed",
         L"cause_sxs_server.dll",
         L"s_sxs.ocx",
         {},
         {},
         {},
         says(L"缺少 s_sxs.ocx 需要的并行组件 Kestrave.Test.AbsentRuntime 1.2.3.4")},
        {"DllMain refuses: nothing is named, the load's own reason stays",
         L"cause_refusing_server.dll",
         L"s_refusing.ocx",
         {},
         {},
         {},
         says(EntryFailureReason({EntryOutcome::NotLoadable, ERROR_DLL_INIT_FAILED}, false,
                                 L"s_refusing.ocx"))},
    };
    HostSession hosts(images_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folders folders;
        testing::MakeFolder(folders.System());
        for (const wchar_t* helper : c.inSystemFolder)
            CopyOrFail(TestServerPath(helper), folders.System() + L"\\" + helper);
        for (const wchar_t* helper : c.inSourceFolder)
            CopyOrFail(TestServerPath(helper), folders.sources / helper);
        const std::wstring source = folders.sources / c.name;
        if (c.prepare)
            c.prepare(folders, source);
        if (!FileExists(source))
            CopyOrFail(TestServerPath(c.server), source);
        ServerList list{display_};
        list.Append(c.name, source, source);
        RecordingHost host;
        host.windowsFolder = folders.windows.Path();

        RegisterAll(list, options_, host, hosts);

        ASSERT_EQ(host.messages.size(), 1u);
        const std::wstring expected = source + L" (" + c.reason(folders) + L")\r\n";
        EXPECT_NE(host.messages[0].find(expected), std::wstring::npos)
            << Utf8FromWide(host.messages[0]) << "\nexpected: " << Utf8FromWide(expected);
    }
}

// After a registration that succeeded, the classes its type library lists are read back: one
// the server pointed at a fixed path of its own is named in a block of its own, the file still
// counts as registered, and one registered exactly is not named.
TEST_F(HostBatchTest, NamesARegisteredServerWhoseClassLeadsToAnotherFile) {
    constexpr GUID kListed = {0x4b657374, 0x5262, 0x4b31, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
    constexpr wchar_t kListedKey[] = L"CLSID\\{4B657374-5262-4B31-8000-000000000001}";
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kListedKey);
    ServerList list{display_};
    for (const wchar_t* name : {L"r_exact.ocx", L"fixed_r.ocx"}) {
        const std::wstring path = sources_ / name;
        testing::CopyWithTypeLibrary(TestServerPath(L"readback_server.dll"), path,
                                     {{kListed, true}});
        list.Append(name, path, path);
    }

    RegisterAll(list, options_, host_, images_);
    {
        // The benchmark's seam: a session that reads nothing back names nothing.
        HostSession hosts(images_);
        hosts.ReadClassesBack(false);
        RegisterAll(list, options_, host_, hosts);
    }
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kListedKey);

    ASSERT_EQ(host_.messages.size(), 2u);
    EXPECT_EQ(host_.messages[0], std::wstring(kClassesElsewhereTitle) + L"\r\n" +
                                     (sources_ / L"fixed_r.ocx") +
                                     L" (C:\\Program Files\\Vendor\\fixed.ocx)\r\n");
    EXPECT_EQ(host_.messages[1], L"所有控件已经注册完毕!");
}

}  // namespace
}  // namespace kestrave
