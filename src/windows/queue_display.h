// The queue shown in a window: rows in a list box, the count and the folder in two labels.
#pragma once

#include "forms/controls.h"
#include "forms/list_box.h"
#include "server_list.h"

namespace kestrave {

class FormQueueDisplay : public QueueDisplay {
  public:
    FormQueueDisplay(ListBox& rows, Label& count, Label& folder)
        : rows_(rows), count_(count), folder_(folder) {}

    void AppendRow(const std::wstring& text) override { rows_.AddItem(text); }
    void RemoveRow(int row) override { rows_.RemoveItem(row); }
    void ClearRows() override { rows_.Clear(); }
    int RowCount() const override { return rows_.ListCount(); }
    int SelectedRow() const override { return rows_.ListIndex(); }
    void SelectRow(int row) override { rows_.SetListIndex(row); }
    void ShowCount(const std::wstring& text) override { count_.SetCaption(text); }
    std::wstring FolderCaption() const override { return folder_.Caption(); }
    void SetFolderCaption(const std::wstring& caption) override { folder_.SetCaption(caption); }
    void SetFolderTooltip(const std::wstring& tooltip) override { folder_.SetToolTipText(tooltip); }
    void BeginBulkAppend() override { rows_.SetRedraw(false); }
    void EndBulkAppend() override { rows_.SetRedraw(true); }

  private:
    ListBox& rows_;
    Label& count_;
    Label& folder_;
};

}  // namespace kestrave
