// What the main window shows and takes while a batch runs: the progress in its caption and on
// its taskbar button, which input still counts, and how the closing message is made to fit.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <memory>
#include <string>

namespace kestrave {

// "正在注册 3/10", for the file in hand.
std::wstring ProgressCaption(int number, int total, bool unregister);

enum class BatchInput {
    Deliver,     // not input: painting, timers and the like go on
    Ignore,      // input that could change the queue, the options or the window's place
    Stop,        // Esc: stop after the file in hand
    StopAndEnd,  // the close button: stop, and end the program after the closing message
};

// How a message that arrives during a batch is treated; `closeButton` is the window of the
// close button.
BatchInput ClassifyDuringBatch(const MSG& message, HWND closeButton);

// The progress on the window's taskbar button. Without a taskbar that shows progress it does
// nothing.
class TaskbarProgress {
  public:
    TaskbarProgress() = default;
    ~TaskbarProgress();
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;

    void Show(HWND window, int done, int total);
    void Clear(HWND window);

  private:
    bool Ready();

    ITaskbarList3* taskbar_ = nullptr;
    bool tried_ = false;
    bool enteredApartment_ = false;
};

// Measures lines in the message box's font and shortens listed paths so that no line is wider
// than the work area of the screen the window is on leaves for the box's text.
class MessageTextMeasure {
  public:
    MessageTextMeasure();
    explicit MessageTextMeasure(HWND window);
    ~MessageTextMeasure();
    MessageTextMeasure(MessageTextMeasure&& other) noexcept;
    MessageTextMeasure& operator=(MessageTextMeasure&& other) noexcept;

    std::wstring Fit(const std::wstring& path, const std::wstring& rest) const;
    int MaxTextWidth() const { return maxWidth_; }
    int Width(const std::wstring& text) const;

  private:
    struct Drawing;
    std::unique_ptr<Drawing> drawing_;
    int maxWidth_ = 0;
};

// Puts `text` on the clipboard as Unicode text; false when the clipboard would not take it.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);

}  // namespace kestrave
