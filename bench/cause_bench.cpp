// What naming a failure's cause and reading back a registration's classes cost:
//   walk      the dependency walk over every self-registering server in the system folder (the
//             test prefix's own, under Wine), a figure per file: the walk runs only after a
//             failed load, so this is what a failure costs on top of its load;
//   readback  a batch of N copies of a type-library server registered by the real batch
//             engine, with the hosts reading every registration's classes back and without
//             (the session's switch, which only a benchmark turns off), side by side; each
//             taken three times, in turn, and the fastest run of each counts.
// Usage: cause_bench.exe [walk | readback [N]]   (default: both, N = 200; good_server.dll and
// kestrave_host.exe must sit next to the program, where the build puts them)
#include <ole2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "batch.h"
#include "bench_clock.h"
#include "crafted_images.h"
#include "dependency_walk.h"
#include "file_lookup.h"
#include "file_steps.h"
#include "import_reader.h"
#include "no_queue_display.h"
#include "program_folder.h"
#include "system_servers.h"
#include "test_folder.h"
#include "test_hosts.h"
#include "test_server_keys.h"

namespace kestrave {
namespace {

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BenchWalk() {
    std::vector<double> first;
    std::vector<double> second;
    int named = 0;
    std::printf("dependency walk over the system folder's servers (ms; first walk, again)\n");
    for (const std::wstring& path : testing::SystemSelfRegisteringServers()) {
        const DependencyWalkInput input{path, LoaderSearchFolders(path)};
        double start = NowMs();
        const DependencyCulprit culprit = FindMissingDependency(input);
        first.push_back(NowMs() - start);
        start = NowMs();
        FindMissingDependency(input);
        second.push_back(NowMs() - start);
        if (culprit.kind != CulpritKind::None)
            ++named;
        std::printf("  %-32ls %7.2f %7.2f%s\n", NameOf(path).c_str(), first.back(), second.back(),
                    culprit.kind != CulpritKind::None ? "  (named a culprit)" : "");
    }
    double total = 0;
    for (double ms : first)
        total += ms;
    std::printf(
        "walk: %zu servers, %d culprits named; first walk median %.2f ms, mean %.2f ms, "
        "max %.2f ms; again median %.2f ms\n",
        first.size(), named, Median(first), first.empty() ? 0 : total / first.size(),
        first.empty() ? 0 : *std::max_element(first.begin(), first.end()), Median(second));
}

class QuietHost : public BatchHost {
  public:
    void SetMousePointer(int) override {}
    void HideMainWindow() override {}
    void ShowMainWindow() override {}
    int ShowMessage(const std::wstring&, int style, const std::wstring&) override {
        closingStyle = style;
        return IDOK;
    }
    // The batch copies into the benchmark's scratch Windows folder.
    std::wstring WindowsFolder() override { return windowsFolder; }
    int closingStyle = 0;
    std::wstring windowsFolder;
};

class BenchOptions : public OptionsSource {
  public:
    bool IsOn(OptionFlag flag) override { return flag == OptionFlag::WarnMissingSource; }
    std::wstring TargetSubfolder() override { return kSystem32Subfolder; }
};

GUID ClassOf(const std::wstring& name) {
    const std::wstring key = testing::TestServerClsidKey(name);
    GUID guid{};
    CLSIDFromString(key.substr(key.find(L'{')).c_str(), &guid);
    return guid;
}

void BenchReadback(int count) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root =
        std::wstring(temp) + L"kestrave-cause-bench-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring windows = root + L"\\windows";
    const std::wstring system = windows + kSystem32Subfolder;
    const std::wstring sources = root + L"\\sources";
    for (const std::wstring& folder : {root, windows, system, sources})
        CreateDirectoryW(folder.c_str(), nullptr);

    // Each copy's type library lists the class it registers and three that nothing registers,
    // as a control lists its controls, property pages and helpers.
    const std::wstring server = ProgramFolder() + L"\\good_server.dll";
    testing::NoQueueDisplay display;
    ServerList list(display);
    std::vector<std::wstring> names;
    for (int i = 0; i < count; ++i) {
        wchar_t name[64];
        swprintf(name, 64, L"bench_readback_%04d.ocx", i);
        names.push_back(name);
        std::vector<testing::TypeLibraryClass> classes{{ClassOf(name), true}};
        for (int extra = 0; extra < 3; ++extra) {
            GUID guid{};
            CoCreateGuid(&guid);
            classes.push_back({guid, true});
        }
        const std::wstring source = sources + L"\\" + name;
        testing::CopyWithTypeLibrary(server, source, classes);
        list.Append(name, source, source);
    }

    BenchOptions options;
    testing::TestHostImages images;
    const ImageKind own = sizeof(void*) == 8 ? ImageKind::X64 : ImageKind::X86;
    // One batch as the program runs it, into an empty system folder and registry.
    int hostsWithout = 0;
    int hostsWith = 0;
    auto batch = [&](bool readBack, int& closingStyle) {
        for (const std::wstring& name : names)
            RegDeleteTreeW(HKEY_CLASSES_ROOT, testing::TestServerClsidKey(name).c_str());
        testing::RemoveTree(system);
        CreateDirectoryW(system.c_str(), nullptr);
        QuietHost host;
        host.windowsFolder = windows;
        HostSession hosts(images);
        hosts.ReadClassesBack(readBack);
        hosts.StartAhead(own);
        Sleep(200);  // the host is up, as it is by the time a user presses the button
        const double start = NowMs();
        RegisterAll(list, options, host, hosts);
        const double ms = NowMs() - start;
        closingStyle = host.closingStyle;
        (readBack ? hostsWith : hostsWithout) = hosts.HostProcessesStarted();
        return ms;
    };
    double withoutMs = 1e300;
    double withMs = 1e300;
    int styleWithout = 0;
    int styleWith = 0;
    for (int round = 0; round < 3; ++round) {
        withoutMs = std::min(withoutMs, batch(false, styleWithout));
        withMs = std::min(withMs, batch(true, styleWith));
    }

    std::printf(
        "readback: %d copies of a server with a type library of 4 creatable classes; "
        "batch %s\n",
        count,
        styleWithout == 64 && styleWith == 64 ? "reported success" : "did NOT report success");
    std::printf("  batch without readback  %8.1f ms  %6.2f ms a file  (%d hosts)\n", withoutMs,
                withoutMs / count, hostsWithout);
    std::printf(
        "  batch with readback     %8.1f ms  %6.2f ms a file  (%d hosts) = %.2f times the batch\n",
        withMs, withMs / count, hostsWith, withMs / withoutMs);

    for (const std::wstring& name : names)
        RegDeleteTreeW(HKEY_CLASSES_ROOT, testing::TestServerClsidKey(name).c_str());
    testing::RemoveTree(root);
}

}  // namespace
}  // namespace kestrave

int wmain(int argc, wchar_t** argv) {
    const std::wstring what = argc > 1 ? argv[1] : L"";
    const int count = argc > 2 ? _wtoi(argv[2]) : 200;
    OleInitialize(nullptr);  // a registration host keeps the COM runtime loaded too
    if (what.empty() || what == L"walk")
        kestrave::BenchWalk();
    if (what.empty() || what == L"readback")
        kestrave::BenchReadback(count > 0 ? count : 200);
    OleUninitialize();
    return 0;
}
