// The two ways of filling the queue: one file picked in the file-open dialog, or every *.ocx
// file of a folder picked in the shell's folder browser.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "options_record.h"
#include "server_list.h"

namespace kestrave {

// What the adding commands need from the main window.
class AddHost {
  public:
    virtual ~AddHost() = default;
    virtual HWND MainWindowHandle() = 0;
    virtual void HideMainWindow() = 0;
    virtual void ShowMainWindow() = 0;
    virtual int ShowMessage(const std::wstring& text, int style, const std::wstring& title) = 0;
};

// Size of the file-open dialog's name buffer, without its terminator.
constexpr int kPickBufferLength = 254;

// The full path inside the dialog's buffer text: spaces trimmed, ended at its terminator.
std::wstring PathFromPickedBuffer(const std::wstring& buffer);

// Shows the file-open dialog starting in `lastFolder` (or the program's folder), and returns
// the dialog's whole name buffer (path, terminator, spaces) or empty on cancel. Every pick
// moves `lastFolder` to the picked file's folder. `refused` is set when the dialog would not
// return what it was given (more names than its buffer holds).
std::wstring PickServerFile(HWND owner, std::wstring& lastFolder, OptionsSource& options,
                            bool& refused);

// Said when what the dialog returned is no single existing file.
inline constexpr wchar_t kPickOneFileNotice[] = L"请选择一个控件文件";

// The file a dialog's name buffer names, when it names exactly one existing file (hidden and
// system ones included; 注册 says why it refuses those); empty for a folder, several names,
// or a path with no file.
std::wstring PickedServerFile(const std::wstring& buffer);

// What 添加 does with the dialog's buffer: queues the file it names, unless its exact full path
// is listed already, or says kPickOneFileNotice when it names no single file.
void AddPickedFile(ServerList& list, AddHost& host, const std::wstring& buffer);

// The 添加 command: adds the picked file unless its exact full path is listed already.
void AddServerFile(ServerList& list, AddHost& host, std::wstring& lastFolder,
                   OptionsSource& options);

// "<folder>*.ocx" for a root such as C:\, "<folder>\*.ocx" otherwise.
std::wstring OcxPatternOf(const std::wstring& folder);
std::wstring JoinFolderAndName(const std::wstring& folder, const std::wstring& name);

// The shell's folder browser; the chosen file-system folder (a root keeps its backslash), or
// empty when cancelled.
std::wstring BrowseForServerFolder(HWND owner);

// The 列表 command: asks whether to keep a non-empty list, then adds every *.ocx of a folder.
void AddServerFolder(ServerList& list, AddHost& host);

// Appends every *.ocx of `folder`, each under its bare name, as one change of the list; hidden
// and system files only when `hiddenToo` (see FileListing).
void AppendFolderFiles(ServerList& list, const std::wstring& folder, bool hiddenToo = false);

// Files and folders dropped on the main window, in their order: an *.ocx or *.dll file is added
// as 添加 adds a picked one (unless its full path is listed) and the folder label shows its
// folder; a folder is added as 列表 adds a chosen one, question included; anything else is left.
// A hidden or system file is queued like any other, alone or in a dropped folder, as 添加
// queues one: the user handed it over, and 注册 then says why it refuses it.
void AddDroppedPaths(ServerList& list, AddHost& host, const std::vector<std::wstring>& paths);

}  // namespace kestrave
