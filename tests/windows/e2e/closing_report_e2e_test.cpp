// The closing message through the real program, in the message box Wine shows (which wraps its
// text at about 330 pixels): every line names its whole file, the box stays on the screen, and
// whatever the box could not show in full is on the clipboard. Also: what 卸载 says of a copy it
// unregistered but could not delete, hidden files dropped on the window, and what 添加 does
// with a dialog that returns no single file.
#include <gtest/gtest.h>

#include "crafted_images.h"
#include "window_fixture.h"

namespace kestrave::testing {
namespace {

void EmptyTheClipboard() {
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A kind of file that 注册 refuses, and the start of the reason the program gives for it, which
// is its own words (what may follow is the system's).
struct Refusal {
    const char* what;
    std::wstring name;
    const wchar_t*
        server;  // a test server; null: a file of text; L"": a library of the other bitness
    std::wstring reason;
};

std::vector<Refusal> EveryRefusal() {
    return {
        {"export error", L"denied-by-its-own-export.ocx", L"failing_server.dll",
         L"返回错误 0x80070005"},
            {"crash", L"crash.ocx", L"crashing_server.dll", L"控件崩溃 (异常代码 0x"},
#if defined(_WIN64)
            // (A 32-bit program hands a 64-bit file to its 64-bit host.)
            {"other bitness", L"built for the other processor.ocx", L"",
             L"32位控件需要用32位的 Kestrave 注册"},
#endif
            {"missing library", L"kt_needs_nosuchdep.ocx", L"cause_missing_server.dll",
             L"缺少 kt_needs_nosuchdep.ocx 需要的文件 nosuchdep.dll"},
            {"invalid file", L"k17-small-but-with-a-long-name-additional.ocx", nullptr,
             L"不是有效的控件文件"},
            {"time-out", L"slow.ocx", L"slow_server.dll", L"超过10秒未完成,已终止"},
    };
}

class ClosingReportEndToEnd : public MainWindowEndToEnd {
  protected:
    void TearDown() override {
        for (const Refusal& refusal : EveryRefusal())
            RegDeleteTreeW(HKEY_CLASSES_ROOT, TestServerClsidKey(refusal.name).c_str());
        MainWindowEndToEnd::TearDown();
    }

    static std::wstring Place(const std::wstring& folder, const Refusal& refusal) {
        const std::wstring path = folder + L"\\" + refusal.name;
        if (!refusal.server)
            WriteTextFile(path, "not a library");
        else if (*refusal.server == L'\0')
            WriteOtherBitnessLibrary(path);
        else
            CopyOrFail(TestServerPath(refusal.server), path);
        return path;
    }
};

// One table: batches of one file and of ten, in a short folder and a long one whose names the
// box would wrap, with every kind of reason the program words.
TEST_F(ClosingReportEndToEnd, EveryLineNamesItsWholeFileAndTheRestIsOnTheClipboard) {
    std::wstring deep = sources_ / L"d";
    MakeFolder(deep);
    for (const wchar_t* name :
         {L"Program Files (x86)", L"Common Files", L"Line-of-business vendor - shared controls",
          L"Legacy reporting add-ins - version 4"}) {
        deep += std::wstring(L"\\") + name;
        MakeFolder(deep);
    }
    const std::wstring shallow = sources_ / L"s";
    MakeFolder(shallow);
    const std::vector<Refusal> every = EveryRefusal();
    std::vector<Refusal> ten = every;
    for (int i = 0; ten.size() < 10; ++i)
        ten.push_back(
            {"filler", L"filler " + std::to_wstring(i) + L".ocx", nullptr, L"不是有效的控件文件"});

    struct Row {
        std::string what;
        std::wstring folder;
        std::vector<Refusal> files;
    };
    std::vector<Row> rows;
    for (const Refusal& refusal : every)
        rows.push_back({std::string("one file, long folder: ") + refusal.what, deep, {refusal}});
    rows.push_back({"one file, short folder", shallow, {every[1]}});
    rows.push_back({"ten files, short folder", shallow, ten});
    rows.push_back({"ten files, long folder", deep, ten});

    RECT workArea{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        program_->ClickButton(Main(), kClear);
        ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().empty(); }));
        std::vector<std::wstring> paths;
        for (const Refusal& file : row.files)
            paths.push_back(Place(row.folder, file));
        program_->DropFiles(Main(), paths);
        ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == paths.size(); }));
        EmptyTheClipboard();

        program_->ClickButton(Main(), kRegister);
        OpenedDialog box = program_->WaitForDialog(kTitle, 60000);
        ASSERT_TRUE(box);
        const RECT boxRect = program_->WindowRect(box.window);
        EXPECT_GE(boxRect.left, workArea.left);
        EXPECT_GE(boxRect.top, workArea.top);
        EXPECT_LE(boxRect.right, workArea.right);
        EXPECT_LE(boxRect.bottom, workArea.bottom);
        const std::wstring report = ClipboardText();
        program_->Press(box, IDOK);
        ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));

        const bool handedOver = EndsWith(box.text, L"完整报告已复制到剪贴板");
        for (size_t i = 0; i < paths.size(); ++i) {
            const Refusal& file = row.files[i];
            SCOPED_TRACE(std::string(file.what));
            // Each line shows the whole name and the program's own words for the reason.
            EXPECT_NE(box.text.find(L"\\" + file.name + L" (" + file.reason), std::wstring::npos)
                << "text: " << box.text.size();
            if (handedOver) {
                EXPECT_NE(report.find(paths[i] + L"\t注册失败: " + file.reason),
                          std::wstring::npos);
            } else {
                EXPECT_NE(box.text.find(paths[i] + L" (" + file.reason), std::wstring::npos)
                    << "nothing was shortened, so the message itself shows the whole path";
            }
        }
        if (row.folder == deep) {
            EXPECT_TRUE(handedOver) << "a shortened folder hands the report over";
        }
        EXPECT_EQ(report.empty(), !handedOver);
    }
}

// 卸载 of a copy that another program holds open: its unregistration ran, so it is no failure;
// it stands in a block of its own with the reason it was not deleted.
TEST_F(ClosingReportEndToEnd, AnUnregisteredCopyThatCouldNotBeDeletedHasItsOwnBlock) {
    const std::wstring source = sources_ / L"ocx\\a.ocx";
    const std::wstring copy = windows_ / L"System32\\a.ocx";
    program_->DropFiles(Main(), {source});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 1; }));
    program_->ClickButton(Main(), kRegister);
    ASSERT_EQ(ClosingMessage(), L"所有控件已经注册完毕!");

    FileHandle held(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    program_->ClickButton(Main(), kUnregister);
    const std::wstring message = ClosingMessage();
    held.reset();
    EXPECT_EQ(message.rfind(L"以下控件已经卸载, 但文件没有删除:\r\n", 0), 0u)
        << "text: " << message.size();
    EXPECT_NE(message.find(L"\\a.ocx (无法删除"), std::wstring::npos);
    EXPECT_EQ(message.find(L"卸载失败"), std::wstring::npos);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, TestServerClsidKey(L"a.ocx")));
    EXPECT_TRUE(FileExists(copy));
}

// A hidden file dropped alone or inside a dropped folder is queued, as 添加 queues one, and
// 注册 says why it refuses it.
TEST_F(ClosingReportEndToEnd, HiddenFilesDroppedAreQueuedAndRefusedAtRegister) {
    const std::wstring folder = sources_ / L"ocx";
    const std::wstring hidden = folder + L"\\d.ocx";  // hidden by the fixture
    program_->DropFiles(Main(), {hidden});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 1; }));
    EXPECT_EQ(Rows(), std::vector<std::wstring>{hidden});

    program_->DropFiles(Main(), {folder});
    OpenedDialog question = program_->WaitForDialog(kTitle);
    ASSERT_TRUE(question);
    program_->Press(question, IDNO);  // the folder alone
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 3; }));
    auto rows = Rows();
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::wstring>{L"a.ocx", L"b.OCX", L"d.ocx"}));

    program_->ClickButton(Main(), kRegister);
    const std::wstring message = ClosingMessage();
    EXPECT_EQ(message.rfind(L"注意:有以下1个控件注册失败\r\n\r\n", 0), 0u);
    EXPECT_NE(message.find(L"\\d.ocx (原文件是隐藏或系统文件)"), std::wstring::npos);
    EXPECT_FALSE(FileExists(windows_ / L"System32\\d.ocx"));
}

// Wine's file-open dialog returns the folder when several names are typed into it; with many
// it has more than the buffer holds. Either way nothing is queued and the user is told.
TEST_F(ClosingReportEndToEnd, AddQueuesNothingButSaysSoWhenTheDialogGivesNoSingleFile) {
    const std::wstring folder = sources_ / L"ocx";
    std::wstring forty;
    for (int i = 0; i < 40; ++i)
        forty += L"\"a.ocx\" ";
    struct Case {
        const char* what;
        std::wstring typed;
    } cases[] = {
        {"two quoted names", L"\"a.ocx\" \"c.dll\""},
        {"forty quoted names", forty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        program_->ClickButton(Main(), kAdd);
        OpenedDialog dialog = program_->WaitForDialog(L"添加");
        ASSERT_TRUE(dialog);
        // Into the folder first, so that the names are looked for there.
        program_->OpenFile(dialog, folder);
        Sleep(500);
        program_->OpenFile(dialog, c.typed);
        OpenedDialog notice = program_->WaitForDialog(kTitle);
        ASSERT_TRUE(notice) << "no message";
        EXPECT_EQ(notice.text, L"请选择一个控件文件");
        program_->Press(notice, IDOK);
        ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));
        EXPECT_TRUE(program_->Running());
        EXPECT_TRUE(Rows().empty());
    }
}

}  // namespace
}  // namespace kestrave::testing
