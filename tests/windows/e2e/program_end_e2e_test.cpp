// However the program ends, the folder its registration hosts were written to goes with it.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>

#include "window_fixture.h"

namespace kestrave::testing {
namespace {

// FOLDERID_ProgramData.
constexpr KNOWNFOLDERID kProgramDataFolderId = {
    0x62AB5D82, 0xFDC1, 0x4DC3, {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}};

std::wstring ProgramDataFolder() {
    PWSTR path = nullptr;
    if (FAILED(SHGetKnownFolderPath(kProgramDataFolderId, 0, nullptr, &path)))
        return {};
    std::wstring folder = path;
    CoTaskMemFree(path);
    return folder;
}

// The hosts' folders under ProgramData, whoever's run made them.
std::vector<std::wstring> HostFolders() {
    std::vector<std::wstring> folders;
    const std::wstring base = ProgramDataFolder();
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW((base + L"\\Kestrave-*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return folders;
    do {
        folders.push_back(base + L"\\" + found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return folders;
}

enum class WayOut { CloseButton, SystemMenuClose, AfterAStoppedBatch };

class ProgramEndEndToEnd : public MainWindowEndToEnd {
  protected:
    // The folder this run's hosts were written to, once a queued file has started one.
    std::wstring NewHostFolder(const std::vector<std::wstring>& before) {
        std::wstring made;
        ProgramDriver::WaitFor([&] {
            for (const std::wstring& folder : HostFolders()) {
                if (std::find(before.begin(), before.end(), folder) == before.end())
                    made = folder;
            }
            return !made.empty();
        });
        return made;
    }
};

TEST_F(ProgramEndEndToEnd, EveryWayOutTakesTheRunsHostFolderAway) {
    for (WayOut way : {WayOut::CloseButton, WayOut::SystemMenuClose, WayOut::AfterAStoppedBatch}) {
        SCOPED_TRACE(static_cast<int>(way));
        if (!program_->Running()) {
            program_ = std::make_unique<ProgramDriver>();
            ASSERT_NE(Main(), nullptr);
            list_ = program_->ListBox(Main());
        }
        const std::vector<std::wstring> before = HostFolders();
        const std::wstring slow = sources_ / L"slow.ocx";
        if (way == WayOut::AfterAStoppedBatch) {
            CopyOrFail(TestServerPath(L"slow_server.dll"), slow);
            program_->DropFiles(Main(), {slow, sources_ / L"ocx\\a.ocx"});
        } else {
            program_->DropFiles(Main(), {sources_ / L"ocx\\a.ocx"});
        }
        const std::wstring folder = NewHostFolder(before);
        ASSERT_FALSE(folder.empty()) << "no host was started for the queued file";

        switch (way) {
            case WayOut::CloseButton:
                program_->ClickButton(Main(), kClose);
                break;
            case WayOut::SystemMenuClose:
                PostMessageW(Main(), WM_SYSCOMMAND, SC_CLOSE, 0);
                break;
            case WayOut::AfterAStoppedBatch: {
                program_->ClickButton(Main(), kRegister);
                ASSERT_TRUE(ProgramDriver::WaitFor([&] {
                    wchar_t title[64]{};
                    GetWindowTextW(Main(), title, 64);
                    return std::wstring(title) == L"正在注册 1/2";
                }));
                program_->ClickButton(Main(), kClose);
                OpenedDialog message = program_->WaitForDialog(kTitle, 30000);
                ASSERT_TRUE(message) << "no closing message";
                EXPECT_EQ(message.text.rfind(L"已停止: 已处理 1/2 个控件", 0), 0u);
                program_->Press(message, IDOK);
                break;
            }
        }
        EXPECT_EQ(program_->WaitForExit(20000), 0u);
        EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES)
            << "the host folder stayed behind";
        DeleteFileW(slow.c_str());
    }
}

// True while a process started from a file in `folder` runs: a killed program's hosts end with
// it, but not at the same instant.
bool ProcessRunsFrom(const std::wstring& folder) {
    const KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!snapshot || !Process32FirstW(snapshot.get(), &entry))
        return false;
    const std::wstring prefix = folder + L"\\";
    do {
        const KernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        wchar_t image[MAX_PATH]{};
        DWORD size = MAX_PATH;
        if (process && QueryFullProcessImageNameW(process.get(), 0, image, &size) &&
            CompareStringOrdinal(image, static_cast<int>(std::min<size_t>(size, prefix.size())),
                                 prefix.c_str(), static_cast<int>(prefix.size()),
                                 TRUE) == CSTR_EQUAL)
            return true;
    } while (Process32NextW(snapshot.get(), &entry));
    return false;
}

// A killed run cannot take its folder away; the next start of the program does, although the
// folder's owner is whatever the system gives an elevated program's folders by default.
TEST_F(ProgramEndEndToEnd, TheNextStartTakesAKilledRunsHostFolderAway) {
    const std::vector<std::wstring> before = HostFolders();
    program_->DropFiles(Main(), {sources_ / L"ocx\\a.ocx"});
    const std::wstring folder = NewHostFolder(before);
    ASSERT_FALSE(folder.empty()) << "no host was started for the queued file";

    program_.reset();  // killed: TerminateProcess, as a crash or the task manager would
    ASSERT_NE(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES)
        << "a killed run cannot have taken its folder away";
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return !ProcessRunsFrom(folder); }, 20000))
        << "the killed run's hosts did not end";

    program_ = std::make_unique<ProgramDriver>();
    ASSERT_NE(Main(), nullptr);
    EXPECT_TRUE(ProgramDriver::WaitFor(
        [&] { return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES; }, 20000))
        << "the next start left the killed run's folder";
}

}  // namespace
}  // namespace kestrave::testing
