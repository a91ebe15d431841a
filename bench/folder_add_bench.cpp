// How long 列表 takes to queue a folder of many *.ocx files, against the least it could take: a
// bare FindFirstFile/FindNextFile listing filling a visible list box with its redraw off. Both
// fill a list on screen and end with it painted; they take turns, and each is judged by its
// fastest round. Also how much memory the queue of all those files takes.
// Usage: folder_add_bench.exe [files [rounds]]   (defaults 10000 and 5)
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "add_commands.h"
#include "bench_clock.h"
#include "main_window.h"
#include "options_record.h"
#include "test_folder.h"

namespace kestrave {
namespace {

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The memory the program has committed. Wine leaves PrivateUsage at zero, so the larger of it
// and the page-file usage (the same figure on Windows) is taken.
double PrivateMegabytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    const SIZE_T committed = std::max(counters.PrivateUsage, counters.PagefileUsage);
    return static_cast<double>(committed) / (1024.0 * 1024.0);
}

// The floor: the system's listing straight into a list box with its redraw off.
double BareFill(HWND list, const std::wstring& folder) {
    const double start = NowMs();
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((folder + L"\\*.ocx").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.cFileName));
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(list);
    return NowMs() - start;
}

double ProgramFill(MainWindow& window, const std::wstring& folder) {
    const double start = NowMs();
    AppendFolderFiles(window.Queue(), folder);
    UpdateWindow(window.hWnd());
    Pump();
    return NowMs() - start;
}

int Bench(int count, int rounds) {
    testing::TempFolder folder;
    for (int i = 0; i < count; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"\\control_%05d.ocx", i);
        HANDLE file = CreateFileW((folder.Path() + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        CloseHandle(file);
    }

    Options options;
    MainWindow window(options);
    window.Show();
    Pump();
    HWND bare =
        CreateWindowExW(0, L"LISTBOX", L"", WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_VISIBLE, 0, 0,
                        200, 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    Pump();
    const double idleMb = PrivateMegabytes();

    std::vector<double> programTimes, bareTimes;
    double queuedMb = 0;
    int queued = 0;
    for (int round = 0; round < rounds; ++round) {
        window.Queue().ClearList();
        Pump();
        programTimes.push_back(ProgramFill(window, folder.Path()));
        queued = window.Queue().Count();
        // The queue against the idle program: the first fill, before any clearing left its heap
        // behind.
        if (round == 0)
            queuedMb = PrivateMegabytes();
        SendMessageW(bare, LB_RESETCONTENT, 0, 0);
        Pump();
        bareTimes.push_back(BareFill(bare, folder.Path()));
    }
    const double program = *std::min_element(programTimes.begin(), programTimes.end());
    const double floor = *std::min_element(bareTimes.begin(), bareTimes.end());
    std::printf("Queueing a folder of %d *.ocx files (best of %d rounds)\n", count, rounds);
    std::printf("  列表 (AppendFolderFiles)       %8.1f ms\n", program);
    std::printf("  bare listing + list box fill %8.1f ms\n", floor);
    std::printf("  program / floor = %.2fx   (target: at most 1.5x)\n", program / floor);
    std::printf(
        "  queued %d; private memory %.1f MB idle, %.1f MB with them queued: +%.1f MB"
        "   (target: at most +5 MB)\n",
        queued, idleMb, queuedMb, queuedMb - idleMb);
    DestroyWindow(bare);
    return queued == count ? 0 : 1;
}

}  // namespace
}  // namespace kestrave

int wmain(int argc, wchar_t** argv) {
    try {
        const int count = argc > 1 ? _wtoi(argv[1]) : 10000;
        const int rounds = argc > 2 ? _wtoi(argv[2]) : 5;
        if (count < 1 || rounds < 1) {
            std::fprintf(stderr,
                         "usage: folder_add_bench [files, default 10000] [rounds, default 5]\n");
            return 2;
        }
        return kestrave::Bench(count, rounds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "benchmark stopped: %s\n", error.what());
        return 3;
    }
}
