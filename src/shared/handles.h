// Owners for the Win32 handles the program takes: each frees its handle exactly once.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shtypes.h>

#include <utility>

namespace kestrave {

template <typename Handle, typename Traits>
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Handle get() const { return handle_; }
    explicit operator bool() const { return Traits::IsValid(handle_); }

    Handle release() { return std::exchange(handle_, Traits::Invalid()); }
    void reset(Handle handle = Traits::Invalid()) {
        Handle old = std::exchange(handle_, handle);
        if (Traits::IsValid(old))
            Traits::Free(old);
    }

  private:
    Handle handle_ = Traits::Invalid();
};

struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { CloseHandle(h); }
};
struct FileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { FindClose(h); }
};
struct GlobalMemoryTraits {
    static HGLOBAL Invalid() { return nullptr; }
    static bool IsValid(HGLOBAL h) { return h != nullptr; }
    static void Free(HGLOBAL h) { GlobalFree(h); }
};
struct ModuleTraits {
    static HMODULE Invalid() { return nullptr; }
    static bool IsValid(HMODULE h) { return h != nullptr; }
    static void Free(HMODULE h) { FreeLibrary(h); }
};
template <typename Object>
struct GdiObjectTraits {
    static Object Invalid() { return nullptr; }
    static bool IsValid(Object h) { return h != nullptr; }
    static void Free(Object h) { DeleteObject(h); }
};
struct MemoryDcTraits {
    static HDC Invalid() { return nullptr; }
    static bool IsValid(HDC h) { return h != nullptr; }
    static void Free(HDC h) { DeleteDC(h); }
};
struct IconTraits {
    static HICON Invalid() { return nullptr; }
    static bool IsValid(HICON h) { return h != nullptr; }
    static void Free(HICON h) { DestroyIcon(h); }
};

// An item list the shell handed over (a folder browser's choice), freed with the COM task
// allocator, so its users link ole32.
struct ShellItemListTraits {
    static PIDLIST_ABSOLUTE Invalid() { return nullptr; }
    static bool IsValid(PIDLIST_ABSOLUTE h) { return h != nullptr; }
    static void Free(PIDLIST_ABSOLUTE h) { CoTaskMemFree(h); }
};

// Files dropped on a window, handed over by the shell with WM_DROPFILES.
struct DropTraits {
    static HDROP Invalid() { return nullptr; }
    static bool IsValid(HDROP h) { return h != nullptr; }
    static void Free(HDROP h) { DragFinish(h); }
};

// Memory the system handed over from LocalAlloc: security descriptors and the like.
struct LocalMemoryTraits {
    static HLOCAL Invalid() { return nullptr; }
    static bool IsValid(HLOCAL h) { return h != nullptr; }
    static void Free(HLOCAL h) { LocalFree(h); }
};

using KernelHandle = UniqueHandle<HANDLE, KernelHandleTraits>;
using FileHandle = UniqueHandle<HANDLE, FileHandleTraits>;
using FindHandle = UniqueHandle<HANDLE, FindHandleTraits>;
using ModuleHandle = UniqueHandle<HMODULE, ModuleTraits>;
using GlobalMemory = UniqueHandle<HGLOBAL, GlobalMemoryTraits>;
using BitmapHandle = UniqueHandle<HBITMAP, GdiObjectTraits<HBITMAP>>;
using FontHandle = UniqueHandle<HFONT, GdiObjectTraits<HFONT>>;
using PenHandle = UniqueHandle<HPEN, GdiObjectTraits<HPEN>>;
using BrushHandle = UniqueHandle<HBRUSH, GdiObjectTraits<HBRUSH>>;
using MemoryDc = UniqueHandle<HDC, MemoryDcTraits>;
using IconHandle = UniqueHandle<HICON, IconTraits>;
using ShellItemList = UniqueHandle<PIDLIST_ABSOLUTE, ShellItemListTraits>;
using DropHandle = UniqueHandle<HDROP, DropTraits>;
using LocalMemory = UniqueHandle<HLOCAL, LocalMemoryTraits>;

// A window's device context, released to the window it came from.
class WindowDc {
  public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// Puts an object into a device context for one scope and puts the old one back.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (old_ && old_ != HGDI_ERROR)
            SelectObject(dc_, old_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

  private:
    HDC dc_;
    HGDIOBJ old_;
};

}  // namespace kestrave
