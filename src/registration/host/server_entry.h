// Running a COM server's self-registration export. This happens only inside a registration
// host: a server's code never runs in the program's own process.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "entry_result.h"

namespace kestrave {


// Loads the server at `path` and runs its DllRegisterServer (or DllUnregisterServer) on a
// thread of its own in a single-threaded apartment. The thread is ended before the library is
// released, so the windows, timers and hooks it made go with it. `beforeLoading` runs just
// before the load: from then on the server's code may run. `loadedAt`, when given, receives
// where the library was mapped (null when it was not). No time limit here: the program ends the
// whole host when it overruns.
EntryResult CallServerEntry(const std::wstring& path, bool unregister,
                            const std::function<void()>& beforeLoading = {},
                            HMODULE* loadedAt = nullptr);

// Starts the thread the next server will run on, so that starting it overlaps the program's
// own work between two files.
void PrepareServerThread();

// Takes the count of this process's own threads, against which leftovers are judged. Call it
// once, before the first server is loaded.
void NoteOwnThreads();

// The libraries mapped in this process now.
std::vector<HMODULE> LoadedModules();

// True when a server left something behind in this process that could reach the next one: a
// thread still running, its library still mapped at `loadedAt` (null when it never loaded), or
// any library mapped now that was not in `modulesBefore`.
bool ServerLeftSomethingBehind(HMODULE loadedAt, const std::vector<HMODULE>& modulesBefore);

}  // namespace kestrave
