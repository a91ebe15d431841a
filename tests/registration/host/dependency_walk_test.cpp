#include "dependency_walk.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "crafted_images.h"
#include "file_lookup.h"
#include "file_steps.h"
#include "import_reader.h"
#include "system_folders.h"
#include "system_servers.h"
#include "test_folder.h"
#include "text.h"

namespace kestrave {
namespace {

using testing::TempFolder;
using testing::TestServerPath;

std::string Describe(const DependencyCulprit& c) {
    return "kind " + std::to_string(static_cast<int>(c.kind)) + " file '" + Utf8FromWide(c.file) +
           "' function '" + Utf8FromWide(c.function) + "' ordinal " + std::to_string(c.ordinal) +
           " assembly '" + Utf8FromWide(c.assembly) + " " + Utf8FromWide(c.assemblyVersion) + " " +
           Utf8FromWide(c.assemblyArchitecture) + "' needed by '" + Utf8FromWide(c.neededBy) + "'";
}

enum class LoadResult { Loads, Fails, Either, NotTried };

// What the loader says of `copy` when its folder is also the current one (so the current
// folder adds nothing to the search). The servers' DllMain runs here, as in the server-entry
// tests; they do nothing in it but accept or refuse.
LoadResult LoadAsTheHostWould(const std::wstring& copy, const std::wstring& folder) {
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.c_str());
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    HMODULE library = LoadLibraryExW(copy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetThreadErrorMode(oldMode, nullptr);
    SetCurrentDirectoryW(previous);
    if (!library)
        return LoadResult::Fails;
    FreeLibrary(library);
    return LoadResult::Loads;
}

// The queued file is copied into a stand-in system folder, with the helper libraries the case
// puts beside it; the loader's search is that folder, then the real system folder.
TEST(FindMissingDependency, NamesWhatStopsEachServerFromLoading) {
    // Each case gets folders of its own: a file whose load failed may stay open for a while.
    struct Folders {
        TempFolder system;
        TempFolder later;  // searched after both system folders
    };
    struct Case {
        const char* what;
        // What the loader makes of the copy. A function missing from a present library fails
        // the load on Windows, but Wine binds it to a stub; an unknown API set fails it, though
        // the walk never names one (the loader resolves those, not the file system).
        LoadResult load;
        const wchar_t* server;
        const wchar_t* copyName;
        std::vector<const wchar_t*> helpers;          // built libraries put beside the copy
        std::function<void(const Folders&)> prepare;  // anything else the case needs on disk
        DependencyCulprit expected;
    };
    auto culprit = [](CulpritKind kind, std::wstring file, std::wstring neededBy) {
        DependencyCulprit c;
        c.kind = kind;
        c.file = std::move(file);
        c.neededBy = std::move(neededBy);
        return c;
    };
    DependencyCulprit missingByName =
        culprit(CulpritKind::MissingFunction, L"a_old.dll", L"s_oldfunc.ocx");
    missingByName.function = L"F2";
    DependencyCulprit missingByOrdinal =
        culprit(CulpritKind::MissingFunction, L"a_old.dll", L"s_oldord.ocx");
    missingByOrdinal.ordinal = 42;
    DependencyCulprit missingFromSystem =
        culprit(CulpritKind::MissingFunction, L"KERNEL32.dll", L"s_newer.ocx");
    missingFromSystem.function = L"KestraveNoSuchFunction";
    DependencyCulprit otherBitness =
        culprit(CulpritKind::OtherBitness, L"a_dep32.dll", L"s_needs32.ocx");  // in the folder
    otherBitness.foundIs64 = sizeof(void*) == 4;
    DependencyCulprit absentAssembly = culprit(CulpritKind::MissingAssembly, L"", L"s_sxs.ocx");
    absentAssembly.assembly = L"Kestrave.Test.AbsentRuntime";
    absentAssembly.assemblyVersion = L"1.2.3.4";
    absentAssembly.assemblyArchitecture = L"*";
    DependencyCulprit secondAssembly = absentAssembly;
    secondAssembly.neededBy = L"s_sxs2.ocx";
    secondAssembly.assembly = L"Kestrave.Test.SecondRuntime";
    secondAssembly.assemblyVersion = L"2.0.0.0";

    const Case cases[] = {
        {"a missing library",
         LoadResult::Fails,
         L"cause_missing_server.dll",
         L"s_missing.ocx",
         {},
         {},
         culprit(CulpritKind::MissingFile, L"nosuchdep.dll", L"s_missing.ocx")},
        {"a missing library whose name has spaces",
         LoadResult::Fails,
         L"cause_vendor_server.dll",
         L"s_vendor.ocx",
         {},
         {},
         culprit(CulpritKind::MissingFile, L"vendor helper.dll", L"s_vendor.ocx")},
        {"a library missing two levels deep",
         LoadResult::Fails,
         L"cause_deep_server.dll",
         L"s_deep.ocx",
         {L"a_mid.dll"},
         {},
         culprit(CulpritKind::MissingFile, L"nosuchdep2.dll", L"a_mid.dll")},
        {"a helper left behind",
         LoadResult::Fails,
         L"cause_deep_server.dll",
         L"s_deep.ocx",
         {},
         {},
         culprit(CulpritKind::MissingFile, L"a_mid.dll", L"s_deep.ocx")},
        {"only the other bitness",
         LoadResult::Fails,
         L"cause_needs32_server.dll",
         L"s_needs32.ocx",
         {},
         [](const Folders& f) { testing::WriteOtherBitnessLibrary(f.system / L"a_dep32.dll"); },
         otherBitness},
        {"the other bitness first, the right one later",
         LoadResult::NotTried,
         L"cause_needs32_server.dll",
         L"s_needs32.ocx",
         {},
         [](const Folders& f) {
             testing::WriteOtherBitnessLibrary(f.system / L"a_dep32.dll");
             testing::CopyOrFail(TestServerPath(L"a_dep32.dll"), f.later / L"a_dep32.dll");
         },
         {}},
        {"a function missing by name",
         LoadResult::Either,
         L"cause_oldfunc_server.dll",
         L"s_oldfunc.ocx",
         {L"a_old.dll"},
         {},
         missingByName},
        {"a function missing by ordinal",
         LoadResult::Either,
         L"cause_oldord_server.dll",
         L"s_oldord.ocx",
         {L"a_old.dll"},
         {},
         missingByOrdinal},
        {"a function missing from a loaded system library",
         LoadResult::Either,
         L"cause_newer_system_server.dll",
         L"s_newer.ocx",
         {},
         {},
         missingFromSystem},
        {"an export forwarded to a missing library",
         LoadResult::Either,
         L"cause_forward_server.dll",
         L"s_forward.ocx",
         {L"a_fwd.dll"},
         {},
         culprit(CulpritKind::MissingFile, L"nosuchfwd.dll", L"a_fwd.dll")},
        {"a delay-loaded missing library",
         LoadResult::Loads,
         L"cause_delay_server.dll",
         L"s_delay.ocx",
         {},
         [](const Folders& f) {
             testing::CopyWithDelayImportDirectory(TestServerPath(L"cause_delay_server.dll"),
                                                   f.system / L"s_delay.ocx", "nosuchdelay.dll");
         },
         culprit(CulpritKind::MissingFile, L"nosuchdelay.dll", L"s_delay.ocx")},
        {"an assembly that is not installed, before the library it would give",
         LoadResult::Fails,
         L"cause_sxs_server.dll",
         L"s_sxs.ocx",
         {},
         {},
         absentAssembly},
        // Windows refuses a library whose own manifest cannot be resolved (14001); Wine
        // refuses it only when a library it imports is then missing too.
        {"of two assemblies, the one that is not installed",
         LoadResult::Either,
         L"cause_sxs_pair_server.dll",
         L"s_sxs2.ocx",
         {},
         {},
         secondAssembly},
        {"an absent contract, when nothing else is missing",
         LoadResult::Fails,
         L"cause_contract_server.dll",
         L"s_contract.ocx",
         {},
         {},
         culprit(CulpritKind::MissingFile, L"ext-ms-win-kestrave-test-l1-1-0.dll",
                 L"s_contract.ocx")},
        {"an API set is never missing",
         LoadResult::Either,
         L"cause_apiset_server.dll",
         L"s_apiset.ocx",
         {},
         {},
         {}},
        {"DllMain refuses: nothing is missing",
         LoadResult::Fails,
         L"cause_refusing_server.dll",
         L"s_refusing.ocx",
         {},
         {},
         {}},
        {"a well-behaved server", LoadResult::Loads, L"good_server.dll", L"s_good.ocx", {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folders folders;
        const std::wstring copy = folders.system / c.copyName;
        testing::CopyOrFail(TestServerPath(c.server), copy);
        for (const wchar_t* helper : c.helpers)
            testing::CopyOrFail(TestServerPath(helper), folders.system / helper);
        if (c.prepare)
            c.prepare(folders);
        DependencyCulprit expected = c.expected;
        if (expected.kind == CulpritKind::OtherBitness)
            expected.file = folders.system / expected.file;

        // The load first, as in a host, which walks after the load failed: a failed load may
        // leave the files it opened held.
        if (c.load == LoadResult::Loads || c.load == LoadResult::Fails) {
            EXPECT_EQ(LoadAsTheHostWould(copy, folders.system.Path()), c.load)
                << "the fixture does not fail the way the case says";
        }
        const DependencyCulprit found = FindMissingDependency(
            {copy, {folders.system.Path(), SystemFolder(), folders.later.Path()}});
        EXPECT_EQ(Describe(found), Describe(expected));
    }
}

TEST(FindMissingDependency, LooksInTheSearchFoldersInTheirOrder) {
    TempFolder first;
    TempFolder second;
    testing::CopyOrFail(TestServerPath(L"cause_deep_server.dll"), first / L"s_deep.ocx");
    // a_mid.dll is only in the second folder; the one it needs only in the first.
    testing::CopyOrFail(TestServerPath(L"a_mid.dll"), second / L"a_mid.dll");
    const std::wstring copy = first / L"s_deep.ocx";

    DependencyCulprit found = FindMissingDependency({copy, {first.Path(), SystemFolder()}});
    EXPECT_EQ(found.kind, CulpritKind::MissingFile);
    EXPECT_EQ(found.file, L"a_mid.dll") << "a folder that is not searched is not looked in";

    found = FindMissingDependency({copy, {first.Path(), SystemFolder(), second.Path()}});
    EXPECT_EQ(found.kind, CulpritKind::MissingFile);
    EXPECT_EQ(found.file, L"nosuchdep2.dll");
    EXPECT_EQ(found.neededBy, L"a_mid.dll");
}

TEST(FindMissingDependency, NamesNothingForAFileItCannotRead) {
    TempFolder folder;
    testing::WriteTextFile(folder / L"text.ocx", "not a library at all");
    const std::wstring missing = folder / L"absent.ocx";
    for (const std::wstring& path : {folder / L"text.ocx", missing}) {
        EXPECT_EQ(FindMissingDependency({path, {folder.Path(), SystemFolder()}}).kind,
                  CulpritKind::None);
    }
}

TEST(LoaderSearchFolders, FollowsTheAlteredSearchOrder) {
    const std::wstring file = L"C:\\Controls\\x.ocx";
    const std::vector<std::wstring> folders = LoaderSearchFolders(file);
    ASSERT_GE(folders.size(), 4u);
    wchar_t windows[MAX_PATH];
    const std::wstring windowsFolder(windows, GetWindowsDirectoryW(windows, MAX_PATH));
    EXPECT_EQ(folders[0], L"C:\\Controls");
    EXPECT_EQ(folders[1], SystemFolder());
    EXPECT_EQ(folders[2], windowsFolder + L"\\System");
    EXPECT_EQ(folders[3], windowsFolder);
    // A folder named twice (the system folder is also on PATH) is searched once.
    for (std::size_t i = 0; i < folders.size(); ++i) {
        for (std::size_t j = i + 1; j < folders.size(); ++j)
            EXPECT_NE(CompareStringOrdinal(folders[i].c_str(), -1, folders[j].c_str(), -1, TRUE),
                      CSTR_EQUAL);
    }
}

TEST(DependentAssemblies, ReadsTheAssembliesAManifestNeeds) {
    const std::string manifest =
        "\xEF\xBB\xBF<?xml version='1.0'?><asmv1:assembly xmlns:asmv1='urn:x'>"
        "<!-- <dependentAssembly><assemblyIdentity name='In.A.Comment'/></dependentAssembly> -->"
        "<assemblyIdentity name='The.Library.Itself' version='9.9.9.9'/>"
        "<dependency><dependentAssembly>"
        "<asmv1:assemblyIdentity type=\"win32\" name=\"Vendor.Runtime\" version=\"8.0.1.2\" "
        "processorArchitecture='x86' publicKeyToken='1fc8b3b9a1e18e3b'/>"
        "</dependentAssembly></dependency>"
        "<dependency optional='yes'><dependentAssembly>"
        "<assemblyIdentity name='Only.If.There' version='1.0.0.0'/>"
        "</dependentAssembly></dependency></asmv1:assembly>";
    const std::vector<AssemblyIdentity> assemblies = DependentAssemblies(manifest);
    ASSERT_EQ(assemblies.size(), 1u);
    EXPECT_EQ(assemblies[0].name, L"Vendor.Runtime");
    EXPECT_EQ(assemblies[0].version, L"8.0.1.2");
    EXPECT_EQ(assemblies[0].architecture, L"x86");
    EXPECT_EQ(assemblies[0].publicKeyToken, L"1fc8b3b9a1e18e3b");
    EXPECT_TRUE(DependentAssemblies("<dependentAssembly><assemblyIdentity name='x'").empty())
        << "an unfinished tag names nothing";
}

// Every self-registering server that ships with this Windows (or Wine) loads: the walk must
// name nothing for any of them.
TEST(FindMissingDependency, NamesNothingForTheSystemsOwnServers) {
    const std::vector<std::wstring> servers = testing::SystemSelfRegisteringServers();
    std::string named;
    for (const std::wstring& path : servers) {
        const DependencyCulprit found = FindMissingDependency({path, LoaderSearchFolders(path)});
        if (found.kind != CulpritKind::None)
            named += Utf8FromWide(NameOf(path)) + ": " + Describe(found) + "\n";
    }
    EXPECT_GT(servers.size(), 20u);
    EXPECT_EQ(named, "");
}

}  // namespace
}  // namespace kestrave
