// The five on/off options and the target system subfolder, as committed by the options dialog,
// and the dialog's working copy of them. Nothing is saved: every run starts from the defaults.
#pragma once

#include <array>
#include <functional>
#include <string>

namespace kestrave {

enum class OptionFlag {
    DeleteAfterRegister = 0,
    DeleteAfterUnregister = 1,
    StayOnTop = 2,
    WarnMissingSource = 3,
    KeepLastFolder = 4,
};
constexpr int kOptionFlagCount = 5;

inline constexpr wchar_t kSystem32Subfolder[] = L"\\System32\\";
inline constexpr wchar_t kSystemSubfolder[] = L"\\System\\";

// What the commands read: only committed values.
class OptionsSource {
  public:
    virtual ~OptionsSource() = default;
    virtual bool IsOn(OptionFlag flag) = 0;
    virtual std::wstring TargetSubfolder() = 0;
};

class OptionsRecord {
  public:
    // Committed flags are kept as the texts "-1" (on) and "0" (off), as the dialog's check
    // images hold them; a reader takes any non-zero number as on.
    void LoadDefaults();
    bool IsOn(OptionFlag flag) const;
    const std::wstring& FlagText(int index) const { return committedFlags_.at(index); }
    const std::wstring& TargetSubfolder() const { return committedSubfolder_; }

    // The dialog's working copy: -1 (on) or 0 (off) per row, and the selected folder entry
    // (0 = "\System32\", 1 = "\System\").
    short PendingFlag(int index) const { return pendingFlags_.at(index); }
    void TogglePending(int index);
    int FolderSelection() const { return folderSelection_; }
    void SelectFolder(int entry) { folderSelection_ = entry; }

    void Commit();
    void Revert();

  private:
    std::array<std::wstring, kOptionFlagCount> committedFlags_;
    std::wstring committedSubfolder_;
    std::array<short, kOptionFlagCount> pendingFlags_{};
    int folderSelection_ = 0;
};

// The options live in the options dialog; the first read of any option loads that dialog
// (hidden) with the defaults, once per run.
class Options : public OptionsSource {
  public:
    explicit Options(std::function<void()> loadDialog = {}) : loadDialog_(std::move(loadDialog)) {}

    bool IsOn(OptionFlag flag) override { return Record().IsOn(flag); }
    std::wstring TargetSubfolder() override { return Record().TargetSubfolder(); }

    OptionsRecord& Record();
    bool Loaded() const { return loaded_; }
    void SetDialogLoader(std::function<void()> loadDialog) { loadDialog_ = std::move(loadDialog); }

  private:
    std::function<void()> loadDialog_;
    OptionsRecord record_;
    bool loaded_ = false;
};

}  // namespace kestrave
