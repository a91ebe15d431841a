// The process state a registration host sets for itself at start, and sets back after every
// server: a server may change its process's current folder, DLL search, environment or error
// mode and still return cleanly, and the next file must not be loaded or judged under them.
#pragma once

#include <windows.h>

#include <string>

namespace kestrave {

class HostState {
  public:
    // The state as it is now: taken once the host has set itself up, before any server runs.
    static HostState Take();

    // Sets back what a server may have changed: the current folder, the DLL directory (always
    // none, which also keeps the current folder out of the loader's search), the environment
    // and the error mode. False when something differs that could not be set back: a failed
    // set-back, or a change of the loader's own search (default directories a server chose, or
    // folders it added), which no call can undo.
    bool SetBack() const;

  private:
    std::wstring currentFolder_;
    std::wstring environment_;  // the block as the system gives it, both final NULs included
    UINT errorMode_ = 0;
    bool loaderPathKnown_ = false;
    std::wstring loaderPath_;  // the loader's search for a library loaded as servers are
};

// The environment block of this process, both final NULs included.
std::wstring EnvironmentBlock();

}  // namespace kestrave
