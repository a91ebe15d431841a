// A queue display that shows nothing, for queues that only feed a batch.
#pragma once

#include "server_list.h"

namespace kestrave::testing {

class NoQueueDisplay : public QueueDisplay {
  public:
    void AppendRow(const std::wstring&) override {}
    void RemoveRow(int) override {}
    void ClearRows() override {}
    int RowCount() const override { return 0; }
    int SelectedRow() const override { return -1; }
    void SelectRow(int) override {}
    void ShowCount(const std::wstring&) override {}
    std::wstring FolderCaption() const override { return {}; }
    void SetFolderCaption(const std::wstring&) override {}
    void SetFolderTooltip(const std::wstring&) override {}
};

}  // namespace kestrave::testing
