// Libraries planted next to the program must not be loaded into it. Wine prefers its own
// built-in DLLs, so each check tells it to prefer a DLL file found by the search, as Windows
// does for any DLL that is not a known one: WINEDLLOVERRIDES=name=n,b in the started program's
// environment, and the same as Wine's per-program setting (AppDefaults), which a program
// started from another Windows program is sure to see.
#include "system_libraries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handles.h"
#include "test_folder.h"

namespace kestrave {
namespace {

using testing::TempFolder;

// System DLLs the program, or the DLLs it uses, load by name.
const std::vector<std::wstring> kPlanted = {L"version", L"imm32",    L"sechost", L"uxtheme",
                                            L"ole32",   L"oleaut32", L"shell32", L"comdlg32"};

std::wstring WindowsPath(const wchar_t* unixPath) {
    // The build passes Unix paths; Wine sees the whole Unix tree as drive Z:.
    std::wstring path = std::wstring(L"Z:") + unixPath;
    for (wchar_t& ch : path) {
        if (ch == L'/')
            ch = L'\\';
    }
    return path;
}

// This process's environment plus the override that lets planted DLLs win.
std::vector<wchar_t> EnvironmentPreferringPlanted() {
    std::wstring overrides = L"WINEDLLOVERRIDES=";
    for (size_t i = 0; i < kPlanted.size(); ++i)
        overrides += (i ? L"," : L"") + kPlanted[i];
    overrides += L"=n,b";
    std::vector<wchar_t> block;
    wchar_t* current = GetEnvironmentStringsW();
    for (const wchar_t* entry = current; *entry; entry += wcslen(entry) + 1) {
        if (_wcsnicmp(entry, L"WINEDLLOVERRIDES=", 17) != 0)
            block.insert(block.end(), entry, entry + wcslen(entry) + 1);
    }
    FreeEnvironmentStringsW(current);
    block.insert(block.end(), overrides.begin(), overrides.end());
    block.push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

struct VisibleWindowSearch {
    DWORD processId;
    bool found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<VisibleWindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window))
        search->found = true;
    return !search->found;
}

class PlantedLibraries : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const std::wstring& name : kPlanted)
            testing::CopyOrFail(testing::TestServerPath(L"marked_library.dll"),
                                folder_ / (name + L".dll"));
    }

    // Starts `program` (a copy in the planted folder) with `arguments`; when `window` is set,
    // lets it run until its main window is on screen, then ends it.
    void Run(const std::wstring& program, const std::wstring& arguments, bool window) {
        PreferPlantedFor(program.substr(program.find_last_of(L'\\') + 1));
        std::vector<wchar_t> environment = EnvironmentPreferringPlanted();
        std::wstring commandLine = L"\"" + program + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                   CREATE_UNICODE_ENVIRONMENT, environment.data(),
                                   folder_.Path().c_str(), &startup, &info))
            << GetLastError();
        KernelHandle process(info.hProcess);
        KernelHandle thread(info.hThread);
        if (!window) {
            EXPECT_EQ(WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
            return;
        }
        VisibleWindowSearch search{info.dwProcessId, false};
        for (int waited = 0; waited < 20000 && !search.found; waited += 50) {
            Sleep(50);
            EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        }
        EXPECT_TRUE(search.found) << "the program showed no window";
        // The first paint and whatever the program does once idle.
        WaitForInputIdle(process.get(), 5000);
        Sleep(500);
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), 5000);
    }

    void PreferPlantedFor(const std::wstring& programName) {
        appKey_ = L"Software\\Wine\\AppDefaults\\" + programName;
        const std::wstring key = appKey_ + L"\\DllOverrides";
        HKEY overrides = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &overrides, nullptr),
                  ERROR_SUCCESS);
        const std::wstring order = L"native,builtin";
        for (const std::wstring& name : kPlanted)
            RegSetValueExW(overrides, name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(order.c_str()),
                           static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(overrides);
    }

    void TearDown() override {
        if (!appKey_.empty())
            RegDeleteTreeW(HKEY_CURRENT_USER, appKey_.c_str());
    }

    std::vector<std::wstring> Loaded() const {
        std::vector<std::wstring> loaded;
        for (const std::wstring& name : kPlanted) {
            if (testing::FileExists(folder_ / (name + L".dll.loaded")))
                loaded.push_back(name);
        }
        return loaded;
    }

    TempFolder folder_;
    std::wstring appKey_;
};

// Without the restriction the planted copies are taken: the check can see a load at all.
TEST_F(PlantedLibraries, AreLoadedByAProgramThatDoesNotRestrictTheSearch) {
    const std::wstring probe = folder_ / L"planted_probe.exe";
    testing::CopyOrFail(testing::TestServerPath(L"library_probe.exe"), probe);
    Run(probe, L"version.dll imm32.dll", false);
    EXPECT_EQ(Loaded(), (std::vector<std::wstring>{L"version", L"imm32"}));
}

TEST_F(PlantedLibraries, AreNotLoadedByNameOnceRestricted) {
    const std::wstring probe = folder_ / L"planted_probe.exe";
    testing::CopyOrFail(testing::TestServerPath(L"library_probe.exe"), probe);
    Run(probe, L"--system-only version.dll imm32.dll uxtheme.dll ole32.dll", false);
    EXPECT_EQ(Loaded(), std::vector<std::wstring>{});
}

// The program itself, from start to its painted main window, takes none of them: neither the
// DLLs it uses nor the ones those pull in.
TEST_F(PlantedLibraries, AreNotLoadedByTheProgram) {
    const std::wstring program = folder_ / L"planted_kestrave.exe";
    testing::CopyOrFail(WindowsPath(KESTRAVE_PROGRAM_PATH), program);
    Run(program, L"", true);
    std::vector<std::wstring> loaded = Loaded();
    // Not the program's doing: Wine's X11 driver loads ole32 itself when the first window
    // appears, by a search that ignores the program's restriction. On Windows ole32 is a known
    // DLL, never taken from a program's folder.
    std::erase(loaded, L"ole32");
    EXPECT_EQ(loaded, std::vector<std::wstring>{});
}

}  // namespace
}  // namespace kestrave
