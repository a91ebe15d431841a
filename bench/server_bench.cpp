// What the batch costs on real servers: every self-registering server of the system folder
// (Wine's own, under Wine), copied under names that collide with nothing, registered and then
// unregistered three ways, each into the system folder itself as the program does:
//   batch     RegisterAll / UnregisterAll (deleting off) through registration hosts started
//             before the batch, as the program starts one when something is queued;
//   regsvr32  one "regsvr32 /s" (or "/u /s") process per file, after the same copy;
//   floor     copy + LoadLibrary + the export + FreeLibrary in a loop, COM set up once.
// For the batch it prints how many hosts each run started, why each host it ended was ended,
// and the most memory a host held.
// Usage: server_bench.exe [rounds]   (default 1)
//
// Registering a copy points the system's own classes at it, and unregistering takes them away:
// after each way the system's servers register themselves again (in a process of their own)
// and the copies are deleted. Run it in a Wine prefix of its own (scripts/bench.sh --servers
// does). Every step runs in a fresh process: a server may leave anything in the one that
// loaded it, and the floor loads them all into one.
#include <ole2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "batch.h"
#include "bench_clock.h"
#include "file_lookup.h"
#include "no_queue_display.h"
#include "path.h"
#include "system_folders.h"
#include "system_servers.h"
#include "test_folder.h"
#include "test_hosts.h"

namespace kestrave {
namespace {

using testing::RemoveTree;

class QuietHost : public BatchHost {
  public:
    void SetMousePointer(int) override {}
    void HideMainWindow() override {}
    void ShowMainWindow() override {}
    int ShowMessage(const std::wstring& text, int, const std::wstring&) override {
        closingText = text;
        return IDOK;
    }
    std::wstring closingText;
};

// Nothing is deleted; the copies go into the system folder itself.
class BenchOptions : public OptionsSource {
  public:
    bool IsOn(OptionFlag flag) override { return flag == OptionFlag::WarnMissingSource; }
    std::wstring TargetSubfolder() override { return kSystem32Subfolder; }
};

const wchar_t* const kWays[] = {L"batch", L"regsvr32", L"floor"};

// The names a way's copies get: the server's own after a prefix no system file has.
std::wstring CopyPrefix(const std::wstring& way) {
    return L"ksb" + way.substr(0, 1) + L"_";
}

std::wstring SourcesFolder(const std::wstring& root, const std::wstring& way) {
    return root + L"\\sources-" + way;
}

// The queued files of a way, as the parent copied them: full paths, in name order.
std::vector<std::wstring> Sources(const std::wstring& root, const std::wstring& way) {
    std::vector<std::wstring> sources;
    const std::wstring folder = SourcesFolder(root, way);
    FileListing listing(folder + L"\\*");
    for (std::wstring name = listing.Next(); !name.empty(); name = listing.Next())
        sources.push_back(folder + L"\\" + name);
    std::sort(sources.begin(), sources.end());
    return sources;
}

std::wstring SystemCopyOf(const std::wstring& source) {
    return SystemFolder() + L"\\" + NameOf(source);
}

struct StepResult {
    double elapsedMs = 0;
    int failed = 0;
    int hostsStarted = 0;    // host processes, those in reserve included
    int reserveStarted = 0;  // started in reserve, whether one took a file or not
    double peakHostMb = 0;
    std::map<std::string, int> retirements;
};

StepResult Batch(const std::vector<std::wstring>& sources, bool unregister) {
    testing::NoQueueDisplay display;
    ServerList list(display);
    for (const std::wstring& source : sources)
        list.Append(NameOf(source), source, source);
    BenchOptions options;
    QuietHost host;
    testing::TestHostImages images;
    HostSession hosts(images);
    hosts.StartAhead(kProgramImageKind);
    StepResult result;
    const double start = NowMs();
    if (unregister)
        UnregisterAll(list, options, host, hosts);
    else
        RegisterAll(list, options, host, hosts);
    result.elapsedMs = NowMs() - start;
    for (const std::wstring& source : sources)
        result.failed += host.closingText.find(source + L" (") != std::wstring::npos ? 1 : 0;
    result.hostsStarted = hosts.HostProcessesStarted();
    result.reserveStarted = hosts.HostsStartedInReserve();
    result.retirements = hosts.Retirements();
    result.peakHostMb = static_cast<double>(hosts.PeakHostMemory()) / (1024.0 * 1024.0);
    return result;
}

StepResult Regsvr32(const std::vector<std::wstring>& sources, bool unregister) {
    StepResult result;
    const double start = NowMs();
    for (const std::wstring& source : sources) {
        const std::wstring systemCopy = SystemCopyOf(source);
        if (!unregister)
            CopyFileW(source.c_str(), systemCopy.c_str(), TRUE);
        std::wstring commandLine = std::wstring(L"regsvr32.exe ") + (unregister ? L"/u " : L"") +
                                   L"/s \"" + systemCopy + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process)) {
            ++result.failed;
            continue;
        }
        WaitForSingleObject(process.hProcess, 60000);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        result.failed += code == 0 ? 0 : 1;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    result.elapsedMs = NowMs() - start;
    return result;
}

// In this process, one after another: the floor, and (with `copy` off, on the system's own
// files) the restoring of the system's registrations.
StepResult InProcess(const std::vector<std::wstring>& files, bool unregister, bool copy) {
    using ServerExport = HRESULT(STDAPICALLTYPE*)();
    const char* exportName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    StepResult result;
    const double start = NowMs();
    const HRESULT init = OleInitialize(nullptr);
    for (const std::wstring& file : files) {
        const std::wstring systemCopy = copy ? SystemCopyOf(file) : file;
        if (copy && !unregister)
            CopyFileW(file.c_str(), systemCopy.c_str(), TRUE);
        HMODULE library =
            LoadLibraryExW(systemCopy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        auto entry = library ? reinterpret_cast<ServerExport>(
                                   reinterpret_cast<void*>(GetProcAddress(library, exportName)))
                             : nullptr;
        result.failed += entry && SUCCEEDED(entry()) ? 0 : 1;
        if (library)
            FreeLibrary(library);
    }
    if (SUCCEEDED(init))
        OleUninitialize();
    result.elapsedMs = NowMs() - start;
    return result;
}

// The child's side of one step; its figures go to `resultFile`.
int RunStep(const std::wstring& way, const std::wstring& direction, const std::wstring& root,
            const std::wstring& resultFile) {
    const bool unregister = direction == L"unreg";
    StepResult result;
    if (way == L"restore")
        result = InProcess(testing::SystemSelfRegisteringServers(), false, false);
    else if (way == L"batch")
        result = Batch(Sources(root, way), unregister);
    else if (way == L"regsvr32")
        result = Regsvr32(Sources(root, way), unregister);
    else
        result = InProcess(Sources(root, way), unregister, true);
    FILE* out = _wfopen(resultFile.c_str(), L"w");
    if (!out)
        return 1;
    std::fprintf(out, "%.3f %d %d %d %.1f\n", result.elapsedMs, result.failed, result.hostsStarted,
                 result.reserveStarted, result.peakHostMb);
    for (const auto& [why, count] : result.retirements)
        std::fprintf(out, "%d %s\n", count, why.c_str());
    std::fclose(out);
    return 0;
}

bool StepInChild(const std::wstring& way, const std::wstring& direction, const std::wstring& root,
                 StepResult& result) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::wstring resultFile = root + L"\\" + way + L"-" + direction + L".txt";
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\" --step " + way + L" " +
                               direction + L" \"" + root + L"\" \"" + resultFile + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "a step could not be started: %lu\n", GetLastError());
        return false;
    }
    constexpr DWORD kStepLimitMs = 15 * 60 * 1000;
    if (WaitForSingleObject(process.hProcess, kStepLimitMs) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    FILE* in = _wfopen(resultFile.c_str(), L"r");
    if (!in) {
        std::fprintf(stderr, "step %ls %ls gave no result\n", way.c_str(), direction.c_str());
        return false;
    }
    result = StepResult{};
    bool read = std::fscanf(in, "%lf %d %d %d %lf", &result.elapsedMs, &result.failed,
                            &result.hostsStarted, &result.reserveStarted, &result.peakHostMb) == 5;
    int count = 0;
    char why[256];
    while (read && std::fscanf(in, "%d %255[^\n]", &count, why) == 2)
        result.retirements[why] += count;
    std::fclose(in);
    DeleteFileW(resultFile.c_str());
    return read;
}

// Every copy of every way in the system folder, left by this run or a stopped one.
void DeleteSystemCopies() {
    for (const wchar_t* way : kWays) {
        const std::wstring folder = SystemFolder();
        FileListing listing(folder + L"\\" + CopyPrefix(way) + L"*");
        for (std::wstring name = listing.Next(); !name.empty(); name = listing.Next())
            DeleteFileW((folder + L"\\" + name).c_str());
    }
}

struct WayFigures {
    std::vector<double> ms[2];
    StepResult last[2];
};

int Bench(int rounds) {
    const std::vector<std::wstring> servers = testing::SystemSelfRegisteringServers();
    if (servers.empty()) {
        std::fprintf(stderr, "no self-registering server in the system folder\n");
        return 2;
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root =
        std::wstring(temp) + L"kestrave-server-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(root.c_str(), nullptr);
    DeleteSystemCopies();
    std::map<std::wstring, WayFigures> figures;
    for (int round = 0; round < rounds; ++round) {
        for (const wchar_t* way : kWays) {
            const std::wstring folder = SourcesFolder(root, way);
            CreateDirectoryW(folder.c_str(), nullptr);
            for (const std::wstring& server : servers)
                CopyFileW(server.c_str(),
                          (folder + L"\\" + CopyPrefix(way) + NameOf(server)).c_str(), FALSE);
            WayFigures& figure = figures[way];
            for (int direction = 0; direction < 2; ++direction) {
                StepResult result;
                if (!StepInChild(way, direction ? L"unreg" : L"reg", root, result)) {
                    RemoveTree(root);
                    DeleteSystemCopies();
                    return 3;
                }
                figure.ms[direction].push_back(result.elapsedMs);
                figure.last[direction] = result;
            }
            StepResult restored;
            StepInChild(L"restore", L"reg", root, restored);
            DeleteSystemCopies();
            RemoveTree(folder);
        }
    }
    RemoveTree(root);

    const size_t count = servers.size();
    for (int direction = 0; direction < 2; ++direction) {
        std::printf("%s %zu copies of the system's own self-registering servers\n",
                    direction ? "Unregistering" : "Registering (copy into the system folder +)",
                    count);
        double best[3] = {};
        for (int i = 0; i < 3; ++i) {
            const WayFigures& figure = figures[kWays[i]];
            best[i] = *std::min_element(figure.ms[direction].begin(), figure.ms[direction].end());
            std::string times;
            for (double ms : figure.ms[direction]) {
                if (!times.empty())
                    times += ' ';
                times += std::to_string(static_cast<int>(ms));
            }
            std::printf("  %-9ls %9.1f ms  %7.2f ms/file  %3d failed  (rounds: %s)\n", kWays[i],
                        best[i], best[i] / static_cast<double>(count),
                        figure.last[direction].failed, times.c_str());
        }
        std::printf("  regsvr32 / batch = %.1fx   (target: at least 5x)\n", best[1] / best[0]);
        std::printf("  batch / floor    = %.2fx   (target: at most 1.5x)\n", best[0] / best[2]);
        const StepResult& batch = figures[kWays[0]].last[direction];
        std::printf(
            "  batch: %d host(s) started for %zu files (target: at most one per 20), %d of them "
            "in reserve; the most memory a host held: %.1f MB\n",
            batch.hostsStarted, count, batch.reserveStarted, batch.peakHostMb);
        for (const auto& [why, times] : batch.retirements)
            std::printf("    ended %4d time(s): %s\n", times, why.c_str());
    }
    return 0;
}

}  // namespace
}  // namespace kestrave

int wmain(int argc, wchar_t** argv) {
    try {
        if (argc == 6 && std::wstring(argv[1]) == L"--step")
            return kestrave::RunStep(argv[2], argv[3], argv[4], argv[5]);
        const int rounds = argc > 1 ? _wtoi(argv[1]) : 1;
        if (rounds < 1) {
            std::fprintf(stderr, "usage: server_bench [rounds, default 1]\n");
            return 2;
        }
        return kestrave::Bench(rounds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "benchmark stopped: %s\n", error.what());
        return 3;
    }
}
