// frmHelp: the options page (five rows and the target folder) or the help page, one borderless
// window loaded on first touch and afterwards only hidden and shown. It holds the options.
#pragma once

#include <array>

#include "form.h"
#include "options_record.h"

namespace kestrave {

class MainWindow;

class OptionsDialog : public Form {
  public:
    enum class Mode { Options, Help };

    OptionsDialog(Options& options, MainWindow& mainWindow);

    void Open(Mode mode);

    // For tests and the main window: what the page shows.
    ListBox& FolderList();
    Image& CheckBox(int row);
    Label& RowLabel(int row);
    Image& HelpPicture();
    Label& CaptionLabel();

  protected:
    void CreateControls() override;
    void OnLoad() override;
    void OnControlClick(WindowlessControl& control) override;
    void OnControlMouseMove(WindowlessControl& control, MouseArgs& args) override;
    void OnCloseRequest() override { Cancel(); }
    bool OnKeyDown(UINT key, HWND focus, WindowlessControl* focusedControl) override;
    DWORD ExtendedStyle() const override { return WS_EX_TOOLWINDOW; }

  private:
    static const Command<OptionsDialog> kCommands[];

    void Toggle(int row);
    void ShowChecks();
    void Confirm();
    void Cancel();

    Options& options_;
    MainWindow& mainWindow_;
    ListBox* ocxTo_ = nullptr;
    Button* confirm_ = nullptr;
    Button* cancel_ = nullptr;
    std::array<Image*, kOptionFlagCount> checkIt_{};
    std::array<Label*, kOptionFlagCount> myCheck_{};
    Image* myCheck2_ = nullptr;  // the ticked glyph
    Image* myCheck1_ = nullptr;  // the empty glyph
    Label* to_ = nullptr;
    Image* yiDong_ = nullptr;
    Label* myCaption_ = nullptr;
    Image* imgHelp_ = nullptr;
};

}  // namespace kestrave
