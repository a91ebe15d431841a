#include "batch_feedback.h"

#include <cstring>

#include "batch_report.h"
#include "handles.h"

namespace kestrave {
namespace {

// The taskbar's object and interface, named here rather than taken from uuid.lib, which brings
// every id of the system along (and clashes with the accessibility library's own).
constexpr CLSID kTaskbarListClass = {
    0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
constexpr IID kTaskbarList3Interface = {
    0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

// What a message box puts around its text: the icon, the margins and the frame. A little more
// than Windows uses, so that the box stays inside the work area.
constexpr int kMessageBoxChrome = 160;

bool IsMouseOrKeyInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) ||
           message == WM_NCMOUSEHOVER || message == WM_NCMOUSELEAVE;
}

}  // namespace

std::wstring ProgressCaption(int number, int total, bool unregister) {
    return (unregister ? L"正在卸载 " : L"正在注册 ") + std::to_wstring(number) + L"/" +
           std::to_wstring(total);
}

BatchInput ClassifyDuringBatch(const MSG& message, HWND closeButton) {
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE)
        return BatchInput::Stop;
    if (message.message == WM_LBUTTONUP && closeButton && message.hwnd == closeButton)
        return BatchInput::StopAndEnd;
    if (message.message == WM_SYSCOMMAND && (message.wParam & 0xFFF0) == SC_CLOSE)
        return BatchInput::StopAndEnd;
    return IsMouseOrKeyInput(message.message) ? BatchInput::Ignore : BatchInput::Deliver;
}

// ---- Taskbar ----

TaskbarProgress::~TaskbarProgress() {
    if (taskbar_)
        taskbar_->Release();
    if (enteredApartment_)
        CoUninitialize();
}

bool TaskbarProgress::Ready() {
    if (tried_)
        return taskbar_ != nullptr;
    tried_ = true;
    // The taskbar's object wants an apartment on this thread; it is entered only now.
    enteredApartment_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&taskbar_)))) {
        taskbar_ = nullptr;
        return false;
    }
    if (FAILED(taskbar_->HrInit())) {
        taskbar_->Release();
        taskbar_ = nullptr;
    }
    return taskbar_ != nullptr;
}

void TaskbarProgress::Show(HWND window, int done, int total) {
    if (!Ready())
        return;
    taskbar_->SetProgressState(window, TBPF_NORMAL);
    taskbar_->SetProgressValue(window, static_cast<ULONGLONG>(done), static_cast<ULONGLONG>(total));
}

void TaskbarProgress::Clear(HWND window) {
    if (taskbar_)
        taskbar_->SetProgressState(window, TBPF_NOPROGRESS);
}

// ---- Fitting the closing message ----

struct MessageTextMeasure::Drawing {
    FontHandle font;
    MemoryDc dc;
};

MessageTextMeasure::MessageTextMeasure(HWND window) : drawing_(std::make_unique<Drawing>()) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        drawing_->font.reset(CreateFontIndirectW(&metrics.lfMessageFont));
    drawing_->dc.reset(CreateCompatibleDC(nullptr));
    if (drawing_->dc && drawing_->font)
        SelectObject(drawing_->dc.get(), drawing_->font.get());

    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor))
        area = monitor.rcWork;
    maxWidth_ = (area.right - area.left) - kMessageBoxChrome;
}

MessageTextMeasure::MessageTextMeasure() = default;
MessageTextMeasure::~MessageTextMeasure() = default;
MessageTextMeasure::MessageTextMeasure(MessageTextMeasure&& other) noexcept = default;
MessageTextMeasure& MessageTextMeasure::operator=(MessageTextMeasure&& other) noexcept = default;

int MessageTextMeasure::Width(const std::wstring& text) const {
    if (!drawing_ || !drawing_->dc)
        return 0;
    SIZE size{};
    GetTextExtentPoint32W(drawing_->dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

std::wstring MessageTextMeasure::Fit(const std::wstring& path, const std::wstring& rest) const {
    if (!drawing_ || maxWidth_ <= 0)
        return path;
    return ShortenPathToFit(path, rest, maxWidth_,
                            [this](const std::wstring& text) { return Width(text); });
}

// ---- Clipboard ----

bool CopyTextToClipboard(HWND owner, const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!memory)
        return false;
    void* target = GlobalLock(memory.get());
    if (!target)
        return false;
    std::memcpy(target, text.c_str(), bytes);
    GlobalUnlock(memory.get());
    if (!OpenClipboard(owner))
        return false;
    EmptyClipboard();
    const bool taken = SetClipboardData(CF_UNICODETEXT, memory.get()) != nullptr;
    CloseClipboard();
    // Once taken, the memory is the clipboard's.
    if (taken)
        memory.release();
    return taken;
}

}  // namespace kestrave
