// Runs the real kestrave.exe in its own process and uses it as a user does: the real mouse on
// its buttons, the real file-open dialog, folder browser and message boxes. Reads back what the
// user would see: rows, labels, visibility, topmost state.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "handles.h"

namespace kestrave::testing {

// A top-level window of the program that a command opened: a message box, the file-open
// dialog or the folder browser.
struct OpenedDialog {
    HWND window = nullptr;
    std::wstring title;
    std::wstring text;  // a message box's text
    explicit operator bool() const { return window != nullptr; }
};

class ProgramDriver {
  public:
    // An environment variable the program is started with, in place of the tests' own.
    struct Variable {
        std::wstring name;
        std::wstring value;
    };
    // Starts the program with the tests' environment, changed by `changed`, and waits for its
    // main window.
    explicit ProgramDriver(const std::vector<Variable>& changed = {});
    ~ProgramDriver();
    ProgramDriver(const ProgramDriver&) = delete;
    ProgramDriver& operator=(const ProgramDriver&) = delete;

    HWND Main() const { return main_; }
    // The options dialog, once it exists.
    HWND Dialog();
    bool Running() const;
    DWORD WaitForExit(DWORD limitMs);
    DWORD ProcessId() const { return processId_; }

    // Real mouse input at a point of a window's client area (pixels).
    void Click(HWND window, POINT client);
    void Drag(HWND window, POINT from, POINT to, bool rightButton = false);
    // The picture button at a client point of `window`: moved onto, pressed, released.
    void ClickButton(HWND window, POINT centre);

    // Real key presses: each key down and up, in order; with `shift` held around them.
    void PressKeys(std::initializer_list<WORD> keys, bool shift = false);
    // The window of the program that has the keyboard focus.
    HWND Focus() const;
    // The child window (a button or a list) at a client point of `window`.
    HWND ChildAt(HWND window, POINT client) const;
    // Drops `paths` on `window` as the shell does: WM_DROPFILES with the files' block in the
    // program's own memory.
    void DropFiles(HWND window, const std::vector<std::wstring>& paths);

    std::vector<std::wstring> Rows(HWND list) const;
    int SelectedRow(HWND list) const;
    HWND ListBox(HWND window, int index = 0) const;
    // The text (caption or picture name) of the windowless control at a client point.
    std::wstring ControlText(HWND window, POINT client) const;
    bool Topmost(HWND window) const;
    bool Visible(HWND window) const { return IsWindowVisible(window) != FALSE; }
    RECT WindowRect(HWND window) const;

    // Waits for a new dialog window of the program with the given title (any when empty).
    OpenedDialog WaitForDialog(const std::wstring& title, DWORD limitMs = 10000);
    bool WaitUntilNoDialog(DWORD limitMs = 10000);
    // Presses a dialog's button by its id (IDOK, IDCANCEL, IDYES, IDNO).
    void Press(const OpenedDialog& dialog, int buttonId);
    // Types a path into the file-open dialog and confirms it.
    void OpenFile(const OpenedDialog& dialog, const std::wstring& path);
    // Selects a folder in the folder browser and confirms it.
    void ChooseFolder(const OpenedDialog& dialog, const std::wstring& folder);

    // Waits until `condition` holds, at most `limitMs`; gives whether it did.
    template <typename Condition>
    static bool WaitFor(Condition condition, DWORD limitMs = 10000) {
        for (DWORD waited = 0; waited < limitMs; waited += 20) {
            if (condition())
                return true;
            Sleep(20);
        }
        return condition();
    }

  private:
    std::vector<HWND> TopLevelWindows() const;

    KernelHandle process_;
    DWORD processId_ = 0;
    HWND main_ = nullptr;
};

// Where the tests' own program is: kestrave.exe of this build.
std::wstring ProgramPath();

// The text on the clipboard, where the program puts its complete report; empty when there is
// none.
std::wstring ClipboardText();

}  // namespace kestrave::testing
