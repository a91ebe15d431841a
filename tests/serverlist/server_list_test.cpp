// The queue and its display must agree after every operation: same number of entries in both
// sequences and rows, rows in the order of the entries, the count label, the folder label.
#include "server_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrave {
namespace {

class RecordingDisplay : public QueueDisplay {
  public:
    void AppendRow(const std::wstring& text) override { rows.push_back(text); }
    void RemoveRow(int row) override { rows.erase(rows.begin() + row); }
    void ClearRows() override { rows.clear(); }
    int RowCount() const override { return static_cast<int>(rows.size()); }
    int SelectedRow() const override { return selected; }
    void SelectRow(int row) override { selected = row; }
    void ShowCount(const std::wstring& text) override { count = text; }
    std::wstring FolderCaption() const override { return folder; }
    void SetFolderCaption(const std::wstring& caption) override { folder = caption; }
    void SetFolderTooltip(const std::wstring& text) override { tooltip = text; }

    std::vector<std::wstring> rows;
    int selected = -1;
    std::wstring count = L"0";
    std::wstring folder = L"空";
    std::wstring tooltip;
};

struct Step {
    enum Kind { Add, AddFolderFile, Select, Delete, Clear, ShowFolder } kind;
    std::wstring name;
    int row;
};

Step AddFile(const wchar_t* name) {
    return {Step::Add, name, -1};
}
Step AddFromFolder(const wchar_t* name) {
    return {Step::AddFolderFile, name, -1};
}
Step SelectRow(int row) {
    return {Step::Select, L"", row};
}
Step Only(Step::Kind kind) {
    return {kind, L"", -1};
}

struct Expected {
    std::vector<std::wstring> names;  // FileNames after the steps
    int selected;
    std::wstring folder;
};

struct Case {
    const char* title;
    std::vector<Step> steps;
    Expected expected;
};

void Apply(ServerList& list, RecordingDisplay& display, const Step& step) {
    switch (step.kind) {
        case Step::Add:
            list.Append(step.name, L"D:\\ctl\\" + step.name, L"D:\\ctl\\" + step.name);
            break;
        case Step::AddFolderFile:
            list.Append(step.name, L"D:\\ctl\\" + step.name, step.name);
            break;
        case Step::Select:
            display.SelectRow(step.row);
            break;
        case Step::Delete:
            list.DeleteSelected();
            break;
        case Step::Clear:
            list.ClearList();
            break;
        case Step::ShowFolder:
            display.SetFolderCaption(L"D:\\ctl");
            display.SetFolderTooltip(L"D:\\ctl");
            break;
    }
}

class ServerListCases : public ::testing::TestWithParam<Case> {};

TEST_P(ServerListCases, QueueAndDisplayStayInStep) {
    const Case& c = GetParam();
    RecordingDisplay display;
    ServerList list(display);
    for (const Step& step : c.steps) {
        Apply(list, display, step);
        // The invariants hold after every single step, not only at the end.
        ASSERT_EQ(list.FileNames().size(), static_cast<size_t>(list.Count()));
        ASSERT_EQ(list.FullPaths().size(), static_cast<size_t>(list.Count()));
        ASSERT_EQ(display.RowCount(), list.Count());
        for (int i = 0; i < list.Count(); ++i) {
            ASSERT_EQ(list.FullPaths()[i], L"D:\\ctl\\" + list.FileNames()[i]);
            ASSERT_TRUE(display.rows[i] == list.FullPaths()[i] ||
                        display.rows[i] == list.FileNames()[i]);
        }
    }
    EXPECT_EQ(list.FileNames(), c.expected.names);
    EXPECT_EQ(display.count, std::to_wstring(c.expected.names.size()));
    EXPECT_EQ(display.selected, c.expected.selected);
    EXPECT_EQ(display.folder, c.expected.folder);
    if (c.expected.folder == L"空") {
        EXPECT_EQ(display.tooltip, L"");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ServerListCases,
    ::testing::Values(Case{"delete the only entry",
                           {AddFile(L"a.ocx"), SelectRow(0), Only(Step::Delete)},
                           {{}, -1, L"空"}},
                      Case{"delete a middle entry selects the one that moved up",
                           {AddFile(L"a.ocx"), AddFile(L"b.ocx"), AddFile(L"c.ocx"), SelectRow(1),
                            Only(Step::Delete)},
                           {{L"a.ocx", L"c.ocx"}, 1, L"空"}},
                      Case{"delete the first entry",
                           {AddFile(L"a.ocx"), AddFile(L"b.ocx"), SelectRow(0), Only(Step::Delete)},
                           {{L"b.ocx"}, 0, L"空"}},
                      Case{"delete the last entry selects nothing",
                           {AddFile(L"a.ocx"), AddFile(L"b.ocx"), SelectRow(1), Only(Step::Delete)},
                           {{L"a.ocx"}, -1, L"空"}},
                      Case{"delete with nothing selected changes nothing and keeps the folder",
                           {Only(Step::ShowFolder), AddFromFolder(L"a.ocx"), Only(Step::Delete)},
                           {{L"a.ocx"}, -1, L"D:\\ctl"}},
                      Case{"delete on an empty list resets a folder left from an empty folder add",
                           {Only(Step::ShowFolder), Only(Step::Delete)},
                           {{}, -1, L"空"}},
                      Case{"clear on an empty list resets the labels",
                           {Only(Step::ShowFolder), Only(Step::Clear)},
                           {{}, -1, L"空"}},
                      Case{"after clear the next add is entry 0 again",
                           {Only(Step::ShowFolder), AddFromFolder(L"a.ocx"),
                            AddFromFolder(L"b.ocx"), Only(Step::Clear), AddFile(L"c.ocx")},
                           {{L"c.ocx"}, -1, L"空"}},
                      Case{"the same file twice is listed twice",
                           {AddFile(L"a.ocx"), AddFromFolder(L"a.ocx")},
                           {{L"a.ocx", L"a.ocx"}, -1, L"空"}}),
    [](const auto& test) {
        std::string name = test.param.title;
        for (char& ch : name) {
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        }
        return name;
    });

TEST(ServerList, RefusesOnlyTheExactSamePath) {
    RecordingDisplay display;
    ServerList list(display);
    list.Append(L"a.ocx", L"D:\\ctl\\a.ocx", L"D:\\ctl\\a.ocx");
    EXPECT_TRUE(list.ContainsFullPath(L"D:\\ctl\\a.ocx"));
    EXPECT_FALSE(list.ContainsFullPath(L"D:\\CTL\\a.ocx"));
    EXPECT_FALSE(list.ContainsFullPath(L"D:\\ctl\\a.oc"));
}

}  // namespace
}  // namespace kestrave
