// What kind of program image a server file is, read from its header without loading it: which
// host can load it, or why none can.
#pragma once

#include <windows.h>

#include <string>

namespace kestrave {

enum class ImageKind {
    Unreadable,    // could not be opened or read; `error` says why
    NotALibrary,   // not a PE image, or not a DLL
    X86,           // a 32-bit x86 library
    X64,           // a 64-bit x86-64 library
    OtherMachine,  // a library for a processor this program has no host for
};

struct ImageInfo {
    ImageKind kind = ImageKind::Unreadable;
    DWORD error = ERROR_SUCCESS;
    WORD machine = 0;
};

// Reads the DOS and PE headers of the file at `path`. With `nativeView`, a 32-bit program on
// 64-bit Windows reads the file a 64-bit program would see there (the real System32, not
// SysWOW64).
ImageInfo ReadImageInfo(const std::wstring& path, bool nativeView = false);

// The same from a file the caller holds open with read access: what is judged is what the
// handle reads, whatever the path names by now. Moves the handle's file pointer.
ImageInfo ReadImageInfo(HANDLE file);

// True when this Windows runs 64-bit programs (a 64-bit Windows, whatever this program is).
bool WindowsRuns64BitPrograms();

}  // namespace kestrave
