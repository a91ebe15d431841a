#include "file_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "path.h"
#include "test_folder.h"

namespace kestrave {
namespace {

using testing::TempFolder;
using testing::WriteTextFile;

void MakeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    WriteTextFile(path, "x");
    SetFileAttributesW(path.c_str(), attributes);
}

TEST(FindFileName, GivesTheNameAsStoredAndOnlyForPlainFiles) {
    // IsPlainFile is the quick question of the same lookup: it must see exactly the same files.
    TempFolder folder;
    MakeFile(folder / L"MixedCase.OCX");
    MakeFile(folder / L"readonly.ocx", FILE_ATTRIBUTE_READONLY);
    MakeFile(folder / L"hidden.ocx", FILE_ATTRIBUTE_HIDDEN);
    MakeFile(folder / L"system.ocx", FILE_ATTRIBUTE_SYSTEM);
    testing::MakeFolder(folder / L"folder.ocx");
    MakeFile(folder / L"控件.ocx");

    // FindAnyFileName (`any`) sees hidden and system files too, and still no folder.
    struct Case {
        std::wstring path;
        std::wstring expected;
        std::wstring any;
    } cases[] = {
        {folder / L"mixedcase.ocx", L"MixedCase.OCX", L"MixedCase.OCX"},
        {folder / L"MixedCase.OCX", L"MixedCase.OCX", L"MixedCase.OCX"},
        {folder / L"readonly.ocx", L"readonly.ocx", L"readonly.ocx"},
        {folder / L"控件.ocx", L"控件.ocx", L"控件.ocx"},
        {folder / L"hidden.ocx", L"", L"hidden.ocx"},
        {folder / L"system.ocx", L"", L"system.ocx"},
        {folder / L"folder.ocx", L"", L""},
        {folder / L"absent.ocx", L"", L""},
        {folder / L"*.ocx", L"", L""},
        {folder.Path() + L"\\", L"", L""},
        {L"", L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindFileName(c.path), c.expected) << std::string(c.path.begin(), c.path.end());
        EXPECT_EQ(IsPlainFile(c.path), !c.expected.empty())
            << std::string(c.path.begin(), c.path.end());
        EXPECT_EQ(FindAnyFileName(c.path), c.any) << std::string(c.path.begin(), c.path.end());
    }
}

TEST(MatchesWildcard, FollowsThePatternLetterCaseIgnored) {
    struct Case {
        const wchar_t* name;
        const wchar_t* pattern;
        bool matches;
    } cases[] = {
        {L"a.ocx", L"*.ocx", true},   {L"B.OCX", L"*.ocx", true},      {L".ocx", L"*.ocx", true},
        {L"a.ocxx", L"*.ocx", false}, {L"a.ocx.bak", L"*.ocx", false}, {L"a.dll", L"*.ocx", false},
        {L"ocx", L"*.ocx", false},    {L"a.b.ocx", L"*.ocx", true},    {L"abc", L"a?c", true},
        {L"ac", L"a?c", false},       {L"控件.OCX", L"*.ocx", true},   {L"anything", L"*", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesWildcard(c.name, c.pattern), c.matches)
            << std::string(c.name, c.name + wcslen(c.name));
    }
}

std::vector<std::wstring> ListAll(FileListing& listing) {
    std::vector<std::wstring> names;
    for (std::wstring name = listing.Next(); !name.empty(); name = listing.Next()) {
        names.push_back(name);
    }
    return names;
}

TEST(FileListing, ListsOnlyPlainFilesThatReallyEndInTheExtension) {
    TempFolder folder;
    MakeFile(folder / L"a.ocx");
    MakeFile(folder / L"b.OCX");
    MakeFile(folder / L"c.dll");
    MakeFile(folder / L"d.ocx", FILE_ATTRIBUTE_HIDDEN);
    MakeFile(folder / L"e.ocx", FILE_ATTRIBUTE_SYSTEM);
    MakeFile(folder / L"f.ocxx");
    MakeFile(folder / L"g.ocx.bak");
    MakeFile(folder / L"h.ocx", FILE_ATTRIBUTE_READONLY);
    testing::MakeFolder(folder / L"sub.ocx");
    MakeFile(folder / L"sub.ocx\\inner.ocx");

    FileListing listing(folder / L"*.ocx");
    std::vector<std::wstring> names = ListAll(listing);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a.ocx", L"b.OCX", L"h.ocx"}));
    EXPECT_EQ(listing.Next(), L"") << "an ended listing stays ended";

    FileListing withHidden(folder / L"*.ocx", true);
    names = ListAll(withHidden);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a.ocx", L"b.OCX", L"d.ocx", L"e.ocx", L"h.ocx"}));
}

TEST(FileListing, EndsAtOnceWhenNothingMatchesOrTheFolderIsMissing) {
    TempFolder folder;
    MakeFile(folder / L"c.dll");
    FileListing noMatch(folder / L"*.ocx");
    EXPECT_EQ(noMatch.Next(), L"");
    FileListing noFolder(folder / L"missing\\*.ocx");
    EXPECT_EQ(noFolder.Next(), L"");
}

TEST(FileListing, TwoListingsDoNotDisturbEachOther) {
    TempFolder first, second;
    MakeFile(first / L"one.ocx");
    MakeFile(second / L"two.ocx");
    FileListing a(first / L"*.ocx");
    FileListing b(second / L"*.ocx");
    EXPECT_EQ(a.Next(), L"one.ocx");
    EXPECT_EQ(b.Next(), L"two.ocx");
    EXPECT_EQ(a.Next(), L"");
    EXPECT_EQ(b.Next(), L"");
}

TEST(SplitPath, TheFolderKeepsItsLastSeparator) {
    struct Case {
        std::wstring path;
        std::wstring folder;
        std::wstring name;
    } cases[] = {
        {L"C:\\Controls\\a.ocx", L"C:\\Controls\\", L"a.ocx"},
        {L"C:\\a.ocx", L"C:\\", L"a.ocx"},
        {L"\\\\server\\share\\控件.ocx", L"\\\\server\\share\\", L"控件.ocx"},
        {L"C:\\Controls\\", L"C:\\Controls\\", L""},
        {L"C:/Controls/*.ocx", L"C:/Controls/", L"*.ocx"},
        {L"C:a.ocx", L"C:", L"a.ocx"},
        {L"a.ocx", L"", L"a.ocx"},
        {L"", L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.path));
        const PathParts parts = SplitPath(c.path);
        EXPECT_EQ(parts.folder, c.folder);
        EXPECT_EQ(parts.name, c.name);
    }
}

TEST(ParentFolder, DropsTheLastSeparatorExceptAtADrivesRoot) {
    EXPECT_EQ(ParentFolder(L"C:\\Controls\\a.ocx"), L"C:\\Controls");
    EXPECT_EQ(ParentFolder(L"C:\\a.ocx"), L"C:\\");
    EXPECT_EQ(ParentFolder(L"\\\\server\\share\\a.ocx"), L"\\\\server\\share");
    EXPECT_EQ(ParentFolder(L"a.ocx"), L"");
}

}  // namespace
}  // namespace kestrave
