#include "batch.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "batch_report.h"
#include "handles.h"
#include "messages.h"
#include "system_error.h"
#include "test_folder.h"
#include "test_hosts.h"
#include "no_queue_display.h"
#include "test_server_keys.h"

namespace kestrave {
namespace {

using testing::CopyOrFail;
using testing::FileExists;
using testing::ReadWholeFile;
using testing::TempFolder;
using testing::TestServerPath;

constexpr DWORD kShortWaitMs = 300;
constexpr wchar_t kAllRegistered[] = L"所有控件已经注册完毕!";
constexpr wchar_t kAllUnregistered[] = L"所有控件已经卸载完毕!";

// "prefix: system text", or the prefix alone when the system has no text for the code.
std::wstring WithSystemText(const std::wstring& prefix, DWORD code) {
    std::wstring text = SystemErrorText(code);
    return text.empty() ? prefix : prefix + L": " + text;
}

std::wstring RegistrationFailed(const std::wstring& path, const std::wstring& reason) {
    return L"注意:有以下1个控件注册失败\r\n\r\n" + path + L" (" + reason + L")\r\n";
}

std::wstring SourcesKept(const std::wstring& line) {
    return L"以下原文件没有删除:\r\n" + line + L"\r\n";
}

std::wstring OtherVersionUsed(const std::wstring& systemCopy) {
    return L"以下控件使用了系统文件夹中已有的不同版本:\r\n" + systemCopy + L"\r\n";
}

std::wstring OnlyCopyKept(const std::wstring& systemCopy) {
    return L"以下文件在别处没有相同的副本,没有删除:\r\n" + systemCopy + L"\r\n";
}

std::wstring NotInSystemFolder(const std::wstring& systemCopy) {
    return L"以下控件不在系统文件夹中,没有卸载:\r\n" + systemCopy + L"\r\n";
}

std::wstring CannotLoad(DWORD error, const std::wstring& fileName) {
    return L"无法加载: " + SystemErrorText(error, fileName);
}

using testing::NoQueueDisplay;

struct ShownMessage {
    std::wstring text;
    int style = 0;
    std::wstring title;
};

// The scratch Windows folder that BatchTest's batches copy into, in place of the system's.
std::wstring scratchWindowsFolder;

// The window side of the tests' batches: it names the scratch Windows folder.
class ScratchHost : public BatchHost {
  public:
    std::wstring WindowsFolder() override { return scratchWindowsFolder; }
};

class RecordingHost : public ScratchHost {
  public:
    void SetMousePointer(int pointer) override {
        events.push_back(L"pointer " + std::to_wstring(pointer));
    }
    void HideMainWindow() override { events.push_back(L"hide"); }
    void ShowMainWindow() override { events.push_back(L"show"); }
    int ShowMessage(const std::wstring& text, int style, const std::wstring& title) override {
        events.push_back(L"message");
        messages.push_back({text, style, title});
        return IDOK;
    }

    // The closing message, which every run that had work shows exactly once.
    ShownMessage Closing() const {
        EXPECT_EQ(messages.size(), 1u);
        return messages.empty() ? ShownMessage{} : messages.back();
    }

    std::vector<std::wstring> events;
    std::vector<ShownMessage> messages;
};

class FakeOptions : public OptionsSource {
  public:
    bool IsOn(OptionFlag flag) override {
        reads.push_back(L"flag " + std::to_wstring(static_cast<int>(flag)));
        switch (flag) {
            case OptionFlag::DeleteAfterRegister:
                return deleteAfterRegister;
            case OptionFlag::DeleteAfterUnregister:
                return deleteAfterUnregister;
            case OptionFlag::WarnMissingSource:
                return warnMissingSource;
            default:
                return true;
        }
    }
    std::wstring TargetSubfolder() override {
        reads.push_back(L"subfolder");
        return subfolder;
    }

    bool deleteAfterRegister = false;
    bool deleteAfterUnregister = true;
    bool warnMissingSource = true;
    std::wstring subfolder = kSystem32Subfolder;
    std::vector<std::wstring> reads;
};

// One command's world: a queue, the window side and the options it reads.
struct Scene {
    NoQueueDisplay display;
    ServerList list{display};
    RecordingHost host;
    FakeOptions options;
};

// The batches work in a scratch Windows folder with System32 and System; sources live in
// another scratch folder. Every test server name used is unregistered at the end.
class BatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::MakeFolder(windows_ / L"System32");
        testing::MakeFolder(windows_ / L"System");
        scratchWindowsFolder = windows_.Path();
    }

    void TearDown() override {
        scratchWindowsFolder.clear();
        for (const std::wstring& name : serverNames_) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, testing::TestServerClsidKey(name).c_str());
        }
    }

    std::wstring SystemCopy(const std::wstring& name) const {
        return windows_ / (L"System32\\" + name);
    }
    std::wstring Source(const std::wstring& name) const { return sources_ / name; }

    // Places a copy of a test server in the sources folder under `name` and queues it.
    std::wstring Queue(ServerList& list, const std::wstring& dll, const std::wstring& name) {
        std::wstring path = Source(name);
        CopyOrFail(TestServerPath(dll), path);
        serverNames_.push_back(name);
        list.Append(name, path, path);
        return path;
    }
    std::wstring QueueMissing(ServerList& list, const std::wstring& name) {
        std::wstring path = Source(name);
        list.Append(name, path, path);
        return path;
    }
    // A copy that is already in the system folder, registered when it can be.
    std::wstring PlaceRegistered(const std::wstring& dll, const std::wstring& name) {
        std::wstring path = SystemCopy(name);
        CopyOrFail(TestServerPath(dll), path);
        serverNames_.push_back(name);
        HostSession session(hosts_);
        session.Register(ReadImageInfo(path).kind, path, path, kShortWaitMs);
        return path;
    }
    bool IsRegistered(const std::wstring& name) const {
        return testing::RegistryKeyExists(HKEY_CLASSES_ROOT, testing::TestServerClsidKey(name));
    }
    void Remember(const std::wstring& name) { serverNames_.push_back(name); }

    TempFolder windows_;
    TempFolder sources_;
    testing::TestHostImages hosts_;

  private:
    std::vector<std::wstring> serverNames_;
};

// Held open as another program would hold it: `share` says what others may still do.
FileHandle HoldOpen(const std::wstring& path, DWORD share) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file) << "could not hold the file open: " << GetLastError();
    return file;
}

// ---- The report texts, composed without any window ----

TEST(BatchReport, JoinsTheBlocksOfARegisteringRunInOrder) {
    RegisterSummary summary;
    summary.registeredCount = 1;
    summary.missingSources = {L"C:\\a\\gone.ocx"};
    summary.failures = {{L"C:\\a\\bad.ocx", L"缺少入口 DllRegisterServer"}};
    summary.keptSources = {{L"C:\\a\\bad.ocx", L""}, {L"C:\\a\\busy.ocx", L"无法删除: x"}};

    ClosingMessage message = RegisterClosingMessage(summary);
    EXPECT_EQ(message.style, kStyleExclamation);
    // Another file failed, so the warning does not claim the others were registered.
    EXPECT_EQ(message.text,
              L"注意:有以下1个控件注册不了\r\n\r\n"
              L"C:\\a\\gone.ocx\r\n\r\n原因:控件原文件丢失"
              L"\r\n\r\n"
              L"注意:有以下1个控件注册失败\r\n\r\n"
              L"C:\\a\\bad.ocx (缺少入口 DllRegisterServer)\r\n"
              L"\r\n\r\n"
              L"以下原文件没有删除:\r\n"
              L"C:\\a\\bad.ocx\r\nC:\\a\\busy.ocx (无法删除: x)\r\n");

    // Nothing else failed: now it does.
    summary.failures.clear();
    EXPECT_EQ(MissingSourceWarning(summary.missingSources, true).substr(0, 27),
              RegisterClosingMessage(summary).text.substr(0, 27));
    EXPECT_NE(RegisterClosingMessage(summary).text.find(L",其他控件注册完毕!"), std::wstring::npos);

    // Nothing registered: the warning does not claim the others were.
    summary.registeredCount = 0;
    const std::wstring warning =
        L"注意:有以下1个控件注册不了\r\n\r\nC:\\a\\gone.ocx\r\n\r\n原因:控件原文件丢失";
    EXPECT_EQ(MissingSourceWarning(summary.missingSources, false), warning);
    EXPECT_EQ(RegisterClosingMessage(summary).text.substr(0, warning.size() + 4),
              warning + L"\r\n\r\n");

    // Missing sources alone, unwarned, end with the plain completion message.
    summary.warnMissingSource = false;
    summary.failures.clear();
    summary.keptSources.clear();
    EXPECT_EQ(RegisterClosingMessage(summary).text, kAllRegistered);
    EXPECT_EQ(RegisterClosingMessage(summary).style, kStyleInformation);
}

TEST(BatchReport, ListsAtMostTwelvePathsThenDots) {
    std::vector<UnfinishedFile> files;
    std::wstring twelveLines;
    for (int i = 1; i <= 13; ++i) {
        files.push_back({L"C:\\s\\f" + std::to_wstring(i) + L".ocx", L"r"});
        if (i <= 12)
            twelveLines += files.back().path + L" (r)\r\n";
    }
    for (size_t count : {12u, 13u}) {
        SCOPED_TRACE(count);
        std::vector<UnfinishedFile> listed(files.begin(), files.begin() + count);
        const std::wstring dots =
            count > 12 ? L"...... 另有 1 个文件, 完整报告已复制到剪贴板\r\n" : L"";
        const std::wstring n = std::to_wstring(count);

        EXPECT_EQ(RegistrationFailureList(listed),
                  L"注意:有以下" + n + L"个控件注册失败\r\n\r\n" + twelveLines + dots);
        EXPECT_EQ(KeptSourceList(listed), L"以下原文件没有删除:\r\n" + twelveLines + dots);
        std::vector<std::wstring> paths;
        for (const UnfinishedFile& file : listed)
            paths.push_back(file.path);
        std::wstring pathLines;
        for (size_t i = 0; i < std::min<size_t>(count, 12); ++i)
            pathLines += paths[i] + L"\r\n";
        EXPECT_EQ(PathBlock(kAbsentCopiesTitle, paths),
                  std::wstring(kAbsentCopiesTitle) + L"\r\n" + pathLines + dots);

        // A cut list hands the complete report over, and the message ends saying so: in a line
        // of its own unless the cut list's own last line, which says it, ends the message.
        const std::wstring onClipboard = count > 12 ? L"\r\n\r\n完整报告已复制到剪贴板" : L"";
        UnregisterSummary unregistered;
        unregistered.failures = listed;
        unregistered.failedFilesWereToBeDeleted = true;
        unregistered.reportLines = {L"one", L"two"};
        const ClosingMessage withNote = UnregisterClosingMessage(unregistered);
        EXPECT_EQ(withNote.text, L"注意:有以下" + n + L"个控件卸载失败\r\n\r\n" + twelveLines +
                                     dots + L"\r\n这些文件没有删除." + onClipboard);
        EXPECT_EQ(withNote.completeReport, count > 12 ? L"one\r\ntwo\r\n" : L"");
        unregistered.failedFilesWereToBeDeleted = false;
        const std::wstring endsWithCut =
            L"注意:有以下" + n + L"个控件卸载失败\r\n\r\n" + twelveLines + dots;
        EXPECT_EQ(UnregisterClosingMessage(unregistered).text,
                  count > 12 ? endsWithCut.substr(0, endsWithCut.size() - 2) : endsWithCut);
        EXPECT_EQ(UnregisterClosingMessage(unregistered, {}, kListedPathLimit, false).text,
                  L"注意:有以下" + n + L"个控件卸载失败\r\n\r\n" + twelveLines +
                      (count > 12 ? L"...... 另有 1 个文件\r\n" : L""))
            << "without the clipboard, the message does not claim it";
    }
    ClosingMessage allDone = UnregisterClosingMessage({});
    EXPECT_EQ(allDone.text, kAllUnregistered);
    EXPECT_EQ(allDone.style, kStyleInformation);
}

TEST(BatchReport, NamesEachReasonWithTheSystemsText) {
    // A code with the customer bit set: the system has no text for it.
    const HRESULT privateCode = static_cast<HRESULT>(0xA0041234);
    ASSERT_TRUE(SystemErrorText(static_cast<DWORD>(privateCode)).empty());

    struct Case {
        EntryResult result;
        bool unregister;
        std::wstring reason;
    } cases[] = {
        {{EntryOutcome::Finished, ERROR_SUCCESS, S_OK}, false, L""},
        {{EntryOutcome::Finished, ERROR_SUCCESS, S_FALSE}, true, L""},
        {{EntryOutcome::Finished, ERROR_SUCCESS, E_ACCESSDENIED},
         false,
         WithSystemText(L"返回错误 0x80070005", static_cast<DWORD>(E_ACCESSDENIED))},
        {{EntryOutcome::Finished, ERROR_SUCCESS, privateCode}, false, L"返回错误 0xA0041234"},
        {{EntryOutcome::NotLoadable, ERROR_BAD_EXE_FORMAT},
         false,
         CannotLoad(ERROR_BAD_EXE_FORMAT, L"x.ocx")},
        {{EntryOutcome::ExportMissing}, false, L"缺少入口 DllRegisterServer"},
        {{EntryOutcome::ExportMissing}, true, L"缺少入口 DllUnregisterServer"},
        {{EntryOutcome::WorkerNotStarted, ERROR_NOT_ENOUGH_MEMORY},
         false,
         L"无法启动线程: " + SystemErrorText(ERROR_NOT_ENOUGH_MEMORY)},
        {{EntryOutcome::TimedOut}, true, L"超过10秒未完成,已终止"},
    };
    for (const Case& c : cases) {
        const std::wstring reason = EntryFailureReason(c.result, c.unregister, L"x.ocx");
        EXPECT_EQ(reason, c.reason);
        EXPECT_EQ(reason.find(L"%1"), std::wstring::npos) << "an insert left unfilled";
    }
    EXPECT_EQ(CopyFailureReason(ERROR_ACCESS_DENIED, L"x.ocx"),
              L"无法复制到系统文件夹: " + SystemErrorText(ERROR_ACCESS_DENIED));
    EXPECT_EQ(DeleteFailureReason(ERROR_SHARING_VIOLATION, L"x.ocx"),
              L"无法删除: " + SystemErrorText(ERROR_SHARING_VIOLATION));
}

// Ten pixels a character.
int TenPixelsEach(const std::wstring& text) {
    return static_cast<int>(text.size()) * 10;
}

// A line gives way in order: the folders in the middle of its path, then the system's words in
// its reason. The file's name and the program's own words never do; a line that still does not
// fit is left to wrap.
TEST(BatchReport, FitsALineByItsFoldersThenTheSystemsWordsNeverByItsName) {
    const std::wstring path = L"C:\\很长的\\second\\third\\fourth\\name.ocx";  // 35 characters
    const std::wstring busy = L"无法删除: 另一个程序正在使用此文件，进程无法访问。";
    const std::wstring denied = L"返回错误 0x80070005: 访问被拒绝。";
    const std::wstring missing = L"缺少 kt_mid.dll 需要的文件 kt_nodep2.dll";
    struct Case {
        const char* what;
        std::wstring path;
        std::wstring reason;
        int maxWidth;
        std::wstring shown;
    } cases[] = {
        {"fits as it is", path, L"", 350, path},
        {"one folder out", path, L"", 340, L"C:\\很长的\\...\\third\\fourth\\name.ocx"},
        {"the folders nearest the name go next", path, L"", 230, L"C:\\很长的\\...\\name.ocx"},
        {"then the first folder", path, L"", 185, L"C:\\...\\name.ocx"},
        {"never the name", path, L"", 50, L"C:\\...\\name.ocx"},
        {"a name alone", L"name.ocx", L"", 50, L"name.ocx"},
        {"the reason counts", path, L"x", 300, L"C:\\很长的\\...\\fourth\\name.ocx (x)"},
        {"system words give way after the folders", path, busy, 400,
         L"C:\\...\\name.ocx (无法删除: 另一个程序正在使用此文件，...)"},
        {"down to their opening", path, denied, 10,
         L"C:\\...\\name.ocx (返回错误 0x80070005: ...)"},
        {"a cause the program names stays whole", path, missing, 100,
         L"C:\\...\\name.ocx (" + missing + L")"},
        {"two reasons: the later system words go first", L"C:\\a\\n.ocx",
         L"无法加载: 找不到模块。; 复制到系统文件夹的文件无法删除: 拒绝访问。", 470,
         L"C:\\a\\n.ocx (无法加载: 找不到模块。; 复制到系统文件夹的文件无法删除: ...)"},
        {"folders no longer than the dots stay", L"C:\\a\\n.ocx", L"", 50, L"C:\\a\\n.ocx"},
        {"a share keeps its server and share", L"\\\\srv\\share\\aaaa\\bbbb\\n.ocx", L"", 50,
         L"\\\\srv\\share\\...\\n.ocx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(FitReportLine(c.path, c.reason, c.maxWidth, TenPixelsEach), c.shown);
    }
}

// Every name reaches the message and the report as ShownText shows it: nothing in a file's name
// can reorder or hide the line it is on.
TEST(BatchReport, ShowsNamesCleanInTheMessageAndTheReport) {
    const std::wstring sly = L"C:\\a\\x\x202Excod.ocx";
    RegisterSummary summary;
    summary.failures = {{sly, L"缺少 y\x200B.dll 需要的文件 z\x2060.dll"}};
    summary.reportLines = {ReportLine(sly, L"注册失败", summary.failures.front().reason)};
    const ClosingMessage message = RegisterClosingMessage(summary);
    EXPECT_NE(message.text.find(L"C:\\a\\x?xcod.ocx (缺少 y?.dll 需要的文件 z?.dll)"),
              std::wstring::npos);
    EXPECT_EQ(summary.reportLines.front(),
              L"C:\\a\\x?xcod.ocx\t注册失败: 缺少 y?.dll 需要的文件 z?.dll");
}

// Whatever the message shortened, a folder or a reason as much as a list, the report goes to
// the clipboard and the message says so.
TEST(BatchReport, AnyShorteningHandsTheReportOver) {
    UnregisterSummary summary;
    summary.failures = {{L"C:\\aaa\\bbb\\n.ocx", L"无法删除: 拒绝访问。"}};
    summary.reportLines = {L"line"};
    const LineFitter asItIs = [](const std::wstring& path, const std::wstring& reason) {
        return path + L" (" + reason + L")";
    };
    const LineFitter narrow = [](const std::wstring& path, const std::wstring& reason) {
        return FitReportLine(path, reason, 150, TenPixelsEach);
    };
    const ClosingMessage whole = UnregisterClosingMessage(summary, asItIs);
    EXPECT_TRUE(whole.completeReport.empty());
    EXPECT_EQ(whole.text.find(L"完整报告"), std::wstring::npos);
    const ClosingMessage fitted = UnregisterClosingMessage(summary, narrow);
    EXPECT_EQ(fitted.completeReport, L"line\r\n");
    EXPECT_EQ(fitted.text,
              L"注意:有以下1个控件卸载失败\r\n\r\nC:\\...\\n.ocx (无法删除: ...)\r\n"
              L"\r\n\r\n完整报告已复制到剪贴板");
}

// The closing message with the window's help: fitted paths, the complete report on the
// clipboard when a list was cut, and a stopped run that says how far it got.
class FeedbackHost : public ScratchHost {
  public:
    void SetMousePointer(int) override {}
    void HideMainWindow() override {}
    void ShowMainWindow() override {}
    int ShowMessage(const std::wstring& text, int style, const std::wstring&) override {
        shown = text;
        shownStyle = style;
        return IDOK;
    }
    void ShowProgress(int number, int total, bool unregister) override {
        progress.push_back(std::to_wstring(number) + L"/" + std::to_wstring(total) +
                           (unregister ? L" un" : L""));
    }
    bool StopWanted() override { return stopAtFile != 0 && progress.size() >= stopAtFile; }
    std::wstring FitLine(const std::wstring& path, const std::wstring& reason) override {
        const std::wstring fitted = markFitted ? L"[" + path + L"]" : path;
        return reason.empty() ? fitted : fitted + L" (" + reason + L")";
    }
    bool PutOnClipboard(const std::wstring& text) override {
        clipboard = text;
        return clipboardWorks;
    }
    // A screen with room for `maxLines` lines of text (0: any number).
    bool MessageFits(const std::wstring& text) override {
        size_t lines = 1;
        for (size_t at = text.find(L"\r\n"); at != std::wstring::npos;
             at = text.find(L"\r\n", at + 2))
            ++lines;
        return maxLines == 0 || lines <= maxLines;
    }

    size_t maxLines = 0;
    bool markFitted = true;  // every line counts as shortened
    std::wstring shown;
    int shownStyle = 0;
    std::vector<std::wstring> progress;
    size_t stopAtFile = 0;
    std::wstring clipboard;
    bool clipboardWorks = true;
};

// ---- The commands, run for real ----

TEST_F(BatchTest, ACutReportGoesToTheClipboardWholeAndTheMessageSaysSo) {
    for (bool clipboardWorks : {true, false}) {
        SCOPED_TRACE(clipboardWorks);
        NoQueueDisplay display;
        ServerList list(display);
        FakeOptions options;
        FeedbackHost host;
        host.clipboardWorks = clipboardWorks;
        std::vector<std::wstring> gone;
        for (int i = 0; i < 13; ++i)
            gone.push_back(QueueMissing(list, L"batch_cut_" + std::to_wstring(i) + L".ocx"));
        Queue(list, L"good_server.dll", L"batch_cut_good.ocx");

        RegisterAll(list, options, host, hosts_);

        EXPECT_EQ(host.shown.rfind(L"注意:有以下13个控件注册不了,其他控件注册完毕!\r\n\r\n[" +
                                       gone.front() + L"]\r\n",
                                   0),
                  0u)
            << "listed paths are fitted";
        const std::wstring note = L"\r\n\r\n完整报告已复制到剪贴板";
        EXPECT_EQ(host.shown.size() >= note.size() &&
                      host.shown.compare(host.shown.size() - note.size(), note.size(), note) == 0,
                  clipboardWorks);
        for (const std::wstring& path : gone)
            EXPECT_NE(host.clipboard.find(path + L"\t注册失败: 控件原文件丢失\r\n"),
                      std::wstring::npos);
        EXPECT_NE(host.clipboard.find(Source(L"batch_cut_good.ocx") + L"\t已注册\r\n"),
                  std::wstring::npos);
        EXPECT_EQ(host.progress.back(), L"0/0") << "the progress is taken down at the end";
    }
}

// On a screen too low for the message, each list shows fewer paths, down to what fits, and the
// complete report goes to the clipboard.
TEST_F(BatchTest, AMessageTooTallForTheScreenListsFewerPaths) {
    Scene scene;
    FeedbackHost host;
    host.maxLines = 8;
    std::vector<std::wstring> gone;
    for (int i = 0; i < 5; ++i)
        gone.push_back(QueueMissing(scene.list, L"batch_tall_" + std::to_wstring(i) + L".ocx"));

    RegisterAll(scene.list, scene.options, host, hosts_);

    EXPECT_TRUE(host.MessageFits(host.shown)) << "shown: " << host.shown.size();
    EXPECT_NE(host.shown.find(L"[" + gone[0] + L"]\r\n"), std::wstring::npos);
    EXPECT_EQ(host.shown.find(L"[" + gone[1] + L"]"), std::wstring::npos);
    EXPECT_NE(host.shown.find(L"...... 另有 4 个文件, 完整报告已复制到剪贴板\r\n"),
              std::wstring::npos);
    for (const std::wstring& path : gone)
        EXPECT_NE(host.clipboard.find(path + L"\t注册失败: 控件原文件丢失\r\n"),
                  std::wstring::npos);

    FeedbackHost roomy;
    roomy.markFitted = false;
    RegisterAll(scene.list, scene.options, roomy, hosts_);
    EXPECT_NE(roomy.shown.find(gone[4] + L"\r\n"), std::wstring::npos)
        << "with room, every path of a short list is shown";
    EXPECT_TRUE(roomy.clipboard.empty());
}

TEST_F(BatchTest, AStoppedBatchEndsAfterTheFileInHandAndSaysHowFarItGot) {
    Scene scene;
    FeedbackHost host;
    host.stopAtFile = 1;  // asked while the first file is in hand
    Queue(scene.list, L"good_server.dll", L"batch_stop_a.ocx");
    Queue(scene.list, L"good_server.dll", L"batch_stop_b.ocx");
    Queue(scene.list, L"good_server.dll", L"batch_stop_c.ocx");

    RegisterAll(scene.list, scene.options, host, hosts_);

    EXPECT_EQ(host.shown, L"已停止: 已处理 1/3 个控件");
    EXPECT_EQ(host.shownStyle, kStyleExclamation);
    EXPECT_EQ(host.progress, (std::vector<std::wstring>{L"1/3", L"0/0"}));
    EXPECT_TRUE(IsRegistered(L"batch_stop_a.ocx"));
    EXPECT_FALSE(FileExists(SystemCopy(L"batch_stop_b.ocx")));

    FeedbackHost unregistering;
    unregistering.stopAtFile = 2;
    UnregisterAll(scene.list, scene.options, unregistering, hosts_);
    EXPECT_EQ(unregistering.shown,
              L"已停止: 已处理 2/3 个控件\r\n\r\n以下控件不在系统文件夹中,没有卸载:\r\n[" +
                  SystemCopy(L"batch_stop_b.ocx") + L"]\r\n\r\n\r\n完整报告已复制到剪贴板");
    EXPECT_EQ(unregistering.progress, (std::vector<std::wstring>{L"1/3 un", L"2/3 un", L"0/0"}));
    EXPECT_FALSE(IsRegistered(L"batch_stop_a.ocx"));
}

// The window pumps messages while the batch waits for a host, so the queue can be changed
// under a running batch (a drop, a delete): the batch goes on with what was queued when it began.
class QueueChangingHost : public FeedbackHost {
  public:
    explicit QueueChangingHost(ServerList& list, std::wstring added) : list_(list), added_(added) {}
    void ShowProgress(int number, int total, bool unregister) override {
        FeedbackHost::ShowProgress(number, total, unregister);
        if (number != 1)
            return;
        // Enough entries to move the queue's storage, then none at all.
        for (int i = 0; i < 1000; ++i)
            list_.Append(L"added.ocx", added_, added_);
        list_.ClearList();
        list_.Append(L"added.ocx", added_, added_);
    }

  private:
    ServerList& list_;
    std::wstring added_;
};

TEST_F(BatchTest, ABatchWorksOnWhatWasQueuedWhenItBegan) {
    Scene scene;
    Queue(scene.list, L"good_server.dll", L"batch_fixed_a.ocx");
    Queue(scene.list, L"good_server.dll", L"batch_fixed_b.ocx");
    const std::wstring added = Queue(scene.list, L"good_server.dll", L"batch_fixed_added.ocx");
    scene.list.ClearList();
    Queue(scene.list, L"good_server.dll", L"batch_fixed_a.ocx");
    Queue(scene.list, L"good_server.dll", L"batch_fixed_b.ocx");

    QueueChangingHost registering(scene.list, added);
    RegisterAll(scene.list, scene.options, registering, hosts_);
    EXPECT_EQ(registering.shown, kAllRegistered);
    EXPECT_EQ(registering.progress, (std::vector<std::wstring>{L"1/2", L"2/2", L"0/0"}));
    EXPECT_TRUE(IsRegistered(L"batch_fixed_a.ocx"));
    EXPECT_TRUE(IsRegistered(L"batch_fixed_b.ocx"));
    EXPECT_FALSE(FileExists(SystemCopy(L"added.ocx")));
    EXPECT_FALSE(FileExists(SystemCopy(L"batch_fixed_added.ocx")));

    scene.list.ClearList();
    scene.list.Append(L"batch_fixed_a.ocx", Source(L"batch_fixed_a.ocx"), L"");
    scene.list.Append(L"batch_fixed_b.ocx", Source(L"batch_fixed_b.ocx"), L"");
    QueueChangingHost unregistering(scene.list, added);
    UnregisterAll(scene.list, scene.options, unregistering, hosts_);
    EXPECT_EQ(unregistering.shown, kAllUnregistered);
    EXPECT_FALSE(IsRegistered(L"batch_fixed_a.ocx"));
    EXPECT_FALSE(IsRegistered(L"batch_fixed_b.ocx"));
}

TEST_F(BatchTest, AnEmptyQueueDoesNothingAtAll) {
    Scene scene;
    RegisterAll(scene.list, scene.options, scene.host, hosts_);
    UnregisterAll(scene.list, scene.options, scene.host, hosts_);
    EXPECT_TRUE(scene.host.events.empty());
    EXPECT_TRUE(scene.options.reads.empty());
}

TEST_F(BatchTest, DefaultOptionsRegisterCopiesThenUnregisterAndDeleteThem) {
    NoQueueDisplay display;
    ServerList list(display);
    RecordingHost host;
    Options options;  // never opened: the defaults
    Queue(list, L"good_server.dll", L"batch_default_a.ocx");
    Queue(list, L"good_server.dll", L"batch_default_b.dll");
    const auto namesBefore = list.FileNames();
    const auto pathsBefore = list.FullPaths();

    RegisterAll(list, options, host, hosts_);

    for (const wchar_t* name : {L"batch_default_a.ocx", L"batch_default_b.dll"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadWholeFile(SystemCopy(name)),
                  ReadWholeFile(TestServerPath(L"good_server.dll")));
        EXPECT_TRUE(IsRegistered(name));
        EXPECT_TRUE(FileExists(Source(name))) << "sources stay unless asked";
    }
    EXPECT_EQ(host.events, (std::vector<std::wstring>{L"pointer 11", L"hide", L"message", L"show",
                                                      L"pointer 1"}));
    ShownMessage registered = host.Closing();
    EXPECT_EQ(registered.text, kAllRegistered);
    EXPECT_EQ(registered.style, kStyleInformation);
    EXPECT_EQ(registered.title, kMessageTitle);

    RecordingHost secondHost;
    UnregisterAll(list, options, secondHost, hosts_);

    for (const wchar_t* name : {L"batch_default_a.ocx", L"batch_default_b.dll"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(IsRegistered(name));
        EXPECT_FALSE(FileExists(SystemCopy(name))) << "the copy goes after unregistering";
        EXPECT_TRUE(FileExists(Source(name))) << "unregistering never touches sources";
    }
    EXPECT_EQ(secondHost.events, host.events);
    ShownMessage unregistered = secondHost.Closing();
    EXPECT_EQ(unregistered.text, kAllUnregistered);
    EXPECT_EQ(unregistered.style, kStyleInformation);
    EXPECT_EQ(unregistered.title, kMessageTitle);

    EXPECT_EQ(list.FileNames(), namesBefore);
    EXPECT_EQ(list.FullPaths(), pathsBefore);
}

TEST_F(BatchTest, ReadsEachOptionWhenItIsDueAndUsesTheChosenSubfolder) {
    Scene scene;
    scene.options.subfolder = kSystemSubfolder;
    scene.options.deleteAfterUnregister = false;
    Queue(scene.list, L"good_server.dll", L"batch_reads_a.ocx");
    QueueMissing(scene.list, L"batch_reads_gone.ocx");
    Queue(scene.list, L"good_server.dll", L"batch_reads_b.ocx");

    RegisterAll(scene.list, scene.options, scene.host, hosts_);
    EXPECT_EQ(scene.options.reads,
              (std::vector<std::wstring>{L"subfolder", L"flag 0", L"flag 0", L"flag 3"}));
    EXPECT_TRUE(FileExists(windows_ / L"System\\batch_reads_a.ocx"));
    EXPECT_FALSE(FileExists(SystemCopy(L"batch_reads_a.ocx")));

    scene.options.reads.clear();
    UnregisterAll(scene.list, scene.options, scene.host, hosts_);
    // The name without a system copy is passed over without a read.
    EXPECT_EQ(scene.options.reads, (std::vector<std::wstring>{L"subfolder", L"flag 1", L"flag 1"}));
    EXPECT_FALSE(IsRegistered(L"batch_reads_b.ocx"));
    EXPECT_TRUE(FileExists(windows_ / L"System\\batch_reads_b.ocx")) << "deleting was off";
}

TEST_F(BatchTest, WarnsOfMissingSourcesAsConfigured) {
    struct Case {
        const char* what;
        int missing;
        bool goodEntry;
        bool warn;
    } cases[] = {
        {"all missing", 3, false, true},       {"twelve missing", 12, false, true},
        {"thirteen missing", 13, false, true}, {"some missing", 2, true, true},
        {"warning off", 2, true, false},
    };
    int caseNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring prefix = L"batch_missing" + std::to_wstring(++caseNumber) + L"_";
        Scene scene;
        scene.options.warnMissingSource = c.warn;
        std::wstring listed;
        for (int i = 0; i < c.missing; ++i) {
            std::wstring path = QueueMissing(scene.list, prefix + std::to_wstring(i) + L".ocx");
            if (i < 12)
                listed += path + L"\r\n";
            if (i == 0 && c.goodEntry)
                Queue(scene.list, L"good_server.dll", prefix + L"good.ocx");
        }
        if (c.missing > 12)
            listed += L"...... 另有 1 个文件\r\n";  // (the clipboard would not take the report)

        RegisterAll(scene.list, scene.options, scene.host, hosts_);

        ShownMessage message = scene.host.Closing();
        if (!c.warn) {
            EXPECT_EQ(message.text, kAllRegistered);
            EXPECT_EQ(message.style, kStyleInformation);
        } else {
            std::wstring othersDone = c.goodEntry ? L",其他控件注册完毕!" : L"";
            EXPECT_EQ(message.text, L"注意:有以下" + std::to_wstring(c.missing) +
                                        L"个控件注册不了" + othersDone + L"\r\n\r\n" + listed +
                                        L"\r\n原因:控件原文件丢失");
            EXPECT_EQ(message.style, kStyleExclamation);
        }
        EXPECT_FALSE(FileExists(SystemCopy(prefix + L"0.ocx")));
        EXPECT_EQ(IsRegistered(prefix + L"good.ocx"), c.goodEntry);
    }
}

TEST_F(BatchTest, ASourceRenamedInLetterCaseOnlyCountsAsMissing) {
    Scene scene;
    CopyOrFail(TestServerPath(L"good_server.dll"), Source(L"batch_case.ocx"));
    std::wstring queuedPath = Source(L"Batch_Case.ocx");
    scene.list.Append(L"Batch_Case.ocx", queuedPath, queuedPath);
    Remember(L"batch_case.ocx");

    RegisterAll(scene.list, scene.options, scene.host, hosts_);

    EXPECT_EQ(scene.host.Closing().text,
              L"注意:有以下1个控件注册不了\r\n\r\n" + queuedPath + L"\r\n\r\n原因:控件原文件丢失");
    EXPECT_FALSE(IsRegistered(L"batch_case.ocx"));
}

// Each way a present source can fail to register is named with its reason, and the batch goes
// on with the next file.
TEST_F(BatchTest, ReportsEachFileThatWasNotRegisteredAndGoesOn) {
    struct Case {
        const char* what;
        // Queues the troubled entry; may hold files open until the run is over.
        std::function<std::wstring(ServerList&, std::vector<FileHandle>&)> queue;
        std::wstring reason;
    };
    const std::string hiddenContent = "someone else's file";
    Case cases[] = {
        {"the export reports a failure",
         [this](ServerList& list, auto&) {
             return Queue(list, L"failing_server.dll", L"batch_fails.ocx");
         },
         WithSystemText(L"返回错误 0x80070005", static_cast<DWORD>(E_ACCESSDENIED))},
        {"the export overruns the limit",
         [this](ServerList& list, auto&) {
             return Queue(list, L"slow_server.dll", L"batch_slow.ocx");
         },
         L"超过10秒未完成,已终止"},
        {"the file is no library",
         [this](ServerList& list, auto&) {
             std::wstring path = Source(L"batch_text.ocx");
             testing::WriteTextFile(path, "not a library");
             list.Append(L"batch_text.ocx", path, path);
             return path;
         },
         L"不是有效的控件文件"},
        {"a hidden file of that name is in the system folder",
         [this, &hiddenContent](ServerList& list, auto&) {
             std::wstring hidden = SystemCopy(L"batch_hidden.ocx");
             testing::WriteTextFile(hidden, hiddenContent);
             SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
             return Queue(list, L"good_server.dll", L"batch_hidden.ocx");
         },
         L"无法复制到系统文件夹: " + SystemErrorText(ERROR_FILE_EXISTS)},
        {"the system copy is held open without sharing",
         [this](ServerList& list, std::vector<FileHandle>& held) {
             CopyOrFail(TestServerPath(L"good_server.dll"), SystemCopy(L"batch_locked.ocx"));
             held.push_back(HoldOpen(SystemCopy(L"batch_locked.ocx"), 0));
             return Queue(list, L"good_server.dll", L"batch_locked.ocx");
         },
         CannotLoad(ERROR_SHARING_VIOLATION, L"batch_locked.ocx")},
    };
    int caseNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        std::vector<FileHandle> held;
        std::wstring troubled = c.queue(scene.list, held);
        const std::wstring troubledCopy = SystemCopy(scene.list.FileNames().front());
        const bool copyWasThere = FileExists(troubledCopy);
        const std::wstring after = L"batch_after" + std::to_wstring(++caseNumber) + L".ocx";
        Queue(scene.list, L"good_server.dll", after);

        RegisterAll(scene.list, scene.options, scene.host, hosts_, kShortWaitMs);
        held.clear();

        ShownMessage message = scene.host.Closing();
        EXPECT_EQ(message.text, RegistrationFailed(troubled, c.reason));
        EXPECT_EQ(message.style, kStyleExclamation);
        EXPECT_EQ(message.title, kMessageTitle);
        EXPECT_TRUE(IsRegistered(after)) << "the batch goes on after a failure";
        EXPECT_TRUE(FileExists(troubled));
        EXPECT_EQ(FileExists(troubledCopy), copyWasThere)
            << "a failed registration leaves the system folder as it was";
    }
    EXPECT_EQ(ReadWholeFile(SystemCopy(L"batch_hidden.ocx")), hiddenContent)
        << "a file in the way is never replaced";
    EXPECT_FALSE(IsRegistered(L"batch_hidden.ocx"));
}

// A broken file must not stay in the system folder after its registration failed: it would
// stand in for the mended source the next time.
TEST_F(BatchTest, AFailedRegistrationTakesItsCopyAwayAndAMendedSourceRegistersNextTime) {
    Scene scene;
    const std::wstring source = Source(L"batch_mended.ocx");
    testing::WriteTextFile(source, "not a library yet");
    scene.list.Append(L"batch_mended.ocx", source, source);
    Remember(L"batch_mended.ocx");

    RegisterAll(scene.list, scene.options, scene.host, hosts_);
    EXPECT_EQ(scene.host.Closing().text, RegistrationFailed(source, L"不是有效的控件文件"));
    EXPECT_FALSE(FileExists(SystemCopy(L"batch_mended.ocx")));

    CopyOrFail(TestServerPath(L"good_server.dll"), source);  // the user mends the source
    RecordingHost secondHost;
    RegisterAll(scene.list, scene.options, secondHost, hosts_);
    EXPECT_EQ(secondHost.Closing().text, kAllRegistered);
    EXPECT_TRUE(IsRegistered(L"batch_mended.ocx"));
    EXPECT_EQ(ReadWholeFile(SystemCopy(L"batch_mended.ocx")), ReadWholeFile(source));
}

// The system copy of that name is registered instead of the queued file; when it holds other
// bytes, the user is told which file that was.
TEST_F(BatchTest, NamesASystemCopyOfAnotherVersionThatWasRegisteredInstead) {
    struct Case {
        const char* what;
        std::wstring name;
        std::string systemBytes;  // empty: the same bytes as the source
    };
    const std::string goodBytes = ReadWholeFile(TestServerPath(L"good_server.dll"));
    Case cases[] = {
        {"the same bytes", L"batch_version_same.ocx", ""},
        {"other bytes", L"batch_version_other.ocx", goodBytes + "an older build"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        testing::WriteTextFile(SystemCopy(c.name),
                               c.systemBytes.empty() ? goodBytes : c.systemBytes);
        Queue(scene.list, L"good_server.dll", c.name);

        RegisterAll(scene.list, scene.options, scene.host, hosts_);

        ShownMessage message = scene.host.Closing();
        EXPECT_EQ(message.text, c.systemBytes.empty() ? std::wstring(kAllRegistered)
                                                      : OtherVersionUsed(SystemCopy(c.name)));
        EXPECT_EQ(message.style, c.systemBytes.empty() ? kStyleInformation : kStyleExclamation);
        EXPECT_TRUE(IsRegistered(c.name));
    }
}

// A source that is there but hidden or system is no missing source: it is named with the
// reason it was not registered.
TEST_F(BatchTest, AHiddenOrSystemSourceIsReportedAsSuchNotAsMissing) {
    for (DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
        SCOPED_TRACE(attribute);
        Scene scene;
        const std::wstring name = L"batch_hidden_src" + std::to_wstring(attribute) + L".ocx";
        const std::wstring source = Queue(scene.list, L"good_server.dll", name);
        SetFileAttributesW(source.c_str(), attribute);

        RegisterAll(scene.list, scene.options, scene.host, hosts_);

        EXPECT_EQ(scene.host.Closing().text, RegistrationFailed(source, L"原文件是隐藏或系统文件"));
        EXPECT_FALSE(FileExists(SystemCopy(name)));
        SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// "The others were registered" is said only when they were.
TEST_F(BatchTest, TheMissingSourceWarningClaimsTheOthersOnlyWhenAllOthersRegistered) {
    Scene scene;
    const std::wstring gone = QueueMissing(scene.list, L"batch_claim_gone.ocx");
    const std::wstring failing = Queue(scene.list, L"failing_server.dll", L"batch_claim_fails.ocx");
    Queue(scene.list, L"good_server.dll", L"batch_claim_good.ocx");

    RegisterAll(scene.list, scene.options, scene.host, hosts_);

    EXPECT_EQ(scene.host.Closing().text,
              L"注意:有以下1个控件注册不了\r\n\r\n" + gone +
                  L"\r\n\r\n原因:控件原文件丢失\r\n\r\n" +
                  RegistrationFailed(failing, WithSystemText(L"返回错误 0x80070005",
                                                             static_cast<DWORD>(E_ACCESSDENIED))));
}

// With deleting after registering on, a source goes only when the system folder holds the same
// bytes and they were registered.
TEST_F(BatchTest, DeletesASourceOnlyWhenItsRegisteredCopyIsInTheSystemFolder) {
    const std::string goodBytes = ReadWholeFile(TestServerPath(L"good_server.dll"));
    // The same server with something after its image: another version as far as bytes go.
    const std::string olderBytes = goodBytes + "older build";
    auto writeSystemCopy = [](const std::wstring& path, const std::string& bytes) {
        testing::WriteTextFile(path, bytes);
    };

    struct Outcome {
        std::wstring text;
        bool sourceKept;
        bool registered;
        std::string systemBytes;  // what the system copy must hold afterwards; empty: no copy
    };
    struct Case {
        const char* what;
        std::wstring name;
        std::function<Outcome(ServerList&, std::vector<FileHandle>&)> run;
    };
    Case cases[] = {
        {"copied and registered", L"batch_del_fresh.ocx",
         [&](ServerList& list, auto&) {
             Queue(list, L"good_server.dll", L"batch_del_fresh.ocx");
             return Outcome{kAllRegistered, false, true, goodBytes};
         }},
        {"an identical copy was there", L"batch_del_same.ocx",
         [&](ServerList& list, auto&) {
             writeSystemCopy(SystemCopy(L"batch_del_same.ocx"), goodBytes);
             Queue(list, L"good_server.dll", L"batch_del_same.ocx");
             return Outcome{kAllRegistered, false, true, goodBytes};
         }},
        {"an older, different copy was there", L"batch_del_older.ocx",
         [&](ServerList& list, auto&) {
             writeSystemCopy(SystemCopy(L"batch_del_older.ocx"), olderBytes);
             std::wstring source = Queue(list, L"good_server.dll", L"batch_del_older.ocx");
             return Outcome{OtherVersionUsed(SystemCopy(L"batch_del_older.ocx")) + L"\r\n\r\n" +
                                SourcesKept(source),
                            true, true, olderBytes};
         }},
        {"the registration failed", L"batch_del_fails.ocx",
         [&](ServerList& list, auto&) {
             std::wstring source = Queue(list, L"failing_server.dll", L"batch_del_fails.ocx");
             std::wstring reason =
                 WithSystemText(L"返回错误 0x80070005", static_cast<DWORD>(E_ACCESSDENIED));
             return Outcome{RegistrationFailed(source, reason) + L"\r\n\r\n" + SourcesKept(source),
                            true, false, ""};
         }},
        {"the queued file is the system copy itself", L"batch_del_itself.ocx",
         [&](ServerList& list, auto&) {
             std::wstring path = SystemCopy(L"batch_del_itself.ocx");
             CopyOrFail(TestServerPath(L"good_server.dll"), path);
             list.Append(L"batch_del_itself.ocx", path, path);
             return Outcome{SourcesKept(path), true, true, goodBytes};
         }},
        {"the source is in use", L"batch_del_busy.ocx",
         [&](ServerList& list, std::vector<FileHandle>& held) {
             std::wstring source = Queue(list, L"good_server.dll", L"batch_del_busy.ocx");
             held.push_back(HoldOpen(source, FILE_SHARE_READ));
             return Outcome{SourcesKept(source + L" (无法删除: " +
                                        SystemErrorText(ERROR_SHARING_VIOLATION) + L")"),
                            true, true, goodBytes};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Remember(c.name);
        Scene scene;
        scene.options.deleteAfterRegister = true;
        std::vector<FileHandle> held;
        Outcome expected = c.run(scene.list, held);
        const std::wstring source = scene.list.FullPaths().front();

        RegisterAll(scene.list, scene.options, scene.host, hosts_, kShortWaitMs);
        held.clear();

        ShownMessage message = scene.host.Closing();
        EXPECT_EQ(message.text, expected.text);
        EXPECT_EQ(message.style,
                  expected.text == kAllRegistered ? kStyleInformation : kStyleExclamation);
        EXPECT_EQ(FileExists(source), expected.sourceKept);
        EXPECT_EQ(ReadWholeFile(SystemCopy(c.name)), expected.systemBytes)
            << "a system copy that is there is registered unchanged; a failed one is taken away";
        EXPECT_EQ(IsRegistered(c.name), expected.registered);
    }
}

// The second entry finds its source gone because the run itself deleted it after registering
// it: that is no missing source.
TEST_F(BatchTest, TheSameFileTwiceIsRegisteredAndDeletedOnceAndNotReportedMissing) {
    Scene scene;
    scene.options.deleteAfterRegister = true;
    std::wstring source = Queue(scene.list, L"good_server.dll", L"batch_twice.ocx");
    scene.list.Append(L"batch_twice.ocx", source, source);

    RegisterAll(scene.list, scene.options, scene.host, hosts_);

    EXPECT_EQ(scene.host.Closing().text, kAllRegistered);
    EXPECT_FALSE(FileExists(source));
    EXPECT_TRUE(FileExists(SystemCopy(L"batch_twice.ocx")));
    EXPECT_TRUE(IsRegistered(L"batch_twice.ocx"));
    EXPECT_EQ(scene.list.Count(), 2) << "the queue keeps the deleted source";
}

// A system copy goes only once it has been unregistered: a copy whose unregistration failed
// stays, with its registration, and is reported. Every source here is an identical copy of its
// server, so that deleting loses nothing.
TEST_F(BatchTest, UnregistersEachSystemCopyAndDeletesOnlyThoseUnregistered) {
    struct Case {
        const char* what;
        std::wstring name;
        const wchar_t* dll;  // null: no system copy at all
        bool deleteAfterUnregister;
        bool copyInUse;
        std::wstring reason;  // empty: unregistered (and deleted when asked)
        bool copyRemains;
        bool unregistered = false;  // `reason` is why the unregistered copy was not deleted
    };
    Case cases[] = {
        {"unregistered, deleting off", L"batch_un_keep.ocx", L"good_server.dll", false, false, L"",
         true},
        {"the export reports a failure", L"batch_un_fails.ocx", L"failing_server.dll", true, false,
         WithSystemText(L"返回错误 0x80070005", static_cast<DWORD>(E_ACCESSDENIED)), true},
        {"no DllUnregisterServer", L"batch_un_ro.ocx", L"register_only_server.dll", true, false,
         L"缺少入口 DllUnregisterServer", true},
        {"the export overruns the limit", L"batch_un_slow.ocx", L"slow_server.dll", false, false,
         L"超过10秒未完成,已终止", true},
        {"the copy is in use", L"batch_un_busy.ocx", L"good_server.dll", true, true,
         L"无法删除: " + SystemErrorText(ERROR_SHARING_VIOLATION), true, true},
    };
    int caseNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        scene.options.deleteAfterUnregister = c.deleteAfterUnregister;
        std::vector<FileHandle> held;
        std::wstring systemCopy = SystemCopy(c.name);
        PlaceRegistered(c.dll, c.name);
        if (c.copyInUse)
            held.push_back(HoldOpen(systemCopy, FILE_SHARE_READ));
        Queue(scene.list, c.dll, c.name);
        const std::wstring after = L"batch_un_after" + std::to_wstring(++caseNumber) + L".ocx";
        PlaceRegistered(L"good_server.dll", after);
        Queue(scene.list, L"good_server.dll", after);

        UnregisterAll(scene.list, scene.options, scene.host, hosts_, kShortWaitMs);
        held.clear();

        ShownMessage message = scene.host.Closing();
        if (c.reason.empty()) {
            EXPECT_EQ(message.text, kAllUnregistered);
            EXPECT_EQ(message.style, kStyleInformation);
        } else if (c.unregistered) {
            // Not "卸载失败": its registration is gone, only the file stays.
            EXPECT_EQ(message.text, L"以下控件已经卸载, 但文件没有删除:\r\n" + systemCopy + L" (" +
                                        c.reason + L")\r\n");
            EXPECT_EQ(message.style, kStyleExclamation);
        } else {
            std::wstring note = c.deleteAfterUnregister ? L"\r\n这些文件没有删除." : L"";
            EXPECT_EQ(message.text, L"注意:有以下1个控件卸载失败\r\n\r\n" + systemCopy + L" (" +
                                        c.reason + L")\r\n" + note);
            EXPECT_EQ(message.style, kStyleExclamation);
        }
        EXPECT_EQ(FileExists(systemCopy), c.copyRemains);
        EXPECT_FALSE(IsRegistered(c.name));
        EXPECT_FALSE(IsRegistered(after)) << "the batch goes on after a failure";
        EXPECT_EQ(FileExists(SystemCopy(after)), !c.deleteAfterUnregister);
        EXPECT_TRUE(FileExists(Source(c.name))) << "unregistering never touches sources";
    }
}

// Deleting after unregistering never takes the last copy of a file: the system copy goes only
// when its queued source is another file with the same bytes.
TEST_F(BatchTest, UnregisteringKeepsASystemCopyThatHasNoTwinElsewhere) {
    const std::string goodBytes = ReadWholeFile(TestServerPath(L"good_server.dll"));
    struct Case {
        const char* what;
        std::wstring name;
        // Puts the source in place (or not) and queues it.
        std::function<void(ServerList&, const std::wstring& name)> queue;
        bool copyDeleted;
    };
    Case cases[] = {
        {"the source is a separate identical copy", L"batch_twin_same.ocx",
         [&](ServerList& list, const std::wstring& name) { Queue(list, L"good_server.dll", name); },
         true},
        {"the queued file is the system copy itself", L"batch_twin_itself.ocx",
         [&](ServerList& list, const std::wstring& name) {
             list.Append(name, SystemCopy(name), SystemCopy(name));
         },
         false},
        {"the source is gone", L"batch_twin_gone.ocx",
         [&](ServerList& list, const std::wstring& name) { QueueMissing(list, name); }, false},
        {"the source holds other bytes", L"batch_twin_other.ocx",
         [&](ServerList& list, const std::wstring& name) {
             testing::WriteTextFile(Source(name), goodBytes + "another build");
             list.Append(name, Source(name), Source(name));
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        const std::wstring systemCopy = PlaceRegistered(L"good_server.dll", c.name);
        c.queue(scene.list, c.name);

        UnregisterAll(scene.list, scene.options, scene.host, hosts_);

        ShownMessage message = scene.host.Closing();
        EXPECT_EQ(message.text, c.copyDeleted ? kAllUnregistered : OnlyCopyKept(systemCopy));
        EXPECT_EQ(message.style, c.copyDeleted ? kStyleInformation : kStyleExclamation);
        EXPECT_EQ(FileExists(systemCopy), !c.copyDeleted);
        EXPECT_FALSE(IsRegistered(c.name)) << "unregistering runs all the same";
    }
}

// Registering with deleting on leaves the system copy as the only one; unregistering with the
// defaults afterwards must not delete it.
TEST_F(BatchTest, RegisterWithDeletingThenUnregisterKeepsTheLastCopy) {
    Scene scene;
    scene.options.deleteAfterRegister = true;
    const std::wstring source = Queue(scene.list, L"good_server.dll", L"batch_last_copy.ocx");
    RegisterAll(scene.list, scene.options, scene.host, hosts_);
    ASSERT_FALSE(FileExists(source));

    RecordingHost unregisterHost;
    UnregisterAll(scene.list, scene.options, unregisterHost, hosts_);

    EXPECT_EQ(unregisterHost.Closing().text, OnlyCopyKept(SystemCopy(L"batch_last_copy.ocx")));
    EXPECT_TRUE(FileExists(SystemCopy(L"batch_last_copy.ocx")));
    EXPECT_FALSE(IsRegistered(L"batch_last_copy.ocx"));
}

TEST_F(BatchTest, TheSameNameTwiceIsUnregisteredOnceThenPassedOver) {
    Scene scene;
    PlaceRegistered(L"good_server.dll", L"batch_un_twice.ocx");
    Queue(scene.list, L"good_server.dll", L"batch_un_twice.ocx");
    QueueMissing(scene.list, L"batch_un_twice.ocx");

    UnregisterAll(scene.list, scene.options, scene.host, hosts_);

    EXPECT_EQ(scene.host.Closing().text, kAllUnregistered);
    EXPECT_FALSE(FileExists(SystemCopy(L"batch_un_twice.ocx")));
    EXPECT_FALSE(IsRegistered(L"batch_un_twice.ocx"));
    EXPECT_EQ(scene.options.reads, (std::vector<std::wstring>{L"subfolder", L"flag 1"}));
}

// A queued name with no copy in the system folder is passed over, and the closing message says
// which: "all unregistered" would be untrue.
TEST_F(BatchTest, NamesWithoutASystemCopyAreReportedAsNotUnregistered) {
    struct Case {
        const char* what;
        std::wstring name;
        std::function<void(const std::wstring& systemCopy)> prepare;
        std::wstring subfolder;
    };
    Case cases[] = {
        {"no copy at all", L"batch_absent_none.ocx", [](const std::wstring&) {},
         kSystem32Subfolder},
        {"a hidden copy", L"batch_absent_hidden.ocx",
         [](const std::wstring& systemCopy) {
             testing::WriteTextFile(systemCopy, "hidden");
             SetFileAttributesW(systemCopy.c_str(), FILE_ATTRIBUTE_HIDDEN);
         },
         kSystem32Subfolder},
        {"no such system folder", L"batch_absent_folder.ocx", [](const std::wstring&) {},
         L"\\NoSuchFolder\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        scene.options.subfolder = c.subfolder;
        const std::wstring systemCopy = windows_.Path() + c.subfolder + c.name;
        c.prepare(systemCopy);
        Queue(scene.list, L"good_server.dll", c.name);
        PlaceRegistered(L"good_server.dll", L"batch_absent_good.ocx");
        Queue(scene.list, L"good_server.dll", L"batch_absent_good.ocx");

        UnregisterAll(scene.list, scene.options, scene.host, hosts_);

        ShownMessage message = scene.host.Closing();
        if (c.subfolder == kSystem32Subfolder) {
            EXPECT_EQ(message.text, NotInSystemFolder(systemCopy));
            EXPECT_FALSE(FileExists(SystemCopy(L"batch_absent_good.ocx")));
        } else {
            EXPECT_EQ(message.text, L"以下控件不在系统文件夹中,没有卸载:\r\n" + systemCopy +
                                        L"\r\n" + windows_.Path() + c.subfolder +
                                        L"batch_absent_good.ocx\r\n");
        }
        EXPECT_EQ(message.style, kStyleExclamation);
    }
}

TEST_F(BatchTest, DeleteServerFileDeletesHiddenReadOnlyFilesAndSaysWhyNotWhenRefused) {
    std::wstring plain = sources_ / L"plain.ocx";
    std::wstring guarded = sources_ / L"guarded.ocx";
    std::wstring busy = sources_ / L"busy.ocx";
    for (const std::wstring& path : {plain, guarded, busy})
        testing::WriteTextFile(path, "x");
    SetFileAttributesW(guarded.c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);

    EXPECT_EQ(DeleteServerFile(plain), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(FileExists(plain));
    EXPECT_EQ(DeleteServerFile(guarded), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(FileExists(guarded));

    FileHandle holder = HoldOpen(busy, FILE_SHARE_READ);
    EXPECT_EQ(DeleteServerFile(busy), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(FileExists(busy));
}

// ---- Each file is held from the first look to the last act ----

// The files of a folder (not its subfolders) with their bytes: what a step must leave alone.
std::map<std::wstring, std::string> FilesIn(const std::wstring& folder) {
    std::map<std::wstring, std::string> files;
    WIN32_FIND_DATAW found{};
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find)
        return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files[found.cFileName] = ReadWholeFile(folder + L"\\" + found.cFileName);
    } while (FindNextFileW(find.get(), &found));
    return files;
}

// The 8.3 name the file system gives a long name, as its last component.
std::wstring ShortNameOf(const std::wstring& path) {
    wchar_t shortPath[MAX_PATH]{};
    const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : NameOf(shortPath);
}

// Where a link, a folder or a short name stands in for a queued file or its system copy, the
// batch refuses the file with the reason and touches nothing: not what a link leads to, not the
// other file a short name names, not the source (deleting after registering is on).
TEST_F(BatchTest, RegisteringUsesOnlyTheQueuedFileItselfAndLeavesEverythingElseAlone) {
    const std::string goodBytes = ReadWholeFile(TestServerPath(L"good_server.dll"));
    const std::string otherBytes = goodBytes + "somebody else's build";
    TempFolder elsewhere;
    struct Case {
        const char* what;
        std::wstring name;
        // Puts the files in place and gives the queued path.
        std::function<std::wstring(const std::wstring& name)> arrange;
        // Any one of these: Wine follows a link that Windows opens as itself, so there the
        // final path shows it.
        std::vector<std::wstring> reasons;
        bool reachesTheSystemFolder;  // refused there rather than at the source
    };
    Case cases[] = {
        {"the source was swapped for a link to another file",
         L"batch_hold_srclink.ocx",
         [&](const std::wstring& name) {
             testing::WriteTextFile(elsewhere / L"victim.ocx", goodBytes);
             EXPECT_TRUE(testing::MakeUnixLink(Source(name), elsewhere / L"victim.ocx"));
             return Source(name);
         },
         {kSourceIsLinkReason, kSourceElsewhereReason},
         false},
        {"a folder on the way is a link",
         L"batch_hold_via.ocx",
         [&](const std::wstring& name) {
             testing::WriteTextFile(elsewhere / name, goodBytes);
             EXPECT_TRUE(testing::MakeUnixLink(Source(L"via"), elsewhere.Path()));
             return Source(L"via\\" + name);
         },
         {kSourceElsewhereReason},
         false},
        {"the system copy is a link to another file",
         L"batch_hold_copylink.ocx",
         [&](const std::wstring& name) {
             testing::WriteTextFile(elsewhere / L"linked.ocx", goodBytes);
             EXPECT_TRUE(testing::MakeUnixLink(SystemCopy(name), elsewhere / L"linked.ocx"));
             testing::WriteTextFile(Source(name), goodBytes);
             return Source(name);
         },
         {kCopyIsLinkReason},
         true},
        {"the system copy is a folder",
         L"batch_hold_copydir.ocx",
         [&](const std::wstring& name) {
             testing::MakeFolder(SystemCopy(name));
             testing::WriteTextFile(SystemCopy(name + L"\\inside.txt"), "kept");
             testing::WriteTextFile(Source(name), goodBytes);
             return Source(name);
         },
         {kCopyIsFolderReason},
         true},
        {"the queued name is another system file's short name",
         L"",
         [&](const std::wstring&) {
             const std::wstring other = SystemCopy(L"batch_hold_long_system_file.ocx");
             testing::WriteTextFile(other, goodBytes);
             const std::wstring alias = ShortNameOf(other);
             EXPECT_FALSE(alias.empty());
             testing::WriteTextFile(Source(alias), goodBytes);
             return Source(alias);
         },
         {},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        scene.options.deleteAfterRegister = true;
        const std::wstring source = c.arrange(c.name);
        const std::wstring name = NameOf(source);
        Remember(name);
        scene.list.Append(name, source, source);
        std::vector<std::wstring> reasons = c.reasons;
        if (reasons.empty())
            reasons.push_back(ShortNameReason(name, L"batch_hold_long_system_file.ocx"));
        const auto elsewhereBefore = FilesIn(elsewhere.Path());
        const auto systemBefore = FilesIn(windows_ / L"System32");

        RegisterAll(scene.list, scene.options, scene.host, hosts_, kShortWaitMs);

        const std::wstring text = scene.host.Closing().text;
        bool matched = false;
        for (const std::wstring& reason : reasons) {
            const std::wstring kept =
                c.reachesTheSystemFolder ? L"\r\n\r\n" + SourcesKept(source) : L"";
            matched = matched || text == RegistrationFailed(source, reason) + kept;
        }
        EXPECT_TRUE(matched) << "closing message: " << std::string(text.begin(), text.end());
        EXPECT_FALSE(IsRegistered(name));
        EXPECT_TRUE(FileExists(source)) << "a refused source is never deleted";
        EXPECT_EQ(FilesIn(elsewhere.Path()), elsewhereBefore);
        EXPECT_EQ(FilesIn(windows_ / L"System32"), systemBefore);
    }
    EXPECT_EQ(ReadWholeFile(SystemCopy(L"batch_hold_copydir.ocx\\inside.txt")), "kept");
}

// Unregistering holds the system copy the same way: a link there is refused, another file's
// short name is no copy of the queued file, and a source that is a link vouches for nothing,
// so the copy it would stand twin to stays.
TEST_F(BatchTest, UnregisteringTouchesOnlyTheQueuedNamesOwnSystemCopy) {
    const std::string goodBytes = ReadWholeFile(TestServerPath(L"good_server.dll"));
    TempFolder elsewhere;
    struct Case {
        const char* what;
        // Puts the files in place and queues; gives the expected closing message.
        std::function<std::wstring(ServerList&)> arrange;
        std::wstring stillRegistered;  // a server this row must leave registered
    };
    const std::wstring unregisterFailed = L"注意:有以下1个控件卸载失败\r\n\r\n";
    Case cases[] = {
        {"the system copy is a link to another file",
         [&](ServerList& list) {
             const std::wstring name = L"batch_unhold_link.ocx";
             testing::WriteTextFile(elsewhere / L"linked.ocx", goodBytes);
             EXPECT_TRUE(testing::MakeUnixLink(SystemCopy(name), elsewhere / L"linked.ocx"));
             Queue(list, L"good_server.dll", name);
             return unregisterFailed + SystemCopy(name) + L" (" + kCopyIsLinkReason +
                    L")\r\n\r\n这些文件没有删除.";
         },
         L""},
        {"the queued name is another system file's short name",
         [&](ServerList& list) {
             const std::wstring other =
                 PlaceRegistered(L"good_server.dll", L"batch_unhold_long.ocx");
             const std::wstring alias = ShortNameOf(other);
             EXPECT_FALSE(alias.empty());
             Queue(list, L"good_server.dll", alias);
             return NotInSystemFolder(SystemCopy(alias));
         },
         L"batch_unhold_long.ocx"},
        {"the source is a link to a twin of the system copy",
         [&](ServerList& list) {
             const std::wstring name = L"batch_unhold_srclink.ocx";
             const std::wstring copy = PlaceRegistered(L"good_server.dll", name);
             testing::WriteTextFile(elsewhere / L"twin.ocx", goodBytes);
             EXPECT_TRUE(testing::MakeUnixLink(Source(name), elsewhere / L"twin.ocx"));
             list.Append(name, Source(name), Source(name));
             return OnlyCopyKept(copy);
         },
         L""},
        {"the system copy is a folder",
         [&](ServerList& list) {
             const std::wstring name = L"batch_unhold_dir.ocx";
             testing::MakeFolder(SystemCopy(name));
             testing::WriteTextFile(SystemCopy(name + L"\\inside.txt"), "kept");
             Queue(list, L"good_server.dll", name);
             return NotInSystemFolder(SystemCopy(name));
         },
         L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        const std::wstring expected = c.arrange(scene.list);
        const auto elsewhereBefore = FilesIn(elsewhere.Path());
        const auto systemBefore = FilesIn(windows_ / L"System32");

        UnregisterAll(scene.list, scene.options, scene.host, hosts_, kShortWaitMs);

        EXPECT_EQ(scene.host.Closing().text, expected);
        if (!c.stillRegistered.empty()) {
            EXPECT_TRUE(IsRegistered(c.stillRegistered)) << "another file was unregistered";
        }
        EXPECT_EQ(FilesIn(elsewhere.Path()), elsewhereBefore);
        EXPECT_EQ(FilesIn(windows_ / L"System32"), systemBefore);
    }
    EXPECT_EQ(ReadWholeFile(SystemCopy(L"batch_unhold_dir.ocx\\inside.txt")), "kept");
}

// While a server runs, the program holds the queued file and its system copy, from its first
// look at them to its last act: nobody can write, rename or delete either (the swap a race would
// need is refused by the system), while a loader can still read the copy. The same goes for an
// unregistration, which reads the queued file's header to pick its host and compares it with the
// copy before the delete. Once the step is over both are let go.
TEST_F(BatchTest, NobodyCanChangeTheSourceOrTheCopyWhileTheServerRuns) {
    class IntrudingHost : public RecordingHost {
      public:
        DWORD WaitForHost(DWORD count, const HANDLE* handles, DWORD timeoutMs) override {
            if (tries.empty() && FileExists(copy))
                Intrude();
            return RecordingHost::WaitForHost(count, handles, timeoutMs);
        }
        void Intrude() {
            auto open = [](const std::wstring& path, DWORD access, DWORD share) {
                FileHandle file(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
                return file ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
            };
            constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
            tries = {
                open(source, GENERIC_WRITE, kShareAll),
                open(source, DELETE, kShareAll),
                MoveFileW(source.c_str(), (source + L".moved").c_str()) ? ERROR_SUCCESS
                                                                        : GetLastError(),
                open(copy, GENERIC_WRITE, kShareAll),
                open(copy, DELETE, kShareAll),
                open(copy, GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE),
            };
        }
        std::wstring source;
        std::wstring copy;
        std::vector<DWORD> tries;
    };
    const std::string serverBytes = ReadWholeFile(TestServerPath(L"good_server.dll"));
    for (const bool unregister : {false, true}) {
        SCOPED_TRACE(unregister ? "unregistering, deleting after" : "registering, deleting after");
        const std::wstring name = unregister ? L"batch_hold_busy_u.ocx" : L"batch_hold_busy.ocx";
        Scene scene;
        scene.options.deleteAfterRegister = !unregister;
        scene.options.deleteAfterUnregister = unregister;
        IntrudingHost host;
        host.source = Queue(scene.list, L"good_server.dll", name);
        host.copy = SystemCopy(name);
        if (unregister) {
            PlaceRegistered(L"good_server.dll", name);
            UnregisterAll(scene.list, scene.options, host, hosts_, kShortWaitMs);
        } else {
            RegisterAll(scene.list, scene.options, host, hosts_);
        }

        const DWORD refused = ERROR_SHARING_VIOLATION;
        EXPECT_EQ(host.tries, (std::vector<DWORD>{refused, refused, refused, refused, refused,
                                                  static_cast<DWORD>(ERROR_SUCCESS)}))
            << "write, delete and rename of the source; write and delete of the copy; a "
               "loader's read";
        EXPECT_EQ(IsRegistered(name), !unregister);
        if (unregister) {
            EXPECT_EQ(host.Closing().text, kAllUnregistered);
            EXPECT_FALSE(FileExists(host.copy)) << "let go once the step was over, and deleted";
            EXPECT_EQ(ReadWholeFile(host.source), serverBytes);
        } else {
            EXPECT_EQ(host.Closing().text, kAllRegistered);
            EXPECT_FALSE(FileExists(host.source)) << "let go once the step was over, and deleted";
            EXPECT_EQ(ReadWholeFile(host.copy), serverBytes);
        }
    }
}

}  // namespace
}  // namespace kestrave
