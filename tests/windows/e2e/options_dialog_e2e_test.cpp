// The options and help dialog used through the real mouse.
#include "window_fixture.h"

namespace kestrave::testing {
namespace {

// Client pixels of the dialog's controls.
constexpr POINT kConfirm{76, 276};
constexpr POINT kCancel{172, 276};
constexpr POINT kDialogClose{231, 15};
constexpr POINT kFirstFolder{60, 86};
POINT CheckBox(int row) {
    return POINT{33, 133 + 24 * row};
}
POINT RowText(int row) {
    return POINT{80, 136 + 24 * row};
}

class OptionsDialogEndToEnd : public MainWindowEndToEnd {
  protected:
    HWND OpenDialog(POINT command) {
        program_->ClickButton(Main(), command);
        HWND dialog = nullptr;
        EXPECT_TRUE(ProgramDriver::WaitFor([&] {
            dialog = program_->Dialog();
            return dialog && program_->Visible(dialog);
        }));
        return dialog;
    }
    std::wstring Glyph(HWND dialog, int row) const {
        return program_->ControlText(dialog, CheckBox(row));
    }
    HWND FolderList(HWND dialog) const { return program_->ListBox(dialog); }
    void ChooseSecondFolder(HWND dialog) {
        program_->Click(dialog, kFirstFolder);
        INPUT keys[2]{};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_DOWN;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, keys, sizeof(INPUT));
        ASSERT_TRUE(
            ProgramDriver::WaitFor([&] { return program_->SelectedRow(FolderList(dialog)) == 1; }));
    }
};

TEST_F(OptionsDialogEndToEnd, CancelCommitsNothing) {
    HWND dialog = OpenDialog(kSettings);
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(program_->Visible(Main())) << "options mode hides the main window";
    EXPECT_EQ(program_->Rows(FolderList(dialog)),
              (std::vector<std::wstring>{windows_.Path() + L"\\System32\\",
                                         windows_.Path() + L"\\System\\"}));
    EXPECT_EQ(Glyph(dialog, 0), L"CHECK_EMPTY");
    for (int row = 1; row < 5; ++row)
        EXPECT_EQ(Glyph(dialog, row), L"CHECK_TICKED") << row;

    program_->Click(dialog, CheckBox(0));
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Glyph(dialog, 0) == L"CHECK_TICKED"; }));
    ChooseSecondFolder(dialog);
    program_->ClickButton(dialog, kCancel);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));
    EXPECT_FALSE(program_->Visible(dialog));

    OpenDialog(kSettings);
    EXPECT_EQ(Glyph(dialog, 0), L"CHECK_EMPTY");
    EXPECT_EQ(program_->SelectedRow(FolderList(dialog)), 0);

    // The close button cancels the same way.
    program_->Click(dialog, RowText(0));
    program_->ClickButton(dialog, kDialogClose);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));
    OpenDialog(kSettings);
    EXPECT_EQ(Glyph(dialog, 0), L"CHECK_EMPTY");
}

TEST_F(OptionsDialogEndToEnd, AConfirmedChangeSteersTheNextRegistration) {
    HWND dialog = OpenDialog(kSettings);
    ASSERT_NE(dialog, nullptr);
    program_->Click(dialog, RowText(0));  // the row's text toggles like its box
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Glyph(dialog, 0) == L"CHECK_TICKED"; }));
    program_->Click(dialog, RowText(3));
    program_->Click(dialog, CheckBox(3));  // twice: back to ticked
    ChooseSecondFolder(dialog);
    program_->ClickButton(dialog, kConfirm);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));

    const std::wstring source = sources_ / L"ocx\\a.ocx";
    AddFile(source);
    program_->ClickButton(Main(), kRegister);
    EXPECT_EQ(ClosingMessage(), L"所有控件已经注册完毕!");
    EXPECT_TRUE(FileExists(windows_ / L"System\\a.ocx"));
    EXPECT_FALSE(FileExists(windows_ / L"System32\\a.ocx"));
    EXPECT_FALSE(FileExists(source)) << "the source is deleted after registering";
}

TEST_F(OptionsDialogEndToEnd, StayOnTopReleasesAndRestoresBothWindows) {
    HWND dialog = OpenDialog(kSettings);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(program_->Topmost(dialog));
    program_->Click(dialog, CheckBox(2));
    program_->ClickButton(dialog, kConfirm);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));
    EXPECT_FALSE(program_->Topmost(Main()));
    EXPECT_FALSE(program_->Topmost(dialog));

    OpenDialog(kSettings);
    program_->Click(dialog, CheckBox(2));
    program_->ClickButton(dialog, kConfirm);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));
    EXPECT_TRUE(program_->Topmost(Main()));
    EXPECT_TRUE(program_->Topmost(dialog));
}

TEST_F(OptionsDialogEndToEnd, HelpLeavesTheMainWindowWorkingAndTurnsIntoOptions) {
    HWND dialog = OpenDialog(kHelp);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(program_->Visible(Main()));
    EXPECT_FALSE(program_->Visible(FolderList(dialog)));
    EXPECT_EQ(program_->ControlText(dialog, POINT{5, 300}), L"HELP_PAGE");

    OpenDialog(kSettings);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return !program_->Visible(Main()); }));
    EXPECT_TRUE(program_->Visible(FolderList(dialog)));
    program_->ClickButton(dialog, kCancel);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));

    OpenDialog(kHelp);
    program_->ClickButton(dialog, kDialogClose);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return !program_->Visible(dialog); }));
    EXPECT_TRUE(program_->Visible(Main()));
}

TEST_F(OptionsDialogEndToEnd, ACommandReadingAnOptionLoadsTheDialogHiddenWithDefaults) {
    AddFile(sources_ / L"ocx\\a.ocx");
    program_->ClickButton(Main(), kRegister);
    ClosingMessage();
    HWND dialog = program_->Dialog();
    ASSERT_NE(dialog, nullptr) << "the first option read loads the dialog";
    EXPECT_FALSE(program_->Visible(dialog));
    EXPECT_TRUE(FileExists(windows_ / L"System32\\a.ocx"));
    EXPECT_TRUE(FileExists(sources_ / L"ocx\\a.ocx"));

    OpenDialog(kSettings);
    EXPECT_EQ(Glyph(dialog, 0), L"CHECK_EMPTY");
    for (int row = 1; row < 5; ++row)
        EXPECT_EQ(Glyph(dialog, row), L"CHECK_TICKED") << row;
}

TEST_F(OptionsDialogEndToEnd, OpensCentredOnTheMainWindowWhereverItWasDragged) {
    program_->Drag(Main(), kCaption, POINT{kCaption.x - 120, kCaption.y + 60});
    HWND dialog = OpenDialog(kHelp);
    ASSERT_NE(dialog, nullptr);
    const RECT main = program_->WindowRect(Main());
    const RECT box = program_->WindowRect(dialog);
    EXPECT_NEAR((box.left + box.right) / 2.0, (main.left + main.right) / 2.0, 1.5);
    EXPECT_NEAR((box.top + box.bottom) / 2.0, (main.top + main.bottom) / 2.0, 1.5);
    EXPECT_EQ(box.right - box.left, 248);
    EXPECT_EQ(box.bottom - box.top, 305);
}

}  // namespace
}  // namespace kestrave::testing
