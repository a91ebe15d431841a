#include "main_window.h"

#include "batch_report.h"
#include "fatal_error.h"

#include "messages.h"
#include "options_dialog.h"
#include "program.h"
#include "saved_buttons.h"

namespace kestrave {
namespace {

constexpr wchar_t kMainTitle[] = L"Kestrave v1.0";
constexpr COLORREF kCaptionColor = RGB(90, 180, 250);
constexpr COLORREF kFieldColor = RGB(60, 120, 250);

}  // namespace

// In the order the buttons were placed on the window.
const Command<MainWindow> MainWindow::kCommands[] = {
    {L"close1",
     {4380, 50, 375, 375},
     L"关闭",
     kSavedCloseButton,
     &MainWindow::Close,
     &MainWindow::close1_},
    {L"注册",
     {3500, 2200, 1215, 345},
     L"注册控件",
     SavedCommandButton(L"注 册"),
     &MainWindow::Register},
    {L"卸载",
     {3500, 2640, 1215, 350},
     L"卸载控件",
     SavedCommandButton(L"卸 载"),
     &MainWindow::Unregister},
    {L"添加",
     {3500, 3720, 1215, 345},
     L"添加控件",
     SavedCommandButton(L"添 加"),
     &MainWindow::AddFile},
    {L"删除",
     {3500, 4160, 1215, 345},
     L"删除控件",
     SavedCommandButton(L"删 除"),
     &MainWindow::DeleteRow},
    {L"帮助",
     {3500, 5640, 1215, 345},
     L"如何使用",
     SavedCommandButton(L"帮 助"),
     &MainWindow::OpenHelp},
    {L"列表",
     {3500, 3270, 1215, 345},
     L"控件列表",
     SavedCommandButton(L"列 表"),
     &MainWindow::AddFolder},
    {L"清空",
     {3500, 4600, 1215, 345},
     L"清空列表",
     SavedCommandButton(L"清 空"),
     &MainWindow::ClearQueue},
    {L"设置",
     {3480, 5205, 1215, 345},
     L"设置选项",
     SavedCommandButton(L"设 置"),
     &MainWindow::OpenOptions},
};

MainWindow::MainWindow(Options& options)
    // Client 4800 x 6090 twips at the design place; the window has no border to add.
    : Form(kMainTitle, TwipsRect{5685, 3375, 4800, 6090}), options_(options) {
    // The program ends with ExitProcess, and a fatal error anywhere ends it too: neither runs
    // this window's destructor, so the hosts' folder would stay behind without this.
    SetLastAction([this] { EndHosts(); });
}

MainWindow::~MainWindow() {
    SetLastAction({});
    EndHosts();
}

void MainWindow::EndHosts() {
    // The hosts first: a running host's image cannot be deleted.
    hosts_.reset();
    hostImages_.reset();
}

int MainWindow::ShowMessage(const std::wstring& text, int style, const std::wstring& title) {
    return ::kestrave::ShowMessage(hWnd(), text, style, title);
}

void MainWindow::CreateControls() {
    SetBackColor(RGB(255, 255, 255));
    SetBackground(LoadPicture(L"MAIN_BACKGROUND"));

    // Front to back; the list and the buttons are windows of their own and so lie above the
    // labels and images, which the window draws itself.
    lstOcx_ = &AddListBox({480, 2640, 2655, 1650});
    AddCommands<MainWindow>(*this, kCommands);
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
    AcceptDroppedFiles();
}

void MainWindow::OnControlMouseMove(WindowlessControl& control, MouseArgs& args) {
    // Exactly the left button: the window follows the mouse as if its title bar were held.
    if (&control == yiDong_ && args.button == 1)
        StartDrag();
}

bool MainWindow::OnKeyDown(UINT key, HWND focus, WindowlessControl*) {
    if (key != VK_DELETE || focus != lstOcx_->Handle() || lstOcx_->ListIndex() < 0)
        return false;
    DeleteRow();
    return true;
}

void MainWindow::OnDropFiles(const std::vector<std::wstring>& paths) {
    // A drop that was on its way when the batch began, or was sent to the window directly:
    // the window takes none while the batch runs (and shows so), so this one is dropped too.
    if (batchRunning_)
        return;
    AddDroppedPaths(*queue_, *this, paths);
    StartHostAhead();
}

void MainWindow::OnCloseRequest() {
    Close();
}

void MainWindow::Close() {
    if (!batchRunning_)
        EndProgram();
    // The batch stops after the file in hand; the program ends after its closing message.
    stopWanted_ = true;
    endAfterBatch_ = true;
}

template <typename Batch>
void MainWindow::RunBatch(Batch batch) {
    if (batchRunning_)
        return;
    batchRunning_ = true;
    stopWanted_ = false;
    RefuseDroppedFiles(true);
    measure_ = MessageTextMeasure(hWnd());
    batch();
    RefuseDroppedFiles(false);
    batchRunning_ = false;
    if (endAfterBatch_)
        EndProgram();
}

void MainWindow::Register() {
    RunBatch([this] { RegisterAll(*queue_, options_, *this, *hosts_); });
}

void MainWindow::Unregister() {
    RunBatch([this] { UnregisterAll(*queue_, options_, *this, *hosts_); });
}

void MainWindow::AddFile() {
    if (batchRunning_)
        return;
    AddServerFile(*queue_, *this, lastFolder_, options_);
    StartHostAhead();
}

void MainWindow::AddFolder() {
    if (batchRunning_)
        return;
    AddServerFolder(*queue_, *this);
    StartHostAhead();
}

void MainWindow::StartHostAhead() {
    // Most servers have the program's bitness; a host of the other one starts with its first
    // file. Starting one is quick: the process gets ready on its own while the user goes on.
    // Never during a batch, whose wait may be using the host that a start would replace.
    if (!batchRunning_ && queue_->Count() > 0)
        hosts_->StartAhead(kProgramImageKind);
}

void MainWindow::DeleteRow() {
    if (!batchRunning_)
        queue_->DeleteSelected();
}

void MainWindow::ClearQueue() {
    if (!batchRunning_)
        queue_->ClearList();
}

void MainWindow::OpenOptions() {
    if (dialog_ && !batchRunning_)
        dialog_->Open(OptionsDialog::Mode::Options);
}

DWORD MainWindow::WaitForHost(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= until ? 0 : static_cast<DWORD>(until - now);
        const DWORD woken =
            MsgWaitForMultipleObjectsEx(count, handles, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken != WAIT_OBJECT_0 + count)
            return woken;
        PumpDuringBatch();
    }
}

DWORD MainWindow::WaitPainting(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= until ? 0 : static_cast<DWORD>(until - now);
        const DWORD woken = MsgWaitForMultipleObjectsEx(count, handles, left, QS_PAINT, 0);
        if (woken != WAIT_OBJECT_0 + count)
            return woken;
        MSG message{};
        while (PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE))
            DispatchMessageW(&message);
    }
}

void MainWindow::PumpDuringBatch() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        switch (ClassifyDuringBatch(message, close1_ ? close1_->Handle() : nullptr)) {
            case BatchInput::Deliver:
                TranslateMessage(&message);
                DispatchMessageW(&message);
                break;
            case BatchInput::Stop:
                stopWanted_ = true;
                break;
            case BatchInput::StopAndEnd:
                Close();
                break;
            case BatchInput::Ignore:
                break;
        }
    }
}

void MainWindow::ShowProgress(int number, int total, bool unregister) {
    // The window's own title follows the caption, so the taskbar button names the progress too.
    if (number <= 0) {
        myCaption_->SetCaption(kMainTitle);
        SetWindowTextW(hWnd(), kMainTitle);
        taskbar_.Clear(hWnd());
        return;
    }
    const std::wstring caption = ProgressCaption(number, total, unregister);
    myCaption_->SetCaption(caption);
    SetWindowTextW(hWnd(), caption.c_str());
    taskbar_.Show(hWnd(), number - 1, total);
    UpdateWindow(hWnd());
}

std::wstring MainWindow::FitLine(const std::wstring& path, const std::wstring& reason) {
    return measure_.FitLine(path, reason);
}

bool MainWindow::PutOnClipboard(const std::wstring& text) {
    return CopyTextToClipboard(hWnd(), text);
}

void MainWindow::OpenHelp() {
    if (dialog_)
        dialog_->Open(OptionsDialog::Mode::Help);
}

}  // namespace kestrave
