#include "add_commands.h"

#include <cderr.h>
#include <commdlg.h>
#include <ole2.h>
#include <shlobj.h>

#include <stdexcept>

#include "file_lookup.h"
#include "handles.h"
#include "messages.h"
#include "path.h"
#include "program_folder.h"

namespace kestrave {
namespace {

constexpr wchar_t kFileFilter[] = L"控件文件(*.ocx)\0*.ocx\0控件文件(*.dll)\0*.dll\0";
constexpr wchar_t kFolderPrompt[] = L"请选择路径:";
constexpr wchar_t kKeepListQuestion[] = L"是否继续添加?";
constexpr wchar_t kSameFolderNotice[] = L"此路径和上一个路径相同,请选择其他路径.";

// Hides the main window for a scope and shows it again however the scope is left.
class HiddenMainWindow {
  public:
    explicit HiddenMainWindow(AddHost& host) : host_(host) { host_.HideMainWindow(); }
    ~HiddenMainWindow() { host_.ShowMainWindow(); }
    HiddenMainWindow(const HiddenMainWindow&) = delete;
    HiddenMainWindow& operator=(const HiddenMainWindow&) = delete;

  private:
    AddHost& host_;
};

}  // namespace

std::wstring PathFromPickedBuffer(const std::wstring& buffer) {
    const auto first = buffer.find_first_not_of(L' ');
    if (first == std::wstring::npos)
        return {};
    const auto end = buffer.find(L'\0', first);
    return buffer.substr(first, end == std::wstring::npos ? std::wstring::npos : end - first);
}

std::wstring PickServerFile(HWND owner, std::wstring& lastFolder, OptionsSource& options,
                            bool& refused) {
    refused = false;
    std::wstring startFolder = lastFolder.empty() ? ProgramFolder() : lastFolder;
    if (!options.IsOn(OptionFlag::KeepLastFolder))
        startFolder = ProgramFolder();

    std::wstring file(kPickBufferLength, L' ');
    file.push_back(L'\0');
    std::wstring fileTitle = file;

    OPENFILENAMEW record{};
    record.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    record.hwndOwner = owner;
    record.hInstance = GetModuleHandleW(nullptr);
    record.lpstrFilter = kFileFilter;
    record.lpstrFile = file.data();
    record.nMaxFile = kPickBufferLength + 1;
    record.lpstrFileTitle = fileTitle.data();
    record.nMaxFileTitle = kPickBufferLength + 1;
    record.lpstrInitialDir = startFolder.c_str();
    record.lpstrTitle = L"添加";
    record.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (GetOpenFileNameW(&record) < 1) {
        // More than the buffer holds (several names typed in, say) is no cancel.
        refused = CommDlgExtendedError() == FNERR_BUFFERTOOSMALL;
        return {};
    }

    file.resize(kPickBufferLength);
    const std::wstring picked = PickedServerFile(file);
    if (!picked.empty())
        lastFolder = SplitPath(picked).folder;
    return file;
}

std::wstring PickedServerFile(const std::wstring& buffer) {
    const size_t first = buffer.find_first_not_of(L' ');
    if (first == std::wstring::npos || buffer[first] == L'\0')
        return {};
    const size_t end = buffer.find(L'\0', first);
    // Several names come as the folder, then each name after a NUL of its own.
    if (end != std::wstring::npos && end + 1 < buffer.size() && buffer[end + 1] != L' ' &&
        buffer[end + 1] != L'\0')
        return {};
    const std::wstring path = PathFromPickedBuffer(buffer);
    // Only a full path: a relative one would be found from whatever the current folder is.
    const bool onDrive = path.size() > 3 && path[1] == L':' && path[2] == L'\\';
    const bool onShare = path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
    if ((!onDrive && !onShare) || path.find(L'"') != std::wstring::npos)
        return {};
    if (FindAnyFileName(path).empty())
        return {};
    return path;
}

void AddPickedFile(ServerList& list, AddHost& host, const std::wstring& buffer) {
    if (buffer.empty())
        return;  // cancelled
    const std::wstring fullPath = PickedServerFile(buffer);
    if (fullPath.empty()) {
        HiddenMainWindow hidden(host);
        host.ShowMessage(kPickOneFileNotice, kStyleExclamation, kMessageTitle);
        return;
    }
    if (!list.ContainsFullPath(fullPath))
        list.Append(SplitPath(fullPath).name, fullPath, fullPath);
}

void AddServerFile(ServerList& list, AddHost& host, std::wstring& lastFolder,
                   OptionsSource& options) {
    // Whatever goes wrong ends the command quietly with the main window back on screen.
    try {
        std::wstring buffer;
        bool refused = false;
        {
            HiddenMainWindow hidden(host);
            buffer = PickServerFile(host.MainWindowHandle(), lastFolder, options, refused);
        }
        if (refused) {
            HiddenMainWindow hidden(host);
            host.ShowMessage(kPickOneFileNotice, kStyleExclamation, kMessageTitle);
            return;
        }
        AddPickedFile(list, host, buffer);
    } catch (...) {
        host.ShowMainWindow();
    }
}

std::wstring OcxPatternOf(const std::wstring& folder) {
    return folder + (!folder.empty() && folder.back() == L'\\' ? L"*.ocx" : L"\\*.ocx");
}

std::wstring JoinFolderAndName(const std::wstring& folder, const std::wstring& name) {
    return folder + (!folder.empty() && folder.back() == L'\\' ? L"" : L"\\") + name;
}

std::wstring BrowseForServerFolder(HWND owner) {
    // The folder browser needs a single-threaded apartment on this thread. It is entered on
    // the first use rather than at start, which would load OLE before anything needs it; the
    // thread stays in it for the rest of the run.
    static const HRESULT apartment = OleInitialize(nullptr);
    (void)apartment;
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = kFolderPrompt;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    const ShellItemList chosen(SHBrowseForFolderW(&info));
    if (!chosen)
        return {};
    std::wstring path(512, L' ');
    if (!SHGetPathFromIDListW(chosen.get(), path.data()))
        return {};
    return path.substr(0, path.find(L'\0'));
}

namespace {

// The question 列表 asks before adding to a non-empty list; false when the user cancelled.
bool KeepOrClearList(ServerList& list, AddHost& host) {
    if (list.Count() == 0)
        return true;
    HiddenMainWindow hidden(host);
    const int answer = host.ShowMessage(kKeepListQuestion, kStyleQuestion, kMessageTitle);
    if (answer == kAnswerNo)
        list.ClearList();
    return answer == kAnswerYes || answer == kAnswerNo;
}

// Every *.ocx of `folder`, unless it is the folder added last.
void AddFolderFiles(ServerList& list, AddHost& host, const std::wstring& folder, bool hiddenToo) {
    QueueDisplay& display = list.Display();
    const std::wstring previousFolder = display.FolderCaption();
    display.SetFolderCaption(folder);
    {
        HiddenMainWindow hidden(host);
        if (previousFolder == folder) {
            host.ShowMessage(kSameFolderNotice, kStyleInformation, kMessageTitle);
            return;
        }
    }
    display.SetFolderTooltip(folder);

    AppendFolderFiles(list, folder, hiddenToo);
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsServerFile(const std::wstring& path) {
    const std::wstring name = SplitPath(path).name;
    if (!MatchesWildcard(name, L"*.ocx") && !MatchesWildcard(name, L"*.dll"))
        return false;
    return !FindAnyFileName(path).empty();
}

}  // namespace

void AppendFolderFiles(ServerList& list, const std::wstring& folder, bool hiddenToo) {
    list.AppendMany([&] {
        FileListing listing(OcxPatternOf(folder), hiddenToo);
        for (std::wstring name = listing.Next(); !name.empty(); name = listing.Next())
            list.Append(name, JoinFolderAndName(folder, name), name);
    });
}

void AddServerFolder(ServerList& list, AddHost& host) {
    if (!KeepOrClearList(list, host))
        return;
    const std::wstring folder = BrowseForServerFolder(host.MainWindowHandle());
    if (folder.empty()) {
        QueueDisplay& display = list.Display();
        if (display.FolderCaption().empty())
            display.SetFolderCaption(kEmptyFolderCaption);
        return;
    }
    AddFolderFiles(list, host, folder, false);
}

void AddDroppedPaths(ServerList& list, AddHost& host, const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) {
        if (IsFolder(path)) {
            if (KeepOrClearList(list, host))
                AddFolderFiles(list, host, path, true);
            continue;
        }
        if (!IsServerFile(path))
            continue;
        if (!list.ContainsFullPath(path))
            list.Append(SplitPath(path).name, path, path);
        const std::wstring folder = ParentFolder(path);
        list.Display().SetFolderCaption(folder);
        list.Display().SetFolderTooltip(folder);
    }
}

}  // namespace kestrave
