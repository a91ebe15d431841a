// The queue of server files the batch commands work on, kept in step with its display: the
// list box (one row per entry), the count label and the folder label.
#pragma once

#include <string>
#include <vector>

namespace kestrave {

// The controls that show the queue. The main window binds them to its list box `lst_ocx` and
// its labels `txt_ocxCount` and `myFile`.
class QueueDisplay {
  public:
    virtual ~QueueDisplay() = default;
    virtual void AppendRow(const std::wstring& text) = 0;
    virtual void RemoveRow(int row) = 0;
    virtual void ClearRows() = 0;
    virtual int RowCount() const = 0;
    virtual int SelectedRow() const = 0;  // -1 when none
    virtual void SelectRow(int row) = 0;  // -1 selects none
    virtual void ShowCount(const std::wstring& text) = 0;
    virtual std::wstring FolderCaption() const = 0;
    virtual void SetFolderCaption(const std::wstring& caption) = 0;
    virtual void SetFolderTooltip(const std::wstring& tooltip) = 0;
    // Around many appends at once: the display may hold its repainting until the end.
    virtual void BeginBulkAppend() {}
    virtual void EndBulkAppend() {}
};

inline constexpr wchar_t kEmptyFolderCaption[] = L"空";

class ServerList {
  public:
    explicit ServerList(QueueDisplay& display) : display_(display) {}

    int Count() const { return static_cast<int>(fullPaths_.size()); }
    const std::vector<std::wstring>& FileNames() const { return fileNames_; }
    const std::vector<std::wstring>& FullPaths() const { return fullPaths_; }

    // Adds one entry at the end: its row shows `rowText` (the full path for single files, the
    // bare name for a folder's files), and the count label follows.
    void Append(const std::wstring& fileName, const std::wstring& fullPath,
                const std::wstring& rowText);
    // Exact, letter case significant: the single-file add refuses a path already listed.
    bool ContainsFullPath(const std::wstring& fullPath) const;

    // Appends many entries as one change: the rows are drawn and the count shown once, at the
    // end, which keeps adding thousands of files quick.
    template <typename Fill>
    void AppendMany(Fill fill) {
        display_.BeginBulkAppend();
        bulk_ = true;
        try {
            fill();
        } catch (...) {
            EndBulk();
            throw;
        }
        EndBulk();
    }

    void ClearList();
    void DeleteSelected();

    QueueDisplay& Display() { return display_; }

  private:
    void ShowCount();
    void EndBulk();
    void ResetFolderWhenEmpty();

    bool bulk_ = false;
    QueueDisplay& display_;
    std::vector<std::wstring> fileNames_;
    std::vector<std::wstring> fullPaths_;
};

}  // namespace kestrave
