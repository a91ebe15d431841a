// A form moved to a screen of another scale: WM_DPICHANGED lays it out as if it had been made at
// the new DPI, and back again.
#include <gtest/gtest.h>

#include "form.h"
#include "saved_buttons.h"
#include "screen.h"

namespace kestrave {
namespace {

class ScaledForm : public Form {
  public:
    ScaledForm() : Form(L"Scaled form", TwipsRect{1500, 1500, 4800, 3000}) {}

    Label* label = nullptr;
    Image* check = nullptr;
    ListBox* list = nullptr;
    Button* button = nullptr;
    int clicks = 0;

    static const Command<ScaledForm> kCommands[];
    void Run() {}

  protected:
    void CreateControls() override {
        SetBackground(LoadPicture(L"DIALOG_BACKGROUND"));
        label = &AddLabel(L"label", -1, {150, 150, 1500, 255});
        label->SetFont(MakeFont(FontDescription{.points = 10.5}));
        label->SetCaption(L"文件注册到:");
        check = &AddImage(L"check", -1, {360, 600, 270, 285});
        check->SetPicture(LoadPicture(L"CHECK_TICKED"));
        list = &AddListBox({360, 1200, 3015, 390});
        AddTestCommands();
    }
    void AddTestCommands();
    void OnLoad() override {}
    void OnControlClick(WindowlessControl& control) override {
        if (&control == check)
            ++clicks;
    }
};

const Command<ScaledForm> ScaledForm::kCommands[] = {
    {L"确认",
     {600, 1800, 1095, 375},
     L"",
     SavedCommandButton(L"确 认"),
     &ScaledForm::Run,
     &ScaledForm::button},
};

void ScaledForm::AddTestCommands() {
    AddCommands<ScaledForm>(*this, kCommands);
}

RECT ChildPlace(HWND parent, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool operator==(const RECT& a, const RECT& b) {
    return EqualRect(&a, &b) != FALSE;
}

// The width of an icon's image; 0 for none.
int IconWidth(HICON icon) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info))
        return 0;
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

// The window's icons at 125, 150 and 200 % are images drawn at their sizes, not the 100 % ones
// (or the 48-pixel one) stretched: the icon carries an image of every size those scales and
// the shell's views ask for, each read back at its own size.
TEST(FormDpi, TheIconCarriesAnImageForEverySizeTheScalesAskFor) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC group = FindResourceW(self, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    auto* directory = static_cast<BYTE*>(LockResource(LoadResource(self, group)));
    for (int size : {16, 20, 24, 32, 40, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
        HRSRC image = FindResourceW(self, MAKEINTRESOURCEW(id), RT_ICON);
        ASSERT_NE(image, nullptr);
        IconHandle icon(CreateIconFromResourceEx(
            static_cast<BYTE*>(LockResource(LoadResource(self, image))),
            SizeofResource(self, image), TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR));
        EXPECT_EQ(IconWidth(icon.get()), size) << "no image drawn at this size";
    }
}

// Design pixels: twips / 15.
constexpr RECT kLabel{10, 10, 110, 27};
constexpr RECT kCheck{24, 40, 42, 59};
constexpr RECT kList{24, 80, 225, 106};
constexpr RECT kButton{40, 120, 113, 145};

TEST(FormDpi, AChangeOfScaleLaysEverythingOutAsIfMadeAtTheNewDpi) {
    ScaledForm form;
    form.Show();
    HWND window = form.hWnd();
    ASSERT_EQ(form.Dpi(), 96);
    const RECT started = ChildPlace(window, form.button->Handle());

    // Up, between the drawn sets, to the largest, and back to where it started.
    for (int dpi : {144, 120, 192, 96}) {
        SCOPED_TRACE(dpi);
        const RECT suggested{100, 50, 100 + ScaleToDpi(320, dpi), 50 + ScaleToDpi(200, dpi)};
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(form.Dpi(), dpi);
        RECT place{};
        GetWindowRect(window, &place);
        EXPECT_TRUE(place == suggested) << "the window takes the suggested rectangle";

        EXPECT_TRUE(form.label->Bounds() == ScaleToDpi(kLabel, dpi));
        EXPECT_TRUE(form.check->Bounds() == ScaleToDpi(kCheck, dpi));
        EXPECT_TRUE(ChildPlace(window, form.list->Handle()) == ScaleToDpi(kList, dpi));
        EXPECT_TRUE(ChildPlace(window, form.button->Handle()) == ScaleToDpi(kButton, dpi));
        EXPECT_TRUE(ChildPlace(window, form.check->DescriptionWindow()) == ScaleToDpi(kCheck, dpi))
            << "tools read the control where it now is";

        // The icons at the sizes of the DPI (16 and 32 pixels at 100 %).
        EXPECT_EQ(
            IconWidth(reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0))),
            MulDiv(16, dpi, 96));
        EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_BIG, 0))),
                  MulDiv(32, dpi, 96));

        // Text at its point size for the DPI, pictures drawn for it.
        EXPECT_EQ(form.label->Font()->Dpi(), dpi);
        EXPECT_EQ(form.label->Font()->Description().points, 10.5);
        EXPECT_EQ(form.list->Font()->Dpi(), dpi);
        EXPECT_EQ(form.button->Font()->Dpi(), dpi);
        EXPECT_EQ(form.check->Picture()->Dpi(), dpi);
        EXPECT_EQ(form.check->Picture()->Width(), ScaleToDpi(18, dpi));
        EXPECT_EQ(form.button->Picture()->Dpi(), dpi);
        EXPECT_EQ(form.button->PictureMouseOn()->Dpi(), dpi);
        EXPECT_EQ(form.button->PictureDown()->Dpi(), dpi);

        // The windowless image takes the mouse at its new place.
        const POINT inside{ScaleToDpi(kCheck.right, dpi) - 2, ScaleToDpi(kCheck.bottom, dpi) - 2};
        const int before = form.clicks;
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(inside.x, inside.y));
        SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(inside.x, inside.y));
        EXPECT_EQ(form.clicks, before + 1);
    }
    EXPECT_TRUE(ChildPlace(window, form.button->Handle()) == started);
    EXPECT_EQ(form.check->Picture()->Width(), 18);
}

}  // namespace
}  // namespace kestrave
