#include "options_record.h"

#include <cwchar>

namespace kestrave {
namespace {

bool TextReadsAsOn(const std::wstring& text) {
    return std::wcstol(text.c_str(), nullptr, 10) != 0;
}

}  // namespace

void OptionsRecord::LoadDefaults() {
    pendingFlags_ = {0, -1, -1, -1, -1};
    committedSubfolder_ = kSystem32Subfolder;
    folderSelection_ = 0;
    for (int i = 0; i < kOptionFlagCount; ++i)
        committedFlags_[i] = std::to_wstring(pendingFlags_[i]);
}

bool OptionsRecord::IsOn(OptionFlag flag) const {
    return TextReadsAsOn(committedFlags_.at(static_cast<int>(flag)));
}

void OptionsRecord::TogglePending(int index) {
    short& flag = pendingFlags_.at(index);
    flag = flag == 0 ? -1 : 0;
}

void OptionsRecord::Commit() {
    committedSubfolder_ = folderSelection_ == 0 ? kSystem32Subfolder : kSystemSubfolder;
    for (int i = 0; i < kOptionFlagCount; ++i)
        committedFlags_[i] = std::to_wstring(pendingFlags_[i]);
}

void OptionsRecord::Revert() {
    folderSelection_ = committedSubfolder_ == kSystem32Subfolder ? 0 : 1;
    for (int i = 0; i < kOptionFlagCount; ++i) {
        pendingFlags_[i] = TextReadsAsOn(committedFlags_[i]) ? -1 : 0;
    }
}

OptionsRecord& Options::Record() {
    if (!loaded_) {
        loaded_ = true;
        record_.LoadDefaults();
        if (loadDialog_)
            loadDialog_();
    }
    return record_;
}

}  // namespace kestrave
