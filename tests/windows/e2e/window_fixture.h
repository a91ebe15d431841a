// A fresh program per test, with a folder of test servers, and the steps a user takes with the
// main window. The program copies into the test prefix's own system folders (which are the
// tests' to throw away); every file a test put there is taken away again afterwards.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "program_driver.h"
#include "system_folders.h"
#include "test_folder.h"
#include "test_server_keys.h"

namespace kestrave::testing {

// Client pixels of the main window's controls.
constexpr POINT kClose{304, 15};
constexpr POINT kRegister{273, 158};
constexpr POINT kUnregister{273, 187};
constexpr POINT kFolderAdd{273, 229};
constexpr POINT kAdd{273, 259};
constexpr POINT kDelete{273, 288};
constexpr POINT kClear{273, 318};
constexpr POINT kSettings{272, 358};
constexpr POINT kHelp{273, 387};
constexpr POINT kFolderLabel{110, 341};
constexpr POINT kCountLabel{125, 370};
constexpr POINT kCaption{150, 16};
constexpr POINT kListPoint{120, 250};

constexpr wchar_t kTitle[] = L"温馨提示";

// The names of the files in a folder.
inline std::vector<std::wstring> FileNamesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.emplace_back(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

// A folder's files as they were, and put back so: whatever was added meanwhile is deleted.
class FolderFiles {
  public:
    explicit FolderFiles(std::wstring folder)
        : folder_(std::move(folder)), before_(FileNamesIn(folder_)) {}
    ~FolderFiles() { TakeAwayAdded(); }
    FolderFiles(const FolderFiles&) = delete;
    FolderFiles& operator=(const FolderFiles&) = delete;

    void TakeAwayAdded() const {
        for (const std::wstring& name : FileNamesIn(folder_)) {
            if (std::find(before_.begin(), before_.end(), name) != before_.end())
                continue;
            const std::wstring path = folder_ + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }

  private:
    std::wstring folder_;
    std::vector<std::wstring> before_;
};

// A path made of a folder's and a name, as TempFolder makes them.
struct FolderPath {
    std::wstring path;
    const std::wstring& Path() const { return path; }
    std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }
};

class MainWindowEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        MakeFolder(windows_ / L"System");
        system32Files_ = std::make_unique<FolderFiles>(windows_ / L"System32");
        systemFiles_ = std::make_unique<FolderFiles>(windows_ / L"System");
        MakeFolder(sources_ / L"ocx");
        for (const wchar_t* name : {L"a.ocx", L"b.OCX", L"c.dll", L"d.ocx"}) {
            CopyOrFail(TestServerPath(L"good_server.dll"),
                       sources_ / (std::wstring(L"ocx\\") + name));
        }
        SetFileAttributesW((sources_ / L"ocx\\d.ocx").c_str(), FILE_ATTRIBUTE_HIDDEN);
        program_ = std::make_unique<ProgramDriver>();
        ASSERT_NE(program_->Main(), nullptr);
        list_ = program_->ListBox(program_->Main());
    }
    void TearDown() override {
        for (const wchar_t* name : {L"a.ocx", L"b.OCX", L"e.ocx"}) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, TestServerClsidKey(name).c_str());
        }
        // The program and its hosts first, so that nothing holds the copies.
        program_.reset();
        system32Files_.reset();
        systemFiles_.reset();
    }

    HWND Main() const { return program_->Main(); }
    std::wstring Count() const { return program_->ControlText(Main(), kCountLabel); }
    std::wstring Folder() const { return program_->ControlText(Main(), kFolderLabel); }
    std::vector<std::wstring> Rows() const { return program_->Rows(list_); }

    // 添加 through the file-open dialog; an empty path cancels it.
    void AddFile(const std::wstring& path) {
        program_->ClickButton(Main(), kAdd);
        OpenedDialog dialog = program_->WaitForDialog(L"添加");
        ASSERT_TRUE(dialog) << "no file-open dialog";
        EXPECT_FALSE(program_->Visible(Main())) << "the main window stays hidden meanwhile";
        if (path.empty()) {
            program_->Press(dialog, IDCANCEL);
        } else {
            program_->OpenFile(dialog, path);
        }
        ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));
    }

    // 列表: answers the keep-the-list question when one comes (0: expect none), then picks
    // `folder` in the browser (empty: cancel).
    void AddFolder(int answer, const std::wstring& folder) {
        program_->ClickButton(Main(), kFolderAdd);
        if (answer != 0) {
            OpenedDialog question = program_->WaitForDialog(kTitle);
            ASSERT_TRUE(question) << "no question";
            EXPECT_EQ(question.text, L"是否继续添加?");
            EXPECT_FALSE(program_->Visible(Main()));
            program_->Press(question, answer);
            if (answer == IDCANCEL)
                return;
        }
        OpenedDialog browser = program_->WaitForDialog(L"");
        ASSERT_TRUE(browser) << "no folder browser";
        EXPECT_TRUE(program_->Visible(Main())) << "the browser leaves the main window visible";
        if (folder.empty()) {
            program_->Press(browser, IDCANCEL);
        } else {
            program_->ChooseFolder(browser, folder);
        }
    }

    void SelectRow(int row) {
        const int itemHeight = static_cast<int>(SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0));
        RECT listRect = program_->WindowRect(list_);
        POINT point{listRect.left + 20, listRect.top + 3 + itemHeight * row + itemHeight / 2};
        ScreenToClient(Main(), &point);
        program_->Click(Main(), point);
        ASSERT_TRUE(ProgramDriver::WaitFor([&] { return program_->SelectedRow(list_) == row; }));
    }

    std::wstring ClosingMessage() {
        OpenedDialog message = program_->WaitForDialog(kTitle, 30000);
        EXPECT_TRUE(message) << "no closing message";
        EXPECT_FALSE(program_->Visible(Main())) << "hidden while the closing message is up";
        program_->Press(message, IDOK);
        EXPECT_TRUE(ProgramDriver::WaitFor([&] { return program_->Visible(Main()); }));
        return message.text;
    }

    const FolderPath windows_{SystemWindowsFolder()};
    std::unique_ptr<FolderFiles> system32Files_;
    std::unique_ptr<FolderFiles> systemFiles_;
    TempFolder sources_;
    std::unique_ptr<ProgramDriver> program_;
    HWND list_ = nullptr;
};

}  // namespace kestrave::testing
