#include "cause_wording.h"

#include <gtest/gtest.h>

#include "test_folder.h"

namespace kestrave {
namespace {

DependencyCulprit Culprit(CulpritKind kind, std::wstring file, std::wstring neededBy) {
    DependencyCulprit c;
    c.kind = kind;
    c.file = std::move(file);
    c.neededBy = std::move(neededBy);
    return c;
}

TEST(DependencyCauseText, NamesTheCulpritInTheProgramsWords) {
    DependencyCulprit byName =
        Culprit(CulpritKind::MissingFunction, L"a_old.dll", L"s_oldfunc.ocx");
    byName.function = L"F2";
    DependencyCulprit byOrdinal =
        Culprit(CulpritKind::MissingFunction, L"a_old.dll", L"s_oldfunc.ocx");
    byOrdinal.ordinal = 42;
    DependencyCulprit found32 =
        Culprit(CulpritKind::OtherBitness, L"C:\\Windows\\System32\\a_dep32.dll", L"s_needs32.ocx");
    DependencyCulprit found64 = found32;
    found64.foundIs64 = true;
    DependencyCulprit assembly = Culprit(CulpritKind::MissingAssembly, L"", L"s_sxs.ocx");
    assembly.assembly = L"Microsoft.VC80.CRT";
    assembly.assemblyVersion = L"8.0.50727.762";
    assembly.assemblyArchitecture = L"x86";
    DependencyCulprit anyProcessor = assembly;
    anyProcessor.assemblyArchitecture = L"*";

    struct Case {
        const char* what;
        DependencyCulprit culprit;
        bool inSourceFolder;
        std::wstring text;
    } cases[] = {
        {"nothing found: the load's own text stays", {}, false, L""},
        {"missing file", Culprit(CulpritKind::MissingFile, L"nosuchdep2.dll", L"a_mid.dll"), false,
         L"缺少 a_mid.dll 需要的文件 nosuchdep2.dll"},
        {"missing file left in the source folder",
         Culprit(CulpritKind::MissingFile, L"a_mid.dll", L"s_deep.ocx"), true,
         L"缺少 s_deep.ocx 需要的文件 a_mid.dll; 原文件夹中有这个文件, 可以把它也加入列表"},
        {"function by name", byName, false, L"a_old.dll 中没有 s_oldfunc.ocx 需要的函数 F2"},
        {"function by ordinal", byOrdinal, false,
         L"a_old.dll 中没有 s_oldfunc.ocx 需要的函数 序号 42"},
        {"32-bit found, 64-bit needed", found32, false,
         L"C:\\Windows\\System32\\a_dep32.dll 是32位文件, s_needs32.ocx 需要64位的 a_dep32.dll"},
        {"64-bit found, 32-bit needed", found64, false,
         L"C:\\Windows\\System32\\a_dep32.dll 是64位文件, s_needs32.ocx 需要32位的 a_dep32.dll"},
        {"assembly", assembly, false,
         L"缺少 s_sxs.ocx 需要的并行组件 Microsoft.VC80.CRT 8.0.50727.762 (x86)"},
        {"assembly for any processor", anyProcessor, false,
         L"缺少 s_sxs.ocx 需要的并行组件 Microsoft.VC80.CRT 8.0.50727.762"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DependencyCauseText(c.culprit, c.inSourceFolder), c.text);
    }
}

// Names come from a host that may have run a hostile server: they must not carry line
// breaks, reorder the sentence, or flood the message.
TEST(DependencyCauseText, ShowsHostNamesHarmlessly) {
    DependencyCulprit c = Culprit(CulpritKind::MissingFile,
                                  L"evil\r\n\x202E"
                                  L"lld.exe\x1b[0m",
                                  L"s\tx.ocx");
    EXPECT_EQ(DependencyCauseText(c, false), L"缺少 sx.ocx 需要的文件 evillld.exe[0m");

    c.file = std::wstring(5000, L'n');
    const std::wstring text = DependencyCauseText(c, false);
    EXPECT_EQ(text,
              L"缺少 sx.ocx 需要的文件 " + std::wstring(kMaxShownNameLength - 1, L'n') + L"…");
    EXPECT_EQ(ShownName(std::wstring(kMaxShownNameLength, L'n')),
              std::wstring(kMaxShownNameLength, L'n'))
        << "a name of the full length is not cut";
}

TEST(MissingFileIsInFolder, FindsOnlyAPlainFileOfThatName) {
    testing::TempFolder source;
    testing::WriteTextFile(source / L"a_mid.dll", "helper");
    testing::MakeFolder(source / L"subfolder.dll");
    testing::TempFolder elsewhere;
    testing::WriteTextFile(elsewhere / L"x.dll", "x");
    struct Case {
        const char* what;
        CulpritKind kind;
        std::wstring file;
        bool expected;
    } cases[] = {
        {"left behind", CulpritKind::MissingFile, L"a_mid.dll", true},
        {"letter case differs", CulpritKind::MissingFile, L"A_MID.DLL", true},
        {"not there", CulpritKind::MissingFile, L"nosuchdep.dll", false},
        {"a folder of that name", CulpritKind::MissingFile, L"subfolder.dll", false},
        {"a name with a path leads elsewhere", CulpritKind::MissingFile,
         L"..\\" + elsewhere.Path().substr(elsewhere.Path().find_last_of(L'\\') + 1) + L"\\x.dll",
         false},
        {"only a missing file counts", CulpritKind::MissingFunction, L"a_mid.dll", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(MissingFileIsInFolder(Culprit(c.kind, c.file, L"s.ocx"), source.Path()),
                  c.expected);
    }
}

}  // namespace
}  // namespace kestrave
