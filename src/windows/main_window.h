// frmMain: the queue with its count and folder, and the buttons of every command.
#pragma once

#include <memory>

#include "add_commands.h"
#include "batch.h"
#include "batch_feedback.h"
#include "form.h"
#include "options_record.h"
#include "queue_display.h"
#include "server_list.h"

namespace kestrave {

class OptionsDialog;

class MainWindow : public Form, public BatchHost, public AddHost {
  public:
    explicit MainWindow(Options& options);
    ~MainWindow() override;
    void SetOptionsDialog(OptionsDialog& dialog) { dialog_ = &dialog; }

    ServerList& Queue() { return *queue_; }

    // The window side of the commands.
    HWND MainWindowHandle() override { return hWnd(); }
    void HideMainWindow() override { Hide(); }
    void ShowMainWindow() override { Show(); }
    void SetMousePointer(int pointer) override { Form::SetMousePointer(pointer); }
    int ShowMessage(const std::wstring& text, int style, const std::wstring& title) override;

    // While a batch runs, the window keeps painting and shows how far it got; the queue, the
    // options and the window's place do not change, and Esc or the close button stop the batch
    // after the file in hand.
    DWORD WaitForHost(DWORD count, const HANDLE* handles, DWORD timeoutMs) override;
    void ShowProgress(int number, int total, bool unregister) override;
    bool StopWanted() override { return stopWanted_; }
    std::wstring FitLine(const std::wstring& path, const std::wstring& reason) override;
    bool MessageFits(const std::wstring& text) override { return measure_.Fits(text); }
    bool PutOnClipboard(const std::wstring& text) override;

  protected:
    void CreateControls() override;
    void OnLoad() override;
    void OnControlMouseMove(WindowlessControl& control, MouseArgs& args) override;
    void OnCloseRequest() override;
    bool OnKeyDown(UINT key, HWND focus, WindowlessControl* focusedControl) override;
    void OnDropFiles(const std::vector<std::wstring>& paths) override;
    // Made in the topmost band, where it starts anyway (see OnLoad).
    DWORD ExtendedStyle() const override { return WS_EX_APPWINDOW | WS_EX_TOPMOST; }

  private:
    static const Command<MainWindow> kCommands[];

    // The commands, one per button.
    void Close();
    void Register();
    void Unregister();
    void AddFile();
    void AddFolder();
    void DeleteRow();
    void ClearQueue();
    void OpenOptions();
    void OpenHelp();

    // Runs one batch command with the window held still, and ends the program afterwards when
    // the user asked to while it ran.
    template <typename Batch>
    void RunBatch(Batch batch);
    void PumpDuringBatch();
    // Waits for a host between batches (replacing one that went away, say) while the windows
    // go on painting; nothing else is handled meanwhile, so no command can start inside it.
    static DWORD WaitPainting(DWORD count, const HANDLE* handles, DWORD timeoutMs);
    void StartHostAhead();
    // Ends the hosts and removes their folder; the program's last action, however it ends.
    void EndHosts();

    Options& options_;
    OptionsDialog* dialog_ = nullptr;
    std::wstring lastFolder_;
    ListBox* lstOcx_ = nullptr;
    Label* myFile_ = nullptr;
    Label* txtOcxCount_ = nullptr;
    Image* yiDong_ = nullptr;
    Label* myCaption_ = nullptr;
    std::unique_ptr<FormQueueDisplay> display_;
    std::unique_ptr<ServerList> queue_;
    // The registration hosts, written out when first needed, and the hosts themselves: one is
    // started as soon as something is queued and kept to the program's end, so that a batch
    // does not begin by waiting for a process to start.
    std::unique_ptr<ProgramHostImages> hostImages_ = std::make_unique<ProgramHostImages>();
    std::unique_ptr<HostSession> hosts_ =
        std::make_unique<HostSession>(*hostImages_, &MainWindow::WaitPainting);
    Button* close1_ = nullptr;
    bool batchRunning_ = false;
    bool stopWanted_ = false;
    bool endAfterBatch_ = false;
    TaskbarProgress taskbar_;
    MessageTextMeasure measure_;
};

}  // namespace kestrave
