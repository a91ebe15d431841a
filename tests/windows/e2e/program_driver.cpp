#include "program_driver.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shellapi.h>

#include <cwctype>
#include <stdexcept>

namespace kestrave::testing {
namespace {

constexpr wchar_t kFormClass[] = L"Kestrave.Form";
constexpr wchar_t kMainTitle[] = L"Kestrave v1.0";

std::wstring ClassOf(HWND window) {
    wchar_t name[128]{};
    GetClassNameW(window, name, 128);
    return name;
}

std::wstring TextOf(HWND window) {
    // Long enough for a closing message that lists a dozen long paths.
    std::wstring text(8192, L'\0');
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_BLOCK, 2000, nullptr);
    text.resize(wcslen(text.c_str()));
    return text;
}

std::vector<wchar_t> EnvironmentWith(const std::vector<ProgramDriver::Variable>& changed) {
    std::vector<wchar_t> block;
    auto isChanged = [&changed](const std::wstring& entry) {
        for (const ProgramDriver::Variable& variable : changed) {
            const std::wstring start = variable.name + L"=";
            if (_wcsnicmp(entry.c_str(), start.c_str(), start.size()) == 0)
                return true;
        }
        return false;
    };
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
        const std::wstring text(entry);
        if (isChanged(text))
            continue;
        block.insert(block.end(), text.begin(), text.end());
        block.push_back(L'\0');
    }
    FreeEnvironmentStringsW(strings);
    for (const ProgramDriver::Variable& variable : changed) {
        const std::wstring added = variable.name + L"=" + variable.value;
        block.insert(block.end(), added.begin(), added.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

void SendMouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof input);
}

void MoveCursor(POINT screen) {
    SetCursorPos(screen.x, screen.y);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = screen.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = screen.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
    Sleep(60);
}

POINT ToScreen(HWND window, POINT client) {
    ClientToScreen(window, &client);
    return client;
}

BOOL CALLBACK TakeFirstEdit(HWND child, LPARAM result) {
    if (ClassOf(child) != L"Edit")
        return TRUE;
    *reinterpret_cast<HWND*>(result) = child;
    return FALSE;
}

HWND FindEdit(HWND parent) {
    HWND found = nullptr;
    EnumChildWindows(parent, TakeFirstEdit, reinterpret_cast<LPARAM>(&found));
    return found;
}

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId)
        search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::wstring ProgramPath() {
    // The build passes the Unix path; Wine sees the whole Unix tree as drive Z:.
    std::wstring path = L"Z:" KESTRAVE_PROGRAM_PATH;
    for (wchar_t& ch : path) {
        if (ch == L'/')
            ch = L'\\';
    }
    return path;
}

ProgramDriver::ProgramDriver(const std::vector<Variable>& changed) {
    std::vector<wchar_t> environment = EnvironmentWith(changed);
    std::wstring commandLine = L"\"" + ProgramPath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start the program, error " << GetLastError();
        return;
    }
    process_.reset(info.hProcess);
    KernelHandle thread(info.hThread);
    processId_ = info.dwProcessId;
    WaitFor([&] {
        for (HWND window : TopLevelWindows()) {
            if (ClassOf(window) == kFormClass && TextOf(window) == kMainTitle &&
                IsWindowVisible(window)) {
                main_ = window;
            }
        }
        return main_ != nullptr;
    });
    if (!main_)
        ADD_FAILURE() << "the main window did not appear";
    Sleep(200);
}

ProgramDriver::~ProgramDriver() {
    if (process_ && Running()) {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 5000);
    }
}

std::vector<HWND> ProgramDriver::TopLevelWindows() const {
    WindowSearch search{processId_, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ProgramDriver::Dialog() {
    for (HWND window : TopLevelWindows()) {
        if (ClassOf(window) == kFormClass && window != main_)
            return window;
    }
    return nullptr;
}

bool ProgramDriver::Running() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

DWORD ProgramDriver::WaitForExit(DWORD limitMs) {
    if (!process_ || WaitForSingleObject(process_.get(), limitMs) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

void ProgramDriver::Click(HWND window, POINT client) {
    MoveCursor(ToScreen(window, client));
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    Sleep(80);
    SendMouse(MOUSEEVENTF_LEFTUP);
    Sleep(80);
}

void ProgramDriver::ClickButton(HWND window, POINT centre) {
    // Onto the button first, so that its polling sees the cursor, then a press long enough for
    // a few of its timer ticks.
    const POINT screen = ToScreen(window, centre);
    MoveCursor(POINT{screen.x - 2, screen.y});
    MoveCursor(screen);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    Sleep(120);
    SendMouse(MOUSEEVENTF_LEFTUP);
    Sleep(120);
}

void ProgramDriver::Drag(HWND window, POINT from, POINT to, bool rightButton) {
    const POINT start = ToScreen(window, from);
    const POINT end = ToScreen(window, to);
    MoveCursor(start);
    SendMouse(rightButton ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
    Sleep(80);
    for (int step = 1; step <= 10; ++step) {
        MoveCursor(POINT{start.x + (end.x - start.x) * step / 10,
                         start.y + (end.y - start.y) * step / 10});
    }
    SendMouse(rightButton ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
    Sleep(200);
}

void ProgramDriver::PressKeys(std::initializer_list<WORD> keys, bool shift) {
    std::vector<INPUT> inputs;
    auto add = [&](WORD key, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (shift)
        add(VK_SHIFT, false);
    for (WORD key : keys) {
        add(key, false);
        add(key, true);
    }
    if (shift)
        add(VK_SHIFT, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    Sleep(100);
}

HWND ProgramDriver::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main_, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

HWND ProgramDriver::ChildAt(HWND window, POINT client) const {
    return ChildWindowFromPointEx(window, client, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
}

void ProgramDriver::DropFiles(HWND window, const std::vector<std::wstring>& paths) {
    // DROPFILES, then the paths, each ended by a NUL, and a NUL after the last.
    std::vector<BYTE> block(sizeof(DROPFILES));
    auto* header = reinterpret_cast<DROPFILES*>(block.data());
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    for (const std::wstring& path : paths) {
        const auto* bytes = reinterpret_cast<const BYTE*>(path.c_str());
        block.insert(block.end(), bytes, bytes + (path.size() + 1) * sizeof(wchar_t));
    }
    block.insert(block.end(), sizeof(wchar_t), 0);
    // Page-aligned memory of the program's own, which the system takes as a fixed global
    // block. The program frees the drop when done with it; the pages go with the process.
    void* remote =
        VirtualAllocEx(process_.get(), nullptr, block.size(), MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(remote, nullptr);
    ASSERT_TRUE(WriteProcessMemory(process_.get(), remote, block.data(), block.size(), nullptr));
    PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
    Sleep(200);
}

std::vector<std::wstring> ProgramDriver::Rows(HWND list) const {
    std::vector<std::wstring> rows;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[1024]{};
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        rows.emplace_back(text);
    }
    return rows;
}

int ProgramDriver::SelectedRow(HWND list) const {
    return static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
}

HWND ProgramDriver::ListBox(HWND window, int index) const {
    HWND child = nullptr;
    for (int i = 0; i <= index; ++i) {
        child = FindWindowExW(window, child, L"ListBox", nullptr);
    }
    return child;
}

std::wstring ProgramDriver::ControlText(HWND window, POINT client) const {
    const POINT screen = ToScreen(window, client);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) != L"Static")
            continue;
        RECT rect{};
        GetWindowRect(child, &rect);
        if (PtInRect(&rect, screen))
            return TextOf(child);
    }
    return L"<no control>";
}

bool ProgramDriver::Topmost(HWND window) const {
    return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

RECT ProgramDriver::WindowRect(HWND window) const {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

OpenedDialog ProgramDriver::WaitForDialog(const std::wstring& title, DWORD limitMs) {
    OpenedDialog dialog;
    WaitFor(
        [&] {
            for (HWND window : TopLevelWindows()) {
                if (ClassOf(window) != L"#32770" || !IsWindowVisible(window))
                    continue;
                const std::wstring windowTitle = TextOf(window);
                if (!title.empty() && windowTitle != title)
                    continue;
                dialog.window = window;
                dialog.title = windowTitle;
                if (HWND text = GetDlgItem(window, 0xFFFF))
                    dialog.text = TextOf(text);
                return true;
            }
            return false;
        },
        limitMs);
    return dialog;
}

bool ProgramDriver::WaitUntilNoDialog(DWORD limitMs) {
    return WaitFor(
        [&] {
            for (HWND window : TopLevelWindows()) {
                if (ClassOf(window) == L"#32770" && IsWindowVisible(window))
                    return false;
            }
            return true;
        },
        limitMs);
}

void ProgramDriver::Press(const OpenedDialog& dialog, int buttonId) {
    PostMessageW(GetDlgItem(dialog.window, buttonId), BM_CLICK, 0, 0);
    WaitFor([&] { return !IsWindow(dialog.window) || !IsWindowVisible(dialog.window); });
    Sleep(100);
}

void ProgramDriver::OpenFile(const OpenedDialog& dialog, const std::wstring& path) {
    HWND nameBox = GetDlgItem(dialog.window, 0x47c);
    HWND edit = nameBox ? FindEdit(nameBox) : nullptr;
    if (!edit)
        edit = GetDlgItem(dialog.window, 0x480);
    ASSERT_NE(edit, nullptr) << "no file name box in the file-open dialog";
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    Press(dialog, IDOK);
}

void ProgramDriver::ChooseFolder(const OpenedDialog& dialog, const std::wstring& folder) {
    HWND tree = nullptr;
    WaitFor([&] {
        tree = FindWindowExW(dialog.window, nullptr, L"SysTreeView32", nullptr);
        return tree && SendMessageW(tree, TVM_GETCOUNT, 0, 0) > 0;
    });
    ASSERT_NE(tree, nullptr) << "no folder tree in the browser";

    // The path, and room for reading back the selected item, in the program's own memory.
    struct RemoteBlock {
        TVITEMW item;
        wchar_t label[MAX_PATH];
        wchar_t path[1024];
    };
    auto* remote = static_cast<RemoteBlock*>(
        VirtualAllocEx(process_.get(), nullptr, sizeof(RemoteBlock), MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(remote, nullptr);
    WriteProcessMemory(process_.get(), remote->path, folder.c_str(),
                       (folder.size() + 1) * sizeof(wchar_t), nullptr);
    const std::wstring lastPiece = folder.substr(folder.find_last_of(L'\\') + 1);

    // The browser may still be filling its tree and drop an early selection: select until the
    // tree shows the folder's own item.
    const bool selected = WaitFor([&] {
        SendMessageW(dialog.window, BFFM_SETSELECTIONW, TRUE,
                     reinterpret_cast<LPARAM>(remote->path));
        Sleep(100);
        const auto caret =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        if (!caret)
            return false;
        TVITEMW item{};
        item.mask = TVIF_TEXT;
        item.hItem = caret;
        item.pszText = remote->label;
        item.cchTextMax = MAX_PATH;
        WriteProcessMemory(process_.get(), &remote->item, &item, sizeof item, nullptr);
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&remote->item));
        wchar_t label[MAX_PATH]{};
        ReadProcessMemory(process_.get(), remote->label, label, sizeof label, nullptr);
        return _wcsicmp(label, lastPiece.c_str()) == 0;
    });
    EXPECT_TRUE(selected) << "the browser did not select "
                          << std::string(folder.begin(), folder.end());
    Press(dialog, IDOK);
    VirtualFreeEx(process_.get(), remote, 0, MEM_RELEASE);
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr))
        return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

}  // namespace kestrave::testing
