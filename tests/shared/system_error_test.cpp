#include "system_error.h"

#include <gtest/gtest.h>

namespace kestrave {
namespace {

TEST(FillInserts, PutsTheSubjectIntoEveryInsertAndResolvesEscapes) {
    struct Case {
        const wchar_t* text;
        const wchar_t* filled;
    } cases[] = {
        {L"%1 的 EXE 格式无效。", L"x.ocx 的 EXE 格式无效。"},
        {L"%1!s! needs %2.", L"x.ocx needs x.ocx."},
        {L"file %12 here", L"file x.ocx here"},
        {L"100%% done", L"100% done"},
        {L"one%ntwo", L"one two"},
        {L"kept%0 cut", L"kept"},
        {L"ends in %", L"ends in %"},
        {L"no inserts", L"no inserts"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FillInserts(c.text, L"x.ocx"), c.filled);
}

// Whatever code a failure gives, the user never reads a raw insert.
TEST(SystemErrorText, NoSystemTextKeepsAnUnfilledInsert) {
    for (DWORD code = 0; code < 16000; ++code) {
        const std::wstring text = SystemErrorText(code, L"x.ocx");
        for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at + 1)) {
            ASSERT_FALSE(at + 1 < text.size() && iswdigit(text[at + 1]))
                << "code " << code << " leaves an insert";
        }
    }
}

}  // namespace
}  // namespace kestrave
