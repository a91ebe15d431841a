// The closing message of a batch: what went wrong with which file, in the user's words.
// Plain text composition, apart from any window, so that every wording can be checked alone.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "entry_result.h"

namespace kestrave {

// Longer lists are cut after this many paths and a "......" line; fewer when the message would
// not fit the screen otherwise.
inline constexpr int kListedPathLimit = 12;

// A file the batch left unfinished, and why. An empty reason means the path alone says enough.
struct UnfinishedFile {
    std::wstring path;
    std::wstring reason;
};

// A batch the user stopped: how many of its files it had handled.
struct StoppedRun {
    bool stopped = false;
    int processed = 0;
    int total = 0;
};

// What a registering run met, in list order.
struct RegisterSummary {
    int registeredCount = 0;
    std::vector<std::wstring> missingSources;  // full paths whose source file was gone
    std::vector<UnfinishedFile> failures;      // sources present but not registered
    std::vector<UnfinishedFile> keptSources;   // left in place although deleting was asked for
    // System copies that were there already, hold other bytes than the queued file, and were
    // registered in its place.
    std::vector<std::wstring> otherVersionsUsed;
    // Registered files with a class that leads to another file afterwards (`reason`: the first
    // such file); they still count as registered.
    std::vector<UnfinishedFile> classesElsewhere;
    bool warnMissingSource = true;
    StoppedRun stop;
    // Every queued file with what became of it, one line each, for the complete report.
    std::vector<std::wstring> reportLines;
};

// What an unregistering run met, in list order.
struct UnregisterSummary {
    std::vector<UnfinishedFile> failures;  // system copies not unregistered, or not deleted
    bool failedFilesWereToBeDeleted = false;
    std::vector<std::wstring> onlyCopiesKept;  // unregistered but not deleted: no twin elsewhere
    std::vector<std::wstring> absentCopies;    // queued names with no copy in the system folder
    StoppedRun stop;
    std::vector<std::wstring> reportLines;
};

struct ClosingMessage {
    std::wstring text;
    int style = 0;
    // The complete report, when the message had to leave files out; empty otherwise.
    std::wstring completeReport;
};

// Fits one listed line into the message box: given a path and what follows it on its line, the
// path to show (shortened in its middle when the line would be too wide).
using PathFitter = std::function<std::wstring(const std::wstring& path, const std::wstring& rest)>;

// `limit`: how many paths each list shows before it is cut.
ClosingMessage RegisterClosingMessage(const RegisterSummary& summary, const PathFitter& fit = {},
                                      int limit = kListedPathLimit);
ClosingMessage UnregisterClosingMessage(const UnregisterSummary& summary,
                                        const PathFitter& fit = {}, int limit = kListedPathLimit);

// The last line of a message whose complete report went to the clipboard.
inline constexpr wchar_t kReportOnClipboard[] = L"完整报告已复制到剪贴板";

// Measures a line of text in the message box's font, in pixels.
using TextWidth = std::function<int(const std::wstring& text)>;

// `path` shortened in its middle ("C:\很长的\...\name.ocx") until `path` + `rest` is at most
// `maxWidth` wide: the drive and the first folder stay as long as they can, then the folders
// nearest the name, and the name itself is cut in its middle only as a last resort.
std::wstring ShortenPathToFit(const std::wstring& path, const std::wstring& rest, int maxWidth,
                              const TextWidth& width);

// The lines of the complete report.
std::wstring ReportLine(const std::wstring& path, const std::wstring& outcome,
                        const std::wstring& reason = {});

// The parts a registering run's message is made of.
std::wstring MissingSourceWarning(const std::vector<std::wstring>& missingSources,
                                  bool othersRegistered, const PathFitter& fit = {},
                                  int limit = kListedPathLimit);
std::wstring RegistrationFailureList(const std::vector<UnfinishedFile>& failures,
                                     const PathFitter& fit = {}, int limit = kListedPathLimit);
std::wstring KeptSourceList(const std::vector<UnfinishedFile>& keptSources,
                            const PathFitter& fit = {}, int limit = kListedPathLimit);
// A titled block of paths, cut after the limit like every list of the closing message.
std::wstring PathBlock(const wchar_t* title, const std::vector<std::wstring>& paths,
                       const PathFitter& fit = {}, int limit = kListedPathLimit);
// The same with each path's reason after it.
std::wstring FileBlock(const wchar_t* title, const std::vector<UnfinishedFile>& files,
                       const PathFitter& fit = {}, int limit = kListedPathLimit);

inline constexpr wchar_t kOtherVersionsTitle[] = L"以下控件使用了系统文件夹中已有的不同版本:";
inline constexpr wchar_t kClassesElsewhereTitle[] = L"以下控件注册成功, 但它的类指向别的文件:";
inline constexpr wchar_t kOnlyCopiesKeptTitle[] = L"以下文件在别处没有相同的副本,没有删除:";
inline constexpr wchar_t kAbsentCopiesTitle[] = L"以下控件不在系统文件夹中,没有卸载:";
inline constexpr wchar_t kHiddenSourceReason[] = L"原文件是隐藏或系统文件";
inline constexpr wchar_t kNotAServerReason[] = L"不是有效的控件文件";
inline constexpr wchar_t k64BitOn32BitWindowsReason[] = L"64位控件无法在32位系统上注册";
inline constexpr wchar_t kNeeds32BitProgramReason[] = L"32位控件需要用32位的 Kestrave 注册";
inline constexpr wchar_t kFileStepOverranReason[] = L"复制或删除文件超过60秒未完成,已终止";

// Why an entry call did not succeed; empty when it did. `fileName` fills the system's texts that
// name the file they are about.
std::wstring EntryFailureReason(const EntryResult& result, bool unregister,
                                const std::wstring& fileName);
std::wstring CopyFailureReason(DWORD error, const std::wstring& fileName);
std::wstring DeleteFailureReason(DWORD error, const std::wstring& fileName);
// No registration host could be started.
std::wstring HostNotStartedReason(DWORD error);
// A copy that a failed registration put into the system folder could not be taken away again.
std::wstring CopyRemovalFailureReason(DWORD error, const std::wstring& fileName);

}  // namespace kestrave
