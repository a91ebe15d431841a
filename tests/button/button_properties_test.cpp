// Saved properties: the bag, the button's reading and writing of it, and its property writes.
#include <gtest/gtest.h>

#include <stdexcept>

#include "button.h"
#include "button_fixture.h"
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

TEST_F(ButtonPropertiesTest, SavedPropertiesRestoreAButtonThatWritesTheSameBack) {
    FontDescription bigger;
    bigger.points = 10.5;
    PropertyBag saved;
    saved.Store(kKeyPictureMouseOn, testing::SolidPicture(4, 4, 0, L"BUTTON_HOVER"));
    saved.Store(kKeyPicture, testing::SolidPicture(4, 4, 0, L"BUTTON_NORMAL"));
    saved.Store(kKeyCaption, std::wstring(L"注 册"));
    saved.Store(kKeyFont, MakeFont(bigger));
    saved.Store(kKeyForeColor, 0x00FF0000L);
    // Saved with its default value: read as any other, and left out when written back.
    saved.Store(kKeyBackColor, static_cast<long>(kButtonFaceColor));
    button_->ReadProperties(saved);

    PropertyBag written;
    button_->WriteProperties(written);
    EXPECT_EQ(Keys(written), (std::vector<std::wstring>{L"PictureMouseOn", L"Picture", L"Caption",
                                                        L"Font", L"ForeColor"}));
    for (const auto& [key, value] : written.Entries()) {
        SCOPED_TRACE(::testing::PrintToString(key));
        EXPECT_TRUE(SamePropertyValue(value, saved.Read(key, 0L)));
    }
}

}  // namespace
}  // namespace kestrave
