// The form layer under Wine: load on first touch, windowless controls found front first,
// clicks and mouse moves with their arguments, geometry in twips, list boxes, command buttons,
// message boxes and the end of the program on an unhandled error.
#include <gtest/gtest.h>
#include <oleacc.h>
#include <shlobj.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <thread>

#include "dropped_files.h"
#include "fatal_error.h"
#include "form.h"
#include "main_window.h"
#include "messages.h"
#include "program.h"
#include "queue_display.h"
#include "saved_buttons.h"
#include "screen.h"
#include "test_folder.h"

namespace kestrave {
namespace {

class TestForm : public Form {
  public:
    TestForm() : Form(L"Test form", TwipsRect{1500, 1500, 3000, 3000}) {}

    int loads = 0;
    std::vector<std::wstring> clicks;
    std::vector<std::pair<std::wstring, MouseArgs>> moves;
    Label* front = nullptr;
    Label* count = nullptr;
    Label* folder = nullptr;
    Image* back = nullptr;
    Image* row = nullptr;
    ListBox* list = nullptr;
    Button* button = nullptr;
    std::function<void()> onControlClick;
    std::function<void()> onCommand;
    int commandRuns = 0;

    using Form::Window;

    static const Command<TestForm> kCommands[];
    void RunCommand() {
        ++commandRuns;
        if (onCommand)
            onCommand();
    }

  protected:
    void CreateControls() override {
        // Front first: `front` overlaps `back` in pixels 10..30.
        front = &AddLabel(L"front", -1, {150, 150, 300, 300});
        row = &AddImage(L"row", 2, {0, 900, 300, 300});
        back = &AddImage(L"back", -1, {0, 0, 600, 600});
        count = &AddLabel(L"count", -1, {1500, 0, 600, 300});
        folder = &AddLabel(L"folder", -1, {1500, 300, 600, 300});
        list = &AddListBox({900, 900, 1500, 1500});
        AddTestCommands();
    }
    void AddTestCommands();
    void OnLoad() override { ++loads; }
    void OnControlClick(WindowlessControl& control) override {
        if (onControlClick)
            onControlClick();
        clicks.push_back(control.Name() + L"(" + std::to_wstring(control.Index()) + L")");
    }
    void OnControlMouseMove(WindowlessControl& control, MouseArgs& args) override {
        moves.emplace_back(control.Name(), args);
    }
};

const Command<TestForm> TestForm::kCommands[] = {
    {L"注册",
     {2400, 0, 600, 300},
     L"注册控件",
     SavedCommandButton(L"注 册"),
     &TestForm::RunCommand,
     &TestForm::button},
};

void TestForm::AddTestCommands() {
    AddCommands<TestForm>(*this, kCommands);
}

LPARAM At(int x, int y) {
    return MAKELPARAM(x, y);
}

void ClickAt(HWND window, int x, int y) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y));
    SendMessageW(window, WM_LBUTTONUP, 0, At(x, y));
}

TEST(Form, LoadsOnFirstTouchOnlyOnce) {
    TestForm form;
    EXPECT_FALSE(form.IsLoaded());
    EXPECT_EQ(form.loads, 0);
    HWND window = form.hWnd();
    ASSERT_NE(window, nullptr);
    form.Show();
    form.Hide();
    form.Load();
    EXPECT_EQ(form.loads, 1);
    EXPECT_EQ(form.hWnd(), window);
    EXPECT_FALSE(form.IsVisible());
    // Borderless: no caption, frame or sizing border.
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU), 0);
}

TEST(Form, ClicksGoToTheFrontmostVisibleControl) {
    TestForm form;
    form.Show();
    HWND window = form.hWnd();

    ClickAt(window, 15, 15);    // both `front` and `back` are here
    ClickAt(window, 35, 35);    // only `back`
    ClickAt(window, 5, 65);     // `row`, index 2 of its array
    ClickAt(window, 150, 150);  // nothing there but the list box's parent surface
    EXPECT_EQ(form.clicks, (std::vector<std::wstring>{L"front(-1)", L"back(-1)", L"row(2)"}));

    form.clicks.clear();
    form.front->SetVisible(false);
    ClickAt(window, 15, 15);
    EXPECT_EQ(form.clicks, (std::vector<std::wstring>{L"back(-1)"}));
}

TEST(Form, AClickNeedsPressAndReleaseOnTheSameControlWithTheLeftButton) {
    TestForm form;
    form.Show();
    HWND window = form.hWnd();
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, At(15, 15));
    SendMessageW(window, WM_LBUTTONUP, 0, At(5, 65));
    SendMessageW(window, WM_RBUTTONDOWN, MK_RBUTTON, At(15, 15));
    SendMessageW(window, WM_RBUTTONUP, 0, At(15, 15));
    EXPECT_TRUE(form.clicks.empty());
}

TEST(Form, MouseMovesCarryButtonsShiftAndTwipsFromTheControlsCorner) {
    TestForm form;
    form.Show();
    HWND window = form.hWnd();
    SendMessageW(window, WM_MOUSEMOVE, 0, At(12, 14));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT | MK_CONTROL, At(3, 4));
    SendMessageW(window, WM_MOUSEMOVE, MK_RBUTTON, At(3, 4));
    ASSERT_EQ(form.moves.size(), 3u);
    EXPECT_EQ(form.moves[0].first, L"front");
    EXPECT_EQ(form.moves[0].second.button, 0);
    EXPECT_FLOAT_EQ(form.moves[0].second.x, 2.0f * TwipsPerPixelX());
    EXPECT_FLOAT_EQ(form.moves[0].second.y, 4.0f * TwipsPerPixelY());
    EXPECT_EQ(form.moves[1].first, L"back");
    EXPECT_EQ(form.moves[1].second.button, 1);
    EXPECT_EQ(form.moves[1].second.shift, 3);
    EXPECT_EQ(form.moves[2].second.button, 2);
}

TEST(Form, AHeldButtonKeepsMovesOnThePressedControl) {
    TestForm form;
    form.Show();
    HWND window = form.hWnd();
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 65));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, At(15, 15));
    SendMessageW(window, WM_LBUTTONUP, 0, At(15, 15));
    ASSERT_EQ(form.moves.size(), 1u);
    EXPECT_EQ(form.moves[0].first, L"row");
    EXPECT_LT(form.moves[0].second.y, 0);
}

TEST(Form, GeometryIsInTwipsOfTheScreen) {
    TestForm form;
    form.Move(3000, 1500);
    form.Resize(4500, 3000);
    RECT rect{};
    GetWindowRect(form.hWnd(), &rect);
    EXPECT_EQ(rect.left, 3000 / TwipsPerPixelX());
    EXPECT_EQ(rect.top, 1500 / TwipsPerPixelY());
    EXPECT_EQ(rect.right - rect.left, 4500 / TwipsPerPixelX());
    EXPECT_DOUBLE_EQ(form.Left(), 3000);
    EXPECT_DOUBLE_EQ(form.Height(), 3000);
}

TEST(Form, TopmostIsSetAndReleased) {
    TestForm form;
    form.Show();
    form.SetTopmost(true);
    EXPECT_NE(GetWindowLongW(form.hWnd(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    form.SetTopmost(false);
    EXPECT_EQ(GetWindowLongW(form.hWnd(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
}

TEST(Form, HidingKeepsTheContents) {
    TestForm form;
    form.Show();
    form.list->AddItem(L"C:\\控件\\a.ocx");
    form.front->SetCaption(L"文字");
    form.Hide();
    form.Show();
    EXPECT_EQ(form.list->ListCount(), 1);
    EXPECT_EQ(form.list->Item(0), L"C:\\控件\\a.ocx");
    EXPECT_EQ(form.front->Caption(), L"文字");
}

TEST(Form, QueueShownInARealListBoxFollowsTheQueue) {
    TestForm form;
    form.Show();
    FormQueueDisplay display(*form.list, *form.count, *form.folder);
    ServerList queue(display);
    queue.Append(L"a.ocx", L"C:\\x\\a.ocx", L"C:\\x\\a.ocx");
    queue.Append(L"b.ocx", L"C:\\x\\b.ocx", L"b.ocx");
    queue.Append(L"c.ocx", L"C:\\x\\c.ocx", L"c.ocx");
    form.list->SetListIndex(0);
    queue.DeleteSelected();
    EXPECT_EQ(form.list->ListCount(), 2);
    EXPECT_EQ(form.list->Item(0), L"b.ocx");
    EXPECT_EQ(form.list->ListIndex(), 0);
    EXPECT_EQ(form.count->Caption(), L"2");
    queue.ClearList();
    EXPECT_EQ(form.list->ListCount(), 0);
    EXPECT_EQ(form.count->Caption(), L"0");
    EXPECT_EQ(form.folder->Caption(), L"空");
}

TEST(Form, LabelsWrapChineseTextBetweenCharacters) {
    TestForm form;
    WindowDc dc(form.hWnd());
    const SelectedObject font(dc.get(), MakeFont(FontDescription{})->Handle());
    SIZE one{};
    GetTextExtentPoint32W(dc.get(), L"添", 1, &one);
    const auto lines = WrapText(dc.get(), L"添加控件时保留上一次选择的文件夹", one.cx * 10);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"添加控件时保留上一次");
    EXPECT_EQ(lines[1], L"选择的文件夹");
    const auto english = WrapText(dc.get(), L"one two three", one.cx * 2);
    EXPECT_EQ(english.front(), L"one");
}

TEST(Form, ACommandButtonCarriesItsSavedLookAndRunsItsCommand) {
    TestForm form;
    form.Show();
    ASSERT_NE(form.button, nullptr) << "the row names the field that receives the button";
    EXPECT_EQ(form.button->Name(), L"注册");
    EXPECT_EQ(form.button->Caption(), L"注 册");
    EXPECT_EQ(form.button->Picture()->Name(), L"BUTTON_NORMAL");
    EXPECT_EQ(form.button->PictureMouseOn()->Name(), L"BUTTON_HOVER");
    EXPECT_EQ(form.button->PictureDown()->Name(), L"BUTTON_DOWN");
    EXPECT_EQ(form.button->ForeColor(), 0x00FF0000u);
    EXPECT_EQ(form.button->Font()->Description(), FontDescription{});

    form.button->Push(0);
    EXPECT_EQ(form.commandRuns, 1);
}

struct ToolTipSearch {
    HWND form;
    std::vector<std::wstring> texts;
};

BOOL CALLBACK CollectToolTips(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<ToolTipSearch*>(context);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (_wcsicmp(className, TOOLTIPS_CLASSW) != 0)
        return TRUE;
    for (UINT i = 0;; ++i) {
        wchar_t text[256] = {};
        TTTOOLINFOW info{};
        info.cbSize = sizeof info;
        info.lpszText = text;
        if (!SendMessageW(window, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(&info)))
            break;
        if (info.hwnd == search.form)
            search.texts.push_back(text);
    }
    return TRUE;
}

// The tooltips of `form`'s window and its children, as the tooltip control holds them.
std::vector<std::wstring> ToolTipsOf(HWND form) {
    ToolTipSearch search{form, {}};
    EnumThreadWindows(GetCurrentThreadId(), CollectToolTips, reinterpret_cast<LPARAM>(&search));
    std::sort(search.texts.begin(), search.texts.end());
    return search.texts;
}

// The tooltip control is made once the form is on the screen, so that loading its library does
// not hold up the first paint; every tooltip set before then is there, and later ones follow.
TEST(Form, TooltipsStartOnceShownWithEveryTextSetBefore) {
    TestForm form;
    form.Load();
    form.folder->SetToolTipText(L"C:\\controls");
    EXPECT_TRUE(ToolTipsOf(form.Window()).empty()) << "no tooltip control before the form shows";

    form.Show();
    const ULONGLONG until = GetTickCount64() + 5000;
    while (ToolTipsOf(form.Window()).empty() && GetTickCount64() < until) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        Sleep(10);
    }
    EXPECT_EQ(ToolTipsOf(form.Window()), (std::vector<std::wstring>{L"C:\\controls", L"注册控件"}));

    form.folder->SetToolTipText(L"D:\\other");
    EXPECT_EQ(ToolTipsOf(form.Window()), (std::vector<std::wstring>{L"D:\\other", L"注册控件"}));
}

TEST(SavedProperties, FillTheBagInTheButtonsOrderWithOnlyWhatWasSaved) {
    const PropertyBag command = SavedProperties(SavedCommandButton(L"确 认"));
    std::vector<std::wstring> keys;
    for (const auto& entry : command.Entries())
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"PictureMouseOn", L"PictureDown", L"Picture",
                                               L"Caption", L"Font", L"ForeColor"}));
    EXPECT_EQ(command.ReadText(kKeyCaption, L""), L"确 认");

    const PropertyBag close = SavedProperties(kSavedCloseButton);
    EXPECT_EQ(close.Entries().size(), 3u);
    EXPECT_EQ(close.ReadPicture(kKeyPicture, nullptr)->Name(), L"CLOSE_NORMAL");

    SavedButton misspelt = kSavedCloseButton;
    misspelt.picture = L"CLOSE_NORMLA";
    EXPECT_THROW(SavedProperties(misspelt), std::runtime_error);
}

// What a screen reader asks a window for: role and name of its client object.
std::pair<long, std::wstring> AccessibleRoleAndName(HWND window) {
    IAccessible* accessible = nullptr;
    if (AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible,
                                   reinterpret_cast<void**>(&accessible)) != S_OK) {
        return {0, L"<no accessible object>"};
    }
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT role{};
    BSTR name = nullptr;
    accessible->get_accRole(self, &role);
    accessible->get_accName(self, &name);
    std::pair<long, std::wstring> result{role.vt == VT_I4 ? role.lVal : 0, name ? name : L""};
    SysFreeString(name);
    accessible->Release();
    return result;
}

class ComApartment {
  public:
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

TEST(Label, AScreenReaderHearsWhatTheLabelShows) {
    ComApartment apartment;
    TestForm form;
    form.Show();
    form.count->SetCaption(L"3");
    form.folder->SetCaption(L"C:\\控件");
    EXPECT_EQ(AccessibleRoleAndName(form.count->DescriptionWindow()),
              std::make_pair(long{ROLE_SYSTEM_STATICTEXT}, std::wstring(L"3")));
    EXPECT_EQ(AccessibleRoleAndName(form.folder->DescriptionWindow()),
              std::make_pair(long{ROLE_SYSTEM_STATICTEXT}, std::wstring(L"C:\\控件")));
    form.count->SetCaption(L"4");
    EXPECT_EQ(AccessibleRoleAndName(form.count->DescriptionWindow()).second, L"4");
    EXPECT_EQ(AccessibleRoleAndName(form.button->Handle()),
              std::make_pair(long{ROLE_SYSTEM_PUSHBUTTON}, std::wstring(L"注 册")));
}

// A window whose commands show a picture and no caption, as the close buttons do: one with a
// tooltip, one without.
class PictureOnlyForm : public Form {
  public:
    PictureOnlyForm() : Form(L"Picture only", TwipsRect{1500, 1500, 1500, 1500}) {}
    Button* withToolTip = nullptr;
    Button* withoutToolTip = nullptr;
    static const Command<PictureOnlyForm> kCommands[];
    void Nothing() {}

  protected:
    void CreateControls() override;
    void OnLoad() override {}
};

const Command<PictureOnlyForm> PictureOnlyForm::kCommands[] = {
    {L"close1",
     {0, 0, 375, 375},
     L"关闭",
     kSavedCloseButton,
     &PictureOnlyForm::Nothing,
     &PictureOnlyForm::withToolTip},
    {L"close2",
     {600, 0, 375, 375},
     L"",
     kSavedCloseButton,
     &PictureOnlyForm::Nothing,
     &PictureOnlyForm::withoutToolTip,
     L"关闭窗口"},
};

void PictureOnlyForm::CreateControls() {
    AddCommands<PictureOnlyForm>(*this, kCommands);
}

TEST(Button, APictureOnlyButtonIsKnownByItsTooltipOrGivenNameAndACaptionTakesOver) {
    ComApartment apartment;
    PictureOnlyForm form;
    form.Show();
    EXPECT_EQ(AccessibleRoleAndName(form.withToolTip->Handle()),
              std::make_pair(long{ROLE_SYSTEM_PUSHBUTTON}, std::wstring(L"关闭")));
    EXPECT_EQ(AccessibleRoleAndName(form.withoutToolTip->Handle()).second, L"关闭窗口");
    form.withToolTip->SetCaption(L"X");
    EXPECT_EQ(AccessibleRoleAndName(form.withToolTip->Handle()).second, L"X");
}

// Presses the button with `id` of the first message box this process shows.
void AnswerMessageBox(int id) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        HWND box = FindWindowW(L"#32770", kMessageTitle);
        if (box && IsWindowVisible(box)) {
            PostMessageW(GetDlgItem(box, id), BM_CLICK, 0, 0);
            return;
        }
        Sleep(10);
    }
}

TEST(ShowMessage, ReturnsTheButtonPressed) {
    for (int answer : {kAnswerYes, kAnswerNo, kAnswerCancel}) {
        std::thread presser(AnswerMessageBox, answer);
        const int result = ShowMessage(nullptr, L"继续添加?", kStyleQuestion, kMessageTitle);
        presser.join();
        EXPECT_EQ(result, answer);
    }
}

struct BoxSearch {
    const wchar_t* text;
    HWND found = nullptr;
};

BOOL CALLBACK FindBoxWithText(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    wchar_t className[16]{};
    wchar_t text[256]{};
    GetClassNameW(window, className, 16);
    if (std::wstring(className) != L"#32770" || !IsWindowVisible(window))
        return TRUE;
    GetDlgItemTextW(window, 0xFFFF, text, 256);
    if (std::wstring(text) != search->text)
        return TRUE;
    search->found = window;
    return FALSE;
}

// A drop as the shell hands it over: a global block the receiver frees.
HDROP MakeDrop(const std::vector<std::wstring>& paths) {
    size_t size = sizeof(DROPFILES) + sizeof(wchar_t);
    for (const std::wstring& path : paths)
        size += (path.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GHND, size);
    auto* header = static_cast<DROPFILES*>(GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* text = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(header) + sizeof(DROPFILES));
    for (const std::wstring& path : paths) {
        std::copy(path.begin(), path.end(), text);
        text += path.size() + 1;
    }
    GlobalUnlock(block);
    return static_cast<HDROP>(block);
}

// A DROPFILES block as bytes: the header with `offset` and `wide`, then `text` (its NULs
// included) as given.
std::vector<BYTE> DropBlock(DWORD offset, bool wide, const std::wstring& text) {
    std::vector<BYTE> block(offset > sizeof(DROPFILES) ? offset : sizeof(DROPFILES));
    DROPFILES header{};
    header.pFiles = offset;
    header.fWide = wide;
    std::memcpy(block.data(), &header, sizeof header);
    if (wide) {
        const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
        block.insert(block.end(), bytes, bytes + text.size() * sizeof(wchar_t));
    } else {
        for (wchar_t c : text)
            block.push_back(static_cast<BYTE>(c));
    }
    return block;
}

// A drop may come from any program: its block is believed only as far as it holds together.
TEST(DroppedFiles, ReadsOnlyABlockThatHoldsTogether) {
    using Paths = std::vector<std::wstring>;
    const DWORD header = sizeof(DROPFILES);
    const std::wstring two(L"C:\\a.ocx\0C:\\b.dll\0\0", 20);
    struct Case {
        const char* what;
        std::vector<BYTE> block;
        std::optional<Paths> paths;
    } cases[] = {
        {"two paths", DropBlock(header, true, two), Paths{L"C:\\a.ocx", L"C:\\b.dll"}},
        {"narrow paths", DropBlock(header, false, two), Paths{L"C:\\a.ocx", L"C:\\b.dll"}},
        {"paths further on, at an odd offset", DropBlock(header + 3, true, two),
         Paths{L"C:\\a.ocx", L"C:\\b.dll"}},
        {"an empty list", DropBlock(header, true, std::wstring(1, L'\0')), Paths{}},
        {"no double NUL at the end", DropBlock(header, true, std::wstring(L"C:\\a.ocx\0", 9)),
         std::nullopt},
        {"no NUL at all", DropBlock(header, true, L"C:\\a.ocx"), std::nullopt},
        {"half a character at the end",
         [&] {
             auto block = DropBlock(header, true, std::wstring(L"C:\\a\0", 5));
             block.push_back(0);
             return block;
         }(),
         std::nullopt},
        {"the offset past the end", DropBlock(header + 400, true, L""), std::nullopt},
        {"the offset inside the header", DropBlock(4, true, two), std::nullopt},
        {"shorter than its header", std::vector<BYTE>(header - 1), std::nullopt},
        {"nothing", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PathsInDropBlock(c.block.data(), c.block.size()), c.paths);
    }
    // The offset of a header that claims more than the block's size is never followed.
    std::vector<BYTE> cut = DropBlock(header, true, two);
    EXPECT_EQ(PathsInDropBlock(cut.data(), cut.size() - 2 * sizeof(wchar_t)), std::nullopt);
}

TEST(MainWindowDrop, ServerFilesAreAddedAsPickedOnesAndAFolderAsItsOcxFiles) {
    testing::TempFolder folder;
    testing::MakeFolder(folder / L"sub");
    for (const wchar_t* name :
         {L"a.ocx", L"B.DLL", L"notes.txt", L"sub\\x.ocx", L"sub\\y.dll", L"h.ocx", L"sub\\s.ocx"})
        testing::WriteTextFile(folder / name, "x");
    testing::MakeFolder(folder / L"named.ocx");
    // Hidden and system files are queued as 添加 queues them; 注册 says why it refuses them.
    SetFileAttributesW((folder / L"h.ocx").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW((folder / L"sub\\s.ocx").c_str(), FILE_ATTRIBUTE_SYSTEM);

    Options options;
    MainWindow main(options);
    main.Show();
    ASSERT_NE(GetWindowLongW(main.hWnd(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
    const std::wstring a = folder / L"a.ocx";
    const std::wstring b = folder / L"B.DLL";
    const std::wstring h = folder / L"h.ocx";
    SendMessageW(main.hWnd(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({a, folder / L"notes.txt", b, a, h})), 0);
    EXPECT_EQ(main.Queue().FullPaths(), (std::vector<std::wstring>{a, b, h}));
    EXPECT_EQ(main.Queue().FileNames(), (std::vector<std::wstring>{L"a.ocx", L"B.DLL", L"h.ocx"}));
    EXPECT_EQ(main.Queue().Display().FolderCaption(), folder.Path());

    // A folder while the queue holds files: the question first; Cancel leaves everything.
    std::thread cancel(AnswerMessageBox, kAnswerCancel);
    SendMessageW(main.hWnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({folder / L"sub"})),
                 0);
    cancel.join();
    EXPECT_EQ(main.Queue().Count(), 3);

    std::thread keep(AnswerMessageBox, kAnswerYes);
    SendMessageW(main.hWnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({folder / L"sub"})),
                 0);
    keep.join();
    std::vector<std::wstring> names = main.Queue().FileNames();
    std::sort(names.begin() + 3, names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a.ocx", L"B.DLL", L"h.ocx", L"s.ocx", L"x.ocx"}));
    EXPECT_EQ(main.Queue().Display().FolderCaption(), folder / L"sub");
    EXPECT_TRUE(main.IsVisible());
}

// Presses OK on the first message box of any process that shows `text`; gives its title.
std::wstring DismissMessageBox(const wchar_t* text) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        BoxSearch search{text};
        EnumWindows(FindBoxWithText, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            wchar_t title[64]{};
            GetWindowTextW(search.found, title, 64);
            PostMessageW(GetDlgItem(search.found, IDOK), BM_CLICK, 0, 0);
            return title;
        }
        Sleep(10);
    }
    return L"<no message box>";
}

// An error nobody handles, wherever it comes from, is shown titled as every other message box
// of the program, and the program ends.
TEST(FatalErrorDeathTest, AnUnhandledErrorIsShownAndEndsTheProgram) {
    struct Case {
        const char* where;
        std::function<void()> fail;
    } cases[] = {
        {"the program's top level",
         [] { RunGuarded([]() -> int { throw std::runtime_error("磁盘已满"); }); }},
        {"a window's message handler",
         [] {
             TestForm form;
             form.Show();
             form.onControlClick = [] { throw std::runtime_error("磁盘已满"); };
             ClickAt(form.hWnd(), 15, 15);
         }},
        {"a button's click handler",
         [] {
             TestForm form;
             form.Show();
             form.onCommand = [] { throw std::runtime_error("磁盘已满"); };
             // A delayed click comes from the button's own timer, inside its window procedure.
             form.button->Push(-1);
             MSG message;
             while (GetMessageW(&message, nullptr, 0, 0) > 0)
                 DispatchMessageW(&message);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        std::wstring title;
        std::thread dismisser;
        if (!::testing::internal::InDeathTestChild())
            dismisser = std::thread([&] { title = DismissMessageBox(L"磁盘已满"); });
        EXPECT_EXIT(c.fail(), ::testing::ExitedWithCode(1), "");
        if (dismisser.joinable())
            dismisser.join();
        EXPECT_EQ(title, kMessageTitle);
    }
}

}  // namespace
}  // namespace kestrave
