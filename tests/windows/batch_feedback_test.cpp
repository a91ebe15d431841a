#include "batch_feedback.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kestrave
