// The real program at the display scale its prefix is set to (the runner starts this program once
// per scale, with the expected DPI in KESTRAVE_EXPECTED_DPI): every window is its design times the
// scale, whole and without overlaps, its buttons work through the real mouse at their scaled
// places, and what it shows on the screen is the picture drawn for the scale, not a stretched one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "picture.h"
#include "program_driver.h"
#include "screen.h"

namespace kestrave::testing {
namespace {

struct DesignPlace {
    const wchar_t* name;              // the button's window text; empty for a list box
    double left, top, width, height;  // twips, as the windows' tables give them
};

// One design pixel is 15 twips; the program rounds each place to design pixels, then scales the
// edges.
RECT Scaled(const DesignPlace& place, int dpi) {
    auto pixels = [](double twips) { return static_cast<int>(std::lround(twips / 15)); };
    const int left = pixels(place.left);
    const int top = pixels(place.top);
    return ScaleToDpi(RECT{left, top, left + pixels(place.width), top + pixels(place.height)}, dpi);
}

POINT Centre(const RECT& rect) {
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

const std::vector<DesignPlace> kMainPlaces = {
    {L"close1", 4380, 50, 375, 375},  {L"注册", 3500, 2200, 1215, 345},
    {L"卸载", 3500, 2640, 1215, 350}, {L"添加", 3500, 3720, 1215, 345},
    {L"删除", 3500, 4160, 1215, 345}, {L"帮助", 3500, 5640, 1215, 345},
    {L"列表", 3500, 3270, 1215, 345}, {L"清空", 3500, 4600, 1215, 345},
    {L"设置", 3480, 5205, 1215, 345}, {L"", 480, 2640, 2655, 1650},
};
const std::vector<DesignPlace> kDialogPlaces = {
    {L"确认", 600, 3960, 1095, 375},
    {L"close1", 3280, 50, 375, 375},
    {L"取消", 2040, 3960, 1095, 375},
    {L"", 360, 1200, 3015, 390},
};
constexpr DesignPlace kFirstCheckBox{L"", 360, 1860, 270, 285};
constexpr SIZE kMainDesign{320, 406};
constexpr SIZE kDialogDesign{248, 305};

// The DPI the runner set for this run; the screen's when run alone.
int ExpectedDpi() {
    const char* set = std::getenv("KESTRAVE_EXPECTED_DPI");
    return set ? std::atoi(set) : ScreenDpiY();
}

// A child's place in its parent's client pixels.
RECT ClientPlace(HWND parent, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

HWND ChildNamed(HWND parent, const std::wstring& name) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[64]{};
        GetClassNameW(child, className, 64);
        wchar_t text[64]{};
        GetWindowTextW(child, text, 64);
        const bool isList = std::wstring(className) == L"ListBox";
        if (name.empty() ? isList : std::wstring(text) == name && !isList)
            return child;
    }
    return nullptr;
}

bool Near(const RECT& a, const RECT& b) {
    return std::abs(a.left - b.left) <= 1 && std::abs(a.top - b.top) <= 1 &&
           std::abs(a.right - b.right) <= 1 && std::abs(a.bottom - b.bottom) <= 1;
}

std::string Describe(const RECT& r) {
    std::ostringstream text;
    text << "{" << r.left << "," << r.top << "," << r.right << "," << r.bottom << "}";
    return text.str();
}

// The window is its design size at `dpi`, every child lies inside it, the buttons and lists sit
// at their scaled places, and no two visible children overlap.
void ExpectLaidOut(HWND window, SIZE design, const std::vector<DesignPlace>& places, int dpi) {
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_NEAR(client.right, ScaleToDpi(design.cx, dpi), 1);
    EXPECT_NEAR(client.bottom, ScaleToDpi(design.cy, dpi), 1);
    for (const DesignPlace& place : places) {
        HWND child = ChildNamed(window, place.name);
        ASSERT_NE(child, nullptr);
        EXPECT_TRUE(Near(ClientPlace(window, child), Scaled(place, dpi)))
            << "at " << dpi << " DPI: " << Describe(ClientPlace(window, child)) << " expected "
            << Describe(Scaled(place, dpi));
    }
    std::vector<RECT> visible;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const RECT place = ClientPlace(window, child);
        EXPECT_TRUE(place.left >= 0 && place.top >= 0 && place.right <= client.right &&
                    place.bottom <= client.bottom)
            << "a child outside the window at " << dpi << " DPI: " << Describe(place);
        if (IsWindowVisible(child))
            visible.push_back(place);
    }
    for (size_t i = 0; i < visible.size(); ++i) {
        for (size_t j = i + 1; j < visible.size(); ++j) {
            RECT overlap{};
            EXPECT_FALSE(IntersectRect(&overlap, &visible[i], &visible[j]))
                << Describe(visible[i]) << " overlaps " << Describe(visible[j]);
        }
    }
}

BITMAPINFOHEADER TopDownHeader(int width, int height) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    return header;
}

// The screen's pixels in `rect` (screen coordinates), 0x00RRGGBB, rows from the top.
std::vector<std::uint32_t> ScreenPixels(const RECT& rect) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    std::vector<std::uint32_t> pixels(static_cast<size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader = TopDownHeader(width, height);
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    for (auto& pixel : pixels)
        pixel &= 0xFFFFFF;
    return pixels;
}

std::vector<std::uint32_t> PicturePixels(const Picture& picture) {
    std::vector<std::uint32_t> pixels(static_cast<size_t>(picture.Width()) * picture.Height());
    BITMAPINFO info{};
    info.bmiHeader = TopDownHeader(picture.Width(), picture.Height());
    HDC dc = CreateCompatibleDC(nullptr);
    GetDIBits(dc, picture.Bitmap(), 0, static_cast<UINT>(picture.Height()), pixels.data(), &info,
              DIB_RGB_COLORS);
    DeleteDC(dc);
    for (auto& pixel : pixels)
        pixel &= 0xFFFFFF;
    return pixels;
}

// How many pixels of `area` (picture coordinates) differ by more than a small tolerance in
// some channel between the screen at `screenOrigin` and the picture.
int Mismatches(const Picture& picture, const RECT& area, POINT screenOrigin) {
    const std::vector<std::uint32_t> expected = PicturePixels(picture);
    const std::vector<std::uint32_t> shown =
        ScreenPixels(RECT{screenOrigin.x + area.left, screenOrigin.y + area.top,
                          screenOrigin.x + area.right, screenOrigin.y + area.bottom});
    const int width = area.right - area.left;
    int mismatches = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            const std::uint32_t a = expected[static_cast<size_t>(y) * picture.Width() + x];
            const std::uint32_t b =
                shown[static_cast<size_t>(y - area.top) * width + (x - area.left)];
            for (int shift : {0, 8, 16}) {
                if (std::abs(static_cast<int>((a >> shift) & 0xFF) -
                             static_cast<int>((b >> shift) & 0xFF)) > 6) {
                    ++mismatches;
                    break;
                }
            }
        }
    }
    return mismatches;
}

POINT ClientOrigin(HWND window) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return origin;
}

// The background's banner (emblem, word mark, subtitle) and the corners of a command button
// that has neither the mouse nor the focus are the pictures drawn for `dpi`, pixel for pixel.
void ExpectDrawnForDpi(HWND main, int dpi) {
    SetCursorPos(0, 0);  // no hover look
    Sleep(300);
    const HINSTANCE module = GetModuleHandleW(nullptr);
    const PictureRef background = Picture::FromResource(module, L"MAIN_BACKGROUND", dpi);
    ASSERT_TRUE(background);
    const RECT banner = ScaleToDpi(RECT{8, 38, 312, 139}, dpi);
    EXPECT_EQ(Mismatches(*background, banner, ClientOrigin(main)), 0) << "banner at " << dpi;

    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gui);
    HWND button = ChildNamed(main, L"清空");
    if (gui.hwndFocus == button)
        button = ChildNamed(main, L"删除");
    const PictureRef face = Picture::FromResource(module, L"BUTTON_NORMAL", dpi);
    ASSERT_TRUE(face);
    RECT place{};
    GetWindowRect(button, &place);
    const int corner = ScaleToDpi(6, face->Dpi());
    const RECT topLeft{0, 0, corner, corner};
    EXPECT_EQ(Mismatches(*face, topLeft, POINT{place.left, place.top}), 0) << "button at " << dpi;
    const RECT bottomRight{face->Width() - corner, face->Height() - corner, face->Width(),
                           face->Height()};
    const POINT origin{place.right - face->Width(), place.bottom - face->Height()};
    EXPECT_EQ(Mismatches(*face, bottomRight, origin), 0) << "button at " << dpi;
}

// Sends WM_DPICHANGED as the system would, with the suggested rectangle in memory that both
// this process and the program can read at the same address.
void SendDpiChange(const ProgramDriver& program, HWND window, int dpi, const RECT& suggested) {
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, program.ProcessId());
    ASSERT_NE(process, nullptr);
    // The program's memory is laid out apart from ours: take the first of a few addresses, far
    // from either's own allocations, that both have free.
    void* local = nullptr;
    void* remote = nullptr;
    for (std::uintptr_t base = 0x30000000; base < 0x70000000 && !remote; base += 0x01000000) {
        local = VirtualAlloc(reinterpret_cast<void*>(base), 4096, MEM_COMMIT | MEM_RESERVE,
                             PAGE_READWRITE);
        if (!local)
            continue;
        remote = VirtualAllocEx(process, local, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!remote)
            VirtualFree(std::exchange(local, nullptr), 0, MEM_RELEASE);
    }
    ASSERT_NE(remote, nullptr) << "no address free in both processes";
    *static_cast<RECT*>(local) = suggested;
    WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                        reinterpret_cast<LPARAM>(remote), SMTO_BLOCK, 5000, &result);
    Sleep(300);  // the repaint
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    VirtualFree(local, 0, MEM_RELEASE);
    CloseHandle(process);
}

class DisplayScaleEndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The program is aware of the scale; so must these tests be, or the system would show
        // them its windows' places scaled back to 96 DPI.
        SetProcessDPIAware();
    }

    int dpi_ = ExpectedDpi();
};

TEST_F(DisplayScaleEndToEnd, TheScreenIsAtTheScaleTheRunnerSet) {
    EXPECT_EQ(ScreenDpiY(), dpi_);
}

TEST_F(DisplayScaleEndToEnd, TheMainWindowIsItsDesignAtTheScaleAndDrawnForIt) {
    ProgramDriver program;
    ASSERT_NE(program.Main(), nullptr);
    ExpectLaidOut(program.Main(), kMainDesign, kMainPlaces, dpi_);
    RECT window{};
    GetWindowRect(program.Main(), &window);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_TRUE(window.left >= work.left && window.top >= work.top && window.right <= work.right &&
                window.bottom <= work.bottom)
        << "the window starts whole on the screen: " << Describe(window);
    ExpectDrawnForDpi(program.Main(), dpi_);
}

TEST_F(DisplayScaleEndToEnd, ButtonsAndCheckBoxesWorkAtTheirScaledPlaces) {
    ProgramDriver program;
    HWND main = program.Main();
    ASSERT_NE(main, nullptr);
    auto centreOf = [&](const std::vector<DesignPlace>& places, const std::wstring& name) {
        for (const DesignPlace& place : places) {
            if (place.name == name)
                return Centre(Scaled(place, dpi_));
        }
        return POINT{};
    };

    program.ClickButton(main, centreOf(kMainPlaces, L"帮助"));
    ASSERT_TRUE(ProgramDriver::WaitFor(
        [&] { return program.Dialog() && IsWindowVisible(program.Dialog()); }));
    HWND dialog = program.Dialog();
    ExpectLaidOut(dialog, kDialogDesign, {kDialogPlaces[1]}, dpi_);
    EXPECT_EQ(program.ControlText(dialog, POINT{ScaleToDpi(120, dpi_), ScaleToDpi(150, dpi_)}),
              L"HELP_PAGE");
    program.ClickButton(dialog, centreOf(kDialogPlaces, L"close1"));
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return !IsWindowVisible(dialog); }));

    program.ClickButton(main, centreOf(kMainPlaces, L"设置"));
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return IsWindowVisible(dialog); }));
    ExpectLaidOut(dialog, kDialogDesign, kDialogPlaces, dpi_);
    const POINT check = Centre(Scaled(kFirstCheckBox, dpi_));
    EXPECT_EQ(program.ControlText(dialog, check), L"CHECK_EMPTY");
    program.Click(dialog, check);
    EXPECT_TRUE(ProgramDriver::WaitFor(
        [&] { return program.ControlText(dialog, check) == L"CHECK_TICKED"; }));
    program.ClickButton(dialog, centreOf(kDialogPlaces, L"取消"));
    ASSERT_TRUE(ProgramDriver::WaitFor([&] { return !IsWindowVisible(dialog); }));
    EXPECT_TRUE(IsWindowVisible(main));
}

TEST_F(DisplayScaleEndToEnd, ADpiChangeLaysTheWindowOutAsIfStartedAtTheNewDpi) {
    ProgramDriver program;
    HWND main = program.Main();
    ASSERT_NE(main, nullptr);
    RECT before{};
    GetWindowRect(main, &before);
    const int other = dpi_ == 96 ? 144 : 96;
    const RECT suggested{before.left, 0, before.left + ScaleToDpi(kMainDesign.cx, other),
                         ScaleToDpi(kMainDesign.cy, other)};
    SendDpiChange(program, main, other, suggested);
    RECT after{};
    GetWindowRect(main, &after);
    EXPECT_TRUE(Near(after, suggested)) << Describe(after);
    ExpectLaidOut(main, kMainDesign, kMainPlaces, other);
    ExpectDrawnForDpi(main, other);
    // The button's hit area moved with it: a click at its new place opens the help page.
    program.ClickButton(main, Centre(Scaled(kMainPlaces[5], other)));
    EXPECT_TRUE(ProgramDriver::WaitFor(
        [&] { return program.Dialog() && IsWindowVisible(program.Dialog()); }));

    SendDpiChange(program, main, dpi_, before);
    ExpectLaidOut(main, kMainDesign, kMainPlaces, dpi_);
}

}  // namespace
}  // namespace kestrave::testing
