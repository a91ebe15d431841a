#include "server_list.h"

#include <algorithm>

namespace kestrave {

void ServerList::Append(const std::wstring& fileName, const std::wstring& fullPath,
                        const std::wstring& rowText) {
    display_.AppendRow(rowText);
    fileNames_.push_back(fileName);
    fullPaths_.push_back(fullPath);
    if (!bulk_)
        ShowCount();
}

void ServerList::EndBulk() {
    bulk_ = false;
    display_.EndBulkAppend();
    ShowCount();
}

bool ServerList::ContainsFullPath(const std::wstring& fullPath) const {
    return std::find(fullPaths_.begin(), fullPaths_.end(), fullPath) != fullPaths_.end();
}

void ServerList::ClearList() {
    if (Count() > 0) {
        display_.ClearRows();
        fileNames_.clear();
        fullPaths_.clear();
    }
    ShowCount();
    ResetFolderWhenEmpty();
}

void ServerList::DeleteSelected() {
    const int selected = display_.SelectedRow();
    if (selected >= 0 && selected < Count()) {
        fileNames_.erase(fileNames_.begin() + selected);
        fullPaths_.erase(fullPaths_.begin() + selected);
        display_.RemoveRow(selected);
        // The row that moved up into the gap takes the selection; past the end, nothing does.
        display_.SelectRow(selected < Count() ? selected : -1);
        ShowCount();
    }
    ResetFolderWhenEmpty();
}

void ServerList::ShowCount() {
    display_.ShowCount(std::to_wstring(Count()));
}

void ServerList::ResetFolderWhenEmpty() {
    if (Count() != 0)
        return;
    display_.SetFolderCaption(kEmptyFolderCaption);
    display_.SetFolderTooltip(L"");
}

}  // namespace kestrave
