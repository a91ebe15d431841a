// The main window used through the real mouse, with the real dialogs, against a temporary
// Windows folder and real test servers.
#include "window_fixture.h"

namespace kestrave::testing {
namespace {

TEST_F(MainWindowEndToEnd, StartsEmptyTopmostWithItsLabels) {
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(Count(), L"0");
    EXPECT_EQ(Folder(), L"空");
    EXPECT_TRUE(program_->Topmost(Main()));
    EXPECT_EQ(program_->Dialog(), nullptr) << "the options dialog loads only when touched";
    const LONG style = GetWindowLongW(Main(), GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME), 0);
    RECT client{};
    GetClientRect(Main(), &client);
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 406);
}

TEST_F(MainWindowEndToEnd, AddsAFileOnceAndNothingOnCancel) {
    const std::wstring a = sources_ / L"ocx\\a.ocx";
    AddFile(a);
    EXPECT_EQ(Rows(), std::vector<std::wstring>{a});
    EXPECT_EQ(Count(), L"1");
    AddFile(a);  // the same full path again
    EXPECT_EQ(Rows(), std::vector<std::wstring>{a});
    AddFile(L"");
    EXPECT_EQ(Rows(), std::vector<std::wstring>{a});
    EXPECT_EQ(Count(), L"1");
    EXPECT_EQ(Folder(), L"空") << "adding single files leaves the folder label alone";
}

TEST_F(MainWindowEndToEnd, AddsTheOcxFilesOfAFolder) {
    const std::wstring folder = sources_ / L"ocx";
    AddFolder(0, folder);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 2; }));
    auto rows = Rows();
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::wstring>{L"a.ocx", L"b.OCX"}));
    EXPECT_EQ(Count(), L"2");
    EXPECT_EQ(Folder(), folder);

    // The same folder again, keeping the list: the notice, and nothing added.
    AddFolder(IDYES, folder);
    OpenedDialog notice = program_->WaitForDialog(kTitle);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice.text, L"此路径和上一个路径相同,请选择其他路径.");
    program_->Press(notice, IDOK);
    EXPECT_EQ(Rows().size(), 2u);

    // Cancel changes nothing; No empties the list before adding the folder again.
    AddFolder(IDCANCEL, L"");
    EXPECT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));
    EXPECT_EQ(Rows().size(), 2u);
    AddFolder(IDNO, folder);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 2 && Count() == L"2"; }));
    EXPECT_EQ(Folder(), folder);
}

TEST_F(MainWindowEndToEnd, DeletesTheSelectedRowAndClears) {
    const std::wstring folder = sources_ / L"ocx";
    AddFile(folder + L"\\c.dll");
    AddFolder(IDYES, folder);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 3; }));
    const auto before = Rows();

    program_->ClickButton(Main(), kDelete);  // nothing selected: nothing happens
    EXPECT_EQ(Rows(), before);

    SelectRow(1);  // the middle row: the next one moves up and is selected
    program_->ClickButton(Main(), kDelete);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 2; }));
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{before[0], before[2]}));
    EXPECT_EQ(program_->SelectedRow(list_), 1);
    EXPECT_EQ(Count(), L"2");

    program_->ClickButton(Main(), kDelete);  // the last row: nothing selected after
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 1; }));
    EXPECT_EQ(program_->SelectedRow(list_), -1);
    EXPECT_EQ(Folder(), folder);

    program_->ClickButton(Main(), kClear);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().empty(); }));
    EXPECT_EQ(Count(), L"0");
    EXPECT_EQ(Folder(), L"空");
}

TEST_F(MainWindowEndToEnd, RegistersAndUnregistersTheQueue) {
    const std::wstring system32 = windows_ / L"System32";
    AddFolder(0, sources_ / L"ocx");
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 2; }));

    program_->ClickButton(Main(), kRegister);
    EXPECT_EQ(ClosingMessage(), L"所有控件已经注册完毕!");
    for (const wchar_t* name : {L"a.ocx", L"b.OCX"}) {
        EXPECT_TRUE(FileExists(system32 + L"\\" + name)) << name;
        EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, TestServerClsidKey(name))) << name;
        EXPECT_TRUE(FileExists(sources_ / (std::wstring(L"ocx\\") + name))) << "source kept";
    }
    EXPECT_EQ(Rows().size(), 2u) << "the queue is unchanged";

    program_->ClickButton(Main(), kUnregister);
    EXPECT_EQ(ClosingMessage(), L"所有控件已经卸载完毕!");
    for (const wchar_t* name : {L"a.ocx", L"b.OCX"}) {
        EXPECT_FALSE(FileExists(system32 + L"\\" + name)) << "copy deleted by default";
        EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, TestServerClsidKey(name))) << name;
    }
}

TEST_F(MainWindowEndToEnd, ReportsASourceThatVanished) {
    const std::wstring e = sources_ / L"e.ocx";
    CopyOrFail(TestServerPath(L"good_server.dll"), e);
    AddFile(sources_ / L"ocx\\a.ocx");
    AddFile(e);
    DeleteFileW(e.c_str());
    program_->ClickButton(Main(), kRegister);
    // The path is shortened where the message box would have wrapped it, and then the complete
    // report is on the clipboard.
    const std::wstring message = ClosingMessage();
    EXPECT_EQ(message.rfind(L"注意:有以下1个控件注册不了,其他控件注册完毕!\r\n\r\nC:\\", 0), 0u);
    const std::wstring line = L"\\e.ocx\r\n\r\n原因:控件原文件丢失";
    const size_t at = message.find(line);
    ASSERT_NE(at, std::wstring::npos);
    const std::wstring after = message.substr(at + line.size());
    EXPECT_TRUE(after.empty() || after == L"\r\n\r\n完整报告已复制到剪贴板");
}

TEST_F(MainWindowEndToEnd, DragsByTheCaptionStripOnlyWithTheLeftButton) {
    const RECT start = program_->WindowRect(Main());
    program_->Drag(Main(), kListPoint, POINT{kListPoint.x + 40, kListPoint.y + 30});
    EXPECT_EQ(program_->WindowRect(Main()).left, start.left) << "the list does not drag";
    program_->Drag(Main(), POINT{200, 250}, POINT{240, 280});
    program_->Drag(Main(), kCaption, POINT{kCaption.x + 40, kCaption.y + 30}, true);
    EXPECT_EQ(program_->WindowRect(Main()).left, start.left) << "the right button does not drag";

    program_->Drag(Main(), kCaption, POINT{kCaption.x + 40, kCaption.y + 30});
    ASSERT_TRUE(
        ProgramDriver::WaitFor([&] { return program_->WindowRect(Main()).left != start.left; }));
    const RECT moved = program_->WindowRect(Main());
    // The window follows the mouse; the last few pixels may still be on their way.
    EXPECT_GT(moved.left - start.left, 20);
    EXPECT_GT(moved.top - start.top, 15);
}

// The environment is the user's, which any program of the user can change: the copies go to
// the system's own folder whatever windir says.
TEST_F(MainWindowEndToEnd, CopiesIntoTheSystemsFolderWhateverTheEnvironmentSays) {
    TempFolder otherWindows;
    TempFolder otherProgramData;
    MakeFolder(otherWindows / L"System32");
    program_.reset();
    program_ = std::make_unique<ProgramDriver>(
        std::vector<ProgramDriver::Variable>{{L"windir", otherWindows.Path()},
                                             {L"SystemRoot", otherWindows.Path()},
                                             {L"ProgramData", otherProgramData.Path()}});
    ASSERT_NE(Main(), nullptr);
    list_ = program_->ListBox(Main());

    program_->DropFiles(Main(), {sources_ / L"ocx\\a.ocx"});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 1; }));
    program_->ClickButton(Main(), kRegister);
    EXPECT_EQ(ClosingMessage(), L"所有控件已经注册完毕!");
    EXPECT_TRUE(FileExists(windows_ / L"System32\\a.ocx"));
    EXPECT_FALSE(FileExists(otherWindows / L"System32\\a.ocx"));
}

TEST_F(MainWindowEndToEnd, CloseEndsTheProgramAtOnceWithFilesQueued) {
    AddFile(sources_ / L"ocx\\a.ocx");
    program_->ClickButton(Main(), kClose);
    EXPECT_EQ(program_->WaitForExit(10000), 0u);
    EXPECT_TRUE(program_->WaitUntilNoDialog(100));
}

}  // namespace
// The 32-bit program registers a 64-bit server through the 64-bit host it carries: the keys go
// into the 64-bit registry view.
TEST_F(MainWindowEndToEnd, RegistersA64BitServerThroughTheHostItCarries) {
    const std::wstring server64 = TestServerPath(L"good_server64.dll");
    if (!FileExists(server64))
        GTEST_SKIP() << "no 64-bit test server in this build";
    const std::wstring source = sources_ / L"wide.ocx";
    CopyOrFail(server64, source);
    program_->DropFiles(Main(), {source});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 1; }));

    program_->ClickButton(Main(), kRegister);
    EXPECT_EQ(ClosingMessage(), L"所有控件已经注册完毕!");
    HKEY key = nullptr;
    const std::wstring server = TestServerClsidKey(L"wide.ocx") + L"\\InprocServer32";
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    RegDeleteKeyExW(HKEY_CLASSES_ROOT, server.c_str(), KEY_WOW64_64KEY, 0);
    RegDeleteKeyExW(HKEY_CLASSES_ROOT, TestServerClsidKey(L"wide.ocx").c_str(), KEY_WOW64_64KEY, 0);
}

}  // namespace kestrave::testing
