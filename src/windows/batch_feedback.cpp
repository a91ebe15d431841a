#include "batch_feedback.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

// What a message box puts beside its text: the icon, the margins and the frame. A little more
// than Windows uses, so that the box stays inside the work area.
constexpr int kMessageBoxChrome = 160;
// What it puts above and below its text besides the title bar: the margins, the button row and
// the frame; again a little more than it uses.
constexpr int kMessageBoxChromeHeight = 120;
// Text measured in one place and drawn in another may come out a pixel or two wider.
constexpr int kWrapSafety = 4;

// The message box's own wrapping: at spaces, hyphens and between ideographs, never inside a
// line that fits, with tabs expanded and "&" shown as it is.
constexpr UINT kMessageLayout = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX | DT_LEFT;

INT_PTR CALLBACK ProbeDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

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

// Each font the box may draw its text in, selected into a context of its own.
struct MessageTextMeasure::Drawing {
    struct Face {
        FontHandle font;
        MemoryDc dc;
    };
    std::vector<Face> faces;

    void Add(const LOGFONTW& description) {
        Face face{FontHandle(CreateFontIndirectW(&description)),
                  MemoryDc(CreateCompatibleDC(nullptr))};
        if (!face.font || !face.dc)
            return;
        SelectObject(face.dc.get(), face.font.get());
        faces.push_back(std::move(face));
    }
};

MessageBoxTemplate MessageBoxTemplateText() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    HRSRC found = user32 ? FindResourceW(user32, L"MSGBOX", MAKEINTRESOURCEW(5)) : nullptr;
    if (!found)
        return {};
    const DWORD size = SizeofResource(user32, found);
    const void* data = LockResource(LoadResource(user32, found));
    if (!data || size < sizeof(DLGTEMPLATE))
        return {};
    // A copy without WS_VISIBLE, so that the probe is never seen. The style is the first field
    // of a plain template, and follows the version, signature and help id of an extended one.
    std::vector<BYTE> copy(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
    WORD head[2];
    std::memcpy(head, copy.data(), sizeof head);
    const size_t styleAt = head[0] == 1 && head[1] == 0xFFFF ? 12 : 0;
    if (copy.size() < styleAt + sizeof(DWORD))
        return {};
    DWORD style = 0;
    std::memcpy(&style, copy.data() + styleAt, sizeof style);
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    std::memcpy(copy.data() + styleAt, &style, sizeof style);

    HWND probe = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                            reinterpret_cast<LPCDLGTEMPLATEW>(copy.data()), nullptr,
                                            ProbeDialogProc, 0);
    if (!probe)
        return {};
    MessageBoxTemplate probed;
    RECT text{};
    const HWND textControl = GetDlgItem(probe, 0xFFFF);
    if (textControl && GetClientRect(textControl, &text)) {
        probed.textWidth = text.right - text.left;
        // The dialog's own font, which its text control starts with; the font goes with the
        // dialog, so it is described before that.
        const auto font = reinterpret_cast<HFONT>(SendMessageW(textControl, WM_GETFONT, 0, 0));
        probed.hasFont =
            font && GetObjectW(font, sizeof probed.font, &probed.font) == sizeof probed.font;
    }
    DestroyWindow(probe);
    return probed;
}

MessageTextMeasure::MessageTextMeasure(HWND window)
    : MessageTextMeasure(window, MessageBoxTemplateText()) {}

MessageTextMeasure::MessageTextMeasure(HWND window, const MessageBoxTemplate& box)
    : drawing_(std::make_unique<Drawing>()) {
    // Wine measures the box's text in the message font but may draw it in its dialog's font:
    // every line is measured in both, and the wider one counts.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        drawing_->Add(metrics.lfMessageFont);
    if (box.hasFont)
        drawing_->Add(box.font);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor))
        area = monitor.rcWork;
    const int areaWidth = (area.right - area.left) - kMessageBoxChrome;
    // Where the box's wrapping width is known, lines are kept within it. Windows chooses the
    // width itself, growing the box with its longest line up to a limit it does not document:
    // there lines are kept to half the work area, on the side of caution, since a line that a
    // box would show unwrapped at some width is not wrapped at a greater one.
    maxWidth_ =
        (box.textWidth > 0 ? std::min(box.textWidth, areaWidth) : areaWidth / 2) - kWrapSafety;
    maxHeight_ = (area.bottom - area.top) - GetSystemMetrics(SM_CYCAPTION) -
                 2 * GetSystemMetrics(SM_CYFIXEDFRAME) - kMessageBoxChromeHeight;
}

MessageTextMeasure::MessageTextMeasure() = default;
MessageTextMeasure::~MessageTextMeasure() = default;
MessageTextMeasure::MessageTextMeasure(MessageTextMeasure&& other) noexcept = default;
MessageTextMeasure& MessageTextMeasure::operator=(MessageTextMeasure&& other) noexcept = default;

int MessageTextMeasure::Width(const std::wstring& text) const {
    int widest = 0;
    if (!drawing_)
        return widest;
    for (const Drawing::Face& face : drawing_->faces) {
        SIZE size{};
        GetTextExtentPoint32W(face.dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx));
    }
    return widest;
}

int MessageTextMeasure::Height(const std::wstring& text) const {
    int tallest = 0;
    if (!drawing_)
        return tallest;
    for (const Drawing::Face& face : drawing_->faces) {
        RECT rect{0, 0, maxWidth_, 0};
        DrawTextW(face.dc.get(), text.c_str(), static_cast<int>(text.size()), &rect,
                  kMessageLayout);
        tallest = std::max(tallest, static_cast<int>(rect.bottom - rect.top));
    }
    return tallest;
}

bool MessageTextMeasure::Fits(const std::wstring& text) const {
    if (!drawing_ || maxHeight_ <= 0)
        return true;
    return Height(text) <= maxHeight_;
}

std::wstring MessageTextMeasure::FitLine(const std::wstring& path,
                                         const std::wstring& reason) const {
    // Nothing to measure with: every line is taken to fit.
    const bool measured = drawing_ && !drawing_->faces.empty() && maxWidth_ > 0;
    const TextWidth width = [this, measured](const std::wstring& text) {
        return measured ? Width(text) : 0;
    };
    return FitReportLine(path, reason, maxWidth_, width);
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
