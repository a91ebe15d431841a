#include "main_window.h"

#include "messages.h"
#include "options_dialog.h"
#include "program.h"
#include "saved_form.h"

namespace kestrave {
namespace {

constexpr wchar_t kMainTitle[] = L"Kestrave v1.0";
constexpr COLORREF kCaptionColor = RGB(90, 180, 250);
constexpr COLORREF kFieldColor = RGB(60, 120, 250);

struct ButtonPlace {
    const wchar_t* name;
    TwipsRect place;
    const wchar_t* toolTip;
};

}  // namespace

MainWindow::MainWindow(Options& options)
    // Client 4800 x 6090 twips at the design place; the window has no border to add.
    : Form(kMainTitle, TwipsRect{5685, 3375, 4800, 6090}), options_(options) {}

int MainWindow::ShowMessage(const std::wstring& text, int style, const std::wstring& title) {
    return ::kestrave::ShowMessage(hWnd(), text, style, title);
}

void MainWindow::CreateControls() {
    SetBackColor(RGB(255, 255, 255));
    SetBackground(Picture::FromResource(ProgramInstance(), L"MAIN_BACKGROUND"));
    const SavedForm saved = SavedForm::FromResource(L"FRMMAIN");

    // Front to back; the buttons and the list are windows of their own and so lie above the
    // labels and images, which the window draws itself.
    auto button = [&](const ButtonPlace& place) {
        Button& added = AddButton(place.name, place.place, saved.Find(place.name));
        SetWindowToolTip(added.Handle(), place.toolTip);
    };
    button({L"close1", {4380, 50, 375, 375}, L"关闭"});
    button({L"注册", {3500, 2200, 1215, 345}, L"注册控件"});
    lstOcx_ = &AddListBox({480, 2640, 2655, 1650});
    button({L"卸载", {3500, 2640, 1215, 350}, L"卸载控件"});
    button({L"添加", {3500, 3720, 1215, 345}, L"添加控件"});
    button({L"删除", {3500, 4160, 1215, 345}, L"删除控件"});
    button({L"帮助", {3500, 5640, 1215, 345}, L"如何使用"});
    button({L"列表", {3500, 3270, 1215, 345}, L"控件列表"});
    button({L"清空", {3500, 4600, 1215, 345}, L"清空列表"});
    button({L"设置", {3480, 5205, 1215, 345}, L"设置选项"});
    myFile_ = &AddLabel(L"myFile", -1, {1560, 5040, 1620, 200});
    txtOcxCount_ = &AddLabel(L"txt_ocxCount", -1, {1800, 5440, 1455, 255});
    yiDong_ = &AddImage(L"YiDong", -1, {30, 0, 4200, 465});
    myCaption_ = &AddLabel(L"myCaption", -1, {360, 120, 3735, 255});
    myCaption_->SetCaption(kMainTitle);
    myCaption_->SetFont(MakeFont(FontDescription{.points = 10.5}));

    display_ = std::make_unique<FormQueueDisplay>(*lstOcx_, *txtOcxCount_, *myFile_);
    queue_ = std::make_unique<ServerList>(*display_);
}

void MainWindow::OnLoad() {
    myCaption_->SetForeColor(kCaptionColor);
    lstOcx_->SetForeColor(kFieldColor);
    myFile_->SetForeColor(kFieldColor);
    txtOcxCount_->SetForeColor(kFieldColor);
    txtOcxCount_->SetCaption(L"0");
    SetTopmost(true);
    myFile_->SetCaption(kEmptyFolderCaption);
}

void MainWindow::OnControlMouseMove(WindowlessControl& control, MouseArgs& args) {
    // Exactly the left button: the window follows the mouse as if its title bar were held.
    if (&control == yiDong_ && args.button == 1)
        StartDrag();
}

void MainWindow::OnButtonClick(Button& button) {
    const std::wstring& name = button.Name();
    if (name == L"close1")
        EndProgram();
    if (name == L"注册")
        RegisterAll(*queue_, options_, *this, hosts_);
    if (name == L"卸载")
        UnregisterAll(*queue_, options_, *this, hosts_);
    if (name == L"添加")
        AddServerFile(*queue_, *this, lastFolder_, options_);
    if (name == L"列表")
        AddServerFolder(*queue_, *this);
    if (name == L"删除")
        queue_->DeleteSelected();
    if (name == L"清空")
        queue_->ClearList();
    if (name == L"设置" && dialog_)
        dialog_->Open(OptionsDialog::Mode::Options);
    if (name == L"帮助" && dialog_)
        dialog_->Open(OptionsDialog::Mode::Help);
}

void MainWindow::OnCloseRequest() {
    EndProgram();
}

}  // namespace kestrave
