// How much the batch engine costs per file: N copies of a well-behaved server registered three
// ways, each into its own scratch system folder:
//   batch     RegisterAll, every file handled by a registration host that, as in the program,
//             was started before the batch (when the files were queued) and serves it all;
//   regsvr32  one "regsvr32 /s" process per file, after the same copy;
//   floor     copy + LoadLibrary + DllRegisterServer + FreeLibrary in a loop, COM set up once.
// Unregistering is timed the same way (batch: UnregisterAll with deleting off; floor: load +
// DllUnregisterServer + free). What starting a host costs is timed and printed apart.
// Usage: batch_bench.exe [N [rounds]]   (defaults 200 and 5; good_server.dll must sit next to
// the program, where the build puts it)
//        batch_bench.exe --scale [small large [rounds]]   (defaults 1000, 10000 and 3): the
// batch's time per file at both sizes, what one file lookup costs in folders of both sizes, and
// what the same copies cost alone, so that the file system's growth can be told from the batch's.
//
// Every round of the batch and of the floor runs in a process of its own: the test server's
// static runtime takes a thread-local slot at every load and never gives it back, and a process
// has only about 1080 of them. The machine is shared, so batch and floor take turns and each is
// judged by its fastest round, the one least disturbed by others.
#include <ole2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "batch.h"
#include "bench_clock.h"
#include "file_lookup.h"
#include "no_queue_display.h"
#include "program_folder.h"
#include "test_folder.h"
#include "test_hosts.h"
#include "test_server_keys.h"

namespace kestrave {
namespace {

using testing::NoQueueDisplay;
using testing::RemoveTree;

// The window side of a timed batch: no window, and a Windows folder of the run's own.
class QuietHost : public BatchHost {
  public:
    explicit QuietHost(std::wstring windowsFolder) : windowsFolder_(std::move(windowsFolder)) {}
    void SetMousePointer(int) override {}
    void HideMainWindow() override {}
    void ShowMainWindow() override {}
    int ShowMessage(const std::wstring& text, int style, const std::wstring&) override {
        closingText = text;
        closingStyle = style;
        return IDOK;
    }
    std::wstring WindowsFolder() override { return windowsFolder_; }
    std::wstring closingText;
    int closingStyle = 0;

  private:
    std::wstring windowsFolder_;
};

// Nothing is deleted, the system folder is System32.
class BenchOptions : public OptionsSource {
  public:
    bool IsOn(OptionFlag flag) override { return flag == OptionFlag::WarnMissingSource; }
    std::wstring TargetSubfolder() override { return kSystem32Subfolder; }
};

// One way of registering: its own sources, its own system folder and its own server names, so
// that no way finds the work of another already done.
struct Run {
    std::wstring label;
    std::wstring windowsFolder;
    std::wstring systemFolder;  // ends with a backslash
    std::wstring sourceFolder;
    std::vector<std::wstring> names;
    std::vector<std::wstring> sources;
};

Run PrepareRun(const std::wstring& root, const std::wstring& label, const std::wstring& server,
               int count) {
    Run run;
    run.label = label;
    run.windowsFolder = root + L"\\" + label + L"-windows";
    run.systemFolder = run.windowsFolder + kSystem32Subfolder;
    run.sourceFolder = root + L"\\" + label + L"-sources";
    CreateDirectoryW(run.windowsFolder.c_str(), nullptr);
    CreateDirectoryW(run.systemFolder.c_str(), nullptr);
    CreateDirectoryW(run.sourceFolder.c_str(), nullptr);
    for (int i = 0; i < count; ++i) {
        wchar_t name[64];
        swprintf(name, 64, L"bench_%ls_%04d.ocx", label.c_str(), i);
        run.names.push_back(name);
        run.sources.push_back(run.sourceFolder + L"\\" + name);
        CopyFileW(server.c_str(), run.sources.back().c_str(), FALSE);
    }
    return run;
}

// Everything PrepareRun made: the sources and the system folder.
void RemoveRun(const Run& run) {
    RemoveTree(run.windowsFolder);
    RemoveTree(run.sourceFolder);
}

int CountRegistered(const Run& run) {
    return static_cast<int>(std::count_if(run.names.begin(), run.names.end(), [](const auto& name) {
        return testing::RegistryKeyExists(HKEY_CLASSES_ROOT, testing::TestServerClsidKey(name));
    }));
}

void Unregister(const Run& run) {
    for (const std::wstring& name : run.names) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, testing::TestServerClsidKey(name).c_str());
    }
}

// A request that changes nothing: the host is asked to unregister a file that is not a library
// and cannot load it. The first request to a host pays for starting it.
void AskHostForNothing(HostSession& hosts) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring nothing = std::wstring(temp) + L"kestrave-bench-nothing.ocx";
    if (!testing::FileExists(nothing))
        testing::WriteTextFile(nothing, "not a library");
    hosts.Unregister(kProgramImageKind, nothing, kServerEntryWaitLimitMs);
}

double TimeBatch(const Run& run, bool unregister, bool& reportedSuccess) {
    NoQueueDisplay display;
    ServerList list(display);
    for (size_t i = 0; i < run.names.size(); ++i) {
        list.Append(run.names[i], run.sources[i], run.sources[i]);
    }
    BenchOptions options;
    QuietHost host(run.windowsFolder);
    testing::TestHostImages images;
    // As in the program, which starts a host when something is queued: by the time the user
    // presses the button it is ready. What starting one costs is timed on its own below.
    HostSession hosts(images);
    AskHostForNothing(hosts);
    const double start = NowMs();
    if (unregister)
        UnregisterAll(list, options, host, hosts);
    else
        RegisterAll(list, options, host, hosts);
    const double elapsed = NowMs() - start;
    reportedSuccess = host.closingStyle == 64;
    return elapsed;
}

// The first request to a host pays for starting it; the second one does not.
void TimeHostStart(double& firstMs, double& nextMs) {
    testing::TestHostImages hosts;
    HostSession session(hosts);
    double start = NowMs();
    AskHostForNothing(session);
    firstMs = NowMs() - start;
    start = NowMs();
    AskHostForNothing(session);
    nextMs = NowMs() - start;
}

double TimeRegsvr32(const Run& run) {
    const double start = NowMs();
    for (size_t i = 0; i < run.names.size(); ++i) {
        const std::wstring systemCopy = run.systemFolder + run.names[i];
        if (FindFileName(systemCopy).empty()) {
            CopyFileW(run.sources[i].c_str(), systemCopy.c_str(), TRUE);
        }
        std::wstring commandLine = L"regsvr32.exe /s \"" + systemCopy + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process)) {
            std::fprintf(stderr, "regsvr32 could not be started: %lu\n", GetLastError());
            continue;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return NowMs() - start;
}

double TimeFloor(const Run& run, bool unregister) {
    using ServerExport = HRESULT(STDAPICALLTYPE*)();
    const char* exportName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const double start = NowMs();
    HRESULT init = OleInitialize(nullptr);
    for (size_t i = 0; i < run.names.size(); ++i) {
        const std::wstring systemCopy = run.systemFolder + run.names[i];
        if (FindFileName(systemCopy).empty()) {
            CopyFileW(run.sources[i].c_str(), systemCopy.c_str(), TRUE);
        }
        HMODULE library =
            LoadLibraryExW(systemCopy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!library)
            continue;
        auto entry = reinterpret_cast<ServerExport>(
            reinterpret_cast<void*>(GetProcAddress(library, exportName)));
        if (entry)
            entry();
        FreeLibrary(library);
    }
    if (SUCCEEDED(init))
        OleUninitialize();
    return NowMs() - start;
}

// Each round gets fresh files, names and folders, and leaves nothing registered behind. An
// unregistering round starts from every file registered (untimed); `registered` then counts
// the files left unregistered.
template <typename Register>
double TimedRound(const std::wstring& root, const std::wstring& label, const std::wstring& server,
                  int count, Register registerAll, int& registered, bool unregister = false) {
    Run run = PrepareRun(root, label, server, count);
    if (unregister)
        TimeFloor(run, false);
    const double elapsed = registerAll(run);
    registered = unregister ? count - CountRegistered(run) : CountRegistered(run);
    Unregister(run);
    RemoveTree(run.windowsFolder);
    return elapsed;
}

std::wstring ServerPath() {
    return ProgramFolder() + L"\\good_server.dll";
}

// What one round in its own process found.
struct RoundResult {
    double elapsedMs = 0;
    int registered = 0;
    bool reportedSuccess = false;
};

// The child's side: one timed round of `way` after a small one that pays for the first load of
// the library and of COM, which no later file pays.
int RunRound(const std::wstring& way, int count, const std::wstring& root,
             const std::wstring& resultFile) {
    const std::wstring server = ServerPath();
    RoundResult result;
    bool reported = true;
    const bool unregister = way.find(L"-un") != std::wstring::npos;
    const bool isBatch = way.rfind(L"batch", 0) == 0;
    auto timed = [&](const Run& run) {
        return isBatch ? TimeBatch(run, unregister, reported) : TimeFloor(run, unregister);
    };
    int ignored = 0;
    TimedRound(root, way + L"-warmup", server, 3, timed, ignored, unregister);
    result.elapsedMs = TimedRound(root, way, server, count, timed, result.registered, unregister);
    result.reportedSuccess = reported;
    FILE* out = _wfopen(resultFile.c_str(), L"w");
    if (!out)
        return 1;
    std::fprintf(out, "%.3f %d %d\n", result.elapsedMs, result.registered,
                 result.reportedSuccess ? 1 : 0);
    std::fclose(out);
    return 0;
}

// The parent's side: runs one round in a new process of this program and reads what it found.
bool RoundInChild(const std::wstring& way, int round, int count, const std::wstring& root,
                  RoundResult& result) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::wstring label = way + std::to_wstring(round);
    const std::wstring roundRoot = root + L"\\" + label;
    const std::wstring resultFile = root + L"\\" + label + L".txt";
    CreateDirectoryW(roundRoot.c_str(), nullptr);
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\" --round " + way + L" " +
                               std::to_wstring(count) + L" \"" + roundRoot + L"\" \"" + resultFile +
                               L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "a round could not be started: %lu\n", GetLastError());
        return false;
    }
    constexpr DWORD kRoundLimitMs = 10 * 60 * 1000;
    const bool ended = WaitForSingleObject(process.hProcess, kRoundLimitMs) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    RemoveTree(roundRoot);
    FILE* in = _wfopen(resultFile.c_str(), L"r");
    if (!in) {
        std::fprintf(stderr, "round %ls gave no result%s\n", label.c_str(),
                     ended ? "" : " (stopped after ten minutes)");
        return false;
    }
    int reported = 0;
    const bool read =
        std::fscanf(in, "%lf %d %d", &result.elapsedMs, &result.registered, &reported) == 3;
    std::fclose(in);
    DeleteFileW(resultFile.c_str());
    result.reportedSuccess = reported != 0;
    return read;
}

double Fastest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

std::string RoundTimes(const std::vector<double>& values, int decimals = 0) {
    std::string text;
    for (double value : values) {
        char item[32];
        std::snprintf(item, sizeof item, "%s%.*f", text.empty() ? "" : " ", decimals, value);
        text += item;
    }
    return text;
}

// What one exact-name lookup costs in a folder holding `count` files.
double LookupMs(const Run& run) {
    const int samples = 200;
    const double start = NowMs();
    for (int i = 0; i < samples; ++i)
        FindFileName(run.sources[(i * 7919) % run.sources.size()]);
    return (NowMs() - start) / samples;
}

// The same for names that are not there, as a system folder meets every file it gets.
double MissingLookupMs(const Run& run) {
    const int samples = 200;
    const std::wstring folder = run.sources.front().substr(0, run.sources.front().rfind(L'\\'));
    const double start = NowMs();
    for (int i = 0; i < samples; ++i)
        FindFileName(folder + L"\\not_there_" + std::to_wstring(i) + L".ocx");
    return (NowMs() - start) / samples;
}

// What the file system alone costs per file: the batch's copies into a fresh system folder of
// their own, with nothing loaded or registered. Under Wine every new name makes it read the whole
// folder, so this part grows with the folder whatever the program does.
double CopiesMsPerFile(const std::wstring& root, const std::wstring& label,
                       const std::wstring& server, int count) {
    Run run = PrepareRun(root, label, server, count);
    const double start = NowMs();
    for (size_t i = 0; i < run.names.size(); ++i)
        CopyFileW(run.sources[i].c_str(), (run.systemFolder + run.names[i]).c_str(), TRUE);
    const double elapsed = NowMs() - start;
    RemoveRun(run);
    return elapsed / count;
}

// The two sizes take turns for several rounds, each batch in a process of its own, and each size
// is judged by its fastest round: on a shared machine one round of either can be a third slower.
int Scale(int small, int large, int rounds) {
    const std::wstring server = ServerPath();
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root =
        std::wstring(temp) + L"kestrave-scale-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(root.c_str(), nullptr);
    std::printf("Registering batches of two sizes (each in a process of its own, %d rounds)\n",
                rounds);
    const int counts[2] = {small, large};
    std::vector<double> perFile[2], copiesPerFile[2];
    int registered[2] = {0, 0};
    for (int round = 0; round < rounds; ++round) {
        for (int index = 0; index < 2; ++index) {
            RoundResult result;
            if (!RoundInChild(L"batch", round * 2 + index, counts[index], root, result)) {
                RemoveTree(root);
                return 3;
            }
            perFile[index].push_back(result.elapsedMs / counts[index]);
            registered[index] = result.registered;
            const std::wstring label = L"copies" + std::to_wstring(round * 2 + index);
            copiesPerFile[index].push_back(CopiesMsPerFile(root, label, server, counts[index]));
        }
    }
    for (int index = 0; index < 2; ++index) {
        const int count = counts[index];
        std::printf("  %6d files: %.3f ms/file (ms/file by round: %s), %d registered\n", count,
                    Fastest(perFile[index]), RoundTimes(perFile[index], 3).c_str(),
                    registered[index]);
        Run lookups = PrepareRun(root, L"lookup" + std::to_wstring(count), server, count);
        std::printf(
            "          one file lookup among them: %.3f ms for a name that is there, "
            "%.3f ms for one that is not\n",
            LookupMs(lookups), MissingLookupMs(lookups));
        RemoveRun(lookups);
    }
    RemoveTree(root);
    std::printf("  per file at %d / per file at %d = %.2fx   (target: at most 1.3x)\n", large,
                small, Fastest(perFile[1]) / Fastest(perFile[0]));
    std::printf("The same copies alone, nothing loaded (what the file system costs)\n");
    for (int index = 0; index < 2; ++index)
        std::printf("  %6d files: %.3f ms/file (ms/file by round: %s)\n", counts[index],
                    Fastest(copiesPerFile[index]), RoundTimes(copiesPerFile[index], 3).c_str());
    const double ownSmall = Fastest(perFile[0]) - Fastest(copiesPerFile[0]);
    const double ownLarge = Fastest(perFile[1]) - Fastest(copiesPerFile[1]);
    std::printf(
        "The batch's own work per file (batch - copies): %.3f ms at %d, %.3f ms at %d, "
        "%.2fx\n",
        ownSmall, small, ownLarge, large, ownLarge / ownSmall);
    return 0;
}

int Bench(int count, int rounds) {
    const std::wstring server = ServerPath();
    if (FindFileName(server).empty()) {
        std::fprintf(stderr, "good_server.dll is not next to the program\n");
        return 2;
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root =
        std::wstring(temp) + L"kestrave-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(root.c_str(), nullptr);

    std::vector<double> batchTimes, floorTimes, batchUnTimes, floorUnTimes;
    bool allRegistered = true;
    bool batchReportedSuccess = true;
    for (int round = 1; round <= rounds; ++round) {
        RoundResult batch, floor, batchUn, floorUn;
        if (!RoundInChild(L"batch", round, count, root, batch) ||
            !RoundInChild(L"floor", round, count, root, floor) ||
            !RoundInChild(L"batch-un", round, count, root, batchUn) ||
            !RoundInChild(L"floor-un", round, count, root, floorUn)) {
            RemoveTree(root);
            return 3;
        }
        batchTimes.push_back(batch.elapsedMs);
        floorTimes.push_back(floor.elapsedMs);
        batchUnTimes.push_back(batchUn.elapsedMs);
        floorUnTimes.push_back(floorUn.elapsedMs);
        for (const RoundResult* result : {&batch, &floor, &batchUn, &floorUn})
            allRegistered = allRegistered && result->registered == count;
        batchReportedSuccess =
            batchReportedSuccess && batch.reportedSuccess && batchUn.reportedSuccess;
    }
    double hostFirstMs = 0, hostNextMs = 0;
    TimeHostStart(hostFirstMs, hostNextMs);
    int regsvr32Registered = 0;
    const double regsvr32Ms =
        TimedRound(root, L"regsvr32", server, count, TimeRegsvr32, regsvr32Registered, false);
    RemoveTree(root);

    const double batchMs = Fastest(batchTimes);
    const double floorMs = Fastest(floorTimes);
    std::printf(
        "Registering %d copies of good_server.dll (copy into the system folder + register)\n",
        count);
    std::printf("  batch engine (RegisterAll)   %8.1f ms  %7.3f ms/file  (best of %d rounds: %s)\n",
                batchMs, batchMs / count, rounds, RoundTimes(batchTimes).c_str());
    std::printf("  regsvr32 /s, one per file    %8.1f ms  %7.3f ms/file  (one round)\n", regsvr32Ms,
                regsvr32Ms / count);
    std::printf("  floor (one thread, COM once) %8.1f ms  %7.3f ms/file  (best of %d rounds: %s)\n",
                floorMs, floorMs / count, rounds, RoundTimes(floorTimes).c_str());
    std::printf("  regsvr32 / batch = %.1fx\n", regsvr32Ms / batchMs);
    std::printf("  batch / floor    = %.2fx   (target: at most 1.25x)\n", batchMs / floorMs);
    const double batchUnMs = Fastest(batchUnTimes);
    const double floorUnMs = Fastest(floorUnTimes);
    std::printf("Unregistering them (deleting off)\n");
    std::printf("  batch engine (UnregisterAll) %8.1f ms  %7.3f ms/file  (best of %d rounds: %s)\n",
                batchUnMs, batchUnMs / count, rounds, RoundTimes(batchUnTimes).c_str());
    std::printf("  floor (one thread, COM once) %8.1f ms  %7.3f ms/file  (best of %d rounds: %s)\n",
                floorUnMs, floorUnMs / count, rounds, RoundTimes(floorUnTimes).c_str());
    std::printf("  batch / floor    = %.2fx   (target: at most 1.25x)\n", batchUnMs / floorUnMs);
    std::printf(
        "Starting a registration host: first request %.1f ms, next %.2f ms, so about "
        "%.1f ms to start one\n",
        hostFirstMs, hostNextMs, hostFirstMs - hostNextMs);
    if (!allRegistered || !batchReportedSuccess || regsvr32Registered != count) {
        std::printf("  WARNING: not every file was registered (regsvr32: %d/%d)%s\n",
                    regsvr32Registered, count,
                    batchReportedSuccess ? "" : "; the batch did not report success");
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace kestrave

// A round process loads the server a few times more than it registers files.
constexpr int kMostFiles = 1000;

int wmain(int argc, wchar_t** argv) {
    try {
        if (argc == 6 && std::wstring(argv[1]) == L"--round") {
            return kestrave::RunRound(argv[2], _wtoi(argv[3]), argv[4], argv[5]);
        }
        if (argc >= 2 && std::wstring(argv[1]) == L"--scale") {
            return kestrave::Scale(argc > 2 ? _wtoi(argv[2]) : 1000,
                                   argc > 3 ? _wtoi(argv[3]) : 10000,
                                   argc > 4 ? _wtoi(argv[4]) : 3);
        }
        const int count = argc > 1 ? _wtoi(argv[1]) : 200;
        const int rounds = argc > 2 ? _wtoi(argv[2]) : 5;
        if (count < 1 || count > kMostFiles || rounds < 1) {
            std::fprintf(stderr,
                         "usage: batch_bench [files, 1 to %d, default 200] [rounds, default 5]\n",
                         kMostFiles);
            return 2;
        }
        return kestrave::Bench(count, rounds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "benchmark stopped: %s\n", error.what());
        return 3;
    }
}
