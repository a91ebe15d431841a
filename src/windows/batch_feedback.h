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

// What the system tells of its message box's text where it builds the box from a dialog template
// in user32, as Wine does: the width of the text control, at which the text is wrapped, and the
// dialog's font. Nothing where there is no such template (Windows, which chooses a box's width
// itself).
struct MessageBoxTemplate {
    int textWidth = 0;
    LOGFONTW font{};
    bool hasFont = false;
};
MessageBoxTemplate MessageBoxTemplateText();

// Lays out the closing message as the message box will: each listed line is made to fit the
// width at which the box wraps its text (see FitReportLine), and the whole text is measured
// against the height of the work area that is left for it, so that the box's title bar and its
// button stay on the screen.
class MessageTextMeasure {
  public:
    MessageTextMeasure();
    explicit MessageTextMeasure(HWND window);
    // As the box that `box` describes would lay the text out (a box without a template's text
    // width chooses its own, as on Windows).
    MessageTextMeasure(HWND window, const MessageBoxTemplate& box);
    ~MessageTextMeasure();
    MessageTextMeasure(MessageTextMeasure&& other) noexcept;
    MessageTextMeasure& operator=(MessageTextMeasure&& other) noexcept;

    std::wstring FitLine(const std::wstring& path, const std::wstring& reason) const;
    // Whether the box showing `text` is no taller than the work area.
    bool Fits(const std::wstring& text) const;
    // The widest line that the box shows unwrapped, and the tallest text it has room for.
    int MaxTextWidth() const { return maxWidth_; }
    int MaxTextHeight() const { return maxHeight_; }
    int Width(const std::wstring& text) const;
    // The height of `text` laid out as the box lays it out, wrapped at MaxTextWidth.
    int Height(const std::wstring& text) const;

  private:
    struct Drawing;
    std::unique_ptr<Drawing> drawing_;
    int maxWidth_ = 0;
    int maxHeight_ = 0;
};

// Puts `text` on the clipboard as Unicode text; false when the clipboard would not take it.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);

}  // namespace kestrave
