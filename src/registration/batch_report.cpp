#include "batch_report.h"

#include <algorithm>
#include <cwchar>

#include "messages.h"
#include "system_error.h"

namespace kestrave {
namespace {

constexpr wchar_t kLineBreak[] = L"\r\n";
constexpr wchar_t kBlockSeparator[] = L"\r\n\r\n";
constexpr wchar_t kMoreLine[] = L"......\r\n";

constexpr wchar_t kAllRegistered[] = L"所有控件已经注册完毕!";
constexpr wchar_t kAllUnregistered[] = L"所有控件已经卸载完毕!";

// The system's text for a code; a code it has no words for is still worth showing as a number.
std::wstring ErrorTextOrCode(DWORD error, const std::wstring& fileName) {
    std::wstring text = SystemErrorText(error, fileName);
    return text.empty() ? std::to_wstring(error) : text;
}

std::wstring PathLine(const UnfinishedFile& file) {
    std::wstring line = file.path;
    if (!file.reason.empty())
        line += L" (" + file.reason + L")";
    return line + kLineBreak;
}

// One line per item up to the limit, then a single "......" line for the rest.
template <typename Item, typename LineOf>
std::wstring LimitedLines(const std::vector<Item>& items, LineOf lineOf) {
    std::wstring text;
    const size_t shown = std::min(items.size(), static_cast<size_t>(kListedPathLimit));
    for (size_t i = 0; i < shown; ++i)
        text += lineOf(items[i]);
    if (items.size() > shown)
        text += kMoreLine;
    return text;
}

std::wstring FailureHeader(size_t count, const wchar_t* what) {
    return L"注意:有以下" + std::to_wstring(count) + what + kLineBreak + kLineBreak;
}

}  // namespace

std::wstring MissingSourceWarning(const std::vector<std::wstring>& missingSources,
                                  bool othersRegistered) {
    std::wstring text = L"注意:有以下" + std::to_wstring(missingSources.size()) + L"个控件注册不了";
    if (othersRegistered)
        text += L",其他控件注册完毕!";
    text += kLineBreak;
    text += kLineBreak;
    text +=
        LimitedLines(missingSources, [](const std::wstring& path) { return path + kLineBreak; });
    text += kLineBreak;
    text += L"原因:控件原文件丢失";
    return text;
}

std::wstring RegistrationFailureList(const std::vector<UnfinishedFile>& failures) {
    return FailureHeader(failures.size(), L"个控件注册失败") + LimitedLines(failures, PathLine);
}

std::wstring KeptSourceList(const std::vector<UnfinishedFile>& keptSources) {
    return std::wstring(L"以下原文件没有删除:") + kLineBreak + LimitedLines(keptSources, PathLine);
}

std::wstring PathBlock(const wchar_t* title, const std::vector<std::wstring>& paths) {
    return title + std::wstring(kLineBreak) +
           LimitedLines(paths, [](const std::wstring& path) { return path + kLineBreak; });
}

namespace {

ClosingMessage JoinBlocks(const std::vector<std::wstring>& blocks, const wchar_t* allDone) {
    if (blocks.empty())
        return {allDone, kStyleInformation};
    std::wstring text = blocks.front();
    for (size_t i = 1; i < blocks.size(); ++i)
        text += kBlockSeparator + blocks[i];
    return {text, kStyleExclamation};
}

}  // namespace

ClosingMessage RegisterClosingMessage(const RegisterSummary& summary) {
    std::vector<std::wstring> blocks;
    if (summary.warnMissingSource && !summary.missingSources.empty()) {
        // "The others were registered" only holds when no other entry failed either.
        const bool othersRegistered = summary.registeredCount > 0 && summary.failures.empty();
        blocks.push_back(MissingSourceWarning(summary.missingSources, othersRegistered));
    }
    if (!summary.failures.empty())
        blocks.push_back(RegistrationFailureList(summary.failures));
    if (!summary.otherVersionsUsed.empty())
        blocks.push_back(PathBlock(kOtherVersionsTitle, summary.otherVersionsUsed));
    if (!summary.keptSources.empty())
        blocks.push_back(KeptSourceList(summary.keptSources));
    return JoinBlocks(blocks, kAllRegistered);
}

ClosingMessage UnregisterClosingMessage(const UnregisterSummary& summary) {
    std::vector<std::wstring> blocks;
    if (!summary.failures.empty()) {
        std::wstring text = FailureHeader(summary.failures.size(), L"个控件卸载失败") +
                            LimitedLines(summary.failures, PathLine);
        if (summary.failedFilesWereToBeDeleted)
            text += std::wstring(kLineBreak) + L"这些文件没有删除.";
        blocks.push_back(text);
    }
    if (!summary.onlyCopiesKept.empty())
        blocks.push_back(PathBlock(kOnlyCopiesKeptTitle, summary.onlyCopiesKept));
    if (!summary.absentCopies.empty())
        blocks.push_back(PathBlock(kAbsentCopiesTitle, summary.absentCopies));
    return JoinBlocks(blocks, kAllUnregistered);
}

std::wstring EntryFailureReason(const EntryResult& result, bool unregister,
                                const std::wstring& fileName) {
    switch (result.outcome) {
        case EntryOutcome::Finished: {
            if (SUCCEEDED(result.result))
                return {};
            wchar_t code[16];
            swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(result.result));
            std::wstring reason = std::wstring(L"返回错误 ") + code;
            std::wstring text = SystemErrorText(static_cast<DWORD>(result.result), fileName);
            if (!text.empty())
                reason += L": " + text;
            return reason;
        }
        case EntryOutcome::NotFound:
            // The copy was there a moment ago; the loader would have said the same.
            return L"无法加载: " + ErrorTextOrCode(ERROR_FILE_NOT_FOUND, fileName);
        case EntryOutcome::NotLoadable:
            return L"无法加载: " + ErrorTextOrCode(result.error, fileName);
        case EntryOutcome::ExportMissing:
            return std::wstring(L"缺少入口 ") + EntryExportName(unregister);
        case EntryOutcome::WorkerNotStarted:
            return L"无法启动线程: " + ErrorTextOrCode(result.error, fileName);
        case EntryOutcome::TimedOut:
            return L"超过10秒未完成,已终止";
        case EntryOutcome::Crashed: {
            wchar_t code[16];
            swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(result.error));
            return std::wstring(L"控件崩溃 (异常代码 ") + code + L")";
        }
        case EntryOutcome::EndedProcess:
            return L"控件结束了进程 (退出码 " + std::to_wstring(result.error) + L")";
        case EntryOutcome::HostNotStarted:
            return HostNotStartedReason(result.error);
    }
    return {};
}

std::wstring CopyFailureReason(DWORD error, const std::wstring& fileName) {
    return L"无法复制到系统文件夹: " + ErrorTextOrCode(error, fileName);
}

std::wstring DeleteFailureReason(DWORD error, const std::wstring& fileName) {
    return L"无法删除: " + ErrorTextOrCode(error, fileName);
}

std::wstring HostNotStartedReason(DWORD error) {
    return L"无法启动注册进程: " + ErrorTextOrCode(error, {});
}

std::wstring CopyRemovalFailureReason(DWORD error, const std::wstring& fileName) {
    return L"复制到系统文件夹的文件无法删除: " + ErrorTextOrCode(error, fileName);
}

}  // namespace kestrave
