#include "options_dialog.h"

#include <vector>

#include "main_window.h"
#include "program.h"
#include "saved_buttons.h"
#include "system_folders.h"

namespace kestrave {
namespace {

constexpr COLORREF kCaptionColor = RGB(90, 180, 250);
constexpr COLORREF kRowColor = RGB(0, 0, 255);

constexpr const wchar_t* kRowTexts[kOptionFlagCount] = {L"注册后删除原文件", L"卸载后删除原文件",
                                                        L"程序显示在最顶端", L"控件丢失时提示",
                                                        L"添加控件时保留上一次选择的文件夹"};
constexpr const wchar_t* kRowToolTips[kOptionFlagCount] = {
    L"此文件是您选择要注册的文件", L"此文件是复制到系统中的控件", L"",
    L"如果注册途中控件原文件被您删除时提示", L""};

}  // namespace

// In the order the buttons were placed on the dialog.
const Command<OptionsDialog> OptionsDialog::kCommands[] = {
    {L"确认",
     {600, 3960, 1095, 375},
     L"",
     SavedCommandButton(L"确 认"),
     &OptionsDialog::Confirm,
     &OptionsDialog::confirm_},
    // No tooltip here, but screen readers still need a name for it.
    {L"close1",
     {3280, 50, 375, 375},
     L"",
     kSavedCloseButton,
     &OptionsDialog::Cancel,
     nullptr,
     L"关闭"},
    {L"取消",
     {2040, 3960, 1095, 375},
     L"",
     SavedCommandButton(L"取 消"),
     &OptionsDialog::Cancel,
     &OptionsDialog::cancel_},
};

OptionsDialog::OptionsDialog(Options& options, MainWindow& mainWindow)
    : Form(L"", TwipsRect{0, 0, 3720, 4575}), options_(options), mainWindow_(mainWindow) {}

ListBox& OptionsDialog::FolderList() {
    Load();
    return *ocxTo_;
}
Image& OptionsDialog::CheckBox(int row) {
    Load();
    return *checkIt_.at(row);
}
Label& OptionsDialog::RowLabel(int row) {
    Load();
    return *myCheck_.at(row);
}
Image& OptionsDialog::HelpPicture() {
    Load();
    return *imgHelp_;
}
Label& OptionsDialog::CaptionLabel() {
    Load();
    return *myCaption_;
}

void OptionsDialog::CreateControls() {
    SetBackground(LoadPicture(L"DIALOG_BACKGROUND"));
    auto rowLabel = [&](int row, const TwipsRect& place) {
        Label& label = AddLabel(L"myCheck", row, place);
        label.SetCaption(kRowTexts[row]);
        label.SetForeColor(kRowColor);
        label.SetToolTipText(kRowToolTips[row]);
        AddFocusStop(label);
        myCheck_[row] = &label;
    };
    auto checkBox = [&](int row, const TwipsRect& place) {
        checkIt_[row] = &AddImage(L"checkIt", row, place);
    };

    // Front to back.
    ocxTo_ = &AddListBox({360, 1200, 3015, 390});
    ocxTo_->SetForeColor(RGB(0, 0, 255));
    ocxTo_->SetBackColor(RGB(255, 255, 255));
    AddCommands<OptionsDialog>(*this, kCommands);
    checkBox(4, {360, 3310, 270, 285});
    checkBox(3, {360, 2950, 270, 285});
    rowLabel(4, {720, 3360, 2535, 375});
    rowLabel(3, {720, 3000, 1815, 255});
    checkBox(2, {360, 2595, 270, 285});
    checkBox(1, {360, 2235, 270, 285});
    checkBox(0, {360, 1860, 270, 285});
    rowLabel(2, {720, 2640, 1815, 255});
    rowLabel(1, {720, 2280, 1815, 255});
    rowLabel(0, {720, 1920, 1815, 255});
    myCheck2_ = &AddImage(L"myCheck2", -1, {480, 480, 270, 285});
    myCheck2_->SetPicture(LoadPicture(L"CHECK_TICKED"));
    myCheck1_ = &AddImage(L"myCheck1", -1, {120, 480, 270, 285});
    myCheck1_->SetPicture(LoadPicture(L"CHECK_EMPTY"));
    to_ = &AddLabel(L"to", -1, {360, 840, 1095, 255});
    to_->SetCaption(L"文件注册到:");
    to_->SetForeColor(kRowColor);
    yiDong_ = &AddImage(L"YiDong", -1, {50, 0, 3240, 465});
    myCaption_ = &AddLabel(L"myCaption", -1, {600, 120, 2535, 255});
    myCaption_->SetFont(MakeFont(FontDescription{.points = 10.5}));
    myCaption_->SetAlignment(Alignment::Center);
    imgHelp_ = &AddImage(L"imgHelp", -1, {0, 0, 3720, 4575});
    imgHelp_->SetPicture(LoadPicture(L"HELP_PAGE"));

    // As designed: row 0 empty, rows 1 to 4 ticked.
    for (int row = 0; row < kOptionFlagCount; ++row) {
        checkIt_[row]->SetPicture(row == 0 ? myCheck1_->Picture() : myCheck2_->Picture());
    }
}

void OptionsDialog::OnLoad() {
    Resize(3720, 4575);
    myCheck1_->SetVisible(false);
    myCheck2_->SetVisible(false);
    myCaption_->SetForeColor(kCaptionColor);
    const std::wstring windowsFolder = SystemWindowsFolder();
    ocxTo_->AddItem(windowsFolder + kSystem32Subfolder);
    ocxTo_->AddItem(windowsFolder + kSystemSubfolder);
    ocxTo_->SetListIndex(0);
    SetTopmost(true);
    // The record takes its defaults with the dialog's first load, whichever came first.
    OptionsRecord& record = options_.Record();
    ocxTo_->SetListIndex(record.FolderSelection());
    ShowChecks();
}

void OptionsDialog::Open(Mode mode) {
    const bool options = mode == Mode::Options;
    HelpPicture().SetVisible(!options);
    for (int row = 0; row < kOptionFlagCount; ++row) {
        myCheck_[row]->SetVisible(options);
        checkIt_[row]->SetVisible(options);
    }
    ocxTo_->SetVisible(options);
    to_->SetVisible(options);
    ShowWindow(confirm_->Handle(), options ? SW_SHOWNA : SW_HIDE);
    ShowWindow(cancel_->Handle(), options ? SW_SHOWNA : SW_HIDE);
    myCaption_->SetCaption(options ? L"设 置" : L"帮 助");
    if (options)
        mainWindow_.Hide();

    const double left = mainWindow_.Left() + mainWindow_.Width() / 2 - Width() / 2;
    const double top = mainWindow_.Top() + mainWindow_.Height() / 2 - Height() / 2;
    Move(left, top);
    Show();
}

void OptionsDialog::OnControlClick(WindowlessControl& control) {
    if (control.Name() == L"checkIt" || control.Name() == L"myCheck")
        Toggle(control.Index());
}

void OptionsDialog::OnControlMouseMove(WindowlessControl& control, MouseArgs& args) {
    if (&control == yiDong_ && args.button == 1)
        StartDrag();
}

bool OptionsDialog::OnKeyDown(UINT key, HWND, WindowlessControl* focusedControl) {
    const bool optionsPage = ocxTo_->Visible();
    switch (key) {
        case VK_ESCAPE:
            Cancel();
            return true;
        case VK_RETURN:
            // The help page has no 确认: Enter closes it as Esc does.
            if (optionsPage)
                Confirm();
            else
                Cancel();
            return true;
        case VK_SPACE:
            if (!focusedControl)
                return false;
            Toggle(focusedControl->Index());
            return true;
        default:
            return false;
    }
}

void OptionsDialog::Toggle(int row) {
    options_.Record().TogglePending(row);
    ShowChecks();
}

void OptionsDialog::ShowChecks() {
    const OptionsRecord& record = options_.Record();
    for (int row = 0; row < kOptionFlagCount; ++row) {
        checkIt_[row]->SetPicture(record.PendingFlag(row) != 0 ? myCheck2_->Picture()
                                                               : myCheck1_->Picture());
    }
}

void OptionsDialog::Confirm() {
    OptionsRecord& record = options_.Record();
    record.SelectFolder(ocxTo_->ListIndex() == 0 ? 0 : 1);
    record.Commit();
    const bool stayOnTop = record.IsOn(OptionFlag::StayOnTop);
    SetTopmost(stayOnTop);
    mainWindow_.SetTopmost(stayOnTop);
    Hide();
    mainWindow_.Show();
}

void OptionsDialog::Cancel() {
    if (ocxTo_->Visible()) {
        OptionsRecord& record = options_.Record();
        record.Revert();
        ocxTo_->SetListIndex(record.FolderSelection());
        ShowChecks();
    }
    Hide();
    mainWindow_.Show();
}

}  // namespace kestrave
