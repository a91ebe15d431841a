// Start-up benchmark: how long kestrave.exe takes from process start to its main window being
// painted, against a bare Win32 program with one window and a list box (bare_window.exe).
//
//   startup_bench.exe [runs] [kestrave.exe]     (default 20 runs each)
//
// Each run starts one program with CreateProcess and waits with WaitForInputIdle: that returns
// when the program's thread first waits for input with nothing left to do, which for both
// programs is after the main window has been shown and its first WM_PAINT handled (both only
// create, show and then enter their message loop). The time from just before CreateProcess to
// that moment is the run's start-up time; the run then checks the window is visible and ends
// the program. The two programs take turns so that both see the same machine load, and each is
// judged by its median and its fastest run. Figures only: nothing here passes or fails.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Program {
    const wchar_t* label;
    std::wstring path;
    std::vector<double> times;  // milliseconds
};

std::wstring SiblingPath(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

struct VisibleWindowSearch {
    DWORD processId;
    bool found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<VisibleWindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

// One start of `path`; the milliseconds to its painted window, or a negative number.
double TimeOneStart(const std::wstring& path) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + path + L"\"";
    LARGE_INTEGER frequency, started, idle;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        return -1;
    const DWORD waited = WaitForInputIdle(process.hProcess, 30000);
    QueryPerformanceCounter(&idle);
    VisibleWindowSearch search{process.dwProcessId, false};
    EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (waited != 0 || !search.found)
        return -1;
    return static_cast<double>(idle.QuadPart - started.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 20;
    Program bare{L"bare window", SiblingPath(L"bare_window.exe"), {}};
    Program program{L"kestrave", argc > 2 ? argv[2] : SiblingPath(L"kestrave.exe"), {}};

    // One start of each first, untimed: the first start of any program pays for the disk cache.
    TimeOneStart(bare.path);
    TimeOneStart(program.path);
    for (int run = 0; run < runs; ++run) {
        for (Program* p : {&bare, &program}) {
            const double ms = TimeOneStart(p->path);
            if (ms < 0) {
                std::fwprintf(stderr, L"%ls did not show a window: %ls\n", p->label,
                              p->path.c_str());
                return 1;
            }
            p->times.push_back(ms);
        }
    }

    std::wprintf(L"start to painted main window, %d runs each, taking turns\n", runs);
    for (const Program* p : {&bare, &program})
        std::wprintf(L"  %-12ls median %7.1f ms   fastest %7.1f ms\n", p->label, Median(p->times),
                     *std::min_element(p->times.begin(), p->times.end()));
    std::wprintf(L"  ratio        median %7.2f      fastest %7.2f\n",
                 Median(program.times) / Median(bare.times),
                 *std::min_element(program.times.begin(), program.times.end()) /
                     *std::min_element(bare.times.begin(), bare.times.end()));
    return 0;
}
