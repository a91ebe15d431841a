#include "batch_report.h"

#include <algorithm>
#include <cwchar>

#include "display_text.h"
#include "messages.h"
#include "system_error.h"

namespace kestrave {
namespace {

constexpr wchar_t kLineBreak[] = L"\r\n";
constexpr wchar_t kBlockSeparator[] = L"\r\n\r\n";
constexpr wchar_t kDots[] = L"...";

constexpr wchar_t kAllRegistered[] = L"所有控件已经注册完毕!";
constexpr wchar_t kAllUnregistered[] = L"所有控件已经卸载完毕!";

// The program's own openings of the reasons that go on with the system's text for an error
// code ("无法删除: <the system's words>"). Only that text may be shortened to fit a line; what
// the program says itself, a culprit it names included, stays whole.
constexpr wchar_t kReturnedErrorOpening[] = L"返回错误 ";
constexpr wchar_t kCannotLoadOpening[] = L"无法加载";
constexpr wchar_t kNoThreadOpening[] = L"无法启动线程";
constexpr wchar_t kCannotCopyOpening[] = L"无法复制到系统文件夹";
constexpr wchar_t kCannotDeleteOpening[] = L"无法删除";
constexpr wchar_t kNoHostOpening[] = L"无法启动注册进程";
constexpr wchar_t kCopyNotRemovedOpening[] = L"复制到系统文件夹的文件无法删除";
constexpr wchar_t kCannotReadOpening[] = L"无法读取";
constexpr const wchar_t* kSystemTextOpenings[] = {
    kCannotLoadOpening, kNoThreadOpening,       kCannotCopyOpening, kCannotDeleteOpening,
    kNoHostOpening,     kCopyNotRemovedOpening, kCannotReadOpening,
};
constexpr wchar_t kSystemTextSeparator[] = L": ";
// Reasons joined into one, as "the failure; why its copy stayed".
constexpr wchar_t kReasonJoint[] = L"; ";

// The system's text for a code; a code it has no words for is still worth showing as a number.
std::wstring ErrorTextOrCode(DWORD error, const std::wstring& fileName) {
    std::wstring text = SystemErrorText(error, fileName);
    return text.empty() ? std::to_wstring(error) : text;
}

std::wstring WithSystemText(const wchar_t* opening, const std::wstring& text) {
    return opening + std::wstring(kSystemTextSeparator) + text;
}

std::wstring ReasonSuffix(const std::wstring& reason) {
    return reason.empty() ? std::wstring() : L" (" + reason + L")";
}

bool StartsWith(std::wstring_view text, std::wstring_view start) {
    return text.substr(0, start.size()) == start;
}

// Where the system's own words are in `reason`: [first, last) of each, in order.
std::vector<std::pair<size_t, size_t>> SystemTextsIn(const std::wstring& reason) {
    std::vector<std::pair<size_t, size_t>> texts;
    for (size_t start = 0; start < reason.size();) {
        size_t end = reason.find(kReasonJoint, start);
        if (end == std::wstring::npos)
            end = reason.size();
        const std::wstring_view part = std::wstring_view(reason).substr(start, end - start);
        const size_t separator = part.find(kSystemTextSeparator);
        bool system = separator != std::wstring_view::npos &&
                      StartsWith(part, kReturnedErrorOpening) &&
                      separator == std::wstring_view(kReturnedErrorOpening).size() + 10;
        for (const wchar_t* opening : kSystemTextOpenings)
            system = system || (separator == std::wcslen(opening) && StartsWith(part, opening));
        if (system)
            texts.push_back({start + separator + 2, end});
        start = end + std::wcslen(kReasonJoint);
    }
    return texts;
}

// The paths of a folder shortened in its middle, longest first, down to its root and "...":
// the first folder stays as long as it can, then the folders nearest the name. The name itself
// is never shortened.
std::vector<std::wstring> ShortenedFolders(const std::wstring& path) {
    std::vector<std::wstring> parts;
    for (size_t start = 0;;) {
        const size_t slash = path.find(L'\\', start);
        parts.push_back(path.substr(start, slash - start));
        if (slash == std::wstring::npos)
            break;
        start = slash + 1;
    }
    // The root stays: "C:" or "\\server\share".
    const size_t root = StartsWith(path, L"\\\\") ? std::min<size_t>(4, parts.size()) : 1;
    const size_t name = parts.size() - 1;
    std::vector<std::wstring> shortened;
    if (name <= root)
        return shortened;
    auto join = [&](size_t head, size_t tailFrom) {
        std::wstring text;
        for (size_t i = 0; i < head; ++i)
            text += parts[i] + L"\\";
        text += kDots;
        for (size_t i = tailFrom; i < parts.size(); ++i)
            text += L"\\" + parts[i];
        return text;
    };
    for (size_t head = std::min(root + 1, name); head >= root; --head) {
        for (size_t tailFrom = head + 1; tailFrom <= name; ++tailFrom) {
            std::wstring candidate = join(head, tailFrom);
            if (candidate.size() < path.size())
                shortened.push_back(std::move(candidate));
        }
        if (head == root)
            break;
    }
    return shortened;
}

// The lists of one closing message: each file on a line fitted to the box, up to the limit,
// then one line for the rest. Notes whether anything was shortened or left out.
class ListWriter {
  public:
    ListWriter(const LineFitter& fit, int limit, bool onClipboard)
        : fit_(fit), limit_(limit), onClipboard_(onClipboard) {}

    std::wstring Lines(const std::vector<std::wstring>& paths) {
        return Limited(paths.size(), [&](size_t i) { return Line(paths[i], {}); });
    }
    std::wstring Lines(const std::vector<UnfinishedFile>& files) {
        return Limited(files.size(),
                       [&](size_t i) { return Line(files[i].path, files[i].reason); });
    }
    bool Shortened() const { return shortened_; }

  private:
    std::wstring Line(const std::wstring& path, const std::wstring& reason) {
        const std::wstring shownPath = ShownPath(path);
        const std::wstring shownReason = ShownReason(reason);
        const std::wstring whole = shownPath + ReasonSuffix(shownReason);
        if (!fit_)
            return whole + kLineBreak;
        const std::wstring fitted = fit_(shownPath, shownReason);
        shortened_ = shortened_ || fitted != whole;
        return fitted + kLineBreak;
    }

    template <typename LineAt>
    std::wstring Limited(size_t count, LineAt lineAt) {
        std::wstring text;
        const size_t shown = std::min(count, static_cast<size_t>(std::max(limit_, 1)));
        for (size_t i = 0; i < shown; ++i)
            text += lineAt(i);
        if (count > shown) {
            shortened_ = true;
            text += L"...... 另有 " + std::to_wstring(count - shown) + L" 个文件";
            if (onClipboard_)
                text += std::wstring(L", ") + kReportOnClipboard;
            text += kLineBreak;
        }
        return text;
    }

    const LineFitter& fit_;
    int limit_;
    bool onClipboard_;
    bool shortened_ = false;
};

std::wstring FailureHeader(size_t count, const wchar_t* what) {
    return L"注意:有以下" + std::to_wstring(count) + what + kLineBreak + kLineBreak;
}

std::wstring MissingSourceText(const std::vector<std::wstring>& missingSources,
                               bool othersRegistered, ListWriter& lists) {
    std::wstring text = L"注意:有以下" + std::to_wstring(missingSources.size()) + L"个控件注册不了";
    if (othersRegistered)
        text += L",其他控件注册完毕!";
    text += kLineBreak;
    text += kLineBreak;
    text += lists.Lines(missingSources);
    text += kLineBreak;
    text += L"原因:控件原文件丢失";
    return text;
}

template <typename Items>
std::wstring TitledBlock(const wchar_t* title, const Items& items, ListWriter& lists) {
    return title + std::wstring(kLineBreak) + lists.Lines(items);
}

const LineFitter kNoFitting;

}  // namespace

std::wstring ShownPath(const std::wstring& path) {
    return ShownText(path);
}

std::wstring ShownReason(const std::wstring& reason) {
    // The system's texts may break their lines; one line per file reads better.
    std::wstring flat = reason;
    std::replace_if(
        flat.begin(), flat.end(), [](wchar_t c) { return c == L'\r' || c == L'\n' || c == L'\t'; },
        L' ');
    return ShownText(flat);
}

std::wstring MissingSourceWarning(const std::vector<std::wstring>& missingSources,
                                  bool othersRegistered, int limit) {
    ListWriter lists(kNoFitting, limit, true);
    return MissingSourceText(missingSources, othersRegistered, lists);
}

std::wstring RegistrationFailureList(const std::vector<UnfinishedFile>& failures, int limit) {
    ListWriter lists(kNoFitting, limit, true);
    return FailureHeader(failures.size(), L"个控件注册失败") + lists.Lines(failures);
}

std::wstring KeptSourceList(const std::vector<UnfinishedFile>& keptSources, int limit) {
    ListWriter lists(kNoFitting, limit, true);
    return TitledBlock(L"以下原文件没有删除:", keptSources, lists);
}

std::wstring PathBlock(const wchar_t* title, const std::vector<std::wstring>& paths, int limit) {
    ListWriter lists(kNoFitting, limit, true);
    return TitledBlock(title, paths, lists);
}

std::wstring FileBlock(const wchar_t* title, const std::vector<UnfinishedFile>& files, int limit) {
    ListWriter lists(kNoFitting, limit, true);
    return TitledBlock(title, files, lists);
}

std::wstring ReportLine(const std::wstring& path, const std::wstring& outcome,
                        const std::wstring& reason) {
    return ShownPath(path) + L"\t" + outcome +
           (reason.empty() ? std::wstring() : L": " + ShownReason(reason));
}

std::wstring FitReportLine(const std::wstring& path, const std::wstring& reason, int maxWidth,
                           const TextWidth& width) {
    auto fits = [&](const std::wstring& line) { return width(line) <= maxWidth; };
    std::wstring shownPath = path;
    if (fits(shownPath + ReasonSuffix(reason)))
        return shownPath + ReasonSuffix(reason);
    for (const std::wstring& shorter : ShortenedFolders(path)) {
        shownPath = shorter;
        if (fits(shownPath + ReasonSuffix(reason)))
            return shownPath + ReasonSuffix(reason);
    }
    // The system's words give way from their end, the last of them first.
    std::wstring shownReason = reason;
    const auto texts = SystemTextsIn(reason);
    for (auto text = texts.rbegin(); text != texts.rend(); ++text) {
        const std::wstring before = shownReason.substr(0, text->first);
        const std::wstring words = shownReason.substr(text->first, text->second - text->first);
        const std::wstring after = shownReason.substr(text->second);
        for (size_t keep = words.size(); keep-- > 0;) {
            const size_t cut = WholeCharacterCut(words, keep);
            if (cut != keep)
                continue;  // the same cut was tried with one character more
            shownReason = before + words.substr(0, cut) + kDots + after;
            if (fits(shownPath + ReasonSuffix(shownReason)))
                return shownPath + ReasonSuffix(shownReason);
        }
    }
    return shownPath + ReasonSuffix(shownReason);
}

namespace {

// The blocks one after another. A stopped run says so first; a run whose message shortened or
// left out anything hands its complete report over and says where it went, in its last line.
ClosingMessage JoinBlocks(std::vector<std::wstring> blocks, const wchar_t* allDone,
                          const StoppedRun& stop, bool shortened, bool onClipboard,
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
    if (!shortened)
        return message;
    for (const std::wstring& line : reportLines)
        message.completeReport += line + kLineBreak;
    if (!onClipboard)
        return message;
    // A list cut last already ends with the note.
    const std::wstring lastNote = std::wstring(kReportOnClipboard) + kLineBreak;
    const bool endsWithNote =
        message.text.size() >= lastNote.size() &&
        message.text.compare(message.text.size() - lastNote.size(), lastNote.size(), lastNote) == 0;
    if (endsWithNote)
        message.text.resize(message.text.size() - std::wcslen(kLineBreak));
    else
        message.text += std::wstring(kBlockSeparator) + kReportOnClipboard;
    return message;
}

}  // namespace

ClosingMessage RegisterClosingMessage(const RegisterSummary& summary, const LineFitter& fit,
                                      int limit, bool onClipboard) {
    ListWriter lists(fit, limit, onClipboard);
    std::vector<std::wstring> blocks;
    if (summary.warnMissingSource && !summary.missingSources.empty()) {
        // "The others were registered" only holds when no other entry failed either.
        const bool othersRegistered = summary.registeredCount > 0 && summary.failures.empty();
        blocks.push_back(MissingSourceText(summary.missingSources, othersRegistered, lists));
    }
    if (!summary.failures.empty())
        blocks.push_back(FailureHeader(summary.failures.size(), L"个控件注册失败") +
                         lists.Lines(summary.failures));
    if (!summary.otherVersionsUsed.empty())
        blocks.push_back(TitledBlock(kOtherVersionsTitle, summary.otherVersionsUsed, lists));
    if (!summary.classesElsewhere.empty())
        blocks.push_back(TitledBlock(kClassesElsewhereTitle, summary.classesElsewhere, lists));
    if (!summary.keptSources.empty())
        blocks.push_back(TitledBlock(L"以下原文件没有删除:", summary.keptSources, lists));
    return JoinBlocks(blocks, kAllRegistered, summary.stop, lists.Shortened(), onClipboard,
                      summary.reportLines);
}

ClosingMessage UnregisterClosingMessage(const UnregisterSummary& summary, const LineFitter& fit,
                                        int limit, bool onClipboard) {
    ListWriter lists(fit, limit, onClipboard);
    std::vector<std::wstring> blocks;
    if (!summary.failures.empty()) {
        std::wstring text = FailureHeader(summary.failures.size(), L"个控件卸载失败") +
                            lists.Lines(summary.failures);
        if (summary.failedFilesWereToBeDeleted)
            text += std::wstring(kLineBreak) + L"这些文件没有删除.";
        blocks.push_back(text);
    }
    if (!summary.unregisteredNotDeleted.empty()) {
        blocks.push_back(
            TitledBlock(kUnregisteredNotDeletedTitle, summary.unregisteredNotDeleted, lists));
    }
    if (!summary.onlyCopiesKept.empty())
        blocks.push_back(TitledBlock(kOnlyCopiesKeptTitle, summary.onlyCopiesKept, lists));
    if (!summary.absentCopies.empty())
        blocks.push_back(TitledBlock(kAbsentCopiesTitle, summary.absentCopies, lists));
    return JoinBlocks(blocks, kAllUnregistered, summary.stop, lists.Shortened(), onClipboard,
                      summary.reportLines);
}

std::wstring EntryFailureReason(const EntryResult& result, bool unregister,
                                const std::wstring& fileName) {
    switch (result.outcome) {
        case EntryOutcome::Finished: {
            if (SUCCEEDED(result.result))
                return {};
            wchar_t code[16];
            swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(result.result));
            std::wstring reason = kReturnedErrorOpening + std::wstring(code);
            std::wstring text = SystemErrorText(static_cast<DWORD>(result.result), fileName);
            if (!text.empty())
                reason += kSystemTextSeparator + text;
            return reason;
        }
        case EntryOutcome::NotFound:
            // The copy was there a moment ago; the loader would have said the same.
            return WithSystemText(kCannotLoadOpening,
                                  ErrorTextOrCode(ERROR_FILE_NOT_FOUND, fileName));
        case EntryOutcome::NotLoadable:
            return WithSystemText(kCannotLoadOpening, ErrorTextOrCode(result.error, fileName));
        case EntryOutcome::ExportMissing:
            return std::wstring(L"缺少入口 ") + EntryExportName(unregister);
        case EntryOutcome::WorkerNotStarted:
            return WithSystemText(kNoThreadOpening, ErrorTextOrCode(result.error, fileName));
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
    return WithSystemText(kCannotCopyOpening, ErrorTextOrCode(error, fileName));
}

std::wstring DeleteFailureReason(DWORD error, const std::wstring& fileName) {
    return WithSystemText(kCannotDeleteOpening, ErrorTextOrCode(error, fileName));
}

std::wstring HostNotStartedReason(DWORD error) {
    return WithSystemText(kNoHostOpening, ErrorTextOrCode(error, {}));
}

std::wstring CopyRemovalFailureReason(DWORD error, const std::wstring& fileName) {
    return WithSystemText(kCopyNotRemovedOpening, ErrorTextOrCode(error, fileName));
}

std::wstring ReadFailureReason(DWORD error) {
    return WithSystemText(kCannotReadOpening, SystemErrorText(error));
}

}  // namespace kestrave
