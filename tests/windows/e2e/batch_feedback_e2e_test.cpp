// Batches of many files through the real program: a big folder queued at once, a window that
// stays alive and shows its progress, a batch stopped with Esc, and a report that fits.
#include <gtest/gtest.h>

#include "window_fixture.h"

namespace kestrave::testing {
namespace {

class BatchFeedbackEndToEnd : public MainWindowEndToEnd {
  protected:
    // The caption label's text, which the window's title follows.
    std::wstring WindowTitle() const {
        wchar_t title[64]{};
        SendMessageTimeoutW(Main(), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(title), SMTO_BLOCK,
                            2000, nullptr);
        return title;
    }
    bool AcceptsDrops() const {
        return (GetWindowLongW(Main(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
    }
};

TEST_F(BatchFeedbackEndToEnd, QueuesAFolderOfTenThousandFiles) {
    const std::wstring folder = sources_ / L"many";
    MakeFolder(folder);
    for (int i = 0; i < 10000; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"\\c%05d.ocx", i);
        FileHandle file(CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    program_->DropFiles(Main(), {folder});
    // Generous: the program fills the list in well under a second, a row-by-row repaint took
    // half a minute.
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Count() == L"10000"; }, 20000));
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 10000u);
    EXPECT_EQ(rows.front(), L"c00000.ocx");
    EXPECT_EQ(rows.back(), L"c09999.ocx");
}

// A slow server holds the batch for its ten seconds: meanwhile the window answers, shows the
// progress in its caption, ignores 清空, and Esc stops the batch once that file is done.
TEST_F(BatchFeedbackEndToEnd, StaysAliveShowsProgressAndStopsOnEscBetweenFiles) {
    const std::wstring slow = sources_ / L"slow.ocx";
    CopyOrFail(TestServerPath(L"slow_server.dll"), slow);
    program_->DropFiles(Main(), {slow, sources_ / L"ocx\\a.ocx"});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 2; }));

    program_->ClickButton(Main(), kRegister);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return WindowTitle() == L"正在注册 1/2"; }));
    DWORD_PTR ignored = 0;
    EXPECT_TRUE(SendMessageTimeoutW(Main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored))
        << "the window answers during the batch";
    program_->ClickButton(Main(), kClear);
    Sleep(300);
    EXPECT_EQ(Rows().size(), 2u) << "清空 does nothing while the batch runs";
    SetForegroundWindow(Main());
    program_->PressKeys({VK_ESCAPE});

    const std::wstring message = ClosingMessage();
    EXPECT_EQ(message.rfind(L"已停止: 已处理 1/2 个控件\r\n\r\n", 0), 0u)
        << "text: " << message.size();
    EXPECT_NE(message.find(L"\\slow.ocx (超过10秒未完成,已终止)"), std::wstring::npos);
    EXPECT_FALSE(FileExists(windows_ / L"System32\\a.ocx"))
        << "the file after the stop is untouched";
    EXPECT_EQ(WindowTitle(), L"Kestrave v1.0");
    EXPECT_EQ(Rows().size(), 2u);
}

// Files dropped while a batch runs change nothing: the window takes no drop and the cursor over
// it says so, nothing is asked, none of them is copied, and the report is about what was queued
// when 注册 was pressed. Once the batch is over, a drop works as before.
TEST_F(BatchFeedbackEndToEnd, TakesNoDropWhileABatchRunsAndDropsAgainAfterIt) {
    const std::wstring slow = sources_ / L"slow.ocx";
    CopyOrFail(TestServerPath(L"slow_server.dll"), slow);
    const std::wstring queued = sources_ / L"ocx\\a.ocx";
    program_->DropFiles(Main(), {slow, queued});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 2; }));
    const std::vector<std::wstring> rowsBefore = Rows();
    EXPECT_TRUE(AcceptsDrops());

    program_->ClickButton(Main(), kRegister);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return WindowTitle() == L"正在注册 1/2"; }));
    EXPECT_FALSE(AcceptsDrops()) << "the window refuses drops, so the cursor shows no drop";
    // Sent to the window directly, as a program of the user's could.
    program_->DropFiles(Main(), {sources_ / L"ocx"});
    program_->DropFiles(Main(), {sources_ / L"ocx\\c.dll"});
    EXPECT_FALSE(program_->WaitForDialog(kTitle, 1500)) << "nothing is asked during the batch";
    EXPECT_EQ(Rows(), rowsBefore);

    const std::wstring message = ClosingMessage();
    // Only the file that was queued first is reported (its path shortened to fit the box, and
    // then the complete report is on the clipboard).
    EXPECT_EQ(message.rfind(L"注意:有以下1个控件注册失败\r\n\r\nC:\\", 0), 0u);
    const std::wstring line = L"\\slow.ocx (超过10秒未完成,已终止)\r\n";
    const size_t at = message.find(line);
    ASSERT_NE(at, std::wstring::npos) << "text: " << message.size();
    const std::wstring after = message.substr(at + line.size());
    EXPECT_TRUE(after.empty() || after == L"\r\n\r\n完整报告已复制到剪贴板")
        << "text: " << message.size();
    EXPECT_TRUE(FileExists(windows_ / L"System32\\a.ocx")) << "the queued file was handled";
    EXPECT_FALSE(FileExists(windows_ / L"System32\\b.OCX")) << "a dropped file was copied";
    EXPECT_FALSE(FileExists(windows_ / L"System32\\c.dll")) << "a dropped file was copied";
    EXPECT_EQ(Rows(), rowsBefore);

    EXPECT_TRUE(AcceptsDrops());
    MakeFolder(sources_ / L"more");
    for (const wchar_t* name : {L"x.ocx", L"y.ocx"})
        CopyOrFail(TestServerPath(L"good_server.dll"), sources_ / (std::wstring(L"more\\") + name));
    program_->DropFiles(Main(), {sources_ / L"more"});
    OpenedDialog question = program_->WaitForDialog(kTitle);
    ASSERT_TRUE(question) << "a folder dropped on a queue asks whether to keep it";
    EXPECT_EQ(question.text, L"是否继续添加?");
    program_->Press(question, IDYES);
    EXPECT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 4; }));
}

// Thirty files that fail, under a long folder whose names a message box would wrap at their
// spaces and hyphens: the whole box, title bar and button included, stays within the work area,
// and the clipboard gets the complete report.
TEST_F(BatchFeedbackEndToEnd, ALongReportFitsTheScreenAndGoesToTheClipboardWhole) {
    std::wstring folder = sources_.Path();
    for (const wchar_t* name :
         {L"Program Files (x86)", L"Common Files", L"Line-of-business vendor - shared controls",
          L"Legacy reporting add-ins - version 4", L"Installed components - do not remove"}) {
        folder += std::wstring(L"\\") + name;
        MakeFolder(folder);
    }
    for (int i = 0; i < 30; ++i) {
        WriteTextFile(folder + L"\\broken control - number " + std::to_wstring(i) + L".ocx",
                      "not a library");
    }
    program_->DropFiles(Main(), {folder});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Count() == L"30"; }));

    program_->ClickButton(Main(), kRegister);
    OpenedDialog box = program_->WaitForDialog(kTitle, 30000);
    ASSERT_TRUE(box);
    RECT workArea{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const RECT boxRect = program_->WindowRect(box.window);
    EXPECT_GE(boxRect.left, workArea.left);
    EXPECT_GE(boxRect.top, workArea.top);
    EXPECT_LE(boxRect.right, workArea.right);
    EXPECT_LE(boxRect.bottom, workArea.bottom);
    EXPECT_NE(box.text.find(L"\\...\\"), std::wstring::npos) << "long paths are shortened";
    EXPECT_EQ(box.text.substr(box.text.size() - 11), L"完整报告已复制到剪贴板");

    const std::wstring report = ClipboardText();
    for (int i = 0; i < 30; ++i) {
        const std::wstring path =
            folder + L"\\broken control - number " + std::to_wstring(i) + L".ocx";
        EXPECT_NE(report.find(path + L"\t注册失败: 不是有效的控件文件\r\n"), std::wstring::npos)
            << i;
    }
    program_->Press(box, IDOK);
}

}  // namespace
}  // namespace kestrave::testing
