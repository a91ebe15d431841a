#include "batch_feedback.h"

#include <gtest/gtest.h>

#include "batch_report.h"

namespace kestrave {
namespace {

TEST(BatchFeedback, CaptionsTheFileInHand) {
    EXPECT_EQ(ProgressCaption(3, 10, false), L"正在注册 3/10");
    EXPECT_EQ(ProgressCaption(1, 1, true), L"正在卸载 1/1");
}

// During a batch only Esc and the close button count among the user's input.
TEST(BatchFeedback, TakesOnlyEscAndTheCloseButtonFromTheUserDuringABatch) {
    HWND closeButton = reinterpret_cast<HWND>(0x1234);
    HWND other = reinterpret_cast<HWND>(0x5678);
    struct Case {
        UINT message;
        WPARAM wParam;
        HWND window;
        BatchInput input;
    } cases[] = {
        {WM_KEYDOWN, VK_ESCAPE, other, BatchInput::Stop},
        {WM_KEYDOWN, VK_DELETE, other, BatchInput::Ignore},
        {WM_KEYDOWN, VK_RETURN, other, BatchInput::Ignore},
        {WM_CHAR, L' ', other, BatchInput::Ignore},
        {WM_LBUTTONUP, 0, closeButton, BatchInput::StopAndEnd},
        {WM_LBUTTONUP, 0, other, BatchInput::Ignore},
        {WM_LBUTTONDOWN, 0, other, BatchInput::Ignore},
        {WM_MOUSEMOVE, MK_LBUTTON, other, BatchInput::Ignore},
        {WM_NCLBUTTONDOWN, HTCAPTION, other, BatchInput::Ignore},
        {WM_SYSCOMMAND, SC_CLOSE, other, BatchInput::StopAndEnd},
        {WM_PAINT, 0, other, BatchInput::Deliver},
        {WM_TIMER, 1, other, BatchInput::Deliver},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        MSG message{};
        message.hwnd = c.window;
        message.message = c.message;
        message.wParam = c.wParam;
        EXPECT_EQ(ClassifyDuringBatch(message, closeButton), c.input);
    }
}

// The lines of the closing message, fitted to the box that Wine shows (its template's narrow
// text) and to a wide one that chooses its own width, as Windows' does: the file's whole name
// stays in every line, and a line is only wider than the box when its folders are all gone.
TEST(MessageTextMeasure, KeepsEveryNameWholeInANarrowAndAWideBox) {
    const std::wstring deep =
        L"C:\\Program Files (x86)\\Common Files\\Line-of-business vendor - shared "
        L"controls\\Legacy reporting add-ins - version 4\\";
    struct Line {
        std::wstring path;
        std::wstring reason;
    } lines[] = {
        {L"C:\\c\\a.ocx", L"不是有效的控件文件"},
        {deep + L"k17-small-but-quite-a-long-name-additional.ocx", L"不是有效的控件文件"},
        {deep + L"denied.ocx", L"返回错误 0x80070005: 访问被拒绝。"},
        {deep + L"crash.ocx", L"控件崩溃 (异常代码 0xC0000005)"},
        {deep + L"other.ocx", L"32位控件需要用32位的 Kestrave 注册"},
        {deep + L"mid.ocx", L"缺少 kt_mid.dll 需要的文件 kt_nodep2.dll"},
        {deep + L"slow.ocx", L"超过10秒未完成,已终止"},
        {deep + L"gone.ocx", L""},
    };
    MessageBoxTemplate wine = MessageBoxTemplateText();
    if (wine.textWidth == 0)
        wine.textWidth = 330;  // a narrow box where the system has no template
    const MessageTextMeasure narrow(nullptr, wine);
    const MessageTextMeasure wide(nullptr, MessageBoxTemplate{});
    ASSERT_GT(wide.MaxTextWidth(), narrow.MaxTextWidth());
    for (const MessageTextMeasure* box : {&narrow, &wide}) {
        for (size_t i = 0; i < std::size(lines); ++i) {
            const Line& line = lines[i];
            SCOPED_TRACE("line " + std::to_string(i) + " in a " +
                         (box == &narrow ? "narrow" : "wide") + " box");
            const std::wstring name = line.path.substr(line.path.rfind(L'\\'));
            const std::wstring fitted = box->FitLine(line.path, line.reason);
            EXPECT_NE(fitted.find(name), std::wstring::npos) << "the whole name is shown";
            // A line left to wrap has given up every folder it could.
            if (box->Width(fitted) > box->MaxTextWidth()) {
                EXPECT_EQ(fitted.rfind(L"C:\\..." + name, 0), 0u);
            }
            if (line.reason.rfind(L"缺少", 0) == 0) {
                EXPECT_NE(fitted.find(line.reason), std::wstring::npos)
                    << "a cause the program names stays whole";
            }
        }
    }
}

}  // namespace
}  // namespace kestrave
