// Saved properties: the bag, the button's reading and writing of it, its property writes, and the
// form data text the windows keep them in.
#include <gtest/gtest.h>

#include <stdexcept>

#include "button.h"
#include "button_fixture.h"
#include "form_data.h"
#include "property_bag.h"
#include "test_pictures.h"

namespace kestrave {
namespace {

std::vector<std::wstring> Keys(const PropertyBag& bag) {
    std::vector<std::wstring> keys;
    for (const auto& entry : bag.Entries())
        keys.push_back(entry.first);
    return keys;
}

TEST(PropertyBag, MatchesKeysWithoutLetterCaseAndKeepsOnlyValuesThatDiffer) {
    PropertyBag bag;
    bag.Write(L"Caption", std::wstring(L"注 册"), std::wstring());
    bag.Write(L"ForeColor", 0L, static_cast<long>(kButtonTextColor));
    bag.Write(L"BackColor", static_cast<long>(kButtonFaceColor),
              static_cast<long>(kButtonFaceColor));
    EXPECT_EQ(Keys(bag), (std::vector<std::wstring>{L"Caption", L"ForeColor"}));

    EXPECT_EQ(bag.ReadText(L"CAPTION", L""), L"注 册");
    EXPECT_EQ(bag.ReadLong(L"forecolor", 5), 0);
    EXPECT_EQ(bag.ReadLong(L"BackColor", 7), 7) << "absent: the default";

    bag.Write(L"caption", std::wstring(L"x"), std::wstring());
    EXPECT_EQ(Keys(bag), (std::vector<std::wstring>{L"Caption", L"ForeColor"})) << "kept in place";
    bag.Write(L"CAPTION", std::wstring(), std::wstring());
    EXPECT_EQ(Keys(bag), std::vector<std::wstring>{L"ForeColor"}) << "back to its default: gone";

    EXPECT_THROW(bag.ReadText(L"ForeColor", L""), std::invalid_argument);
}

TEST(PropertyBag, ComparesPicturesByReferenceAndFontsByDescription) {
    PictureRef picture = testing::SolidPicture(2, 2, 0);
    PictureRef lookAlike = testing::SolidPicture(2, 2, 0);
    EXPECT_TRUE(SamePropertyValue(picture, picture));
    EXPECT_FALSE(SamePropertyValue(picture, lookAlike));
    EXPECT_FALSE(SamePropertyValue(picture, PictureRef{}));
    EXPECT_TRUE(SamePropertyValue(MakeFont({}), MakeFont({})));
    FontDescription bold;
    bold.weight = FW_BOLD;
    EXPECT_FALSE(SamePropertyValue(MakeFont({}), MakeFont(bold)));
    EXPECT_FALSE(SamePropertyValue(MakeFont({}), FontRef{}));
}

class ButtonPropertiesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        button_ = Button::Create(window_.Handle(), L"注册", 10, 10, 60, 24, host_);
        button_->InitProperties();
        host_.changedProperties.clear();
    }
    // A pixel no painter leaves alone, to see whether the button repainted.
    void Mark() { SetPixel(button_->Surface().Dc(), 3, 3, kMark); }
    bool Repainted() const { return button_->Surface().Pixel(3, 3) != kMark; }

    static constexpr COLORREF kMark = RGB(1, 2, 3);
    testing::TestWindow window_{400, 400, 100, 60};
    testing::RecordingHost host_;
    std::unique_ptr<Button> button_;
};

TEST_F(ButtonPropertiesTest, EveryWriteNotifiesAndRepaintsEvenWithTheSameValue) {
    PictureRef picture = testing::SolidPicture(12, 12, RGB(0, 0, 200));
    FontRef font = MakeFont({});
    struct Case {
        const wchar_t* name;
        std::function<void(Button&)> write;
    } cases[] = {
        {L"PictureMouseOn", [&](Button& b) { b.SetPictureMouseOn(picture); }},
        {L"PictureDown", [&](Button& b) { b.SetPictureDown(picture); }},
        {L"Picture", [&](Button& b) { b.SetPicture(picture); }},
        {L"Caption", [](Button& b) { b.SetCaption(L"注 册"); }},
        {L"Font", [&](Button& b) { b.SetFont(font); }},
        {L"ForeColor", [](Button& b) { b.SetForeColor(0xFF); }},
        {L"BackColor", [](Button& b) { b.SetBackColor(0xFF00); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.name)));
        host_.changedProperties.clear();
        c.write(*button_);
        Mark();
        c.write(*button_);
        EXPECT_EQ(host_.changedProperties, (std::vector<std::wstring>{c.name, c.name}));
        EXPECT_TRUE(Repainted());
    }
    EXPECT_EQ(button_->Picture(), picture) << "the very reference the host gave";
}

TEST_F(ButtonPropertiesTest, WritesTheSevenKeysInOrderLeavingOutDefaults) {
    PropertyBag defaults;
    button_->SetFont(MakeFont({}));  // another font object, same as the ambient font
    button_->WriteProperties(defaults);
    EXPECT_TRUE(defaults.Empty());

    button_->SetPictureMouseOn(testing::SolidPicture(12, 12, 0, L"HOVER"));
    button_->SetPictureDown(testing::SolidPicture(12, 12, 0, L"DOWN"));
    button_->SetPicture(testing::SolidPicture(12, 12, 0, L"NORMAL"));
    button_->SetCaption(L"注 册");
    FontDescription bold;
    bold.weight = FW_BOLD;
    button_->SetFont(MakeFont(bold));
    button_->SetForeColor(0xFF0000);
    button_->SetBackColor(0x00FF00);
    PropertyBag bag;
    button_->WriteProperties(bag);
    EXPECT_EQ(Keys(bag),
              (std::vector<std::wstring>{L"PictureMouseOn", L"PictureDown", L"Picture", L"Caption",
                                         L"Font", L"ForeColor", L"BackColor"}));
}

TEST_F(ButtonPropertiesTest, ReadingSavedPropertiesNeitherRepaintsNorNotifies) {
    PictureRef hover = testing::SolidPicture(12, 12, 0, L"HOVER");
    FontDescription bold;
    bold.weight = FW_BOLD;
    PropertyBag bag;
    bag.Store(L"picturemouseon", hover);
    bag.Store(L"Caption", std::wstring(L"卸 载"));
    bag.Store(L"Font", MakeFont(bold));
    bag.Store(L"ForeColor", 0xFFL);
    Mark();
    button_->ReadProperties(bag);
    EXPECT_TRUE(host_.changedProperties.empty());
    EXPECT_FALSE(Repainted());

    EXPECT_EQ(button_->PictureMouseOn(), hover);
    EXPECT_EQ(button_->Picture(), nullptr);
    EXPECT_EQ(button_->Caption(), L"卸 载");
    EXPECT_EQ(button_->Font()->Description().weight, FW_BOLD);
    EXPECT_EQ(button_->ForeColor(), 0xFFu);
    EXPECT_EQ(button_->BackColor(), kButtonFaceColor);

    // Absent keys take their defaults, the font being the container's font of the moment.
    host_.ambientFont = MakeFont(bold);
    button_->ReadProperties(PropertyBag());
    EXPECT_EQ(button_->PictureMouseOn(), nullptr);
    EXPECT_EQ(button_->Caption(), L"");
    EXPECT_EQ(button_->Font(), host_.ambientFont);
    EXPECT_EQ(button_->ForeColor(), kButtonTextColor);
}

PictureRef NamedPicture(const std::wstring& name) {
    if (name == L"BUTTON_NORMAL" || name == L"BUTTON_HOVER" || name == L"#101") {
        return testing::SolidPicture(4, 4, 0, name);
    }
    return nullptr;
}

constexpr char kSavedButtons[] =
    "Begin Kestrave.Button 注册\n"
    "   PictureMouseOn = BUTTON_HOVER\n"
    "   Picture = BUTTON_NORMAL\n"
    "   Caption = \"注 册\"\n"
    "   Font = \"宋体\", 10.5, 700, 134, Italic\n"
    "   ForeColor = &H00FF0000&\n"
    "   BackColor = &H8000000F&\n"
    "End\n"
    "Begin Kestrave.Button \"a name\"\n"
    "   Caption = \"say \\\"hi\\\"\\\\\\n\\t😀\\uD800 end\"\n"
    "   Count = -12\n"
    "End\n";

TEST(FormData, ReadsWhatItWritesCharacterForCharacter) {
    auto controls = ParseFormData(kSavedButtons, NamedPicture);
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].className, kButtonClassName);
    EXPECT_EQ(controls[0].controlName, L"注册");
    EXPECT_EQ(controls[1].controlName, L"a name");
    const PropertyBag& first = controls[0].properties;
    EXPECT_EQ(Keys(first), (std::vector<std::wstring>{L"PictureMouseOn", L"Picture", L"Caption",
                                                      L"Font", L"ForeColor", L"BackColor"}));
    EXPECT_EQ(first.ReadPicture(L"Picture", nullptr)->Name(), L"BUTTON_NORMAL");
    EXPECT_EQ(first.ReadText(L"Caption", L""), L"注 册");
    FontDescription font = first.ReadFont(L"Font", nullptr)->Description();
    EXPECT_EQ(font.face, L"宋体");
    EXPECT_EQ(font.points, 10.5);
    EXPECT_EQ(font.weight, 700);
    EXPECT_EQ(font.charset, 134);
    EXPECT_TRUE(font.italic);
    EXPECT_FALSE(font.underline);
    EXPECT_EQ(static_cast<ColorValue>(first.ReadLong(L"BackColor", 0)), kButtonFaceColor);
    EXPECT_EQ(controls[1].properties.ReadText(L"Caption", L""),
              std::wstring(L"say \"hi\"\\\n\t😀") + wchar_t(0xD800) + L" end");
    EXPECT_EQ(controls[1].properties.ReadLong(L"Count", 0), -12);

    EXPECT_EQ(FormatFormData(controls), kSavedButtons);
}

TEST(FormData, SkipsCommentsBlankLinesAndAByteOrderMark) {
    auto controls = ParseFormData(
        "\xEF\xBB\xBF' saved by hand\r\n\r\nbegin Kestrave.Button 卸载\r\n"
        "   caption = \"x\"   ' trailing note\r\n"
        "   Picture = #101\r\nEND\r\n",
        NamedPicture);
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].properties.ReadText(L"Caption", L""), L"x");
    EXPECT_EQ(controls[0].properties.ReadPicture(L"Picture", nullptr)->Name(), L"#101");
    EXPECT_EQ(FindSavedControl(controls, L"卸载"), &controls[0]);
    EXPECT_EQ(FindSavedControl(controls, L"注册"), nullptr);
}

TEST(FormData, ReportsTheLineAtFault) {
    struct Case {
        const char* text;
        int line;
    } cases[] = {
        {"Caption = \"x\"\n", 1},                                         // no Begin
        {"Begin Kestrave.Button\n", 1},                                   // no control name
        {"Begin K b\n   Caption = \"open\nEnd\n", 2},                     // unterminated text
        {"Begin K b\n   Caption = \"bad \\q\"\nEnd\n", 2},                // unknown escape
        {"Begin K b\n   Picture = MISSING\nEnd\n", 2},                    // picture not found
        {"Begin K b\n   ForeColor = &H123456789&\nEnd\n", 2},             // more than 32 bits
        {"Begin K b\n   Count = 2147483648\nEnd\n", 2},                   // more than 32 bits
        {"Begin K b\n   Font = \"宋体\", 9, 400\nEnd\n", 2},              // no character set
        {"Begin K b\n   Caption = \"x\" y\nEnd\n", 2},                    // text after the value
        {"Begin K b\n   Caption = \"x\"\n   CAPTION = \"y\"\nEnd\n", 3},  // key twice
        {"Begin K b\n\n   Caption = \"x\"\n", 1},                         // no End
        {"Begin K b\nBegin K c\nEnd\n", 2},                               // nested
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ParseFormData(c.text, NamedPicture);
            ADD_FAILURE() << "accepted";
        } catch (const FormDataError& error) {
            EXPECT_EQ(error.Line(), c.line) << error.what();
        }
    }
    EXPECT_THROW(ParseFormData("Begin K \xE6\xB3\n", NamedPicture), FormDataError) << "bad UTF-8";
}

TEST(FormData, RefusesToWriteWhatItCouldNotReadBack) {
    auto withValue = [](PropertyValue value) {
        SavedControl control{kButtonClassName, L"b", {}};
        control.properties.Store(L"Picture", std::move(value));
        return std::vector<SavedControl>{control};
    };
    EXPECT_THROW(FormatFormData(withValue(testing::SolidPicture(2, 2, 0))), FormDataError)
        << "a picture without a name";
    EXPECT_THROW(FormatFormData(withValue(testing::SolidPicture(2, 2, 0, L"has space"))),
                 FormDataError);
    EXPECT_THROW(FormatFormData(withValue(FontRef{})), FormDataError);
}

TEST_F(ButtonPropertiesTest, SavedFormDataRestoresAButtonThatWritesTheSameBack) {
    auto controls = ParseFormData(kSavedButtons, NamedPicture);
    button_->ReadProperties(controls[0].properties);
    EXPECT_EQ(button_->Picture()->Name(), L"BUTTON_NORMAL");
    EXPECT_EQ(button_->ForeColor(), 0xFF0000u);

    SavedControl saved{kButtonClassName, button_->Name(), {}};
    button_->WriteProperties(saved.properties);
    // The back colour is the default, so it is left out this time.
    EXPECT_EQ(FormatFormData({saved}),
              "Begin Kestrave.Button 注册\n"
              "   PictureMouseOn = BUTTON_HOVER\n"
              "   Picture = BUTTON_NORMAL\n"
              "   Caption = \"注 册\"\n"
              "   Font = \"宋体\", 10.5, 700, 134, Italic\n"
              "   ForeColor = &H00FF0000&\n"
              "End\n");
}

}  // namespace
}  // namespace kestrave
