#include "display_text.h"

#include <gtest/gtest.h>

namespace kestrave {
namespace {

TEST(ShownText, ShowsWhatIsThereAndNothingThatHidesOrReordersIt) {
    struct Case {
        const char* what;
        std::wstring text;
        std::wstring shown;
    } cases[] = {
        {"plain path", L"C:\\控件\\a b-c.ocx", L"C:\\控件\\a b-c.ocx"},
        {"a paired surrogate stays", L"x\xD83D\xDE00.ocx", L"x\xD83D\xDE00.ocx"},
        {"right-to-left override", L"evil\x202Excod.exe", L"evil?xcod.exe"},
        {"isolates and marks",
         L"a\x2066"
         L"b\x200E"
         L"c",
         L"a?b?c"},
        {"zero widths, word joiner, BOM",
         L"a\x200B\x200D\x2060\xFEFF"
         L"b",
         L"a????b"},
        {"Hangul filler", L"\x3164.ocx", L"?.ocx"},
        {"interlinear annotation",
         L"a\xFFF9"
         L"b\xFFFA"
         L"c\xFFFB",
         L"a?b?c?"},
        {"soft hyphen", L"con\x00ADtrol", L"con?trol"},
        {"controls", L"a\r\n\t\x1B[0m\x85", L"a????[0m?"},
        {"lone high surrogate",
         L"a\xD800"
         L"b",
         L"a?b"},
        {"lone low surrogate at the end", L"a\xDC00", L"a?"},
        {"private use", L"a\xE000", L"a?"},
        {"tag characters", L"a\xDB40\xDC41", L"a?"},
        {"two combining marks stay", L"e\x0301\x0302", L"e\x0301\x0302"},
        {"a pile of them is cut to two", L"e\x0301\x0302\x0303\x0304\x0305x", L"e\x0301\x0302x"},
        {"each letter keeps its own two",
         L"a\x0301\x0302\x0303"
         L"b\x0301\x0302",
         L"a\x0301\x0302"
         L"b\x0301\x0302"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ShownText(c.text), c.shown);
        EXPECT_EQ(ShownText(ShownText(c.text)), c.shown) << "shown once is shown";
    }
}

TEST(WholeCharacterCut, NeverSplitsAPairOrTakesMarksFromTheirLetter) {
    const std::wstring text =
        L"ab\xD83D\xDE00"
        L"e\x0301\x0302z";
    struct Case {
        size_t at;
        size_t cut;
    } cases[] = {
        {0, 0}, {2, 2}, {3, 2},  // inside the pair
        {4, 4}, {5, 4},          // before the marks of 'e'
        {6, 4}, {7, 7}, {100, text.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        EXPECT_EQ(WholeCharacterCut(text, c.at), c.cut);
    }
}

}  // namespace
}  // namespace kestrave
