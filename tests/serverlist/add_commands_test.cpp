#include "add_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages.h"
#include "no_queue_display.h"
#include "test_folder.h"

namespace kestrave {
namespace {

using testing::TempFolder;

class RecordingAddHost : public AddHost {
  public:
    HWND MainWindowHandle() override { return nullptr; }
    void HideMainWindow() override { ++hidden; }
    void ShowMainWindow() override { --hidden; }
    int ShowMessage(const std::wstring& text, int style, const std::wstring& title) override {
        EXPECT_EQ(hidden, 1) << "the main window is hidden while a message is up";
        EXPECT_EQ(title, kMessageTitle);
        EXPECT_EQ(style, kStyleExclamation);
        messages.push_back(text);
        return IDOK;
    }
    int hidden = 0;
    std::vector<std::wstring> messages;
};

// The dialog's buffer as the dialog leaves it: the text it wrote, then the spaces it was given.
std::wstring Buffer(const std::wstring& written) {
    std::wstring buffer = written;
    if (buffer.size() < kPickBufferLength)
        buffer.append(kPickBufferLength - buffer.size(), L' ');
    return buffer;
}

// What 添加 takes from the file-open dialog is one existing file and nothing else, whatever the
// dialog returned; anything else is refused with one message.
TEST(AddPickedFile, QueuesOnlyOneExistingFile) {
    TempFolder folder;
    const std::wstring file = folder / L"a.ocx";
    const std::wstring hidden = folder / L"h.ocx";
    testing::WriteTextFile(file, "x");
    testing::WriteTextFile(hidden, "x");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    testing::MakeFolder(folder / L"sub.ocx");
    const std::wstring nul(1, L'\0');

    struct Case {
        const char* what;
        std::wstring buffer;
        std::wstring queued;  // empty: nothing queued, the message shown
    } cases[] = {
        {"a file", Buffer(file + nul), file},
        {"a hidden file, refused later by 注册", Buffer(hidden + nul), hidden},
        {"a folder", Buffer(folder.Path() + nul), L""},
        {"a folder named like a control", Buffer(folder / L"sub.ocx" + nul), L""},
        {"several names after their folder",
         Buffer(folder.Path() + nul + L"a.ocx" + nul + L"h.ocx" + nul + nul), L""},
        {"quoted names", Buffer(folder.Path() + L"\\\"a.ocx\" \"h.ocx\"" + nul), L""},
        {"a file that is not there", Buffer(folder / L"gone.ocx" + nul), L""},
        {"a relative path", Buffer(L"a.ocx" + nul), L""},
        {"a pattern", Buffer(folder / L"*.ocx" + nul), L""},
        {"nothing but spaces", Buffer(L""), L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PickedServerFile(c.buffer), c.queued);
        testing::NoQueueDisplay display;
        ServerList list(display);
        RecordingAddHost host;
        AddPickedFile(list, host, c.buffer);
        EXPECT_EQ(host.hidden, 0) << "the main window is shown again";
        if (c.queued.empty()) {
            EXPECT_EQ(list.Count(), 0);
            EXPECT_EQ(host.messages, std::vector<std::wstring>{L"请选择一个控件文件"});
        } else {
            EXPECT_EQ(list.FullPaths(), std::vector<std::wstring>{c.queued});
            EXPECT_TRUE(host.messages.empty());
        }
    }

    // A cancelled dialog leaves an empty buffer: nothing to say.
    testing::NoQueueDisplay display;
    ServerList list(display);
    RecordingAddHost host;
    AddPickedFile(list, host, L"");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace kestrave
