// The windows used through the real keyboard, and files dropped on the main window.
#include "window_fixture.h"

namespace kestrave::testing {
namespace {

// Client pixels of the dialog's controls (as in the dialog's own tests).
constexpr POINT kDialogCancel{172, 276};
POINT CheckBox(int row) {
    return POINT{33, 133 + 24 * row};
}

class KeyboardEndToEnd : public MainWindowEndToEnd {
  protected:
    // A click on the window's background: the window is active and no control has the focus.
    void Activate(HWND window) {
        program_->Click(window, window == Main() ? POINT{150, 100} : POINT{200, 140});
    }
    bool FocusBecomes(HWND expected) {
        return ProgramDriver::WaitFor([&] { return program_->Focus() == expected; }, 3000);
    }
    HWND ShownDialog() {
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
};

TEST_F(KeyboardEndToEnd, TabAndShiftTabVisitTheButtonsAndTheListInScreenOrder) {
    const std::vector<HWND> order = {program_->ChildAt(Main(), kClose),
                                     program_->ChildAt(Main(), kRegister),
                                     list_,
                                     program_->ChildAt(Main(), kUnregister),
                                     program_->ChildAt(Main(), kFolderAdd),
                                     program_->ChildAt(Main(), kAdd),
                                     program_->ChildAt(Main(), kDelete),
                                     program_->ChildAt(Main(), kClear),
                                     program_->ChildAt(Main(), kSettings),
                                     program_->ChildAt(Main(), kHelp)};
    for (HWND stop : order)
        ASSERT_NE(stop, Main());
    Activate(Main());
    for (size_t i = 0; i < order.size(); ++i) {
        program_->PressKeys({VK_TAB});
        ASSERT_TRUE(FocusBecomes(order[i])) << "stop " << i;
    }
    program_->PressKeys({VK_TAB});
    EXPECT_TRUE(FocusBecomes(order.front())) << "round to the first";
    program_->PressKeys({VK_TAB}, true);
    EXPECT_TRUE(FocusBecomes(order.back())) << "Shift+Tab goes back";
    program_->PressKeys({VK_TAB, VK_TAB}, true);
    EXPECT_TRUE(FocusBecomes(order[order.size() - 3]));
}

TEST_F(KeyboardEndToEnd, EnterAndSpaceOnAFocusedButtonRunItsCommandAndEscCancelsTheDialog) {
    Activate(Main());
    program_->PressKeys({VK_TAB}, true);  // from the end: 帮助
    ASSERT_TRUE(FocusBecomes(program_->ChildAt(Main(), kHelp)));
    program_->PressKeys({VK_SPACE});
    HWND dialog = ShownDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(program_->Visible(Main())) << "help leaves the main window";
    program_->PressKeys({VK_ESCAPE});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return !program_->Visible(dialog); }));

    Activate(Main());
    program_->PressKeys({VK_TAB, VK_TAB}, true);  // 设置
    ASSERT_TRUE(FocusBecomes(program_->ChildAt(Main(), kSettings)));
    program_->PressKeys({VK_RETURN});
    ASSERT_EQ(ShownDialog(), dialog);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return !program_->Visible(Main()); }));
    program_->PressKeys({VK_ESCAPE});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));
    EXPECT_FALSE(program_->Visible(dialog));
}

TEST_F(KeyboardEndToEnd, SpaceTogglesTheFocusedRowEnterConfirmsAndAFocusedCancelCancels) {
    program_->ClickButton(Main(), kSettings);
    HWND dialog = ShownDialog();
    ASSERT_NE(dialog, nullptr);
    Activate(dialog);
    // close1, the folder list, then the rows.
    program_->PressKeys({VK_TAB, VK_TAB, VK_TAB});
    ASSERT_TRUE(FocusBecomes(dialog)) << "a row's focus is the dialog's own";
    program_->PressKeys({VK_SPACE});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Glyph(dialog, 0) == L"CHECK_TICKED"; }));
    program_->PressKeys({VK_TAB, VK_SPACE});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Glyph(dialog, 1) == L"CHECK_EMPTY"; }));
    program_->PressKeys({VK_RETURN});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));
    EXPECT_FALSE(program_->Visible(dialog));

    program_->ClickButton(Main(), kSettings);
    ASSERT_EQ(ShownDialog(), dialog);
    EXPECT_EQ(Glyph(dialog, 0), L"CHECK_TICKED") << "confirmed";
    EXPECT_EQ(Glyph(dialog, 1), L"CHECK_EMPTY");
    Activate(dialog);
    // The dialog kept its focus on row 1; one back is row 0, which goes off again.
    program_->PressKeys({VK_TAB}, true);
    program_->PressKeys({VK_SPACE});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Glyph(dialog, 0) == L"CHECK_EMPTY"; }));
    program_->PressKeys({VK_TAB}, true);  // from the row back round to 取消
    program_->PressKeys({VK_TAB}, true);
    program_->PressKeys({VK_TAB}, true);
    ASSERT_TRUE(FocusBecomes(program_->ChildAt(dialog, kDialogCancel)));
    program_->PressKeys({VK_RETURN});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));

    program_->ClickButton(Main(), kSettings);
    ASSERT_EQ(ShownDialog(), dialog);
    EXPECT_EQ(Glyph(dialog, 0), L"CHECK_TICKED") << "Enter on 取消 cancels, not confirms";
}

TEST_F(KeyboardEndToEnd, DeleteRemovesTheSelectedRowOnly) {
    const std::wstring folder = sources_ / L"ocx";
    AddFile(folder + L"\\a.ocx");
    AddFile(folder + L"\\c.dll");
    AddFile(folder + L"\\b.OCX");
    ASSERT_EQ(Rows().size(), 3u);
    SelectRow(1);
    program_->PressKeys({VK_DELETE});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 2; }));
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{folder + L"\\a.ocx", folder + L"\\b.OCX"}));
    EXPECT_EQ(Count(), L"2");
    program_->PressKeys({VK_DELETE});  // the row that moved up is selected now
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 1; }));
    program_->PressKeys({VK_DELETE});  // nothing selected: nothing happens
    Sleep(200);
    EXPECT_EQ(Rows(), std::vector<std::wstring>{folder + L"\\a.ocx"});
}

TEST_F(KeyboardEndToEnd, DroppedServerFilesAreAddedOnceAndOtherFilesLeft) {
    const std::wstring folder = sources_ / L"ocx";
    const std::wstring text = sources_ / L"readme.txt";
    WriteTextFile(text, "x");
    program_->DropFiles(Main(),
                        {folder + L"\\a.ocx", text, folder + L"\\c.dll", folder + L"\\a.ocx"});
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 2; }));
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{folder + L"\\a.ocx", folder + L"\\c.dll"}));
    EXPECT_EQ(Count(), L"2");
    EXPECT_EQ(Folder(), folder);

    // A folder with a queue: the question of 列表 first; No starts the list afresh. Its hidden
    // d.ocx is queued too, as a dropped file is.
    program_->DropFiles(Main(), {folder});
    OpenedDialog question = program_->WaitForDialog(kTitle);
    ASSERT_TRUE(question);
    EXPECT_EQ(question.text, L"是否继续添加?");
    program_->Press(question, IDNO);
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return Rows().size() == 3 && Count() == L"3"; }));
    auto rows = Rows();
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::wstring>{L"a.ocx", L"b.OCX", L"d.ocx"}));
    EXPECT_TRUE(program_->Visible(Main()));
}

}  // namespace
}  // namespace kestrave::testing
