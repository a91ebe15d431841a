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

std::wstring Fitted(const PathFitter& fit, const std::wstring& path, const std::wstring& rest) {
    return (fit ? fit(path, rest) : path) + rest;
}

std::wstring ReasonSuffix(const std::wstring& reason) {
    return reason.empty() ? std::wstring() : L" (" + reason + L")";
}

auto PathLines(const PathFitter& fit) {
    return [&fit](const std::wstring& path) { return Fitted(fit, path, {}) + kLineBreak; };
}

auto FileLines(const PathFitter& fit) {
    return [&fit](const UnfinishedFile& file) {
        return Fitted(fit, file.path, ReasonSuffix(file.reason)) + kLineBreak;
    };
}

bool IsCut(size_t count, int limit) {
    return count > static_cast<size_t>(limit);
}

// One line per item up to the limit, then a single "......" line for the rest.
template <typename Item, typename LineOf>
std::wstring LimitedLines(const std::vector<Item>& items, LineOf lineOf, int limit) {
    std::wstring text;
    const size_t shown = std::min(items.size(), static_cast<size_t>(limit));
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
                                  bool othersRegistered, const PathFitter& fit, int limit) {
    std::wstring text = L"注意:有以下" + std::to_wstring(missingSources.size()) + L"个控件注册不了";
    if (othersRegistered)
        text += L",其他控件注册完毕!";
    text += kLineBreak;
    text += kLineBreak;
    text += LimitedLines(missingSources, PathLines(fit), limit);
    text += kLineBreak;
    text += L"原因:控件原文件丢失";
    return text;
}

std::wstring RegistrationFailureList(const std::vector<UnfinishedFile>& failures,
                                     const PathFitter& fit, int limit) {
    return FailureHeader(failures.size(), L"个控件注册失败") +
           LimitedLines(failures, FileLines(fit), limit);
}

std::wstring KeptSourceList(const std::vector<UnfinishedFile>& keptSources, const PathFitter& fit,
                            int limit) {
    return std::wstring(L"以下原文件没有删除:") + kLineBreak +
           LimitedLines(keptSources, FileLines(fit), limit);
}

std::wstring PathBlock(const wchar_t* title, const std::vector<std::wstring>& paths,
                       const PathFitter& fit, int limit) {
    return title + std::wstring(kLineBreak) + LimitedLines(paths, PathLines(fit), limit);
}

std::wstring FileBlock(const wchar_t* title, const std::vector<UnfinishedFile>& files,
                       const PathFitter& fit, int limit) {
    return title + std::wstring(kLineBreak) + LimitedLines(files, FileLines(fit), limit);
}

std::wstring ReportLine(const std::wstring& path, const std::wstring& outcome,
                        const std::wstring& reason) {
    return path + L"\t" + outcome + (reason.empty() ? std::wstring() : L": " + reason);
}

std::wstring ShortenPathToFit(const std::wstring& path, const std::wstring& rest, int maxWidth,
                              const TextWidth& width) {
    if (width(path + rest) <= maxWidth)
        return path;
    std::vector<std::wstring> parts;
    for (size_t start = 0;;) {
        const size_t slash = path.find(L'\\', start);
        parts.push_back(path.substr(start, slash - start));
        if (slash == std::wstring::npos)
            break;
        start = slash + 1;
    }
    const std::wstring dots = L"...";
    auto join = [&](size_t head, size_t tailFrom) {
        std::wstring text;
        for (size_t i = 0; i < head; ++i)
            text += parts[i] + L"\\";
        text += dots;
        for (size_t i = tailFrom; i < parts.size(); ++i)
            text += L"\\" + parts[i];
        return text;
    };
    const size_t name = parts.size() - 1;
    // Folders go from the middle: first those after the first folder, then the first folder.
    for (size_t head = std::min<size_t>(2, name); head >= 1; --head) {
        for (size_t tailFrom = head; tailFrom <= name; ++tailFrom) {
            if (tailFrom == head && tailFrom != name)
                continue;  // nothing left out yet
            const std::wstring candidate = join(head, tailFrom);
            if (width(candidate + rest) <= maxWidth)
                return candidate;
        }
    }
    // Even the drive and the name alone are too wide: the name gives up its middle.
    const std::wstring start =
        parts.size() > 1 ? parts.front() + L"\\" + dots + L"\\" : std::wstring();
    const std::wstring& fileName = parts[name];
    for (size_t keep = fileName.size(); keep > 2; --keep) {
        const size_t front = keep / 2;
        const std::wstring candidate = start + fileName.substr(0, front) + dots +
                                       fileName.substr(fileName.size() - (keep - front));
        if (width(candidate + rest) <= maxWidth)
            return candidate;
    }
    return start + dots;
}

namespace {

// The blocks one after another. A stopped run says so first; a run whose lists were cut hands
// its complete report over and says where it went.
ClosingMessage JoinBlocks(std::vector<std::wstring> blocks, const wchar_t* allDone,
                          const StoppedRun& stop, bool cut,
                          const std::vector<std::wstring>& reportLines) {
    if (stop.stopped) {
        blocks.insert(blocks.begin(), L"已停止: 已处理 " + std::to_wstring(stop.processed) + L"/" +
                                          std::to_wstring(stop.total) + L" 个控件");
    }
    if (blocks.empty())
        return {allDone, kStyleInformation, {}};
    ClosingMessage message{blocks.front(), kStyleExclamation, {}};
    for (size_t i = 1; i < blocks.size(); ++i)
        message.text += kBlockSeparator + blocks[i];
    if (cut) {
        for (const std::wstring& line : reportLines)
            message.completeReport += line + kLineBreak;
        message.text += std::wstring(kBlockSeparator) + kReportOnClipboard;
    }
    return message;
}

}  // namespace

ClosingMessage RegisterClosingMessage(const RegisterSummary& summary, const PathFitter& fit,
                                      int limit) {
    std::vector<std::wstring> blocks;
    bool cut = false;
    if (summary.warnMissingSource && !summary.missingSources.empty()) {
        // "The others were registered" only holds when no other entry failed either.
        const bool othersRegistered = summary.registeredCount > 0 && summary.failures.empty();
        blocks.push_back(
            MissingSourceWarning(summary.missingSources, othersRegistered, fit, limit));
        cut = cut || IsCut(summary.missingSources.size(), limit);
    }
    if (!summary.failures.empty())
        blocks.push_back(RegistrationFailureList(summary.failures, fit, limit));
    if (!summary.otherVersionsUsed.empty())
        blocks.push_back(PathBlock(kOtherVersionsTitle, summary.otherVersionsUsed, fit, limit));
    if (!summary.classesElsewhere.empty())
        blocks.push_back(FileBlock(kClassesElsewhereTitle, summary.classesElsewhere, fit, limit));
    cut = cut || IsCut(summary.classesElsewhere.size(), limit);
    if (!summary.keptSources.empty())
        blocks.push_back(KeptSourceList(summary.keptSources, fit, limit));
    cut = cut || IsCut(summary.failures.size(), limit) ||
          IsCut(summary.otherVersionsUsed.size(), limit) ||
          IsCut(summary.keptSources.size(), limit);
    return JoinBlocks(blocks, kAllRegistered, summary.stop, cut, summary.reportLines);
}

ClosingMessage UnregisterClosingMessage(const UnregisterSummary& summary, const PathFitter& fit,
                                        int limit) {
    std::vector<std::wstring> blocks;
    if (!summary.failures.empty()) {
        std::wstring text = FailureHeader(summary.failures.size(), L"个控件卸载失败") +
                            LimitedLines(summary.failures, FileLines(fit), limit);
        if (summary.failedFilesWereToBeDeleted)
            text += std::wstring(kLineBreak) + L"这些文件没有删除.";
        blocks.push_back(text);
    }
    if (!summary.onlyCopiesKept.empty())
        blocks.push_back(PathBlock(kOnlyCopiesKeptTitle, summary.onlyCopiesKept, fit, limit));
    if (!summary.absentCopies.empty())
        blocks.push_back(PathBlock(kAbsentCopiesTitle, summary.absentCopies, fit, limit));
    const bool cut = IsCut(summary.failures.size(), limit) ||
                     IsCut(summary.onlyCopiesKept.size(), limit) ||
                     IsCut(summary.absentCopies.size(), limit);
    return JoinBlocks(blocks, kAllUnregistered, summary.stop, cut, summary.reportLines);
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
